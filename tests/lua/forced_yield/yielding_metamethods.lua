-- Metamethods that yield from inside a coroutine, and budget yields
-- inside them: both must resume where they stopped.
local function step(co, ...)
  local r = table.pack(coroutine.resume(co, ...))
  while r.n == 1 and r[1] and coroutine.status(co) == "suspended" do
    r = table.pack(coroutine.resume(co))
  end
  return table.unpack(r, 1, r.n)
end

local Y = {}
Y.__index = function(t, k) local v = coroutine.yield("index", k) return v end
Y.__newindex = function(t, k, v) coroutine.yield("newindex", k) rawset(t, k, v) end
Y.__add = function(a, b) return coroutine.yield("add", 1) end
Y.__lt = function(a, b) return coroutine.yield("lt", 2) end
Y.__le = function(a, b) return coroutine.yield("le", 3) end
Y.__eq = function(a, b) return coroutine.yield("eq", 4) end
Y.__concat = function(a, b) return coroutine.yield("concat", 5) end
Y.__unm = function(a) return coroutine.yield("unm", 6) end
Y.__call = function(self, x) return coroutine.yield("call", x) end
Y.__close = function() coroutine.yield("close", 7) end

local co = coroutine.create(function()
  local o = setmetatable({}, Y)
  local p = setmetatable({}, Y)
  local got = {}
  got[1] = o.missing
  o.field = "set"
  got[2] = o + 1
  got[3] = o < p
  got[4] = o <= p
  got[5] = o == p
  got[6] = o .. "x"
  got[7] = -o
  got[8] = o(8)
  do local c <close> = o end
  got[9] = rawget(o, "field")
  got[10] = "a" .. "b" .. o .. "c"
  return "done", table.concat({tostring(got[1]), tostring(got[2]), tostring(got[3]), tostring(got[4]),
                               tostring(got[5]), tostring(got[6]), tostring(got[7]), tostring(got[8]),
                               tostring(got[9]), tostring(got[10])}, " ")
end)

local answers = {index = "I", newindex = nil, add = 100, lt = true, le = false, eq = true,
                 concat = "CC", unm = -6, call = "called", close = nil}
local ok, tag, v = step(co)
while ok and tag ~= "done" do
  print("yielded", tag, v)
  ok, tag, v = step(co, answers[tag])
end
print(ok, tag, v)

-- a yielding iterator in a generic for inside a coroutine
local co2 = coroutine.create(function()
  local s = 0
  for i in function(_, c) c = c + 1 if c <= 5 then coroutine.yield("iter", c) return c end end, nil, 0 do
    s = s + i
  end
  return "sum", s
end)
ok, tag, v = step(co2)
while ok and tag == "iter" do ok, tag, v = step(co2) end
print(ok, tag, v)

-- yield inside pcall inside a metamethod
local co3 = coroutine.create(function()
  local o = setmetatable({}, {__index = function(t, k)
    local okk, r = pcall(function() return coroutine.yield("deep", k) end)
    return okk and r or "err"
  end})
  return "got", o.key
end)
print(step(co3))
print(step(co3, "answer"))
