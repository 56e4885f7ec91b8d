// The registration table: its names and order, aliases, what a process
// receives, and `load`.
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <set>

#include "api_fixture.h"
#include "api_functions.h"
#include "host_call.h"

namespace {

// Every global name of the script API, in registration order.
const char *const kNames[] = {
    "deli", "add", "del", "count", "time", "t", "stat", "date", "cls", "fillp", "pset", "pget",
    "fset", "fget", "mset", "mget", "camera", "clip", "rectfill", "rect", "ovalfill", "circfill",
    "oval", "circ", "rrect", "rrectfill", "line", "tline3d", "sspr", "spr", "_draw_map", "blit",
    "_print_zenscii", "_printh", "cursor", "color", "pal", "palt", "note", "sfx", "music", "pod",
    "_pod", "unpod", "create_delta", "apply_delta", "fetch", "store", "_fetch_local",
    "_store_local", "_cache_store", "_cache_fetch", "_fetch_anywhen", "_fetch_remote",
    "_fetch_remote_result", "_fetch_metadata_from_file", "_store_metadata_str_to_file", "_ls",
    "_mkdir", "_fstat", "_fullpath", "ls", "mkdir", "fstat", "fullpath", "cp", "_fcopy",
    "_fdelete", "pid", "_send_message", "send_message", "_read_message", "chr", "ord", "tokenoid",
    "rnd", "srand", "abs", "sgn", "max", "min", "mid", "sqrt", "cos", "sin", "atan2", "flr",
    "ceil", "userdata", "vec", "get", "set", "_flip", "flip", "split",
    "_get_userland_clipboard_text", "_set_userland_clipboard_text", "_yielded_to_escape_slice",
    "_create_process_from_code", "_run_process_slice", "_kill_process",
    "_close_process_host_resources", "_halt", "_mount", "mount", "_set_draw_target", "_pwd",
    "_cd", "pwd", "cd", "_normalise_userland_path", "norm", "_is_well_formed_bbs_path", "load",
    "_blit_process_video", "_process_state", "_get_process_display_size", "_get_process_list",
    "_apply_system_settings", "_signal", "_warp_mouse", "_set_spr", "_map_ram", "_unmap_ram",
    "_update_buttons", "_set_host_window_icon", "_set_host_window_title", "_md5", "_strindex",
    "btn", "btnp", "peek", "poke", "peek2", "poke2", "peek4", "poke4", "peek8", "poke8",
    "_ppeek", "_ppeek4", "memcpy", "memset"};

// The names that share one native function.
const std::pair<const char *, const char *> kAliases[] = {
    {"time", "t"},           {"pod", "_pod"},         {"fetch", "_fetch_local"},
    {"store", "_store_local"}, {"ls", "_ls"},         {"mkdir", "_mkdir"},
    {"fstat", "_fstat"},     {"fullpath", "_fullpath"}, {"cp", "_fcopy"},
    {"send_message", "_send_message"}, {"flip", "_flip"}, {"mount", "_mount"},
    {"pwd", "_pwd"},         {"cd", "_cd"}};

// held(f): calls f with the collector held, as a host call holds it around
// its work; returns whether f returned.
int held(lua_State *L) {
    const int took = host_gc_hold(L);
    const int status = lua_pcall(L, 0, 0, 0);
    host_gc_release(L, took);
    lua_pushboolean(L, status == LUA_OK);
    return 1;
}

const api_entry *entry(const char *name) {
    for (const api_entry &e : api_table)
        if (std::strcmp(e.name, name) == 0) return &e;
    return nullptr;
}

}  // namespace

TEST(Registration, TheTableHoldsThe143NamesInOrder) {
    ASSERT_EQ(std::size(kNames), size_t{API_NUM_NAMES});
    for (int i = 0; i < API_NUM_NAMES; i++)
        EXPECT_STREQ(api_table[i].name, kNames[i]) << "position " << i + 1;
    EXPECT_STREQ(api_table[33].name, "_printh");
    EXPECT_STREQ(api_table[119].name, "_signal");
}

TEST(Registration, NoNameTwiceAnd129NativesBehindThem) {
    std::set<std::string> names, natives;
    for (const api_entry &e : api_table) {
        EXPECT_TRUE(names.insert(e.name).second) << e.name << " twice";
        natives.insert(e.native);
    }
    EXPECT_EQ(natives.size(), size_t{API_NUM_NATIVES});
}

