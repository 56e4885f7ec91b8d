// The typed-array method table USERDATA, one per Lua state.
#include "ud_methods.h"

// The order is fixed; operations built elsewhere fill their own places here.
const ud_method userdata_methods[USERDATA_METHOD_COUNT] = {
    {"sort", nullptr},
    {"convert", lua54_ud_convert},
    {"copy", nullptr},
    {"take", nullptr},
    {"clear", nullptr},
    {"__add", nullptr},
    {"__sub", nullptr},
    {"__mul", nullptr},
    {"__div", nullptr},
    {"__idiv", nullptr},
    {"__mod", nullptr},
    {"__pow", nullptr},
    {"__band", nullptr},
    {"__bor", nullptr},
    {"__bxor", nullptr},
    {"__shl", nullptr},
    {"__shr", nullptr},
    {"add", nullptr},
    {"sub", nullptr},
    {"mul", nullptr},
    {"div", nullptr},
    {"idiv", nullptr},
    {"mod", nullptr},
    {"pow", nullptr},
    {"band", nullptr},
    {"bor", nullptr},
    {"bxor", nullptr},
    {"shl", nullptr},
    {"shr", nullptr},
    {"max", nullptr},
    {"min", nullptr},
    {"abs", nullptr},
    {"sgn", nullptr},
    {"sgn0", nullptr},
    {"__len", lua54_ud_len},
    {"__tostring", lua54_ud_tostring},
    {"__index", lua54_ud_index},
    {"__newindex", lua54_ud_newindex},
    {"set", nullptr},
    {"get", nullptr},
    {"blit", nullptr},
    {"peek", lua54_ud_peek},
    {"poke", lua54_ud_poke},
    {"width", lua54_ud_width},
    {"height", lua54_ud_height},
    {"attribs", lua54_ud_attribs},
    {"mutate", lua54_ud_mutate},
    {"lerp", nullptr},
    {"magnitude", nullptr},
    {"distance", nullptr},
    {"dot", nullptr},
    {"cross", nullptr},
    {"matmul", nullptr},
    {"matmul3d", nullptr},
    {"matmul2d", nullptr},
    {"transpose", nullptr},
    {"row", nullptr},
    {"column", nullptr},
};

void add_userdata_metatable_functions(lua_State *L) {
    lua_createtable(L, 0, USERDATA_METHOD_COUNT);
    for (const ud_method &m : userdata_methods) {
        if (!m.fn) continue;
        lua_pushcfunction(L, m.fn);
        lua_setfield(L, -2, m.name);
    }
    lua_setglobal(L, "USERDATA");
}
