// Game controllers and joysticks: slots, mapping files, button states.
#include "controllers.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "event_pump.h"
#include "host.h"
#include "host_paths.h"
#include "host_services.h"

metacon_rec metacon[MAX_CONTROLLERS];
int codo_joystick_inited = 0;

const char *const controller_db_mapping[] = {
    "hidapi,*,a:b0,b:b1,x:b2,y:b3,back:b4,guide:b5,start:b6,leftstick:b7,rightstick:b8,leftshoulder:b9,"
    "rightshoulder:b10,dpup:b11,dpdown:b12,dpleft:b13,dpright:b14,leftx:a0,lefty:a1,rightx:a2,righty:a3,"
    "lefttrigger:a4,righttrigger:a5,",
    nullptr,
};

namespace {

constexpr const char *kMappingFile = "sdl_controllers.txt";
constexpr const char *kMappingComment = "// add SDL2 game controller mappings to this file\n";

int attached_error_shown = 0;
int button_validated_error_shown = 0;

void logf(const char *format, ...) __attribute__((format(printf, 1, 2)));
void logf(const char *format, ...) {
    char line[1200];
    va_list ap;
    va_start(ap, format);
    vsnprintf(line, sizeof line, format, ap);
    va_end(ap);
    codo_debug(line);
}

void close_slot(metacon_rec &m) {
    if (m.controller) sdl.GameControllerClose(m.controller);
    if (m.joystick) sdl.JoystickClose(m.joystick);
    memset(&m, 0, sizeof m);
}

bool valid_player(int32_t player) {
    return player >= 0 && player < MAX_CONTROLLERS && codo_joystick_inited && player < sdl.NumJoysticks();
}

void log_counts(SDL_Joystick *j) {
    logf(" Number of Axes: %d\n", sdl.JoystickNumAxes(j));
    logf(" Number of Buttons: %d\n", sdl.JoystickNumButtons(j));
    logf(" Number of Balls: %d\n", sdl.JoystickNumBalls(j));
}

// One axis of a slot: the raw value, before validation.
int32_t raw_axis(int32_t player, metacon_rec &m, int32_t axis) {
    if (m.controller) {
        if (sdl.GameControllerGetAttached(m.controller))
            return sdl.GameControllerGetAxis(m.controller, SDL_GameControllerAxis(axis));
        if (m.joystick) return sdl.JoystickGetAxis(m.joystick, axis);
        if (!attached_error_shown) {
            logf("** could not read joystick %d (not attached)\n", player);
            attached_error_shown = 1;
        }
        return 0;
    }
    return m.joystick ? sdl.JoystickGetAxis(m.joystick, axis) : 0;
}

int32_t validated_axis(int32_t player, metacon_rec &m, int32_t axis) {
    if (axis < 0 || axis >= CONTROLLER_AXES) return 0;
    const int32_t v = raw_axis(player, m, axis);
    if (!m.axis_validated[axis]) {
        if (abs(v) >= AXIS_DEAD) return 0;
        m.axis_validated[axis] = 1;
    }
    return v;
}

uint32_t read_buttons(int32_t player, metacon_rec &m) {
    uint32_t mask = 0;
    const bool attached = m.controller && sdl.GameControllerGetAttached(m.controller);
    for (int32_t b = 0; b < CONTROLLER_BUTTONS; b++) {
        int pressed = 0;
        if (attached) pressed = sdl.GameControllerGetButton(m.controller, SDL_GameControllerButton(b));
        else if (m.joystick) pressed = sdl.JoystickGetButton(m.joystick, b);
        if (!pressed) {
            m.button_validated |= 1u << b;
        } else if (m.button_validated & (1u << b)) {
            mask |= 1u << b;
        } else if (m.controller && !button_validated_error_shown) {
            logf("** button %d not validated on joystick %d\n", b, player);
            button_validated_error_shown = 1;
        }
    }
    return mask;
}

uint8_t stick_amount(int32_t v) {
    const int32_t a = abs(v);
    if (a <= AXIS_DEAD) return 0;
    const int32_t amount = (a - AXIS_DEAD) / 88;
    return uint8_t(amount > 255 ? 255 : amount);
}

// Sets the amount of value 'v' in out[negative] or out[positive].
void stick_to_buttons(int32_t v, uint8_t *out, int neg, int pos) {
    const uint8_t amount = stick_amount(v);
    if (!amount) return;
    uint8_t &slot = out[v < 0 ? neg : pos];
    if (amount > slot) slot = amount;
}

// Controller button number, button-state index.
constexpr int kButtonMap[][2] = {
    {SDL_CONTROLLER_BUTTON_DPAD_LEFT, 0}, {SDL_CONTROLLER_BUTTON_DPAD_RIGHT, 1},
    {SDL_CONTROLLER_BUTTON_DPAD_UP, 2},   {SDL_CONTROLLER_BUTTON_DPAD_DOWN, 3},
    {SDL_CONTROLLER_BUTTON_A, 4},         {SDL_CONTROLLER_BUTTON_X, 5},
    {SDL_CONTROLLER_BUTTON_START, 6},     {SDL_CONTROLLER_BUTTON_GUIDE, 6},
    {SDL_CONTROLLER_BUTTON_B, 12},        {SDL_CONTROLLER_BUTTON_Y, 13},
    {SDL_CONTROLLER_BUTTON_LEFTSHOULDER, 14}, {SDL_CONTROLLER_BUTTON_RIGHTSHOULDER, 15},
};

// Scancode, button-state index (player 0).
constexpr int kKeyMap[][2] = {
    {80, 0}, {79, 1}, {82, 2}, {81, 3}, {29, 4}, {6, 4},  {27, 5},  {25, 5},
    {4, 8},  {7, 9},  {26, 10}, {22, 11}, {9, 12}, {10, 13}, {20, 14}, {8, 15},
};

void add_mapping_line(const char *raw) {
    const char *line = codo_trim(raw);
    if (!line[0] || line[0] == '/') return;
    switch (sdl.GameControllerAddMapping(line)) {
    case -1: logf(" failed to add controller mapping: %s\n", line); break;
    case 0: logf(" updated controller mapping: %s\n", line); break;
    default: logf(" added controller mapping: %s\n", line); break;
    }
}

// Reads one mapping file; false when it does not open.
bool read_mapping_file(const char *path) {
    FILE *f = fopen(path, "rb");
    if (!f) return false;
    logf("Reading controller mappings: %s\n", path);
    char line[MAPPING_LINE_MAX + 1];
    size_t len = 0;
    bool too_long = false;
    for (int c;;) {
        c = fgetc(f);
        if (c == EOF || c == '\n') {
            line[len] = '\0';
            if (too_long) {
                const char *t = codo_trim(line);
                if (t[0] && t[0] != '/') logf(" failed to add controller mapping: %s\n", line);
            } else if (c != EOF || len > 0) {
                add_mapping_line(line);
            }
            if (c == EOF) break;
            len = 0;
            too_long = false;
        } else if (len < size_t(MAPPING_LINE_MAX)) {
            line[len++] = char(c);
        } else {
            too_long = true;
        }
    }
    fclose(f);
    return true;
}

}  // namespace

