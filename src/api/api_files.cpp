// File-system calls: listing, folders, file status, copying, deleting,
// mounts, the caller's working folder and path texts.
//
// Buffers made here (normalised paths) are released before anything is
// pushed, or pushed protected, so a memory error never leaks one.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "api_args.h"
#include "api_charges.h"
#include "host_yield.h"
#include "api_functions.h"
#include "api_protected.h"
#include "buffer.h"
#include "fsops.h"
#include "listing.h"
#include "lua.hpp"
#include "paths.h"
#include "pfile.h"
#include "pmount.h"
#include "process.h"
#include "saturate.h"
#include "vm_hooks.h"
#include "writeback.h"

namespace {

inline constexpr char ANYWHEN_PREFIX[] = "anywhen://";  /* fullpath leaves these alone */
inline constexpr size_t PWD_MAX = sizeof(process_rec::pwd) - 1; /* 256 characters */
inline constexpr size_t BBS_CHECKED_FROM = 6;           /* bbs paths: characters before are not examined */
inline constexpr int32_t LISTED_ENTRY_CYCLES = 48;      /* ls: charged per entry listed (its name made, set, sorted) */
inline constexpr int32_t HOST_ENTRY_CYCLES = 64;        /* and per name a host folder holds (a host test each) */
inline constexpr size_t WALKED_PER_CYCLE = 2;           /* and for the RAM files and mounts looked at */
inline constexpr int64_t DELETED_ENTRY_CYCLES = 32;     /* _fdelete: charged per entry that goes */
inline constexpr size_t COLLAPSE_BYTES_PER_CYCLE = 2;   /* path collapsing; printing each step costs a cycle a byte */
inline constexpr size_t BBS_BYTES_PER_CYCLE = 4;        /* bbs path checks: a test a byte */

// Pushes the bytes of 'b' as one string and releases 'b'; a memory error is
// raised only after the release. A null 'b' pushes nothing: 0.
int push_and_release(lua_State *L, buffer_rec *b) {
    if (!b) return 0;
    const int status = api_push_bytes(L, b->data, static_cast<size_t>(b->length));
    destroy_buffer(b);
    if (status != LUA_OK) return lua_error(L);
    return 1;
}

struct list_call {
    const char *path;
    pdisk_list_work work;  // what the listing went through
};

// Runs protected with the collector held: (light list_call). The listing
// is kept by the file system until its next listing, which a finalizer run
// by one of the pushes could make.
int list_body(lua_State *L) {
    auto *call = static_cast<list_call *>(lua_touserdata(L, 1));
    lua_settop(L, 0);
    return pflist(call->path, L, &call->work);
}

bool bbs_char(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '.' || c == '/';
}

// The collapsed form of argument 1 (with the steps printed when 'trace').
inline constexpr size_t TRACE_BYTES_PER_CYCLE = 64;  /* a collapse's trace, printed */
inline constexpr int32_t TRACE_LINE_CYCLES = 64;      /* a line of it, written out */

int collapse(lua_State *L, int trace) {
    size_t len = 0;
    const char *path = api_string(L, 1, &len);
    if (!path || len > static_cast<size_t>(INT32_MAX)) return 0;
    charge_bytes(len, trace ? 1 : COLLAPSE_BYTES_PER_CYCLE);
    if (trace) {
        // The trace prints the output so far at each segment: about the
        // path's length times half its segments, checked before any is made.
        size_t segments = 0;
        for (const char *at = path; (at = static_cast<const char *>(std::memchr(at, '/', len - size_t(at - path))));
             at++)
            segments++;
        // A line a segment, the first and the last.
        host_charge_check(L, static_cast<int32_t>(std::min<size_t>(
                                 len / 2 * segments / TRACE_BYTES_PER_CYCLE + (segments + 2) * TRACE_LINE_CYCLES,
                                 INT32_MAX / 2)));
    }
    return push_and_release(L, collapse_path(path, static_cast<int32_t>(len), trace));
}

}  // namespace

/* ---- listing, folders and status ---- */

int lua54_list_files(lua_State *L) {
    size_t len = 0;
    const char *path = api_path(L, 1, &len);
    if (!path) {
        if (!lua_isnoneornil(L, 1)) return 0;
        path = "/";
    }
    charge_path(L, path, len);
    const int top = lua_gettop(L);
    list_call call{path, {0, 0}};
    if (api_pcall_held(L, list_body, &call, 0) != LUA_OK) return lua_error(L);
    const int n = lua_gettop(L) - top;
    int64_t cycles = static_cast<int64_t>(call.work.host_entries) * HOST_ENTRY_CYCLES +
                     static_cast<int64_t>(call.work.walked / WALKED_PER_CYCLE);
    if (n > 0 && lua_type(L, -n) == LUA_TTABLE)  // the names, then the folder count
        cycles += static_cast<int64_t>(lua_rawlen(L, -n)) * LISTED_ENTRY_CYCLES;
    if (cycles > 0) spend_cpu(static_cast<int32_t>(std::min<int64_t>(cycles, INT32_MAX / 2)));
    return n;
}

