// Pod round trip over seeded values: rewriting what was read gives the same
// text byte for byte under every flag set, and what was read matches the
// value after normalisation (14 digits, integral floats as integers, -0.0
// as 0).
#include "pod_fixture.h"

namespace {

const char *generator = R"LUA(
local state = 0
local function seed(s) state = s * 0x9E3779B97F4A7C15 + 1 end
local function next64()
  state = state ~ (state << 13); state = state ~ (state >> 7); state = state ~ (state << 17)
  return state
end
local function rnd(n) return (next64() >> 1) % n end          -- 0 .. n - 1
local function pick(list) return list[rnd(#list) + 1] end

local words = {"end", "true", "false", "nil", "inf", "nan", "b64", "b64:", "lz4", "str", "pxu",
  "userdata", "unpod", "]]", "", "\0", "a\0b", "\"", "\\", "\n", "x y", "1st", "_", "\195\169",
  "--[[pod", "unpod(\"b64:", "str\0", "lz4\0", "{1,2}", "[", "]", "=", ",", "x=1", "\255\128"}
-- Scalar -0.0 is written "-0", which reads as the integer 0 and is then
-- written "0"; elements of f64 arrays keep it.
local floats = {0.5, 1e300, -1e-300, math.huge, -math.huge, 0 / 0, 3.0, 2^63, -2^63, 0.1, 1 / 3}
local elements = {-0.0, 0.5, 1e300, -1e-300, math.huge, -math.huge, 0 / 0, -(0 / 0), 2^63, 1 / 3}
local ints = {0, 1, -1, 255, 256, math.maxinteger, math.mininteger, 1 << 40}
local types = {"u8", "i16", "i32", "i64", "f64"}

local function gen_string()
  local k = rnd(4)
  if k == 0 then return pick(words) end
  if k == 1 then
    local t = {}
    for i = 1, rnd(12) do t[i] = string.char(rnd(256)) end
    return table.concat(t)
  end
  if k == 2 then return pick(words) .. pick(words) end
  return string.rep(pick({"a", "\0", "]", "\""}), rnd(300))
end

local function gen_number()
  local k = rnd(4)
  if k == 0 then return pick(ints) end
  if k == 1 then return pick(floats) end
  if k == 2 then return rnd(2000) - 1000 end
  return (rnd(1 << 30) - (1 << 29)) / (rnd(1000) + 1)
end

local function gen_array()
  local ty = pick(types)
  local wide = rnd(6) == 0
  local w = wide and 256 + rnd(100) or 1 + rnd(8)
  local a
  if rnd(2) == 0 then a = t_create(ty, 1, w) else a = t_create(ty, 2, w, 1 + rnd(4)) end
  local runs = rnd(3) == 0
  local v = 0
  for i = 0, #a - 1 do
    if not runs or rnd(5) == 0 then
      if ty == "f64" then v = rnd(3) == 0 and pick(elements) or gen_number() + 0.0
      elseif ty == "i64" then v = next64()
      else v = rnd(1 << 20) - (1 << 19) end
    end
    a[i] = v
  end
  return a
end

local gen_value
local function gen_key()
  local k = rnd(5)
  if k == 0 then return rnd(20) - 5 end
  if k == 1 then return pick({1.5, -2.25, 1e300, math.huge, -math.huge, 2^63, -1e-300}) end
  return gen_string()
end

local budget, max_depth = 0, 0

local function gen_table(depth)
  local t = {}
  local items = (rnd(7) == 0 and budget > 300) and 300 or rnd(5)
  for i = 1, items do t[i] = gen_value(depth + 1) end
  for i = 1, rnd(5) do
    local k = gen_key()
    t[k] = gen_value(depth + 1)
  end
  return t
end

function gen_value(depth)
  budget = budget - 1
  local k = rnd((depth >= max_depth or budget <= 0) and 5 or 7)
  if k == 0 then return gen_number() end
  if k == 1 then return gen_string() end
  if k == 2 then return rnd(2) == 0 end
  if k == 3 then return gen_array() end
  if k == 4 then return gen_number() end
  return gen_table(depth)
end

-- A value nested at most 'depth' tables deep, of about 600 values at most.
function gen(s, depth)
  seed(s)
  budget, max_depth = 600, depth
  return gen_value(0)
end

-- Canonical text of a value after normalisation.
local function norm(v)
  if math.type(v) == "float" then
    if v ~= v then return "nan" end
    v = tonumber(string.format("%.14g", v))
    if v == 0 then return "0" end
    local i = math.tointeger(v)
    if i then return tostring(i) end
    return string.format("%.14g", v)
  end
  return tostring(v)
end

local function before(a, b)
  local ta, tb = type(a), type(b)
  if ta ~= tb then return ta < tb end
  if ta == "string" then return a < b end
  return a < b
end

function canon(v)
  local t = type(v)
  if t == "number" then return norm(v) end
  if t == "string" then return string.format("%q", v) end
  if t == "userdata" then
    local w, h, ty, d = v:attribs()
    local e = {}
    for i = 0, #v - 1 do e[#e + 1] = norm(v[i]) end
    return "ud(" .. w .. "x" .. h .. ty .. d .. ":" .. table.concat(e, ",") .. ")"
  end
  if t ~= "table" then return tostring(v) end
  local keys = {}
  for k in pairs(v) do
    local nk = k
    if math.type(k) == "float" then nk = math.tointeger(tonumber(norm(k))) or tonumber(norm(k)) end
    keys[#keys + 1] = {nk, k}
  end
  for i = 2, #keys do
    local x, j = keys[i], i - 1
    while j >= 1 and before(x[1], keys[j][1]) do keys[j + 1] = keys[j]; j = j - 1 end
    keys[j + 1] = x
  end
  local parts = {}
  for _, k in ipairs(keys) do parts[#parts + 1] = "[" .. canon(k[1]) .. "]=" .. canon(v[k[2]]) end
  return "{" .. table.concat(parts, ",") .. "}"
end
)LUA";

// "" when a == b, else where they first differ with some context.
std::string difference(const std::string &a, const std::string &b) {
    if (a == b) return "";
    size_t i = 0;
    while (i < a.size() && i < b.size() && a[i] == b[i]) i++;
    const size_t from = i < 40 ? 0 : i - 40;
    return "sizes " + std::to_string(a.size()) + "/" + std::to_string(b.size()) + ", first difference at " +
           std::to_string(i) + ": [" + a.substr(from, 80) + "] vs [" + b.substr(from, 80) + "]";
}

class PodRoundTrip : public PodTest {
  protected:
    PodRoundTrip() { exec(generator); }
};

TEST_F(PodRoundTrip, RewritingWhatWasReadGivesTheSameTextAndTheValue) {
    const int flag_sets[] = {0, 1, 2, 4, 6, 17, 32, 33, 39};
    int values = 0;
    for (int seed = 1; seed <= 120; seed++) {
        exec("V = gen(" + std::to_string(seed) + ", " + std::to_string(seed % 9) + ")");
        const std::string expected = eval("canon(V)");
        for (int flags : flag_sets) {
            const std::string first = write("V", flags);
            ASSERT_EQ(first.rfind("error:", 0), std::string::npos) << first;
            ASSERT_EQ(read(first), 1) << "seed " << seed << " flags " << flags;
            EXPECT_EQ(difference(write("V1", flags), first), "") << "seed " << seed << " flags " << flags;
            EXPECT_EQ(difference(eval("canon(V1)"), expected), "") << "seed " << seed << " flags " << flags;
        }
        values++;
    }
    EXPECT_EQ(values, 120);
}

}  // namespace