void add_sdl_controllers(void) {
    char path[HOST_PATH_SIZE];
    codo_prefix_with_program_path(kMappingFile, path);
    if (path[0]) read_mapping_file(path);
    codo_prefix_with_appdata_path(kMappingFile, path);
    if (!path[0] || read_mapping_file(path)) return;
    FILE *f = fopen(path, "wb");
    if (!f) return;
    fputs(kMappingComment, f);
    fclose(f);
}

void codo_joystick_init(void) {
    if (codo_joystick_inited) return;
    codo_joystick_inited = 1;
    memset(metacon, 0, sizeof metacon);
    for (const char *const *m = controller_db_mapping; *m; m++) sdl.GameControllerAddMapping(*m);
    add_sdl_controllers();
    codo_debug(">searching for joysticks\n");
    const int n = sdl.NumJoysticks();
    logf("found %d joysticks\n", n);
    for (int i = 0; i < n; i++) connect_joystick(i);
    codo_debug("<ok\n");
}

void codo_joystick_exit(void) {
    if (!codo_joystick_inited) return;
    for (metacon_rec &m : metacon) close_slot(m);
}

void controllers_reset(void) {
    memset(metacon, 0, sizeof metacon);
    codo_joystick_inited = 0;
    attached_error_shown = 0;
    button_validated_error_shown = 0;
}

