// The typed-array method table USERDATA, one per Lua state.
#include "ud_methods.h"

// The order is fixed.
const ud_method userdata_methods[USERDATA_METHOD_COUNT] = {
    {"sort", lua54_ud_sort},
    {"convert", lua54_ud_convert},
    {"copy", lua54_ud_copy},
    {"take", lua54_ud_take},
    {"clear", lua54_ud_clear},
    {"__add", lua54_ud_add},
    {"__sub", lua54_ud_sub},
    {"__mul", lua54_ud_mul},
    {"__div", lua54_ud_div},
    {"__idiv", lua54_ud_idiv},
    {"__mod", lua54_ud_mod},
    {"__pow", lua54_ud_pow},
    {"__band", lua54_ud_band},
    {"__bor", lua54_ud_bor},
    {"__bxor", lua54_ud_bxor},
    {"__shl", lua54_ud_shl},
    {"__shr", lua54_ud_shr},
    {"add", lua54_ud_add},
    {"sub", lua54_ud_sub},
    {"mul", lua54_ud_mul},
    {"div", lua54_ud_div},
    {"idiv", lua54_ud_idiv},
    {"mod", lua54_ud_mod},
    {"pow", lua54_ud_pow},
    {"band", lua54_ud_band},
    {"bor", lua54_ud_bor},
    {"bxor", lua54_ud_bxor},
    {"shl", lua54_ud_shl},
    {"shr", lua54_ud_shr},
    {"max", lua54_ud_max},
    {"min", lua54_ud_min},
    {"abs", lua54_ud_abs},
    {"sgn", lua54_ud_sgn},
    {"sgn0", lua54_ud_sgn0},
    {"__len", lua54_ud_len},
    {"__tostring", lua54_ud_tostring},
    {"__index", lua54_ud_index},
    {"__newindex", lua54_ud_newindex},
    {"set", lua54_ud_set},
    {"get", lua54_ud_get},
    {"blit", lua54_ud_blit},
    {"peek", lua54_ud_peek},
    {"poke", lua54_ud_poke},
    {"width", lua54_ud_width},
    {"height", lua54_ud_height},
    {"attribs", lua54_ud_attribs},
    {"mutate", lua54_ud_mutate},
    {"lerp", lua54_ud_lerp},
    {"magnitude", lua54_ud_magnitude},
    {"distance", lua54_ud_distance},
    {"dot", lua54_ud_dot},
    {"cross", lua54_ud_cross},
    {"matmul", lua54_ud_matmul},
    {"matmul3d", lua54_ud_matmul3d},
    {"matmul2d", lua54_ud_matmul2d},
    {"transpose", lua54_ud_transpose},
    {"row", lua54_ud_row},
    {"column", lua54_ud_column},
};

void add_userdata_metatable_functions(lua_State *L) {
    lua_createtable(L, 0, USERDATA_METHOD_COUNT);
    for (const ud_method &m : userdata_methods) {
        lua_pushcfunction(L, m.fn);
        lua_setfield(L, -2, m.name);
    }
    lua_setglobal(L, "USERDATA");
}
