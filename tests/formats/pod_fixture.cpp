// Pod test fixture.
#include "pod_fixture.h"

#include "buffer.h"

namespace {

// t_pod(v [, flags]): the text; the writer's error is raised as it is.
int t_pod(lua_State *L) {
    static buffer_rec *out = create_buffer_2(64, 't');  // reused; tests only
    const int flags = int(luaL_optinteger(L, 2, 0));
    lua_settop(L, 1);
    bclear(out);
    stringify_object(L, 1, out, 0, flags);
    lua_pushlstring(L, reinterpret_cast<const char *>(out->data), size_t(out->length));
    return 1;
}

// t_unpod(text [, metadata]): the count, then the values.
int t_unpod(lua_State *L) {
    size_t len;
    const char *s = luaL_checklstring(L, 1, &len);
    const int meta = int(luaL_optinteger(L, 2, 0));
    lua_settop(L, 2);
    const int n = destringify_object_ex(L, s, int64_t(len), meta);
    lua_pushinteger(L, n);
    lua_insert(L, 3);
    return n + 1;
}

const char *prelude = R"LUA(
local function order(a, b)
  local ta, tb = type(a), type(b)
  if ta ~= tb then return ta < tb end
  if ta == "number" or ta == "string" then return a < b end
  return tostring(a) < tostring(b)
end
function show(v)
  local t = type(v)
  if t == "string" then
    return '"' .. v:gsub('[%c"\\\128-\255]', function(c) return "\\" .. c:byte() end) .. '"'
  elseif t == "number" then
    if v ~= v then return "nan" end
    return tostring(v)
  elseif t == "table" then
    local keys = {}
    for k in pairs(v) do keys[#keys + 1] = k end
    for i = 2, #keys do  -- insertion sort: the library set has no table.sort
      local k, j = keys[i], i - 1
      while j >= 1 and order(k, keys[j]) do keys[j + 1] = keys[j]; j = j - 1 end
      keys[j + 1] = k
    end
    local parts = {}
    for _, k in ipairs(keys) do parts[#parts + 1] = "[" .. show(k) .. "]=" .. show(v[k]) end
    return "{" .. table.concat(parts, ",") .. "}"
  elseif t == "userdata" then
    return "ud(" .. dump(v) .. ")"
  end
  return tostring(v)
end
)LUA";

}  // namespace

std::string le32(uint32_t v) {
    std::string s(4, '\0');
    for (int k = 0; k < 4; k++) s[size_t(k)] = char(v >> (8 * k));
    return s;
}

PodTest::PodTest() {
    lua_register(L(), "t_pod", t_pod);
    lua_register(L(), "t_unpod", t_unpod);
    exec(prelude);
}

std::string PodTest::write(const std::string &expr, int flags) {
    std::string err = run("W = t_pod(" + expr + ", " + std::to_string(flags) + ")");
    if (!err.empty()) return "error: " + err;
    lua_getglobal(L(), "W");
    size_t len;
    const char *s = lua_tolstring(L(), -1, &len);
    std::string text(s, len);
    lua_pop(L(), 1);
    return text;
}

int PodTest::read(const std::string &text, int metadata) {
    lua_State *l = L();
    const int top = lua_gettop(l);
    const int n = destringify_object_ex(l, text.c_str(), int64_t(text.size()), metadata);
    EXPECT_EQ(lua_gettop(l) - top, n) << "stack moved by other than the count";
    lua_pushnil(l);
    lua_setglobal(l, "V2");
    lua_pushnil(l);
    lua_setglobal(l, "V1");
    if (n >= 2) lua_setglobal(l, "V2");
    if (n >= 1) lua_setglobal(l, "V1");
    lua_settop(l, top);
    return n;
}

std::string PodTest::read_show(const std::string &text, int metadata) {
    const int n = read(text, metadata);
    if (n == 0) return "fail";
    if (n == 1) return show("V1");
    return show("V1") + " meta " + show("V2");
}

std::string PodTest::show(const std::string &expr) { return eval("show(" + expr + ")"); }