int lua54_mkdir(lua_State *L) {
    size_t len = 0;
    const char *path = api_path(L, 1, &len);
    if (path) charge_path(L, path, len);
    const char *message = nullptr;
    if (!path)
        message = "mkdir: no path";
    else if (pdisk_directory_exists(path, 1))
        message = "mkdir: directory already exists";
    else if (pmkdir(path) != 0)
        message = "mkdir failed";
    if (!message) return 0;
    lua_pushstring(L, message);
    return 1;
}

int lua54_fstat(lua_State *L) {
    size_t len = 0;
    const char *path = api_path(L, 1, &len);
    if (!path) return 0;
    charge_path(L, path, len);
    buffer_rec *norm = normalise_quillmar_path_n(path, len);
    if (!norm) return 0;
    const char *p = to_cstr(norm);
    const bool cart = kiv_path_kind(p) != 0;
    if (cart) flush_dirty_mounts_immediately();  // the cartridge file's size is current
    const char *kind = pdisk_directory_exists(p, 1) ? "folder" : pdisk_file_exists(p) ? "file" : nullptr;
    if (!kind) {
        destroy_buffer(norm);
        return 0;
    }
    // A mounted cartridge's own file is measured, not the folder it mounts.
    const int64_t size = pfile_size(p, cart ? 1 : 0);
    // The description lives in the file system until its next call: pushed
    // first, while nothing else can run, and after the path is released.
    const char *description = get_mount_description(p);
    destroy_buffer(norm);
    if (description)
        lua_pushstring(L, description);
    else
        lua_pushnil(L);
    lua_pushstring(L, kind);
    lua_pushinteger(L, size);
    lua_rotate(L, -3, -1);  // kind, size, description
    return 3;
}

int lua54_resolve_filename(lua_State *L) {
    size_t len = 0;
    const char *path = api_path(L, 1, &len);
    if (!path) return 0;
    charge_path_text(len);
    if (len >= sizeof ANYWHEN_PREFIX - 1 && std::memcmp(path, ANYWHEN_PREFIX, sizeof ANYWHEN_PREFIX - 1) == 0) {
        lua_pushvalue(L, 1);
        return 1;
    }
    return push_and_release(L, normalise_quillmar_path_n(path, len));
}

/* ---- copying, deleting and mounting ---- */

int lua54__fcopy(lua_State *L) {
    size_t src_len = 0, dst_len = 0;
    const char *src = api_path(L, 1, &src_len);
    const char *dst = api_path(L, 2, &dst_len);
    if (!src || !dst) return 0;
    charge_path(L, src, src_len);
    charge_path(L, dst, dst_len);
    spend_cpu(saturate_double_to_i32(static_cast<double>(fcopy(src, dst))));
    return 0;
}

int lua54__fdelete(lua_State *L) {
    size_t len = 0;
    const char *path = api_path(L, 1, &len);
    if (!path) return 0;
    charge_path(L, path, len);
    const int64_t gone = delete_path(path);
    if (gone > 0) spend_cpu(static_cast<int32_t>(std::min<int64_t>(gone * DELETED_ENTRY_CYCLES, INT32_MAX / 2)));
    return 0;
}

int lua54_mount(lua_State *L) {
    size_t path_len = 0, target_len = 0;
    const char *path = api_path(L, 1, &path_len);
    const char *target = api_path(L, 2, &target_len);
    if (!path || !target) return 0;
    charge_path(L, path, path_len);
    charge_path(L, target, target_len);
    mount_p_path(path, target);
    return 0;
}

/* ---- the working folder ---- */

int lua54_get_process_pwd(lua_State *L) {
    lua_pushstring(L, cproc ? cproc->pwd : "/");
    return 1;
}

int lua54_set_process_pwd(lua_State *L) {
    size_t len = 0;
    const char *path = api_path(L, 1, &len);
    process_rec *p = cproc;
    if (!path || !p) return 0;
    if (lua_toboolean(L, 2)) {  // raw: taken as it is, when it fits
        if (len > PWD_MAX) return 0;
        std::memcpy(p->pwd, path, len);
        p->pwd[len] = 0;
        return 0;
    }
    charge_path(L, path, len);
    buffer_rec *norm = normalise_quillmar_path_n(path, len);
    if (!norm) return 0;
    const bool found = pdisk_directory_exists(to_cstr(norm), 1) != 0;
    if (found && static_cast<size_t>(norm->length) < PWD_MAX) {
        std::memcpy(p->pwd, norm->data, static_cast<size_t>(norm->length));
        p->pwd[norm->length] = 0;
    }
    destroy_buffer(norm);
    if (found) return 0;
    lua_pushstring(L, "path not found");
    return 1;
}

/* ---- path texts ---- */

int lua54_normalise_userland_path(lua_State *L) { return collapse(L, 0); }

int lua54_normalise_userland_path_debug(lua_State *L) { return collapse(L, 1); }

int lua54_is_well_formed_bbs_path(lua_State *L) {
    size_t len = 0;
    const char *text = api_string(L, 1, &len);
    if (!text) return 0;
    charge_bytes(len, BBS_BYTES_PER_CYCLE);
    bool ok = true;
    for (size_t i = BBS_CHECKED_FROM; ok && len > BBS_CHECKED_FROM && i < len; i++)
        ok = bbs_char(static_cast<unsigned char>(text[i]));
    lua_pushboolean(L, ok);
    return 1;
}