TEST(Registration, AliasesShareTheirNativeFunctionAndNormDoesNot) {
    for (auto [a, b] : kAliases) {
        ASSERT_TRUE(entry(a) && entry(b)) << a << " " << b;
        EXPECT_STREQ(entry(a)->native, entry(b)->native) << a << " " << b;
    }
    // Every pair of entries naming the same native holds the same function.
    std::map<std::string, lua_CFunction> by_native;
    for (const api_entry &e : api_table) {
        auto [it, fresh] = by_native.emplace(e.native, e.fn);
        if (!fresh) {
            EXPECT_EQ(it->second, e.fn) << e.name;
        }
    }
    EXPECT_STRNE(entry("norm")->native, entry("_normalise_userland_path")->native);
    EXPECT_STREQ(entry("load")->native, "luaB_load0");
    EXPECT_STREQ(entry("_unmap_ram")->native, "lua54__unmap_ram_by_userdata");
    EXPECT_STREQ(entry("_draw_map")->native, "lua54_draw_map");
    EXPECT_STREQ(entry("cls")->native, "lua54_cls");
    EXPECT_STREQ(entry("_halt")->native, "lua54__halt");
}

using Globals = ApiTest;

TEST_F(Globals, AProcessGetsEveryEntryAsAPlainCFunction) {
    process_rec *p = spawn("");
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(std::count(fake_host::initialisers().begin(), fake_host::initialisers().end(), "api"),
              0)
        << "the fake host's registration ran instead of the real one";
    lua_State *L = p->lua_state;
    remembered_process prev = remember_current_process();
    cproc = p;
    for (const api_entry &e : api_table) {
        EXPECT_NE(e.fn, nullptr) << e.name << " is not built";
        lua_getglobal(L, e.name);
        EXPECT_EQ(lua_tocfunction(L, -1), e.fn) << e.name;
        EXPECT_EQ(lua_getupvalue(L, -1, 1), nullptr) << e.name << " has an upvalue";
        lua_pop(L, 1);
    }
    restore_current_process(prev);
}

TEST_F(Globals, AliasPairsAreRawEqualInAProcessAndNormIsNot) {
    std::string code;
    for (auto [a, b] : kAliases) code += "out('" + std::string(a) + "', rawequal(" + a + ", " + b + ")) ";
    code += "out(norm == nil or not rawequal(norm, _normalise_userland_path)) "
            "out(type(flip), type(send_message))";
    process_rec *p = start(code);
    ASSERT_NE(p, nullptr);
    run_process_slice(p, 1.0);
    Lines want;
    for (auto [a, b] : kAliases) want.push_back("2:" + std::string(a) + ",true");
    want.push_back("1:true");
    want.push_back("2:function,function");
    EXPECT_EQ(output(), want);
}

TEST_F(Globals, LoadIsTheHostsLoadInANewProcessAndStaysSoWhenTheLibrariesAreOpenedAgain) {
    process_rec *p = spawn("");
    lua_State *L = p->lua_state;
    remembered_process prev = remember_current_process();
    cproc = p;
    lua_getglobal(L, "load");
    EXPECT_EQ(lua_tocfunction(L, -1), luaB_load0);
    lua_pop(L, 1);
    luaL_openlibs(L);  // as start-up does a second time for the root process
    lua_getglobal(L, "load");
    EXPECT_EQ(lua_tocfunction(L, -1), luaB_load0);
    lua_pop(L, 1);
    restore_current_process(prev);
}

TEST_F(Globals, LoadCompilesTextFromAStringOrAReaderAndRefusesPrecompiledChunks) {
    process_rec *p = start(R"(
        out(load("return 1 + 2")())
        local parts, i = {"return ", "4 ", "* 2"}, 0
        out(load(function() i = i + 1 return parts[i] end)())
        out(load("return x", "=env", "t", {x = 5})())
        out(load("\27Lua\84\0"))
        out(load("x = = 1", "=c"))
        out(load(function() return {} end))
        out(load(function() error("stop") end))
        out(pcall(load, {}))
        out(pcall(load, "return 1", "=m", {}))
    )");
    ASSERT_NE(p, nullptr);
    run_process_slice(p, 1.0);
    EXPECT_EQ(output(), (Lines{
                            "1:3",
                            "1:8",
                            "1:5",
                            "2:nil,attempt to load a binary chunk (mode is 'bt')",
                            "2:nil,c:1: unexpected symbol near '='",
                            "2:nil,p:8: reader function must return a string",
                            "2:nil,p:9: stop",
                            "2:false,bad argument #1 to 'load' (function expected, got table)",
                            "2:false,bad argument #3 to 'load' (string expected, got table)",
                        }));
}