void repack_metacon(void) {
    int32_t to = 0;
    for (int32_t from = 0; from < MAX_CONTROLLERS; from++) {
        if (!metacon[from].used) continue;
        if (to != from) {
            metacon[to] = metacon[from];
            memset(&metacon[from], 0, sizeof metacon[from]);
        }
        to++;
    }
}

void connect_joystick(int32_t index) {
    const SDL_JoystickID id = sdl.JoystickGetDeviceInstanceID(index);
    int32_t slot = -1;
    for (int32_t i = 0; i < MAX_CONTROLLERS; i++) {
        if (metacon[i].used && id >= 0 && metacon[i].instance_id == id) return;
        if (!metacon[i].used && slot < 0) slot = i;
    }
    if (slot < 0) return;
    metacon_rec &m = metacon[slot];
    memset(&m, 0, sizeof m);
    logf("connecting joystick %d\n", slot);

    if (sdl.IsGameController(index) && (m.controller = sdl.GameControllerOpen(index)) != nullptr) {
        m.used = 1;
        m.instance_id = -1;
        const char *name = sdl.GameControllerName(m.controller);
        logf("Controller %d: %s\n", slot, name ? name : "");
        SDL_Joystick *j = sdl.GameControllerGetJoystick(m.controller);
        if (!j) return;
        m.instance_id = sdl.JoystickInstanceID(j);
        log_counts(j);
        char *mapping = sdl.GameControllerMapping(m.controller);
        logf(" Mapping: %s\n", mapping ? mapping : "");
        if (mapping) sdl.free(mapping);
        return;
    }
    m.controller = nullptr;
    m.joystick = sdl.JoystickOpen(index);
    if (!m.joystick) return;
    m.used = 1;
    m.instance_id = sdl.JoystickInstanceID(m.joystick);
    const char *name = sdl.JoystickName(m.joystick);
    logf("Unmapped Joystick %d: %s\n", slot, name ? name : "");
    log_counts(m.joystick);
}

int disconnect_joystick(int32_t id, int raw_only) {
    for (metacon_rec &m : metacon) {
        if (!m.used || m.instance_id != id || (raw_only && m.controller)) continue;
        close_slot(m);
        return 1;
    }
    return 0;
}

int32_t codo_count_joysticks(void) { return sdl.NumJoysticks(); }

int32_t codo_count_joystick_buttons(int32_t player) {
    if (!valid_player(player) || !metacon[player].joystick) return 0;
    return sdl.JoystickNumButtons(metacon[player].joystick);
}

void codo_get_joystick_axes(int32_t player, int32_t axis_a, int32_t axis_b, int32_t *out_a, int32_t *out_b) {
    int32_t a = 0, b = 0;
    if (valid_player(player)) {
        metacon_rec &m = metacon[player];
        a = validated_axis(player, m, axis_a);
        b = validated_axis(player, m, axis_b);
    }
    if (out_a) *out_a = a;
    if (out_b) *out_b = b;
}

void codo_get_joystick(int32_t player, int32_t *x, int32_t *y, uint32_t *buttons) {
    if (x) *x = 0;
    if (y) *y = 0;
    if (buttons) *buttons = 0;
    if (!valid_player(player) || !metacon[player].used) return;
    codo_get_joystick_axes(player, 0, 1, x, y);
    const uint32_t mask = read_buttons(player, metacon[player]);
    if (buttons) *buttons = mask;
}

extern "C" void os_get_button_states(int32_t player, uint8_t out[16]) {
    if (valid_player(player) && metacon[player].used) {
        int32_t lx = 0, ly = 0, rx = 0, ry = 0;
        codo_get_joystick_axes(player, 0, 1, &lx, &ly);
        codo_get_joystick_axes(player, 2, 3, &rx, &ry);
        stick_to_buttons(lx, out, 0, 1);
        stick_to_buttons(ly, out, 2, 3);
        stick_to_buttons(rx, out, 8, 9);
        stick_to_buttons(ry, out, 10, 11);
        const uint32_t mask = read_buttons(player, metacon[player]);
        for (const auto &b : kButtonMap)
            if (mask & (1u << b[0])) out[b[1]] = 255;
    }
    if (player != 0) return;
    for (const auto &k : kKeyMap)
        if (key_state[k[0]]) out[k[1]] = 255;
    if (key_state[40] && !key_state[226] && !key_state[230]) out[6] = 255;
}
