// Slices of the frame budget, frame start and end, and what ends a process:
// finishing its chunk, running out of memory or a runtime error.
#include "slice.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "address_space.h"
#include "host.h"
#include "lua.hpp"
#include "messages.h"
#include "runtime_log.h"
#include "saturate.h"
#include "vm_hooks.h"

uint32_t total_frame_cycles = 0;
uint32_t total_frame_cycles_since_wm_flip = 0;
char fstl_buf[TRACEBACK_MAX + 1];

namespace {

// User processes wait for this much boot time unless the host is headless.
inline constexpr int32_t BOOT_GATE_MS = 2200;
// Collector settings for processes that ask for incremental collection.
inline constexpr int GC_INC_PAUSE = 107;
inline constexpr int GC_INC_STEPMUL = 18;
// Frames of process time one flipped frame may add at most.
inline constexpr uint32_t MAX_CLOCK_STEP = 3;

bool slice_allowed(const process_rec *rec) {
    if (rec->id >= FIRST_USER_PID) {
        if (app.exclusive_pid != 0 && app.exclusive_pid != static_cast<uint64_t>(rec->id))
            return false;
        if (!config.headless && static_cast<int32_t>(boot_get_time()) < BOOT_GATE_MS)
            return false;
    }
    return rec->state == PROC_RUNNING && rec->lua_state;
}

int32_t saturating_add(int32_t a, int64_t b) {
    return static_cast<int32_t>(std::min<int64_t>(INT32_MAX, int64_t{a} + b));
}

// Room for a number written as the error object's text.
inline constexpr size_t NUMBER_TEXT = 64;

// The error object as text: a string as it is, a number written into 'num'
// as tostring writes it, anything else named for what it is. Nothing is
// converted in place, allocated, pushed or called.
const char *error_text(lua_State *L, char (&num)[NUMBER_TEXT]) {
    switch (lua_type(L, -1)) {
    case LUA_TSTRING:
        return lua_tostring(L, -1);
    case LUA_TNUMBER:
        if (lua_isinteger(L, -1)) {
            std::snprintf(num, sizeof num, LUA_INTEGER_FMT, static_cast<LUAI_UACINT>(lua_tointeger(L, -1)));
        } else {
            std::snprintf(num, sizeof num, LUA_NUMBER_FMT, static_cast<LUAI_UACNUMBER>(lua_tonumber(L, -1)));
            if (num[std::strspn(num, "-0123456789")] == 0) std::strncat(num, ".0", sizeof num - std::strlen(num) - 1);
        }
        return num;
    default:
        return "(error object is not a string)";
    }
}

[[noreturn]] void end_program_for(const char *banner, const char *msg, bool message_on_stdout) {
    std::printf("%s\n", banner);
    if (message_on_stdout) std::printf("%s\n", msg);
    std::fflush(stdout);
    runtime_log("%s\n", banner);
    runtime_log("%s\n", msg);
    host_exit(1);
}

// A resume ended with an error: three events to process 3 and the log
// lines. The report is the host's own work: it reads the error object and
// the frames (lua_getstack and lua_getinfo) and pushes nothing, allocates
// nothing in the process's state and runs none of its code, so a stack
// that ended full or a registry the program changed cannot reach it. The
// message is kept to TRACEBACK_MAX characters, the traceback to its frames'
// bound.
void report_runtime_error(process_rec *rec, int status) {
    lua_State *L = rec->lua_state;
    rec->state = PROC_STOPPED;
    char num[NUMBER_TEXT];
    static char msg[TRACEBACK_MAX + 1];
    std::snprintf(msg, sizeof msg, "%s", error_text(L, num));
    runtime_log("run_process_slice() for process %ld error: %d %s\n", static_cast<long>(rec->id),
                status, msg);
    // The walk of the frames and the names sought in their callers' code
    // are charged to the process as they go, and stop at the watchdog's
    // margin: the report has a margin of its own past the count the error
    // left (that of a runaway call is past its own already).
    static char traceback[LUAL_TRACEBACKSIZE];
    const int32_t budget = cpu_cycles_max;
    cpu_cycles_max = std::max(cpu_cycles_max, cpu_cycles);
    luaL_tracebackbuf(L, 0, traceback, sizeof traceback);
    cpu_cycles_max = budget;
    runtime_log("--------\ntraceback:\n%s\n---------\n", traceback);
    report_error("*runtime error");
    report_error(msg);
    report_error(filter_system_traceback_lines(traceback));
}

// After the report: the kernel and the window manager end the program,
// other system processes stay stopped and user processes are killed.
void end_after_runtime_error(process_rec *rec) {
    char num[NUMBER_TEXT];
    const char *msg = error_text(rec->lua_state, num);
    if (rec->id == ROOT_PID) end_program_for("** RUNTIME ERROR IN KERNEL **", msg, false);
    if (rec->id == WM_PID) end_program_for("** RUNTIME ERROR IN WINDOW MANAGER **", msg, true);
    if (rec->id >= FIRST_USER_PID) kill_process(rec);
}

void charge(process_rec *rec, uint32_t used) {
    rec->cycles_this_frame += used;
    rec->cycles_since_flip += used;
}

}  // namespace

