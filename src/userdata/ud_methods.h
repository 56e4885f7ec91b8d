// The typed-array method table: its fixed list of 58 entries and the host
// functions behind the entries built so far.
#pragma once

#include "typed_ud.h"

extern "C" {
#include "lua.h"
}

// One entry of USERDATA: its key and its host function (null while that
// operation is not built; registration skips it).
struct ud_method {
    const char *name;   // key in USERDATA
    lua_CFunction fn;   // host function without upvalues, or null
};

// Every entry, in the order the table is set.
extern const ud_method userdata_methods[USERDATA_METHOD_COUNT];

// Element count, text form, element read and write.
int lua54_ud_len(lua_State *L);
int lua54_ud_tostring(lua_State *L);
int lua54_ud_index(lua_State *L);
int lua54_ud_newindex(lua_State *L);

// Shape queries: width; height (nil for one dimension); width, height, type name, dims.
int lua54_ud_width(lua_State *L);
int lua54_ud_height(lua_State *L);
int lua54_ud_attribs(lua_State *L);


// Copies between the array and the running process's address space; both
// return the array (nothing for f64 arrays).
int lua54_ud_peek(lua_State *L);
int lua54_ud_poke(lua_State *L);

// Retyping: a converted copy (or indices and palette), and the in-place reshape.
int lua54_ud_convert(lua_State *L);
int lua54_ud_mutate(lua_State *L);
