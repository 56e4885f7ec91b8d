// The typed-array method table: its fixed list of 58 entries and the host
// functions behind the entries built so far.
#pragma once

#include <cstring>

#include "typed_ud.h"

extern "C" {
#include "lua.h"
}

// An array's header as a call read it before an allocation through Lua. The
// allocation may run a step of the collector and with it the program's
// finalizers, which can mutate any array the call was given (type, width,
// height, dims): a call that sized or checked anything from the header makes
// its allocation, then asks ud_unchanged before it reads the array again, and
// refuses (no result) when the header changed. The array itself stays: the
// call's arguments anchor it on the Lua stack.
struct ud_seen {
    const typed_ud_rec *rec;  // the array, or null for none
    typed_ud_rec header;      // its header when seen
};

inline ud_seen ud_see(const typed_ud_rec *rec) { return {rec, rec ? *rec : typed_ud_rec{}}; }

inline bool ud_unchanged(const ud_seen &s) {
    return !s.rec || std::memcmp(s.rec, &s.header, sizeof s.header) == 0;
}

// One entry of USERDATA: its key and its host function.
struct ud_method {
    const char *name;   // key in USERDATA
    lua_CFunction fn;   // host function without upvalues
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

// Sorting rows by a key column; the number of comparisons made.
int lua54_ud_sort(lua_State *L);

// Copying and filling (gathering when the second argument is an i32 array),
// gathering, clearing.
int lua54_ud_copy(lua_State *L);
int lua54_ud_take(lua_State *L);
int lua54_ud_clear(lua_State *L);

// Element-wise arithmetic; each is also the metamethod of its operator.
int lua54_ud_add(lua_State *L);
int lua54_ud_sub(lua_State *L);
int lua54_ud_mul(lua_State *L);
int lua54_ud_div(lua_State *L);
int lua54_ud_idiv(lua_State *L);
int lua54_ud_mod(lua_State *L);
int lua54_ud_pow(lua_State *L);

// Element-wise bitwise operations and shifts (integer types only); also metamethods.
int lua54_ud_band(lua_State *L);
int lua54_ud_bor(lua_State *L);
int lua54_ud_bxor(lua_State *L);
int lua54_ud_shl(lua_State *L);
int lua54_ud_shr(lua_State *L);

// Extremum and sign operations.
int lua54_ud_max(lua_State *L);
int lua54_ud_min(lua_State *L);
int lua54_ud_abs(lua_State *L);
int lua54_ud_sgn(lua_State *L);
int lua54_ud_sgn0(lua_State *L);

// The drawing calls set, get and blit with the array first.
int lua54_ud_set(lua_State *L);
int lua54_ud_get(lua_State *L);
int lua54_ud_blit(lua_State *L);

// Interpolation along runs, vectors, matrices, transposing, rows and columns.
int lua54_ud_lerp(lua_State *L);
int lua54_ud_magnitude(lua_State *L);
int lua54_ud_distance(lua_State *L);
int lua54_ud_dot(lua_State *L);
int lua54_ud_cross(lua_State *L);
int lua54_ud_matmul(lua_State *L);
int lua54_ud_matmul3d(lua_State *L);
int lua54_ud_matmul2d(lua_State *L);
int lua54_ud_transpose(lua_State *L);
int lua54_ud_row(lua_State *L);
int lua54_ud_column(lua_State *L);
