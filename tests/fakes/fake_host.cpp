// The fake host: recordings behind the runtime's host seam, and the t_*
// test globals. Every host symbol is weak, so a test that links a real
// subsystem library gets the real one.
#include "fake_host.h"

#include <cstdio>
#include <cstdlib>

#include "address_space.h"
#include "buffer.h"
#include "lua.hpp"
#include "messages.h"
#include "process.h"
#include "slice.h"
#include "vm_hooks.h"

#define FAKE_WEAK __attribute__((weak))

FAKE_WEAK config_rec config;
FAKE_WEAK app_state_rec app;

namespace {

struct recordings {
    std::vector<std::string> log;
    int64_t time = 0;
    uint32_t boot_time = 0;
    int lock_level = 0;
    int lock_errors = 0;
    int lock_calls = 0;
    int audio_result = 1;
    int audio_calls = 0;
    std::vector<fake_host::mouse_call> mouse;
    std::vector<int64_t> socket_owners;
    int socket_updates = 0;
    int kill_all_audio = 0;
    std::vector<std::string> initialisers;
    std::vector<fake_host::capture_call> captures;
    bool echo = false;
};

recordings &rec() {
    static recordings r;
    return r;
}

/* ---- the test globals (Lua -> host); longjmp-clean: plain values only ---- */

int t_run(lua_State *L) {
    int64_t pid = lua_tointeger(L, 1);
    double fraction = lua_tonumber(L, 2);
    uint32_t used = run_process_slice(get_process(pid), fraction);
    lua_pushinteger(L, used);
    return 1;
}

int t_kill(lua_State *L) {
    int64_t pid = lua_tointeger(L, 1);
    lua_Integer mode = lua_tointeger(L, 2);
    if (mode == 0) kill_process_by_id(pid);
    if (mode == 1) restart_process(get_process(pid));
    return 0;
}

int t_flip(lua_State *L) {
    (void)L;
    if (cproc) cproc->flipped = 1;
    cpu_superyielding = VM_SUPERYIELD;
    return 0;
}

int t_spend(lua_State *L) {
    spend_cpu(static_cast<int32_t>(lua_tointeger(L, 1)));
    return 0;
}

int t_peek(lua_State *L) {
    auto a = static_cast<uint32_t>(lua_tointeger(L, 1));
    switch (luaL_optinteger(L, 2, 1)) {
        case 2: lua_pushinteger(L, peek2(a)); break;
        case 4: lua_pushinteger(L, peek4(a)); break;
        case 8: lua_pushinteger(L, peek8(a)); break;
        default: lua_pushinteger(L, peek(a)); break;
    }
    return 1;
}

int t_poke(lua_State *L) {
    auto a = static_cast<uint32_t>(lua_tointeger(L, 1));
    int64_t v = lua_tointeger(L, 2);
    switch (luaL_optinteger(L, 3, 1)) {
        case 2: poke2(a, v); break;
        case 4: poke4(a, v); break;
        case 8: poke8(a, v); break;
        default: poke(a, v); break;
    }
    return 0;
}

int t_send(lua_State *L) {
    int64_t pid = lua_tointeger(L, 1);
    const char *text = lua_tostring(L, 2);
    lua_pushinteger(L, send_process_message_string(get_process(pid), text));
    return 1;
}

int t_read(lua_State *L) {
    buffer_rec *b = read_process_message(cproc, nullptr);
    if (!b) return 0;
    lua_pushstring(L, to_cstr(b));
    return 1;
}

int t_pid(lua_State *L) {
    lua_pushinteger(L, get_cproc_id());
    return 1;
}

}  // namespace

/* ---- host.h ---- */

