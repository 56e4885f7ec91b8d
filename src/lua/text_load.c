/* load for text chunks, shared by the script API and qlua. */
#include "text_load.h"

#include <stddef.h>
#include <string.h>

#include "lauxlib.h"
#include "vm_hooks.h"

/* Compiling is charged a cycle for every this many bytes of the chunk. */
enum { LOAD_BYTES_PER_CYCLE = 1 };

/* Charges 'size' bytes at 'per_cycle' bytes a cycle; nothing for fewer. */
static void charge_bytes(size_t size, size_t per_cycle) {
    size_t cycles = size / per_cycle;
    if (cycles > 0) spend_cpu(cycles > 0x3FFFFFFF ? 0x3FFFFFFF : (int32_t)cycles);
}

/* Charges the compilation of 'size' bytes; nothing for an empty piece. */
static void charge_chunk(size_t size) { charge_bytes(size, LOAD_BYTES_PER_CYCLE); }

/* Charges the chunk's name, read and copied into a string of its own. */
static void charge_name(const char *chunkname) { charge_bytes(strlen(chunkname), VM_BYTES_PER_CYCLE); }

/*
** A slot above the four arguments (chunk, chunk name, mode, environment)
** keeps the reader's last piece alive while the parser reads it.
*/
enum { RESERVED_SLOT = 5 };

/*
** Reader for a chunk given as a function: each call returns the next piece;
** nil ends the chunk. lua_load owns the stack above the reserved slot, so
** the piece is kept in that slot.
*/
static const char *generic_reader(lua_State *L, void *ud, size_t *size) {
    (void)ud;
    luaL_checkstack(L, 2, "too many nested functions");
    lua_pushvalue(L, 1);
    lua_call(L, 0, 1);
    if (lua_isnil(L, -1)) {
        lua_pop(L, 1);
        *size = 0;
        return NULL;
    }
    if (!lua_isstring(L, -1)) luaL_error(L, "reader function must return a string");
    lua_replace(L, RESERVED_SLOT);
    {
        const char *piece = lua_tolstring(L, RESERVED_SLOT, size);
        charge_chunk(*size);
        return piece;
    }
}

int luaB_load0(lua_State *L) {
    size_t len = 0;
    const char *s = lua_tolstring(L, 1, &len);
    const char *mode = luaL_optstring(L, 3, "bt");
    int env = !lua_isnone(L, 4) ? 4 : 0;
    int status;
    if (s != NULL) {
        const char *chunkname = luaL_optstring(L, 2, s);
        charge_chunk(len);
        if (!lua_isnoneornil(L, 2)) charge_name(chunkname);  /* the chunk's own text is paid */
        status = luaL_loadbufferx(L, s, len, chunkname, mode);
    } else {
        const char *chunkname = luaL_optstring(L, 2, "=(load)");
        luaL_checktype(L, 1, LUA_TFUNCTION);
        lua_settop(L, RESERVED_SLOT);
        if (!lua_isnoneornil(L, 2)) charge_name(chunkname);
        status = lua_load(L, generic_reader, NULL, chunkname, mode);
    }
    if (status != LUA_OK) {
        luaL_pushfail(L);
        lua_insert(L, -2);
        return 2;
    }
    if (env != 0) {
        lua_pushvalue(L, env);
        if (!lua_setupvalue(L, -2, 1)) lua_pop(L, 1);
    }
    return 1;
}
