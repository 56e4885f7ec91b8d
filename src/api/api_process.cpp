// Process and message calls: the caller's id, messages between processes,
// presenting a frame, and the kernel's calls that create, schedule, stop and
// inspect processes.
//
// Every function here reads its arguments into plain values first, and looks
// processes up by id again after any call that can run Lua code or a slice:
// that code may kill processes, and a killed record is freed.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "address_space.h"
#include "api_args.h"
#include "api_functions.h"
#include "api_protected.h"
#include "buffer.h"
#include "host.h"
#include "lua.hpp"
#include "messages.h"
#include "pod_bridge.h"
#include "process.h"
#include "slice.h"
#include "thread_flag.h"
#include "vm_hooks.h"

namespace {

inline constexpr int MESSAGE_INITIAL_CAPACITY = 256;    /* bytes of a new message buffer */
inline constexpr int32_t MESSAGE_BUFFER_TAG = 'p';      /* buffer group of message texts */
inline constexpr uint8_t VIDEO_HOLD_BIT = 2;            /* 0x547F: video out skips new frames */
inline constexpr int64_t FLIP_KEEP_VIDEO_HOLD = 1;      /* flip flag: leave VIDEO_HOLD_BIT alone */
inline constexpr int64_t FLIP_REWIND_CLOCK = 3;         /* flip flags that rewind the clock a tick */
inline constexpr int32_t CREATE_PROCESS_CYCLES = 2048;  /* a new process's state, besides its allocations */
inline constexpr size_t CODE_BYTES_PER_CYCLE = 1;       /* and the compilation of its code */
inline constexpr int32_t LIST_ENTRY_CYCLES = 1;         /* a process's entry read, besides its table's allocations */
inline constexpr int32_t ESCAPE_FLAG_SET = 0x40000000;  /* value _yielded_to_escape_slice stores */
inline constexpr uint32_t VIDEO_WIDTH_REG = 0x5478;     /* i16: the process's display width */
inline constexpr uint32_t VIDEO_HEIGHT_REG = 0x547A;    /* i16: its display height */
inline constexpr uint8_t LOW_PRIORITY_MASK = 33;        /* 0x547F bits 5 and 0 */
inline constexpr uint8_t LOW_PRIORITY_BITS = 32;        /* bit 5 set, bit 0 clear: a tenth */
inline constexpr double EXCLUSIVE_PRIORITY = 10.0;      /* reported for the exclusive process */
inline constexpr double FRAME_CYCLES_F = static_cast<double>(FRAME_CYCLES);

/* ---- messages ---- */

// Sets name = value (an integer) on the table at index 2; raises Lua's
// indexing error when it is not a table.
void set_message_field(lua_State *L, const char *name, lua_Integer value) {
    lua_pushinteger(L, value);
    lua_setfield(L, 2, name);
}

/* ---- the process list ---- */

// One entry of the process list, copied out of its record before anything
// is pushed.
struct list_entry {
    int64_t id;             /* process id */
    char name[64];          /* process name */
    char prog[256];         /* program path */
    char pwd[257];          /* working folder */
    double cpu;             /* cycles of the last flipped frame / FRAME_CYCLES */
    int64_t memory;         /* the memory figure */
    double priority;        /* the reported priority */
};

double reported_priority(process_rec *p) {
    if (p->id < FIRST_USER_PID) return 0.0;
    if (app.exclusive_pid != 0 && app.exclusive_pid == static_cast<uint64_t>(p->id))
        return EXCLUSIVE_PRIORITY;
    if (p->high_priority) return p->priority * 2.0;
    if ((peek_proc(p, PROCESS_FLAGS_ADDR) & LOW_PRIORITY_MASK) == LOW_PRIORITY_BITS)
        return p->priority * 0.1;
    return p->priority;
}

void read_entry(process_rec *p, list_entry *e) {
    e->id = p->id;
    std::memcpy(e->name, p->name, sizeof e->name);
    std::memcpy(e->prog, p->prog, sizeof e->prog);
    std::memcpy(e->pwd, p->pwd, sizeof e->pwd);
    e->name[sizeof e->name - 1] = 0;
    e->prog[sizeof e->prog - 1] = 0;
    e->pwd[sizeof e->pwd - 1] = 0;
    e->cpu = p->cycles_last_flip / FRAME_CYCLES_F;
    e->memory = memory_figure(p);
    e->priority = reported_priority(p);
}

void push_entry(lua_State *L, const list_entry *e) {
    lua_createtable(L, 0, 7);
    lua_pushinteger(L, e->id);
    lua_setfield(L, -2, "id");
    lua_pushstring(L, e->name);
    lua_setfield(L, -2, "name");
    lua_pushstring(L, e->prog);
    lua_setfield(L, -2, "prog");
    lua_pushnumber(L, e->cpu);
    lua_setfield(L, -2, "cpu");
    lua_pushinteger(L, e->memory);
    lua_setfield(L, -2, "memory");
    lua_pushnumber(L, e->priority);
    lua_setfield(L, -2, "priority");
    lua_pushstring(L, e->pwd);
    lua_setfield(L, -2, "pwd");
}

/* ---- slices ---- */

// The results of a slice that was not run: true, 0.0 and, when given, why.
int not_run(lua_State *L, const char *why) {
    lua_pushboolean(L, 1);
    lua_pushnumber(L, 0.0);
    if (!why) return 2;
    lua_pushstring(L, why);
    return 3;
}

}  // namespace

