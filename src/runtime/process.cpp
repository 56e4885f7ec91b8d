// The process table: creation, restart, kill, lookup and the current process.
#include "process.h"

#include <malloc.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "address_space.h"
#include "buffer.h"
#include "default_audio.h"
#include "host.h"
#include "lua.hpp"
#include "messages.h"
#include "runtime_log.h"
#include "slice.h"
#include "vm_hooks.h"

process_rec *process[MAX_PROCESSES];
int32_t num_processes = 0;
int32_t process_id = 1;
process_rec *cproc = nullptr;

namespace {

// The id of each slot's record beside 'process', so that a lookup by id
// scans one small array instead of touching every record.
int64_t slot_id[MAX_PROCESSES];
// True while slot_id is strictly ascending, which it is whenever each record
// was added after every live record with a smaller id: lookups by id then
// halve the table instead of scanning it.
bool ids_ascending = true;

// The slot holding id 'id' by slot_id, or -1. Only when ids_ascending: the
// id then lies at most id - slot_id[0] slots in, exactly there while no
// record before it has gone.
int32_t search_slot_id(int64_t id) {
    if (num_processes == 0 || id < slot_id[0]) return -1;
    int32_t last = static_cast<int32_t>(std::min<int64_t>(id - slot_id[0], num_processes - 1));
    if (slot_id[last] <= id) return slot_id[last] == id ? last : -1;
    const int64_t *begin = slot_id, *end = slot_id + last;
    const int64_t *at = std::lower_bound(begin, end, id);
    return at != end && *at == id ? static_cast<int32_t>(at - begin) : -1;
}

// How the C library keeps the memory processes free (processes_init).
inline constexpr int KEPT_HEAP_BYTES = 64 << 20;   /* free heap kept before any goes back to the system */
inline constexpr int HEAP_GROWTH_BYTES = 4 << 20;  /* the heap grows by at least this */
inline constexpr int MAPPED_BLOCK_BYTES = 1 << 20; /* blocks this large are mapped on their own */

// The null sprite: a 16-byte typed-array header and 16 x 16 u8 elements.
inline constexpr int NULL_SPRITE_SIDE = 16;
alignas(8) uint8_t null_sprite[16 + NULL_SPRITE_SIDE * NULL_SPRITE_SIDE];

// Copies at most cap - 1 characters of 'src' (null counts as empty).
void copy_text(char *dst, size_t cap, const char *src) {
    size_t n = src ? strnlen(src, cap - 1) : 0;
    if (n) std::memcpy(dst, src, n);
    dst[n] = 0;
}

void put_u32(uint8_t *p, uint32_t v) {
    for (int i = 0; i < 4; i++) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// Takes 'rec' out of the table, keeping the later records in order.
void remove_from_table(process_rec *rec) {
    int32_t slot = process_slot(rec);
    if (slot < 0) return;
    const auto later = static_cast<size_t>(num_processes - slot - 1);
    std::memmove(&process[slot], &process[slot + 1], sizeof(process[0]) * later);
    std::memmove(&slot_id[slot], &slot_id[slot + 1], sizeof(slot_id[0]) * later);
    num_processes--;
    process[num_processes] = nullptr;
}

// The kill itself, for a live record that is not on the running chain.
void kill_now(process_rec *rec) {
    process_rec *parent = rec->parent_id ? get_process(rec->parent_id) : nullptr;
    if (parent) {
        char text[128];
        std::snprintf(text, sizeof text,
                      "{event=\"child_completed\",_from=2,_sent_t=%lld,proc_id=%lld}",
                      static_cast<long long>(os_get_time()), static_cast<long long>(rec->id));
        send_process_message_string(parent, text);
    }
    free_process(rec);
    remove_from_table(rec);
    if (cproc == rec) cproc = nullptr;
    std::free(rec);
}

// A kill or restart of a record whose resume is active is only marked: its
// slice ends at once and carries the action out when the resume returns.
void defer(process_rec *rec, int32_t action) {
    rec->state = PROC_ENDED;
    if (rec->pending_action != PENDING_KILL) rec->pending_action = action;
    cpu_superyielding = VM_SUPERYIELD;
}

}  // namespace

/* ---- the current process ---- */

remembered_process remember_current_process(void) {
    return {cproc, cproc ? cproc->id : 0};
}

void restore_current_process(remembered_process r) {
    cproc = r.rec && process_is_live(r.rec, r.id) ? r.rec : nullptr;
}

void set_current_process(process_rec *rec) {
    if (!rec) {
        std::printf("\n** ASSERT failed: %s :: %s:%d in %s()\n\n", "proc", "process", __LINE__,
                    "set_current_process");
        std::fflush(stdout);
        std::abort();
    }
    cproc = rec;
}

process_rec *get_current_process(void) { return cproc; }

int32_t get_cproc_id(void) { return cproc ? static_cast<int32_t>(cproc->id) : 0; }

/* ---- lookup ---- */

int32_t process_slot(const process_rec *rec) {
    if (!rec) return -1;
    for (int32_t i = 0; i < num_processes; i++)
        if (process[i] == rec) return i;
    return -1;
}

bool process_is_live(const process_rec *rec, int64_t id) {
    if (rec && ids_ascending) {
        int32_t i = search_slot_id(id);
        if (i >= 0 && process[i] == rec) return rec->id == id;
    }
    return process_slot(rec) >= 0 && rec->id == id;
}

process_rec *get_process(int64_t id) {
    if (ids_ascending) {
        int32_t i = search_slot_id(id);
        return i >= 0 && process[i]->id == id ? process[i] : nullptr;
    }
    for (int32_t i = 0; i < num_processes; i++)
        if (slot_id[i] == id && process[i]->id == id) return process[i];
    return nullptr;
}

process_rec *get_process_by_index(int32_t i) {
    return i >= 0 && i < num_processes ? process[i] : nullptr;
}

int32_t get_process_count(void) { return num_processes; }

/* ---- creation ---- */

int init_process(process_rec *rec, int64_t id, const char *code, const char *name,
                 const char *prog, const char *argument) {
    rec->id = id;
    copy_text(rec->name, sizeof rec->name, name);
    copy_text(rec->prog, sizeof rec->prog, prog);
    copy_text(rec->argument, sizeof rec->argument, argument);
    rec->has_argument = rec->argument[0] != 0;
    rec->is_system = std::strncmp(rec->prog, "/system/", 8) == 0;
    rec->parent_id = cproc ? cproc->id : 0;
    rec->draw_target = nullptr;
    rec->priority = 1.0;
    copy_text(rec->pwd, sizeof rec->pwd, "/");

    // The allocator charges the current process, so the new state is built
    // with its owner current.
    remembered_process prev = remember_current_process();
    cproc = rec;
    install_peek_hooks();

    const char *load_error = "not enough memory";
    lua_State *L = lua_newstate(l_alloc, nullptr);
    if (L) {
        // Nothing of a state being built is garbage: its collector waits
        // until the chunk is loaded rather than walk it step by step.
        lua_gc(L, LUA_GCHOLD);
        luaL_openlibs(L);
        api_add_c_functions(L);
        os_add_public_c_functions(L);
        add_userdata_metatable_functions(L);
        socket_add_public_c_functions(L);
        luaL_namecfunctions(L);  // before any of the program's code runs

        if (!code) code = "";
        size_t len = std::strlen(code);
        rec->source = static_cast<char *>(std::malloc(len + 16));
        if (rec->source) {
            std::memcpy(rec->source, code, len + 1);
            char chunkname[260];
            std::snprintf(chunkname, sizeof chunkname, "@%.255s", rec->name);
            // Text only: a precompiled chunk takes the syntax-error path.
            int st = luaL_loadbufferx(L, rec->source, len, chunkname, "t");
            lua_gc(L, LUA_GCRELEASE);
            if (st == LUA_OK) {
                rec->lua_state = L;
                load_error = nullptr;
            } else {
                load_error = lua_tostring(L, -1);
                if (!load_error) load_error = "(error object is not a string)";
            }
        }
    }

    if (load_error) {
        report_error("*syntax error");
        report_error(load_error);
        codo_debug("syntax error. ** could not create process **\n");
        runtime_log("%s\n", load_error);
        std::free(rec->source);
        rec->source = nullptr;
        if (L) lua_close(L);
        rec->lua_state = nullptr;
        restore_current_process(prev);
        return 1;
    }

    rec->message_queue = create_buffer_2(INBOX_INITIAL_CAPACITY, 'r');
    for (uint32_t p = 0; p < FIRST_PAGES; p++) own_page(rec, p);
    for (uint32_t p = COLOUR_TABLES_ADDR >> PAGE_SHIFT;
         p < (COLOUR_TABLES_ADDR + COLOUR_TABLES_BYTES) >> PAGE_SHIFT; p++)
        rec->page_flags[p] = PAGE_FLAG_COLTAB;
    rec->state = PROC_RUNNING;
    generate_default_wavetable(rec);
    generate_default_audio_data(rec);
    if (prev.rec) restore_current_process(prev);  // with none, the new process stays current
    return 0;
}

process_rec *create_process_from_code(const char *code, const char *name, const char *prog,
                                      const char *argument) {
    runtime_log("creating process %d %s %s\n", process_id, name ? name : "", prog ? prog : "");
    int64_t id = process_id++;
    if (num_processes >= MAX_PROCESSES) {
        codo_debug("** too many processes; could not create process **\n");
        return nullptr;
    }
    auto *rec = static_cast<process_rec *>(std::calloc(1, sizeof(process_rec)));
    if (!rec) {
        std::fputs("** fatal: no host memory for a process record **\n", stderr);
        std::abort();
    }
    ids_ascending = num_processes == 0 || (ids_ascending && slot_id[num_processes - 1] < id);
    slot_id[num_processes] = id;
    process[num_processes++] = rec;  // live while it is set up
    if (init_process(rec, id, code, name, prog, argument) != 0) {
        remove_from_table(rec);
        std::free(rec);
        return nullptr;
    }
    return rec;
}

/* ---- restart, kill and release ---- */

void restart_process(process_rec *rec) {
    if (process_slot(rec) < 0 || rec->closing) return;
    if (rec->resume_depth > 0 || rec->host_work > 0) {
        defer(rec, PENDING_RESTART);
        return;
    }
    // The texts outlive the release of the record.
    const char *src = rec->source ? rec->source : "";
    size_t len = std::strlen(src);
    char *source = static_cast<char *>(std::malloc(len + 1));
    if (!source) {
        std::fputs("** fatal: no host memory to restart a process **\n", stderr);
        std::abort();
    }
    std::memcpy(source, src, len + 1);
    char name[sizeof rec->name], prog[sizeof rec->prog], argument[sizeof rec->argument];
    std::memcpy(name, rec->name, sizeof name);
    std::memcpy(prog, rec->prog, sizeof prog);
    std::memcpy(argument, rec->argument, sizeof argument);
    int64_t id = rec->id;

    if (app.audio_focus == id) mudo_kill_all_audio();
    app.audio_focus = -2;
    // The mixer's copy belongs to the old incarnation: the next bracket must
    // copy the whole new space, not only its dirty pages.
    if (app.audio_synced_pid == id) app.audio_synced_pid = -3;

    bool was_current = cproc == rec;
    free_process(rec);
    if (was_current) cproc = rec;  // the record is rebuilt in place
    std::memset(rec, 0, sizeof *rec);
    init_process(rec, id, source, name, prog, argument);
    std::free(source);
    poke_proc(rec, PROCESS_FLAGS_ADDR, 1);
}

void free_process(process_rec *rec) {
    if (!rec || rec->closing) return;
    rec->closing = 1;
    remembered_process prev = remember_current_process();
    if (rec->lua_state) {
        cproc = rec;  // the frees are charged to the owner
        // The closing runs the program's finalizers and to-be-closed
        // handlers inside whatever call made it: a flip or a halt of theirs
        // ends no other slice. A kill or restart they ask of the caller
        // still ends its slice. They run on the watchdog's margin alone,
        // from a count of their own; what they used and the heap the
        // closing frees are charged to the slice that made it.
        const int32_t superyielding = cpu_superyielding;
        const int32_t cycles = cpu_cycles, cycles_max = cpu_cycles_max;
        const size_t heap = size_t(lua_gc(rec->lua_state, LUA_GCCOUNT)) * 1024;
        cpu_cycles = 0;
        cpu_cycles_max = 0;
        cpu_superyielding = 0;
        lua_close(rec->lua_state);
        rec->lua_state = nullptr;
        const int64_t used = int64_t{cpu_cycles} + int64_t(heap / VM_GC_BYTES_PER_CYCLE);
        cpu_cycles = cycles;
        cpu_cycles_max = cycles_max;
        cpu_superyielding = superyielding;
        spend_cpu(int32_t(std::min<int64_t>(used, VM_CYCLES_CAP)));
    }
    if (prev.rec == rec)
        cproc = nullptr;
    else
        restore_current_process(prev);
    if (cproc && cproc->pending_action != PENDING_NONE) cpu_superyielding = VM_SUPERYIELD;
    free_own_pages(rec);
    destroy_buffer(rec->message_queue);
    rec->message_queue = nullptr;
    rec->message_read = 0;
    std::free(rec->source);
    rec->source = nullptr;
    std::free(rec->print_ctx.buffer);
    std::free(rec->print_ctx.spare);
    rec->print_ctx.buffer = rec->print_ctx.spare = nullptr;
    rec->print_ctx.read = rec->print_ctx.end = nullptr;
    delete_sockets_by_process(rec->id);
    release_held_copy(rec);
    rec->closing = 0;
}

void release_held_copy(process_rec *rec) {
    std::free(rec->held_copy);
    rec->held_copy = nullptr;
    rec->held_copy_holder = nullptr;
    rec->held_copy_bytes = 0;
}

void kill_process(process_rec *rec) {
    if (process_slot(rec) < 0 || rec->closing) return;
    if (rec->resume_depth > 0 || rec->host_work > 0) {
        defer(rec, PENDING_KILL);
        return;
    }
    kill_now(rec);
}

void kill_process_by_index(int32_t i) { kill_process(get_process_by_index(i)); }

void kill_process_by_id(int64_t id) { kill_process(get_process(id)); }

void processes_init(void) {
    // Last slot first; a record still being resumed cannot go and stops the loop.
    while (num_processes > 0) {
        int32_t before = num_processes;
        kill_process_by_index(num_processes - 1);
        if (num_processes == before) break;
    }
    process_id = 1;
    cproc = nullptr;
    install_peek_hooks();
    // No fast bins: the small chunks a collection frees are merged as they
    // are freed, in the collection that pays for them, not all at once in
    // whichever later call asks malloc for a large block.
    mallopt(M_MXFAST, 0);
    // The memory of an ended process stays with the program for the next
    // one: given back at each kill (the top of the heap past 128 KB, and
    // the process record, mapped on its own), it was faulted in again page
    // by page at each creation, three quarters of a process's making and
    // ending. Blocks of a megabyte or more are still mapped and unmapped.
    mallopt(M_TRIM_THRESHOLD, KEPT_HEAP_BYTES);
    mallopt(M_TOP_PAD, HEAP_GROWTH_BYTES);
    mallopt(M_MMAP_THRESHOLD, MAPPED_BLOCK_BYTES);
}

/* ---- odds and ends ---- */

typed_ud_rec *get_null_sprite(void) {
    std::memset(null_sprite, 0, sizeof null_sprite);
    null_sprite[0] = 3;  // u8 elements
    null_sprite[1] = 2;  // two dimensions
    put_u32(null_sprite + 4, NULL_SPRITE_SIDE);
    put_u32(null_sprite + 8, NULL_SPRITE_SIDE);
    put_u32(null_sprite + 12, 1);  // depth
    return reinterpret_cast<typed_ud_rec *>(null_sprite);
}

void dump_ptr(const void *p) {
    const uint8_t *b = static_cast<const uint8_t *>(p);
    for (int i = 0; i < 64; i++) {
        std::printf("%02x", b[i]);
        if (i % 8 == 7) std::printf(" ");
    }
    std::printf(" | ");
    for (int i = 0; i < 64; i++) std::printf("%c", b[i] < 32 ? '_' : b[i]);
    std::printf("\n");
}
