// `date`: a time as text through strftime conversions, or as a table.
#include <climits>
#include <cstring>
#include <ctime>

#include "api_charges.h"
#include "api_functions.h"
#include "lua.hpp"

namespace {

inline constexpr const char *DEFAULT_FORMAT = "!%Y-%m-%d %H:%M:%S";
inline constexpr size_t DATE_TEXT_LENGTH = 19;   /* YYYY-MM-DD HH:MM:SS */
inline constexpr size_t CONVERSION_SPACE = 250;  /* bytes one conversion may produce */
inline constexpr size_t FORMAT_BYTES_PER_CYCLE = 8;  /* the format's characters, one at a time */
inline constexpr int32_t CONVERSION_CYCLES = 16;  /* a strftime conversion */

/* The single-character conversions, then the two-character ones ("E" and
   "O" forms), each list a run of equal-length options. */
inline constexpr const char *SINGLE_OPTIONS = "aAbBcCdDeFgGhHIjmMnprRStTuUVwWxXyYzZ%";
inline constexpr const char *DOUBLE_OPTIONS = "EcECExEXEyEYOdOeOHOIOmOMOSOuOUOVOwOWOy";

inline constexpr const char *TIME_ERROR = "time result cannot be represented in this installation";
inline constexpr const char *DATE_ERROR = "date result cannot be represented in this installation";
inline constexpr int YEAR_BASE = 1900;  /* struct tm counts years from here */

/* Two digits of 'text' at 'at', each its character code minus '0'. */
int digits2(const char *text, size_t at) { return (text[at] - '0') * 10 + (text[at + 1] - '0'); }

/* The time a "YYYY-MM-DD HH:MM:SS" text names, in UTC; raises for a text
   too short to hold every field. */
time_t read_date_text(lua_State *L, int arg) {
    size_t len = 0;
    const char *s = lua_tolstring(L, arg, &len);
    if (len < DATE_TEXT_LENGTH) luaL_argerror(L, arg, "date text shorter than 19 characters");
    struct tm tm;
    std::memset(&tm, 0, sizeof tm);
    tm.tm_year = digits2(s, 0) * 100 + digits2(s, 2) - 1900;
    tm.tm_mon = digits2(s, 5) - 1;
    tm.tm_mday = digits2(s, 8);
    tm.tm_hour = digits2(s, 11);
    tm.tm_min = digits2(s, 14);
    tm.tm_sec = digits2(s, 17);
    return timegm(&tm);
}

/* The length of the conversion at 'conv' (after the '%'): 1 or 2, or
   raises the invalid-conversion error for argument 1. */
size_t check_conversion(lua_State *L, const char *conv, const char *end) {
    const size_t left = static_cast<size_t>(end - conv);
    if (left >= 1 && conv[0] != '\0' && std::strchr(SINGLE_OPTIONS, conv[0])) return 1;
    if (left >= 2) {
        for (const char *o = DOUBLE_OPTIONS; *o; o += 2)
            if (o[0] == conv[0] && o[1] == conv[1]) return 2;
    }
    luaL_argerror(L, 1, lua_pushfstring(L, "invalid conversion specifier '%%%s'", conv));
    return 0;
}

void set_field(lua_State *L, const char *key, int value) {
    lua_pushinteger(L, value);
    lua_setfield(L, -2, key);
}

void push_time_table(lua_State *L, const struct tm *tm) {
    lua_createtable(L, 0, 9);
    set_field(L, "year", tm->tm_year + YEAR_BASE);
    set_field(L, "month", tm->tm_mon + 1);
    set_field(L, "day", tm->tm_mday);
    set_field(L, "hour", tm->tm_hour);
    set_field(L, "min", tm->tm_min);
    set_field(L, "sec", tm->tm_sec);
    set_field(L, "yday", tm->tm_yday + 1);
    set_field(L, "wday", tm->tm_wday + 1);
    if (tm->tm_isdst >= 0) {
        lua_pushboolean(L, tm->tm_isdst);
        lua_setfield(L, -2, "isdst");
    }
}

}  // namespace

int lua54_date(lua_State *L) {
    size_t flen = 0;
    const char *s = luaL_optlstring(L, 1, DEFAULT_FORMAT, &flen);
    const char *end = s + flen;

    time_t t;
    if (lua_type(L, 2) == LUA_TSTRING) t = read_date_text(L, 2);
    else if (lua_isnoneornil(L, 2)) t = std::time(nullptr);
    else t = static_cast<time_t>(luaL_checkinteger(L, 2));
    if (!lua_isnoneornil(L, 3)) {
        const lua_Integer offset = luaL_checkinteger(L, 3);
        time_t sum;
        if (__builtin_add_overflow(t, static_cast<time_t>(offset), &sum)) return luaL_error(L, TIME_ERROR);
        t = sum;
    }
    if (t == static_cast<time_t>(-1)) return luaL_error(L, TIME_ERROR);

    bool utc = false;
    if (s < end && *s == '!') {
        utc = true;
        s++;
    }
    struct tm tm;
    if (!(utc ? gmtime_r(&t, &tm) : localtime_r(&t, &tm))) return luaL_error(L, DATE_ERROR);
    // The calendar year must fit an int, as the table's field and %Y give it.
    if (tm.tm_year > INT_MAX - YEAR_BASE) return luaL_error(L, DATE_ERROR);

    if (std::strcmp(s, "*t") == 0) {
        push_time_table(L, &tm);
        return 1;
    }
    charge_bytes_first(L, flen, FORMAT_BYTES_PER_CYCLE);
    luaL_Buffer buf;
    luaL_buffinit(L, &buf);
    while (s < end) {
        if (*s != '%') {
            luaL_addchar(&buf, *s++);
            continue;
        }
        s++;
        const size_t len = check_conversion(L, s, end);
        char spec[4] = {'%', s[0], len == 2 ? s[1] : '\0', '\0'};
        char *out = luaL_prepbuffsize(&buf, CONVERSION_SPACE);
        luaL_addsize(&buf, std::strftime(out, CONVERSION_SPACE, spec, &tm));
        spend_cpu(CONVERSION_CYCLES);
        s += len;
    }
    luaL_pushresult(&buf);
    return 1;
}
