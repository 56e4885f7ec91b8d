// Random scripts under random budgets. The input is turned into a Lua script
// (loops, calls, coroutines, pcall, metamethods, to-be-closed variables,
// string building); the script runs once with an unlimited budget and once
// under the budget the input picks, down to one instruction per resume. The
// output and the outcome must be the same. Inputs whose reference run exceeds
// a cycle cap are skipped, so every run is bounded.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

extern "C" {
#include "lauxlib.h"
#include "lua.h"
#include "lualib.h"
#include "vm_hooks.h"
}

namespace {

// Cycles the reference run may use before the input is skipped.
inline constexpr int32_t kCycleCap = 200000;
// Resumes the budgeted run may make before the input is skipped. A budget
// yield deep in nested coroutines costs a resume at every level above it, so
// tiny budgets multiply the resumes by the nesting.
inline constexpr int kMaxResumes = 300000;
// Nesting of coroutines in the generated code.
inline constexpr int kMaxCoroutineDepth = 2;
// Nesting limits of the generated code.
inline constexpr int kMaxBlockDepth = 3;
inline constexpr int kMaxExprDepth = 3;
inline constexpr int kMaxStatements = 40;

// Reads the input a byte at a time; reads past the end give 0.
struct ByteReader {
    const uint8_t *p;
    const uint8_t *end;
    int byte() { return p < end ? *p++ : 0; }
    int below(int n) { return byte() % n; }
    bool done() const { return p >= end; }
};

const char *const kPrologue =
    "local function tostr(x)\n"
    "  local ty = type(x)\n"
    "  if ty == 'table' or ty == 'function' or ty == 'thread' or ty == 'userdata' then return ty end\n"
    "  return tostring(x)\n"
    "end\n"
    "local function out(...)\n"
    "  local p = {}\n"
    "  for i = 1, select('#', ...) do p[i] = tostr((select(i, ...))) end\n"
    "  print(table.concat(p, ' '))\n"
    "end\n"
    "local function clip(x)\n"
    "  if type(x) == 'string' and string.len(x) > 64 then return string.sub(x, 1, 64) end\n"
    "  return x\n"
    "end\n"
    // a budget yield inside a coroutine shows as a yield with no values
    "local function step(co, ...)\n"
    "  local r = table.pack(coroutine.resume(co, ...))\n"
    "  while r.n == 1 and r[1] and coroutine.status(co) == 'suspended' do\n"
    "    r = table.pack(coroutine.resume(co))\n"
    "  end\n"
    "  return table.unpack(r, 1, r.n)\n"
    "end\n"
    "local function num(x) if math.type(x) then return x end return 0 end\n"
    "local function val(x) if type(x) == 'table' then return rawget(x, 'v') or 0 end return x end\n"
    "local M = {}\n"
    "M.__add = function(x, y) return val(x) + val(y) end\n"
    "M.__sub = function(x, y) return val(x) - val(y) end\n"
    "M.__mul = function(x, y) return val(x) * val(y) end\n"
    "M.__concat = function(x, y) return tostr(val(x)) .. tostr(val(y)) end\n"
    "M.__lt = function(x, y) return val(x) < val(y) end\n"
    "M.__le = function(x, y) return val(x) <= val(y) end\n"
    "M.__eq = function(x, y) return val(x) == val(y) end\n"
    "M.__index = function(_, k) return k end\n"
    "M.__call = function(self, x) return val(self), x end\n"
    "M.__unm = function(x) return -val(x) end\n"
    "local o = setmetatable({v = 3}, M)\n"
    "local a, b, c, s, t = 1, 2.5, -3, 'x', {1, 2, 3}\n"
    "local function rec(n) if n <= 0 then return 0 end return n + rec(n - 1) end\n"
    "local function trec(n, acc) if n <= 0 then return acc end return trec(n - 1, acc + n) end\n";

// Builds a script from the input.
class ScriptGen {
  public:
    explicit ScriptGen(ByteReader &in) : in_(in) {}

    std::string script() {
        std::string src = kPrologue;
        // the bodies of f2 and f1 call neither of them: no recursion
        in_function_ = true;
        src += "local function f2(x, y)\n" + block(1) + " return " + expr(0) + ", " + expr(0) +
               "\nend\n";
        src += "local function f1(x, y)\n" + block(1) + " return f2(" + expr(0) + ", " +
               expr(0) + ")\nend\n";
        in_function_ = false;
        int n = 1 + in_.below(kMaxStatements);
        for (int i = 0; i < n && !in_.done(); i++)
            src += "do local ok, e = pcall(function()\n" + stmt(0) +
                   "\nend) if not ok then out('error', e) end end\n";
        src += "out(a, b, c, s, t[1], t[2], t[3])\n";
        return src;
    }