extern "C" {

FAKE_WEAK void codo_debug(const char *text) {
    rec().log.emplace_back(text ? text : "");
    if (rec().echo) std::fputs(text ? text : "", stderr);
}

FAKE_WEAK int64_t os_get_time(void) { return rec().time; }

FAKE_WEAK void host_exit(int status) {
    std::fflush(stdout);
    std::exit(status);
}

FAKE_WEAK uint32_t boot_get_time(void) { return rec().boot_time; }

FAKE_WEAK void os_lock_audio(void) {
    rec().lock_level++;
    rec().lock_calls++;
}

FAKE_WEAK void os_unlock_audio(void) {
    if (--rec().lock_level < 0) {
        rec().lock_errors++;
        rec().lock_level = 0;
    }
}

FAKE_WEAK void delete_sockets_by_process(int64_t id) { rec().socket_owners.push_back(id); }

FAKE_WEAK void update_all_sockets(void) { rec().socket_updates++; }

FAKE_WEAK void os_lock_mouse_cursor(int32_t flags, int32_t event_sensitivity,
                                    int32_t move_sensitivity) {
    rec().mouse.push_back({flags, event_sensitivity, move_sensitivity});
}

FAKE_WEAK void mudo_kill_all_audio(void) { rec().kill_all_audio++; }

FAKE_WEAK int audio_op_start(int64_t pid, int32_t force) {
    (void)pid; (void)force;
    rec().audio_calls++;
    if (rec().audio_result == 0) os_lock_audio();
    return rec().audio_result;
}

FAKE_WEAK void audio_op_end(void) { os_unlock_audio(); }

FAKE_WEAK void update_gif_recording(const uint32_t *display_pal) { rec().captures.push_back({'g', display_pal}); }

FAKE_WEAK void update_screenshot(const uint32_t *frame) { rec().captures.push_back({'s', frame}); }

FAKE_WEAK void api_add_c_functions(struct lua_State *L) {
    rec().initialisers.push_back("api");
    static const luaL_Reg globals[] = {
        {"t_run", t_run},   {"t_kill", t_kill}, {"t_flip", t_flip}, {"t_spend", t_spend},
        {"t_peek", t_peek}, {"t_poke", t_poke}, {"t_send", t_send}, {"t_read", t_read},
        {"t_pid", t_pid},   {nullptr, nullptr}};
    lua_pushglobaltable(L);
    luaL_setfuncs(L, globals, 0);
    lua_pop(L, 1);
}

FAKE_WEAK void os_add_public_c_functions(struct lua_State *L) {
    (void)L;
    rec().initialisers.push_back("os");
}

FAKE_WEAK void add_userdata_metatable_functions(struct lua_State *L) {
    (void)L;
    rec().initialisers.push_back("userdata");
}

FAKE_WEAK void socket_add_public_c_functions(struct lua_State *L) {
    (void)L;
    rec().initialisers.push_back("socket");
}

}  // extern "C"

/* ---- the test side ---- */

namespace fake_host {

void reset() { rec() = recordings{}; }

const std::vector<std::string> &log() { return rec().log; }

std::string log_text() {
    std::string all;
    for (const auto &l : rec().log) all += l;
    return all;
}

void echo_log(bool on) { rec().echo = on; }
void set_time(int64_t ms) { rec().time = ms; }
void set_boot_time(uint32_t ms) { rec().boot_time = ms; }
int audio_lock_level() { return rec().lock_level; }
int audio_lock_errors() { return rec().lock_errors; }
int audio_lock_calls() { return rec().lock_calls; }
void set_audio_op_start_result(int result) { rec().audio_result = result; }
int audio_op_start_calls() { return rec().audio_calls; }
const std::vector<mouse_call> &mouse_calls() { return rec().mouse; }
const std::vector<int64_t> &deleted_socket_owners() { return rec().socket_owners; }
int socket_updates() { return rec().socket_updates; }
int kill_all_audio_calls() { return rec().kill_all_audio; }
const std::vector<std::string> &initialisers() { return rec().initialisers; }
const std::vector<capture_call> &capture_calls() { return rec().captures; }

}  // namespace fake_host