uint32_t run_process_slice(process_rec *rec, double fraction) {
    if (!rec || process_busy(rec)) return 0;  // already on the running chain, or held by the host
    if (!slice_allowed(rec)) return 0;
    rec->slices_run++;

    int64_t left = int64_t{FRAME_CYCLES} - total_frame_cycles;
    int64_t share = saturate_double_to_i32(fraction * static_cast<double>(FRAME_CYCLES));
    int64_t budget = std::min(left, share);
    if (budget < 1) return 0;

    remembered_process caller = remember_current_process();
    cproc = rec;
    int32_t saved_cycles = cpu_cycles;
    int32_t saved_max = cpu_cycles_max;
    int32_t saved_superyield = cpu_superyielding;

    // Debt is paid by starting the counter part-way into the budget.
    cpu_cycles_max = static_cast<int32_t>(budget);
    int32_t debt = std::min(rec->cycle_debt, MAX_CYCLE_DEBT_START);
    int32_t start = std::max(0, std::min(cpu_cycles_max, debt));
    cpu_cycles = start;
    rec->cycle_debt = debt - start;
    cpu_superyielding = 0;

    rec->resume_depth++;
    int nresults = 0;
    int status = lua_resume(rec->lua_state, nullptr, 0, &nresults);
    rec->resume_depth--;
    if (status == LUA_YIELD) lua_pop(rec->lua_state, nresults);

    // A collection or the traceback runs the process's finalizers outside
    // its resume, with its counters: host_work makes a kill or restart they
    // ask for wait for the end of this slice, and keeps any slice from
    // resuming the state meanwhile.
    bool stop = rec->out_of_memory != 0;
    bool collected = false;
    if (rec->pending_action == PENDING_NONE) {
        rec->host_work++;
        if (!stop && memory_figure(rec) > MEMORY_LIMIT) {
            lua_gc(rec->lua_state, LUA_GCCOLLECT);
            collected = true;
            if (memory_figure(rec) > MEMORY_LIMIT) rec->out_of_memory = 1;
            stop = rec->out_of_memory != 0;
        }
        if (!stop && status != LUA_OK && status != LUA_YIELD) report_runtime_error(rec, status);
        rec->host_work--;
    }

    int32_t end = cpu_cycles;
    if (int64_t{end} - cpu_cycles_max > 0) {
        rec->cycle_debt = saturating_add(rec->cycle_debt, int64_t{end} - cpu_cycles_max);
        end = cpu_cycles_max + 1;
    }
    uint32_t used = static_cast<uint32_t>(std::max(0, end - start));

    cpu_cycles = saved_cycles;
    cpu_cycles_max = saved_max;
    cpu_superyielding = saved_superyield;
    process_rec *caller_rec =
        caller.rec && process_is_live(caller.rec, caller.id) ? caller.rec : nullptr;
    // A kill or restart of the caller waits for the caller's own slice to end.
    if (caller_rec && caller_rec != rec && caller_rec->pending_action != PENDING_NONE)
        cpu_superyielding = VM_SUPERYIELD;
    charge(rec, used);
    if (caller_rec && caller_rec != rec) charge(caller_rec, used);
    total_frame_cycles += used;
    total_frame_cycles_since_wm_flip += used;

    if (rec->pending_action != PENDING_NONE) {
        int32_t action = rec->pending_action;
        rec->pending_action = PENDING_NONE;
        if (action == PENDING_RESTART)
            restart_process(rec);
        else
            kill_process(rec);
    } else if (stop) {
        rec->state = PROC_ENDED;
        report_error("*runtime error: out of memory");
        kill_process(rec);
    } else if (status == LUA_OK) {
        rec->state = PROC_ENDED;
        kill_process_by_id(rec->id);
    } else if (status != LUA_YIELD) {
        end_after_runtime_error(rec);
    } else if (!collected) {
        // A plain yield ran nothing that could remove a record since
        // caller_rec was found.
        cproc = caller_rec;
        return used;
    }

    restore_current_process(caller);
    return used;
}