  private:
    std::string block(int depth) {
        std::string b;
        int n = in_.below(4);
        for (int i = 0; i < n; i++) b += stmt(depth) + "\n";
        return b;
    }

    std::string var() {
        static const char *const names[] = {"a", "b", "c", "s"};
        return names[in_.below(4)];
    }

    std::string literal() {
        switch (in_.below(10)) {
        case 0: return "(" + std::to_string(in_.byte() - 128) + ")";
        case 1: return std::to_string(in_.byte());
        case 2: return "0";
        case 3: return "math.maxinteger";
        case 4: return "math.mininteger";
        case 5: return "0.5";
        case 6: return "(-1.25)";
        case 7: return "1e300";
        case 8: return "'12'";
        default: return "'ab'";
        }
    }

    std::string expr(int depth) {
        if (depth >= kMaxExprDepth) return in_.below(2) ? literal() : var();
        static const char *const binops[] = {"+",  "-",  "*",  "/",  "//", "%",  "^",
                                             "&",  "|",  "~",  "<<", ">>", "..", "==",
                                             "~=", "<",  "<=", ">",  ">=", "and", "or"};
        switch (in_.below(14)) {
        case 0: case 1: return literal();
        case 2: case 3: return var();
        case 4: case 5:
            return "(" + expr(depth + 1) + " " + binops[in_.below(21)] + " " + expr(depth + 1) + ")";
        case 6: return "(-" + expr(depth + 1) + ")";
        case 7: return "(not " + expr(depth + 1) + ")";
        case 8: return "t[" + std::to_string(1 + in_.below(4)) + "]";
        case 9:
            if (in_function_) return "rec(" + std::to_string(in_.below(10)) + ")";
            return "(f1(" + expr(depth + 1) + ", " + expr(depth + 1) + "))";
        case 10:
            if (in_function_) return "select('#', o(" + expr(depth + 1) + "))";
            return "select('#', f1(" + expr(depth + 1) + "))";
        case 11: return "(o " + std::string(binops[in_.below(5) == 0 ? 12 : in_.below(3)]) + " " +
                        expr(depth + 1) + ")";
        case 12: return "tostr(" + expr(depth + 1) + ")";
        default: return "(pcall(function() return " + expr(depth + 1) + " end))";
        }
    }

    std::string stmt(int depth) {
        int kinds = depth >= kMaxBlockDepth ? 6 : 16;
        switch (in_.below(kinds)) {
        case 0: case 1: {
            std::string v = var();
            if (v == "s") return "s = clip(tostr(" + expr(0) + "))";
            return v + " = num(" + expr(0) + ")";
        }
        case 2: return "out(" + expr(0) + ", " + expr(0) + ")";
        case 3: return "t[" + std::to_string(1 + in_.below(4)) + "] = clip(" + expr(0) + ")";
        case 4: return "s = clip(s .. tostr(" + expr(0) + "))";
        case 5:
            if (in_co_ > 0) return "a = num(coroutine.yield('y', " + expr(0) + "))";
            if (in_function_) return "out(" + expr(0) + ")";
            return "out(f1(" + expr(0) + ", " + expr(0) + "))";
        case 6:
            return "for i = 1, " + std::to_string(in_.below(8)) + " do\n" + block(depth + 1) + "end";
        case 7:
            return "do local w = 0 while w < " + std::to_string(in_.below(6)) +
                   " do w = w + 1\n" + block(depth + 1) + "end end";
        case 8:
            return "if " + expr(0) + " then\n" + block(depth + 1) + "else\n" + block(depth + 1) +
                   "end";
        case 9:
            return "do local ok, e = pcall(function()\n" + block(depth + 1) + " error(" + expr(0) +
                   ") end) out(ok, e) end";
        case 10: {
            if (in_co_ >= kMaxCoroutineDepth) return "out(" + expr(0) + ")";
            in_co_++;
            std::string body = block(depth + 1);
            in_co_--;
            return "do local co = coroutine.create(function(p)\n" + body + " return 'r', " +
                   expr(0) + " end)\n"
                   "local r = table.pack(step(co, " + expr(0) + "))\n"
                   "while r[1] and r[2] == 'y' do out('co', r[3]) r = table.pack(step(co, " +
                   expr(0) + ")) end\n"
                   "out(r[1], r[2], r[3]) end";
        }
        case 11:
            return "s = clip((string.gsub(s, '%w', function(ch)\n" + block(depth + 1) +
                   " return ch .. '' end)))";
        case 12:
            return "do local z <close> = setmetatable({}, {__close = function() out('closed') "
                   "end})\n" + block(depth + 1) + "end";
        case 13:
            if (in_function_) return "do local p, q = o(" + expr(0) + ") a, b = num(p), num(q) end";
            return "do local p, q = f1(" + expr(0) + ", " + expr(0) +
                   ") a, b = num(p), num(q) end";
        case 14:
            return "out(rec(" + std::to_string(in_.below(60)) + "), trec(" +
                   std::to_string(in_.below(200)) + ", 0), select('#', o(" + expr(0) + ")))";
        default: return "out(o(" + expr(0) + "), o.key, -o, o .. " + expr(0) + ")";
        }
    }

