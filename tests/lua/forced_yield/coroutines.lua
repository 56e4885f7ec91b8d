-- Coroutines driven to completion. A budget yield inside a coroutine looks to
-- its resumer like a yield with no values, so step() resumes until the
-- coroutine yields something or ends; every real yield here carries a value.
local function step(co, ...)
  local r = table.pack(coroutine.resume(co, ...))
  while r.n == 1 and r[1] and coroutine.status(co) == "suspended" do
    r = table.pack(coroutine.resume(co))
  end
  return table.unpack(r, 1, r.n)
end

-- a generator
local function range(n)
  return coroutine.create(function()
    for i = 1, n do coroutine.yield("v", i * i) end
    return "done", n
  end)
end
local g = range(5)
local out = {}
while true do
  local ok, tag, v = step(g)
  assert(ok)
  out[rawlen(out) + 1] = tag .. ":" .. tostring(v)
  if tag == "done" then break end
end
print(table.concat(out, " "))
print(coroutine.status(g))

-- values passed in both directions
local acc = coroutine.create(function(first)
  local sum = first
  while true do
    local x = coroutine.yield("sum", sum)
    if x == nil then return "end", sum end
    sum = sum + x
  end
end)
print(step(acc, 10))
for i = 1, 4 do print(step(acc, i)) end
print(step(acc, nil))
print(step(acc))

-- nested coroutines
local outer = coroutine.create(function()
  local inner = coroutine.create(function(a)
    local b = coroutine.yield("inner", a + 1)
    return "inner-done", b * 2
  end)
  print("outer sees", step(inner, 1))
  print("outer sees", step(inner, 20))
  coroutine.yield("outer", coroutine.status(inner))
  return "outer-done"
end)
print(step(outer))
print(step(outer))
print(coroutine.status(outer))

-- errors inside coroutines
local bad = coroutine.create(function(x)
  coroutine.yield("before", x)
  error({code = x})
end)
print(step(bad, 7))
local ok, e = step(bad)
print(ok, type(e), e.code, coroutine.status(bad))
local bad2 = coroutine.create(function() local t = nil; return t.field end)
print(step(bad2))

-- yield across pcall
local across = coroutine.create(function()
  local ok, v = pcall(function()
    local got = coroutine.yield("in-pcall", 1)
    if got == "raise" then error("raised after yield") end
    return got
  end)
  coroutine.yield("pcall-result", ok, v)
  local ok2, v2 = pcall(function()
    local got = coroutine.yield("again", 2)
    error("raised: " .. got, 0)
  end)
  return "end", ok2, v2
end)
print(step(across))
print(step(across, "fine"))
print(step(across))
print(step(across, "boom"))

-- wrap, isyieldable, running
local w = coroutine.wrap(function(a)
  local isy = coroutine.isyieldable()
  local _, ismain = coroutine.running()
  coroutine.yield("w", a, isy, ismain)
  return "w-end"
end)
local function wstep(...)
  local r = table.pack(w(...))
  while r.n == 0 do r = table.pack(w()) end
  return table.unpack(r, 1, r.n)
end
print(wstep(3))
print(wstep())
print(coroutine.isyieldable())

-- many coroutines, many resumes
local cos = {}
for i = 1, 20 do
  cos[i] = coroutine.create(function()
    local s = 0
    for j = 1, 30 do s = s + j * i; coroutine.yield("p", s) end
    return "f", s
  end)
end
local total = 0
for round = 1, 31 do
  for i = 1, 20 do
    local ok, tag, v = step(cos[i])
    assert(ok, tag)
    total = total + v
  end
end
print("total", total)

-- close a suspended coroutine with a pending to-be-closed variable
local closed = {}
local c = coroutine.create(function()
  local r <close> = setmetatable({}, {__close = function() closed[rawlen(closed) + 1] = "r" end})
  coroutine.yield("hold", 1)
  return "never"
end)
print(step(c))
print(coroutine.close(c), coroutine.status(c), table.concat(closed, ","))
