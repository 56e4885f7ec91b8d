/*
** qlua: runs one dialect script in a fresh state with the dialect's library
** set, print, a text-only load and the cycle accounting active. The script
** runs in its own thread, resumed with the budget of one frame refilled at
** every budget yield, so the yields are exercised.
** Usage: qlua FILE [ARGS]; exit status 0, or 1 with the error on stderr.
*/
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "lauxlib.h"
#include "lua.h"
#include "lualib.h"
#include "text_load.h"
#include "vm_hooks.h"

static const char *progname = "qlua";

/* Plain realloc/free: qlua sets no memory limit, so fail_hard and the
** nominal size do not matter here. */
static void *qlua_alloc(void *ud, void *ptr, size_t osize, size_t nsize, int fail_hard,
                        size_t account_size) {
    (void)ud; (void)osize; (void)fail_hard; (void)account_size;
    if (nsize == 0) {
        free(ptr);
        return NULL;
    }
    return realloc(ptr, nsize);
}

/* An error outside any protected call: log it and leave with status 1. */
static int qlua_panic(lua_State *L) {
    const char *msg = lua_type(L, -1) == LUA_TSTRING ? lua_tostring(L, -1) : NULL;
    fprintf(stderr, "%s: PANIC: unprotected error in call to Lua API (%s)\n", progname,
            msg ? msg : "error object is not a string");
    fflush(stderr);
    exit(1);
    return 0; /* not reached */
}

/*
** Pushes the text of the error object at the top of 'L' and returns it; the
** object stays below the text. A __tostring metamethod gives the text of a
** non-string object.
*/
static const char *error_text(lua_State *L) {
    int t = lua_type(L, -1);
    if (t == LUA_TSTRING || t == LUA_TNUMBER) {
        lua_pushvalue(L, -1);
        return lua_tostring(L, -1);
    }
    if (luaL_callmeta(L, -1, "__tostring")) {
        if (lua_type(L, -1) == LUA_TSTRING) return lua_tostring(L, -1);
        lua_pop(L, 1);
    }
    return lua_pushfstring(L, "(error object is a %s value)", luaL_typename(L, -1));
}

/* Sets the global 'arg': arg[0] is the script, arg[1..] its arguments. */
static void set_arg_table(lua_State *L, int argc, char **argv) {
    lua_createtable(L, argc - 2, 1);
    for (int i = 1; i < argc; i++) {
        lua_pushstring(L, argv[i]);
        lua_rawseti(L, -2, i - 1);
    }
    lua_setglobal(L, "arg");
}

/* Budget of one slice: a whole frame, nothing spent. */
static void refill_budget(void) {
    cpu_cycles = 0;
    cpu_cycles_max = VM_FRAME_CYCLES;
    cpu_superyielding = 0;
}

/*
** Runs the chunk on top of 'co' with 'nargs' arguments above it, resuming
** after every yield until it ends. Returns LUA_OK, or the error status with
** the error object on top of 'co'.
*/
static int run_to_end(lua_State *co, int nargs) {
    int status;
    do {
        int nres = 0;
        refill_budget();
        status = lua_resume(co, NULL, nargs, &nres);
        nargs = 0;
        if (status == LUA_YIELD) lua_pop(co, nres);
    } while (status == LUA_YIELD);
    return status;
}

int main(int argc, char **argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: %s FILE [ARGS]\n", progname);
        return 1;
    }
    lua_State *L = lua_newstate(qlua_alloc, NULL);
    if (L == NULL) {
        fprintf(stderr, "%s: cannot create a state: not enough memory\n", progname);
        return 1;
    }
    lua_atpanic(L, qlua_panic);
    refill_budget();
    luaL_openlibs(L);
    lua_pushcfunction(L, luaB_load0);
    lua_setglobal(L, "load");
    set_arg_table(L, argc, argv);

    /* the script's thread stays on the main stack, which anchors it */
    lua_State *co = lua_newthread(L);
    int status = luaL_loadfilex(co, argv[1], "t");
    if (status != LUA_OK) {
        lua_xmove(co, L, 1);
        fprintf(stderr, "%s: %s\n", progname, error_text(L));
    } else {
        for (int i = 2; i < argc; i++) lua_pushstring(co, argv[i]);
        status = run_to_end(co, argc - 2);
        if (status != LUA_OK) {
            /* the dead thread keeps its frames for the traceback; its error
               object moves to the main thread, which can still call functions */
            lua_xmove(co, L, 1);
            luaL_traceback(L, co, error_text(L), 0);
            fprintf(stderr, "%s: %s\n", progname, lua_tostring(L, -1));
        }
    }
    fflush(stdout);
    refill_budget(); /* finalizers run in lua_close */
    lua_close(L);
    return status == LUA_OK ? 0 : 1;
}