// The debug library reaches a program's own values only: each row runs in a
// process of its own and shows what the library gave it.
TEST_F(Globals, TheDebugLibraryReachesOnlyTheProgramsOwnValues) {
    const struct {
        std::string code;
        Lines out;
    } rows[] = {
        // A loop's hidden state reads but does not take a value; named
        // locals and varargs do.
        {"for i = 1, 1 do out(debug.getlocal(1, 2), debug.setlocal(1, 2, 1 << 40), i) end "
         "local a = 1 out(debug.setlocal(1, 2, 5), a) "
         "local function f(...) debug.setlocal(1, -1, 9) return ... end out(f(1))",
         {"3:(for state),nil,1", "2:a,5", "1:9"}},
        // A host frame's slots take no value: gsub's, from its callback,
        // and yield's in a suspended coroutine.
        {"string.gsub('a', 'a', function() out(debug.setlocal(2, 1, 'x'), debug.setlocal(2, 3, 'x')) end) "
         "local co = coroutine.create(function(...) coroutine.yield(...) end) coroutine.resume(co, 5) "
         "out(debug.setlocal(co, 0, 1, 6))",
         {"2:nil,nil", "1:nil"}},
        // A host function's upvalues are its own.
        {"out(pcall(debug.getupvalue, string.gmatch('a', 'a'), 1)) "
         "out(pcall(debug.setupvalue, coroutine.wrap(print), 1, 0)) "
         "out(pcall(debug.upvalueid, math.random, 1))",
         {"2:false,bad argument #1 to 'debug.getupvalue' (Lua function expected)",
          "2:false,bad argument #1 to 'debug.setupvalue' (Lua function expected)",
          "2:false,bad argument #1 to 'debug.upvalueid' (Lua function expected)"}},
        // The registry is the program's own: emptied, the host's anchors
        // (the draw target's array) and its globals entry are untouched.
        {"local r = debug.getregistry() out(r == debug.getregistry(), r[2] == _G, r._LOADED.string == string) "
         "_set_draw_target(userdata('u8', 8, 8)) for k in next, r do r[k] = nil end "
         "r[2] = 'x' collectgarbage() pset(1, 1, 9) out(type(userdata('u8', 2, 2)))",
         {"3:true,true,true", "1:userdata"}},
        // A call hook sees no host helper, so it can neither hand one to the
        // program nor rewrite its arguments.
        {"local known = {} for _, t in next, {_G, string, table, math, debug, USERDATA} do "
         "for _, f in next, t do known[f] = true end end "
         "local seen = {} debug.sethook(function() local f = debug.getinfo(2, 'f').func "
         "if not known[f] then seen[#seen + 1] = f debug.setlocal(2, 1, nil) end end, 'c') "
         "local s = pod({1, 'a'}) local u = unpod(s) debug.sethook() "
         "for _, f in ipairs(seen) do pcall(f, nil, {}) end out(#seen, s, u[2])",
         {"3:0,{1,\"a\"},a"}},
        // The collector held by the host (held(f) holds it around f, as a
        // host call around its work) stays held whatever the program asks:
        // after each option a collection is tried, and the weak table's
        // entry stays, the collector stopped. From incremental mode, then
        // from generational: the mode stays too (the last call's answer).
        {"local weak = setmetatable({}, {__mode = 'k'}) "
         "for _, mode in ipairs({'incremental', 'generational'}) do "
         "  collectgarbage(mode) weak[{}] = true local seen = {} "
         "  held(function() for _, o in ipairs({'collect', 'step', 'restart', 'stop', 'generational', 'incremental'}) do "
         "    seen[#seen + 1] = tostring(collectgarbage(o, o == 'step' and 1 << 20 or nil)) collectgarbage('collect') "
         "    seen[#seen + 1] = tostring(next(weak) ~= nil and not collectgarbage('isrunning')) end end) "
         "  collectgarbage('restart') collectgarbage('collect') "
         "  out(table.concat(seen, ' '), next(weak) == nil, collectgarbage('isrunning'), collectgarbage(mode)) end",
         {"4:0 true false true 0 true 0 true incremental true incremental true,true,true,incremental",
          "4:0 true false true 0 true 0 true generational true generational true,true,true,generational"}},
        // A traceback names a host or library function as the names it
        // had before the program ran ('pcall' called through a local
        // alias too), any other function as the code that called it.
        {"local p = pcall local function f() return p(function() out(debug.traceback('hi', 0)) end) end f() "
         "local co = coroutine.create(function() coroutine.yield() end) coroutine.resume(co) "
         "out(debug.traceback(co)) string.gsub('a', 'a', function() out(debug.traceback()) end)",
         {"1:hi", "stack traceback:", "\t[C]: in function 'debug.traceback'", "\tp:1: in function <p:1>",
          "\t[C]: in function 'pcall'", "\tp:1: in local 'f'", "\tp:1: in main chunk",
          "1:stack traceback:", "\t[C]: in function 'coroutine.yield'", "\tp:1: in function <p:1>",
          "1:stack traceback:", "\tp:1: in function <p:1>", "\t[C]: in function 'string.gsub'",
          "\tp:1: in main chunk"}},
        // No console: debug.debug() reads nothing from the host's input.
        {"debug.debug() out('after')", {"1:after"}},
        // A host helper found on the stack (from a finalizer run inside
        // one), then called by a finalizer that runs while a host call has
        // armed it but not entered it: at the stack's growth for it, with
        // pod's frame below. The depth of the calls and pod's count of
        // arguments move the stack's top until the growth falls there.
        {std::string(kArmedFinalizer) +
             "local known, helper = {}, nil "
             "for _, t in next, {_G, string, table, math, debug, coroutine, utf8, USERDATA} do "
             "  for _, f in next, t do known[f] = true end end "
             "local function capture() for level = 2, 40 do local i = debug.getinfo(level, 'Sf') "
             "  if not i then break end "
             "  if i.what == 'C' and not known[i.func] then helper = i.func end end end "
             "for i = 1, 20 do if helper then break end unpod(armed('{1, 2, 3}', capture)) settled() end "
             "local window, took = 0, 0 "
             "local function call_helper() if debug.getinfo(4, 'f').func == pod then window = window + 1 "
             "  if pcall(helper, 'x') then took = took + 1 end end end "
             "local pods = {function() return (pod(1)) end, function() return (pod(1, nil)) end, "
             "  function() return (pod(1, nil, nil)) end, function() return (pod(1, nil, nil, nil)) end} "
             "local function R(d, F) if d == 0 then return F() end return (R(d - 1, F)) end "
             "for d = 0, 200 do for _, F in ipairs(pods) do "
             "  if window == 0 then armed(nil, call_helper) pcall(R, d, F) settled() end end end "
             "out(helper ~= nil, window, took)",
         {"3:true,1,0"}},
    };
    skip_to_pid(FIRST_USER_PID);  // an error stops the process, not the test
    // What the host's standard input would hand debug.debug().
    FILE *input = std::tmpfile();
    ASSERT_NE(input, nullptr);
    std::fputs("_printh('read')\ncont\n", input);
    std::rewind(input);
    const int saved_stdin = dup(0);
    ASSERT_EQ(dup2(fileno(input), 0), 0);
    for (const auto &row : rows) {
        SCOPED_TRACE(row.code);
        const size_t before = output().size();
        process_rec *p = start(row.code);
        ASSERT_NE(p, nullptr);
        define(p, "held", held);
        const int64_t id = p->id;
        // a slice at a time, until the row prints or ends
        for (int i = 0; i < 2000 && output().size() == before && get_process(id); i++) {
            prepare_processes_for_frame();
            run_process_slice(p, 1.0);
        }
        const Lines all = output();
        EXPECT_EQ(Lines(all.begin() + std::ptrdiff_t(before), all.end()), row.out) << fstl_buf;
        if (get_process(id)) kill_process(p);
    }
    dup2(saved_stdin, 0);
    close(saved_stdin);
    std::fclose(input);
}
