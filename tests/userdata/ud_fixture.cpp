// Typed-array test fixture.
#include "ud_fixture.h"

namespace {

const char *opt_text(lua_State *L, int idx) {
    return lua_type(L, idx) == LUA_TSTRING ? lua_tostring(L, idx) : nullptr;
}

// t_create(type, dims, w, h, d, init): the array, or nothing.
int t_create(lua_State *L) {
    const char *type = opt_text(L, 1);
    int dims = int(luaL_optinteger(L, 2, 1));
    auto w = uint32_t(luaL_optinteger(L, 3, 0));
    auto h = uint32_t(luaL_optinteger(L, 4, 1));
    auto d = uint32_t(luaL_optinteger(L, 5, 1));
    const char *init = opt_text(L, 6);
    return create_userdata(L, type, dims, w, h, d, init) ? 1 : 0;
}

// Helpers for the tests' Lua side: dump(a) shows shape, type and elements.
const char *prelude = R"(
function dump(a)
  if a == nil then return "nil" end
  local t = {}
  for i = 0, #a - 1 do t[i + 1] = tostring(a[i]) end
  local w, h, ty, d = a:attribs()
  return w .. "x" .. h .. " " .. ty .. " " .. d .. ": " .. table.concat(t, " ")
end
function vec(ty, ...)
  local v = {...}
  local a = t_create(ty, 1, select("#", ...), 1, 1)
  for i = 1, select("#", ...) do a[i - 1] = v[i] end
  return a
end
)";

}  // namespace

UdTest::UdTest() {
    add_userdata_metatable_functions(L());
    lua_register(L(), "t_create", t_create);
    exec(prelude);
}

// Runs 'code' in a fresh thread to its end with an unlimited budget, so one
// failing chunk leaves the state usable for the next. "" or the error.
std::string UdTest::run(const std::string &code) {
    lua_State *co = lua_newthread(L());
    std::string err;
    if (luaL_loadbufferx(co, code.data(), code.size(), "=test", "t") != LUA_OK) {
        err = lua_tostring(co, -1);
    } else {
        int status;
        do {
            int nres = 0;
            cpu_cycles = 0;
            cpu_cycles_max = 0x7FFFFFFF;
            status = lua_resume(co, nullptr, 0, &nres);
            if (status == LUA_YIELD) lua_pop(co, nres);
        } while (status == LUA_YIELD);
        if (status != LUA_OK) {
            const char *m = lua_tostring(co, -1);
            err = m ? m : "(non-string error)";
        }
    }
    lua_pop(L(), 1);
    cpu_cycles = 0;
    return err;
}

void UdTest::exec(const std::string &code) {
    std::string err = run(code);
    ASSERT_EQ(err, "") << "in: " << code;
}

std::string UdTest::eval(const std::string &expr) {
    size_t before = h_.output().size();
    std::string err = run("print(" + expr + ")");
    if (!err.empty()) return "error: " + err;
    std::string out = h_.output().substr(before);
    if (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
}

int32_t UdTest::charge(const std::string &method, const std::string &args) {
    exec("ARGS = table.pack(" + args + ")");
    lua_getglobal(L(), "USERDATA");
    lua_getfield(L(), -1, method.c_str());
    lua_getglobal(L(), "ARGS");
    lua_getfield(L(), -1, "n");
    int n = int(lua_tointeger(L(), -1));
    lua_pop(L(), 1);
    for (int i = 1; i <= n; i++) lua_rawgeti(L(), -i, i);
    lua_remove(L(), -n - 1);
    // The call's own charge: the collector's steps, charged to whichever
    // call allocates, wait until it returns.
    lua_gc(L(), LUA_GCSTOP);
    cpu_cycles = 0;
    int st = lua_pcall(L(), n, 0, 0);
    int32_t used = cpu_cycles;
    lua_gc(L(), LUA_GCRESTART);
    EXPECT_EQ(st, LUA_OK);
    if (st != LUA_OK) lua_pop(L(), 1);
    lua_settop(L(), 0);
    cpu_cycles = 0;
    return used;
}