/* ---- frame start and end ---- */

void prepare_processes_for_frame(void) {
    for (int32_t i = 0; i < num_processes; i++) {
        process_rec *p = process[i];
        p->cycles_last_frame = p->cycles_this_frame;
        p->cycles_this_frame = 0;
        if (p->flipped) {
            p->fps = 60 / (p->frames_since_flip + 1);
            p->flipped = 0;
            p->frames_since_flip = 0;
            p->cycles_last_flip = p->cycles_since_flip;
            p->cycles_since_flip = 0;
            if (p->id == WM_PID) total_frame_cycles_since_wm_flip = 0;
        } else {
            p->frames_since_flip++;
        }
    }
    total_frame_cycles = 0;
}

void update_processes_after_frame(void) {
    for (int32_t i = 0; i < num_processes; i++) {
        process_rec *p = process[i];
        uint32_t step = std::min(p->frames_since_flip + 1, MAX_CLOCK_STEP);
        if (p->flipped) p->clock += step;
        if (app.idle) p->clock += step;  // an idle frame lasts two periods
        if (p->state == PROC_RUNNING && p->lua_state) {
            cproc = p;
            if (peek_proc(p, PROCESS_FLAGS_ADDR) & 1)
                lua_gc(p->lua_state, LUA_GCINC, GC_INC_PAUSE, GC_INC_STEPMUL, 0);
        }
    }
    for (int32_t i = num_processes - 1; i >= 0; i--)
        if (i < num_processes && process[i]->out_of_memory) kill_process_by_index(i);
    if (audio_op_start(0, 1) == 0) os_unlock_audio();
    if (process_rec *wm = get_process(WM_PID))
        os_lock_mouse_cursor(peek_proc(wm, MOUSE_LOCK_ADDR), peek_proc(wm, MOUSE_EVENT_SENS_ADDR),
                             peek_proc(wm, MOUSE_MOVE_SENS_ADDR));
    update_all_sockets();
    cproc = num_processes > 0 ? process[0] : nullptr;
}

/* ---- statistics ---- */

const char *filter_system_traceback_lines(const char *text) {
    size_t n = text ? strnlen(text, TRACEBACK_MAX) : 0;
    if (n) std::memcpy(fstl_buf, text, n);
    fstl_buf[n] = 0;
    if (char *cut = std::strstr(fstl_buf, "/system/")) *cut = 0;
    return fstl_buf;
}

uint32_t get_total_frame_cycles(void) { return total_frame_cycles; }

uint32_t get_total_frame_cycles_since_wm_flip(void) { return total_frame_cycles_since_wm_flip; }

int is_frame_over_cpu(void) { return 0; }