    ByteReader &in_;
    int in_co_ = 0;             // depth of coroutine bodies being generated
    bool in_function_ = false;  // generating the body of f1 or f2
};

struct Outcome {
    bool over_cap = false;  // the reference run needed more cycles than the cap,
                            // or the budgeted run more resumes
    int status = LUA_OK;
    std::string output;
    std::string error;
};

void *fuzz_alloc(void *, void *ptr, size_t, size_t nsize, int, size_t) {
    if (nsize == 0) {
        free(ptr);
        return nullptr;
    }
    return realloc(ptr, nsize);
}

// Count hook of the reference run: code that cannot yield never meets the
// budget test's yield, so the cap is also enforced here.
void cap_hook(lua_State *L, lua_Debug *) {
    if (cpu_cycles > kCycleCap) luaL_error(L, "over the fuzzer's cycle cap");
}

int capture_print(lua_State *L) {
    auto *out = static_cast<std::string *>(lua_touserdata(L, lua_upvalueindex(1)));
    int n = lua_gettop(L);
    for (int i = 1; i <= n; i++) {
        size_t len;
        const char *s = luaL_tolstring(L, i, &len);
        if (i > 1) *out += '\t';
        out->append(s, len);
        lua_pop(L, 1);
    }
    *out += '\n';
    return 0;
}

// Runs `src`. A `budget` of 0 is the reference run (capped); a negative
// budget spends the budget before every resume (one instruction each).
Outcome run(const std::string &src, int32_t budget) {
    Outcome o;
    lua_State *L = lua_newstate(fuzz_alloc, nullptr);
    if (!L) abort();
    luaL_openlibs(L);
    lua_pushlightuserdata(L, &o.output);
    lua_pushcclosure(L, capture_print, 1);
    lua_setglobal(L, "print");
    if (luaL_loadbufferx(L, src.data(), src.size(), "=fuzz", "t") != LUA_OK) {
        fprintf(stderr, "generated script does not compile: %s\n%s\n", lua_tostring(L, -1),
                src.c_str());
        abort();
    }
    if (budget == 0) lua_sethook(L, cap_hook, LUA_MASKCOUNT, 1000);
    int status;
    int resumes = 0;
    do {
        cpu_superyielding = 0;
        if (budget < 0) {
            cpu_cycles = 10;
            cpu_cycles_max = 0;
        } else {
            cpu_cycles = 0;
            cpu_cycles_max = budget > 0 ? budget : kCycleCap;
        }
        int nres = 0;
        status = lua_resume(L, nullptr, 0, &nres);
        if (status == LUA_YIELD) {
            lua_pop(L, nres);
            if (budget == 0 || ++resumes > kMaxResumes) {
                o.over_cap = true;
                break;
            }
        }
    } while (status == LUA_YIELD);
    if (budget == 0 && cpu_cycles > kCycleCap) o.over_cap = true;
    o.status = status;
    if (status != LUA_OK && status != LUA_YIELD) {
        const char *m = lua_tostring(L, -1);
        o.error = m ? m : "(non-string error)";
    }
    lua_close(L);
    return o;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 2) return 0;
    ByteReader in{data, data + size};
    int mode = in.byte();
    int32_t budget = (mode & 3) == 0 ? -1 : 1 + ((mode >> 2) * 37 + in.byte()) % 5000;
    std::string src = ScriptGen(in).script();
    Outcome reference = run(src, 0);
    if (reference.over_cap) return 0;
    Outcome budgeted = run(src, budget);
    if (budgeted.over_cap) return 0;
    if (budgeted.status != reference.status || budgeted.output != reference.output ||
        budgeted.error != reference.error) {
        fprintf(stderr,
                "budget %d changed the result\n--- script\n%s\n--- unlimited (%d)\n%s%s\n"
                "--- budgeted (%d)\n%s%s\n",
                budget, src.c_str(), reference.status, reference.output.c_str(),
                reference.error.c_str(), budgeted.status, budgeted.output.c_str(),
                budgeted.error.c_str());
        abort();
    }
    return 0;
}
