/*
** qlua: runs one dialect script in a fresh state with the dialect's library
** set, print, a text-only load and the cycle accounting active. The budget of
** one frame is refilled at every budget yield, so the yields are exercised.
** Exit status 0, or 1 with the error on standard error.
*/
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "lauxlib.h"
#include "lua.h"
#include "lualib.h"
#include "vm_hooks.h"

static void *qlua_alloc(void *ud, void *ptr, size_t osize, size_t nsize, int fail_hard,
                        size_t account_size) {
    (void)ud; (void)osize; (void)fail_hard; (void)account_size;
    if (nsize == 0) {
        free(ptr);
        return NULL;
    }
    return realloc(ptr, nsize);
}

static int qlua_panic(lua_State *L) {
    const char *msg = lua_tostring(L, -1);
    fprintf(stderr, "qlua: unprotected error: %s\n", msg ? msg : "(error object is not a string)");
    exit(1);
}

/* load(chunk [, chunkname [, mode [, env]]]): text chunks only. */
static int qlua_load(lua_State *L) {
    size_t len;
    const char *s = luaL_checklstring(L, 1, &len);
    const char *name = luaL_optstring(L, 2, s);
    int env = !lua_isnone(L, 4) ? 4 : 0;
    if (luaL_loadbufferx(L, s, len, name, "t") == LUA_OK) {
        if (env != 0) {
            lua_pushvalue(L, env);
            if (!lua_setupvalue(L, -2, 1)) lua_pop(L, 1);
        }
        return 1;
    }
    lua_pushnil(L);
    lua_insert(L, -2);
    return 2;
}

static char *read_file(const char *path, size_t *len) {
    FILE *f = fopen(path, "rb");
    if (!f) return NULL;
    size_t cap = 4096, n = 0;
    char *buf = malloc(cap);
    size_t got;
    while (buf && (got = fread(buf + n, 1, cap - n, f)) > 0) {
        n += got;
        if (n == cap) {
            char *bigger = realloc(buf, cap *= 2);
            if (!bigger) { free(buf); buf = NULL; }
            else buf = bigger;
        }
    }
    fclose(f);
    *len = n;
    return buf;
}

int main(int argc, char **argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: qlua FILE [ARGS]\n");
        return 1;
    }
    size_t len = 0;
    char *src = read_file(argv[1], &len);
    if (!src) {
        fprintf(stderr, "qlua: cannot read %s\n", argv[1]);
        return 1;
    }
    lua_State *L = lua_newstate(qlua_alloc, NULL);
    if (!L) {
        free(src);
        fprintf(stderr, "qlua: cannot create a state\n");
        return 1;
    }
    lua_atpanic(L, qlua_panic);
    luaL_openlibs(L);
    lua_pushcfunction(L, qlua_load);
    lua_setglobal(L, "load");

    lua_createtable(L, argc, 0);
    for (int i = 1; i < argc; i++) {
        lua_pushstring(L, argv[i]);
        lua_rawseti(L, -2, i - 1);
    }
    lua_setglobal(L, "arg");

    char chunkname[512];
    snprintf(chunkname, sizeof chunkname, "@%s", argv[1]);
    int status = luaL_loadbufferx(L, src, len, chunkname, "t");
    free(src);
    if (status != LUA_OK) {
        fprintf(stderr, "qlua: %s\n", lua_tostring(L, -1));
        lua_close(L);
        return 1;
    }
    for (int i = 2; i < argc; i++) lua_pushstring(L, argv[i]);
    int nargs = argc - 2;
    do {
        int nres = 0;
        cpu_cycles = 0;
        cpu_cycles_max = VM_FRAME_CYCLES;
        cpu_superyielding = 0;
        status = lua_resume(L, NULL, nargs, &nres);
        nargs = 0;
        if (status == LUA_YIELD) lua_pop(L, nres);
    } while (status == LUA_YIELD);
    if (status != LUA_OK) {
        const char *msg = lua_tostring(L, -1);
        luaL_traceback(L, L, msg ? msg : "(error object is not a string)", 0);
        fprintf(stderr, "qlua: %s\n", lua_tostring(L, -1));
        lua_close(L);
        return 1;
    }
    lua_close(L);
    return 0;
}
