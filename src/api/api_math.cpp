// Math functions: random numbers, absolute value and sign, extremes,
// square root, trigonometry in turns, and rounding to integers.
#include <cmath>
#include <cstdint>
#include <ctime>

#include "api_functions.h"
#include "api_math.h"
#include "intp.h"
#include "lua.hpp"
#include "process.h"
#include "process_rng.h"
#include "saturate.h"
#include "vm_hooks.h"

uint32_t seed_entropy = 0x011848D4;

namespace {

/* The angle constant: a turn is 2 x 3.141562 radians, slightly short of 2 pi. */
inline constexpr double TURN_HALF = 3.141562;
inline constexpr double TURN = 6.283124;
inline constexpr int32_t RND_CHARGE = 4;
inline constexpr int32_t SQRT_CHARGE = 6;

/* A number argument: numbers and numeric strings, anything else 0. */
double number_arg(lua_State *L, int index) { return lua_tonumber(L, index); }

/* The integer forms of max, min and mid: argument 1 an integer and each
   other one an integer or not a number at all. */
bool integer_form(lua_State *L, int count) {
    if (!lua_isinteger(L, 1)) return false;
    for (int i = 2; i <= count; i++)
        if (lua_type(L, i) == LUA_TNUMBER && !lua_isinteger(L, i)) return false;
    return true;
}

}  // namespace

int lua54_rnd(lua_State *L) {
    spend_cpu(RND_CHARGE);
    if (lua_type(L, 1) == LUA_TTABLE) {
        const lua_Unsigned n = lua_rawlen(L, 1);
        if (n == 0) return 0;
        const uint64_t r = xoshiro256ss_rand();
        lua_geti(L, 1, static_cast<lua_Integer>(r % n + 1));
        return 1;
    }
    const int type = lua_type(L, 1);
    const double x = type == LUA_TNUMBER || type == LUA_TSTRING ? lua_tonumber(L, 1) : 1.0;
    const auto u = static_cast<uint32_t>(xoshiro256ss_rand());
    lua_pushnumber(L, (static_cast<double>(u) * x) / 4294967296.0);
    return 1;
}

int lua54_srand(lua_State *L) {
    const uint32_t e = seed_entropy;
    const uint32_t t = ((e >> 16) & 0xFF) ^ (e << 7) ^ 0x56DF7780u;
    const uint32_t next = (t + 42863u) * (t + 331u);
    seed_entropy = next;
    const uint64_t id = cproc ? static_cast<uint64_t>(cproc->id) : 0;
    const uint64_t now = static_cast<uint64_t>(std::time(nullptr));
    const uint64_t fallback = ((id << 5) ^ ((now + reinterpret_cast<uintptr_t>(L)) * 3001u)) |
                              static_cast<uint64_t>(static_cast<int64_t>(static_cast<int32_t>(next)));
    xoshiro256ss_srand(static_cast<uint64_t>(kiv_intp(L, 1, static_cast<int64_t>(fallback))));
    return 0;
}

int lua54_abs(lua_State *L) {
    if (lua_isinteger(L, 1)) {
        const lua_Integer v = lua_tointeger(L, 1);
        lua_pushinteger(L, v == LUA_MININTEGER ? LUA_MAXINTEGER : (v < 0 ? -v : v));
        return 1;
    }
    lua_pushnumber(L, std::fabs(luaL_checknumber(L, 1)));
    return 1;
}

int lua54_sgn(lua_State *L) {
    const int type = lua_type(L, 1);
    if (lua_isinteger(L, 1)) lua_pushinteger(L, lua_tointeger(L, 1) < 0 ? -1 : 1);
    else if (type == LUA_TNUMBER || type == LUA_TSTRING) lua_pushinteger(L, lua_tonumber(L, 1) < 0 ? -1 : 1);
    else lua_pushinteger(L, 1);
    return 1;
}

int lua54_max(lua_State *L) {
    if (integer_form(L, 2)) {
        const int64_t x = kiv_intp(L, 1, 0), y = kiv_intp(L, 2, 0);
        lua_pushinteger(L, x > y ? x : y);
        return 1;
    }
    const double x = number_arg(L, 1), y = number_arg(L, 2);
    lua_pushnumber(L, x > y ? x : y);
    return 1;
}

int lua54_min(lua_State *L) {
    if (integer_form(L, 2)) {
        const int64_t x = kiv_intp(L, 1, 0), y = kiv_intp(L, 2, 0);
        lua_pushinteger(L, x < y ? x : y);
        return 1;
    }
    const double x = number_arg(L, 1), y = number_arg(L, 2);
    lua_pushnumber(L, x < y ? x : y);
    return 1;
}

int lua54_mid(lua_State *L) {
    if (integer_form(L, 3)) {
        const int64_t x = kiv_intp(L, 1, 0), y = kiv_intp(L, 2, 0), z = kiv_intp(L, 3, 0);
        int64_t r;
        if (x < y && x < z) r = y < z ? y : z;
        else if (y < x && y < z) r = x < z ? x : z;
        else r = x < y ? x : y;
        lua_pushinteger(L, r);
        return 1;
    }
    const double x = number_arg(L, 1), y = number_arg(L, 2), z = number_arg(L, 3);
    double r;
    if (y > x && z > x) r = y < z ? y : z;
    else if (x > y && z > y) r = x < z ? x : z;
    else r = x < y ? x : y;
    lua_pushnumber(L, r);
    return 1;
}

int lua54_sqrt(lua_State *L) {
    lua_pushnumber(L, std::sqrt(number_arg(L, 1)));
    spend_cpu(SQRT_CHARGE);
    return 1;
}

int lua54_cos(lua_State *L) {
    const double x = number_arg(L, 1);
    const double f = std::fmod(x, 1.0);
    double r;
    if (f == 0.0) r = 1.0;
    else if (f == 0.25) r = 0.0;
    else if (f == 0.5) r = -1.0;
    else if (f == 0.75) r = 0.0;
    else r = std::cos(2.0 * (x * TURN_HALF));
    lua_pushnumber(L, r);
    return 1;
}

int lua54_sin(lua_State *L) {
    const double x = number_arg(L, 1);
    const double s = std::sin(2.0 * (-TURN_HALF * x));
    const double f = std::fmod(x, 1.0);
    double r = s;
    if (f == 0.0) r = 0.0;
    else if (f == 0.25) r = -1.0;
    else if (f == 0.5) r = 0.0;
    else if (f == 0.75) r = 1.0;
    lua_pushnumber(L, r);
    return 1;
}

int lua54_atan2(lua_State *L) {
    const double dx = number_arg(L, 1), dy = number_arg(L, 2);
    lua_pushnumber(L, std::atan2(-dy, dx) / TURN);
    return 1;
}

int lua54_flr(lua_State *L) {
    if (lua_isinteger(L, 1)) {
        lua_settop(L, 1);
        return 1;
    }
    lua_pushinteger(L, floor_double_to_i64_or_min(number_arg(L, 1)));
    return 1;
}

int lua54_ceil(lua_State *L) {
    if (lua_isinteger(L, 1)) {
        lua_settop(L, 1);
        return 1;
    }
    lua_pushinteger(L, ceil_double_to_i64_or_min(number_arg(L, 1)));
    return 1;
}