/* ---- the caller ---- */

int lua54_pid(lua_State *L) {
    lua_pushinteger(L, cproc ? cproc->id : 0);
    return 1;
}

/* ---- messages ---- */

int lua54_send_message(lua_State *L) {
    const int64_t to_id = api_truncated(L, 1, 0);
    if (to_id == 0 || !get_process(to_id)) return 0;
    const int64_t from = cproc ? cproc->id : 0;
    const int32_t is_system = cproc ? cproc->is_system : 0;

    // The fields go on argument 2 (nil when absent); further arguments are
    // ignored.
    lua_settop(L, 2);
    set_message_field(L, "_from", from);
    set_message_field(L, "_sent_t", os_get_time());
    set_message_field(L, "_flags", is_system);

    buffer_rec *b = create_buffer_2(MESSAGE_INITIAL_CAPACITY, MESSAGE_BUFFER_TAG);
    if (!b) return 0;
    if (api_pod_write(L, 2, b, 0) != LUA_OK) {
        destroy_buffer(b);
        return lua_error(L);
    }
    const int32_t length = b->length;
    send_process_message(get_process(to_id), b);  // a receiver gone meanwhile gets nothing
    destroy_buffer(b);
    spend_cpu(length);
    return 0;
}

int lua54__read_message(lua_State *L) {
    buffer_rec *m = read_process_message(cproc, nullptr);
    if (!m) return 0;
    // The shared buffer is reused by the next read, which a finalizer run by
    // the decoding could make: decode from an anchored Lua copy instead.
    lua_pushstring(L, to_cstr(m));
    size_t len = 0;
    const char *text = lua_tolstring(L, -1, &len);
    return api_pod_read(L, text, len);
}

/* ---- frames ---- */

int lua54_flip(lua_State *L) {
    const int64_t flags = kiv_intp(L, 1, 0);
    process_rec *p = cproc;
    if (!p) return 0;
    if (!(flags & FLIP_KEEP_VIDEO_HOLD))
        poke(PROCESS_FLAGS_ADDR, peek(PROCESS_FLAGS_ADDR) & ~VIDEO_HOLD_BIT);
    p->flipped = 1;
    if (flags & FLIP_REWIND_CLOCK) {
        p->clock -= 1;
        p->frames_since_flip = 0;
    }
    cpu_superyielding = VM_SUPERYIELD;
    return 0;
}

int lua54_yielded_to_escape_slice(lua_State *L) {
    if (lua_gettop(L) == 1 && lua_type(L, 1) == LUA_TNUMBER) {
        api_set_escape_flag(L, api_integer(L, 1) != 0 ? ESCAPE_FLAG_SET : 0);
        return 0;
    }
    lua_pushboolean(L, api_get_escape_flag(L) != 0);
    return 1;
}

/* ---- the kernel's process calls ---- */

int lua54__create_process_from_code(lua_State *L) {
    size_t code_len = 0;
    const char *code = api_string(L, 1, &code_len);
    const char *name = api_string(L, 2, nullptr);
    const char *prog = api_string(L, 3, nullptr);
    if (!code || !name || !prog) return 0;
    // The new state with its functions and tables, and the compiled chunk.
    // (the name and program texts are copied, and written to the log)
    const size_t texts = std::strlen(name) + std::strlen(prog);
    spend_cpu(CREATE_PROCESS_CYCLES +
              static_cast<int32_t>(std::min<size_t>(code_len / CODE_BYTES_PER_CYCLE + texts / 2, INT32_MAX / 2)));
    const char *argument = api_string(L, 4, nullptr);
    // The texts stay on the caller's stack while the process is built.
    process_rec *p = create_process_from_code(code, name, prog, argument ? argument : "");
    if (!p) return 0;
    lua_pushinteger(L, p->id);
    return 1;
}

int lua54__run_process_slice(lua_State *L) {
    const auto id = static_cast<int32_t>(api_integer(L, 1));
    double fraction = lua_tonumber(L, 2);
    if (std::isnan(fraction) || fraction < 0.0) fraction = 0.0;
    if (fraction > 1.0) fraction = 1.0;
    if (fraction == 0.0) return 0;

    process_rec *p = get_process(id);
    if (!p) return not_run(L, "_run_process_slice: bad process id");
    if (!p->lua_state) return not_run(L, "_run_process_slice: invalid process");
    // A process on the running chain (the caller, or a process whose slice
    // runs the caller), or one the host holds (a finalizer of its own may be
    // the caller), cannot be resumed again.
    if (p->flipped || process_busy(p)) return not_run(L, nullptr);

    const uint32_t used = run_process_slice(p, fraction);

    p = get_process(id);  // the slice may have ended and removed it
    if (!p || !p->lua_state) return not_run(L, "_run_process_slice: could not find lua state");
    const bool waiting = lua_status(p->lua_state) == LUA_YIELD && !p->flipped;
    lua_pushboolean(L, !waiting);
    lua_pushnumber(L, used / FRAME_CYCLES_F);
    return 2;
}

int lua54__kill_process(lua_State *L) {
    const int64_t id = api_truncated(L, 1, 0);
    const int64_t mode = kiv_intp(L, 2, 0);
    process_rec *p = get_process(id);
    if (!p) return 0;
    if (mode == 0)
        kill_process(p);
    else if (mode == 1)
        restart_process(p);
    return 0;
}

int lua54__close_process_host_resources(lua_State *L) {
    const int64_t id = api_truncated(L, 1, 0);
    if (get_process(id)) delete_sockets_by_process(id);
    return 0;
}

int lua54__halt(lua_State *L) {
    (void)L;
    if (cproc) cproc->state = PROC_ENDED;
    cpu_superyielding = VM_SUPERYIELD;
    return 0;
}

/* ---- inspection ---- */

int lua54__process_state(lua_State *L) {
    process_rec *p = get_process(api_integer(L, 1));
    lua_pushinteger(L, p ? p->state : -1);
    return 1;
}

int lua54__get_process_display_size(lua_State *L) {
    process_rec *p = get_process(api_integer(L, 1));
    const int16_t w = p ? peek2_proc(p, VIDEO_WIDTH_REG) : 0;
    const int16_t h = p ? peek2_proc(p, VIDEO_HEIGHT_REG) : 0;
    lua_pushinteger(L, w);
    lua_pushinteger(L, h);
    return 2;
}

namespace {

// Runs protected with the collector held: the list is read from one state
// of the process table, which a finalizer run by a push could change (a
// kill moves the later records down).
int process_list_body(lua_State *L) {
    lua_settop(L, 0);
    lua_createtable(L, get_process_count(), 0);
    lua_Integer n = 0;
    list_entry e;
    for (int32_t i = 0;; i++) {
        process_rec *p = get_process_by_index(i);
        if (!p) break;
        read_entry(p, &e);
        push_entry(L, &e);
        lua_rawseti(L, -2, ++n);
    }
    return 1;
}

}  // namespace

int lua54__get_process_list(lua_State *L) {
    spend_cpu(LIST_ENTRY_CYCLES * get_process_count());
    if (api_pcall_held(L, process_list_body, nullptr, 0) != LUA_OK) return lua_error(L);
    return 1;
}
