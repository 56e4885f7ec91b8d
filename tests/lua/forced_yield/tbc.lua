-- To-be-closed variables: closing order on every way out of a block.
local log = {}
local function note(s) log[rawlen(log) + 1] = s end
local function closer(name)
  return setmetatable({}, {__close = function(_, err)
    local s = 0
    for i = 1, 20 do s = s + i end  -- some work inside __close
    note(name .. (err and ("!" .. tostring(err)) or ""))
  end})
end
local function flush(tag) print(tag, table.concat(log, " ")) log = {} end

do
  local a <close> = closer("a")
  local b <close> = closer("b")
  note("body")
end
flush("block")

for i = 1, 3 do
  local x <close> = closer("x" .. i)
  if i == 2 then break end
end
flush("break")

local function early(n)
  local p <close> = closer("p")
  if n > 0 then
    local q <close> = closer("q")
    return "ret" .. n, n * 2
  end
  return "none"
end
print(early(1))
print(early(0))
flush("return")

local ok, e = pcall(function()
  local e1 <close> = closer("e1")
  local e2 <close> = closer("e2")
  error("oops", 0)
end)
print(ok, e)
flush("error")

-- error inside __close replaces the error
local ok2, e2 = pcall(function()
  local bad <close> = setmetatable({}, {__close = function() error("close failed", 0) end})
  local good <close> = closer("good")
  return "unreached?"
end)
print(ok2, e2)
flush("closeerror")

-- nil and false are allowed
do
  local n <close> = nil
  local f <close> = false
  note("nil-ok")
end
flush("nil")

-- goto out of a block
do
  local i = 0
  ::again::
  do
    local g <close> = closer("g" .. i)
    i = i + 1
    if i < 3 then goto again end
  end
end
flush("goto")

-- generic for closes its closing value
local function closing_iter(n)
  local i = 0
  return function() i = i + 1 if i <= n then return i end end, nil, nil, closer("iter")
end
for i in closing_iter(3) do note("it" .. i) end
for i in closing_iter(5) do note("it" .. i) if i == 2 then break end end
flush("for")

-- tail-called functions are not affected; nested functions close their own
local function inner() local z <close> = closer("z") return "inner" end
local function outer() local y <close> = closer("y") return (inner()) end
print(outer())
flush("nested")

-- to-be-closed in coroutines, closed when the coroutine ends
local co = coroutine.create(function()
  local c <close> = closer("co")
  coroutine.yield("mid", 1)
  note("resumed")
  return "fin"
end)
local function step(co, ...)
  local r = table.pack(coroutine.resume(co, ...))
  while r.n == 1 and r[1] and coroutine.status(co) == "suspended" do
    r = table.pack(coroutine.resume(co))
  end
  return table.unpack(r, 1, r.n)
end
print(step(co))
print(step(co))
flush("coroutine")

-- a value without __close is an error
print(pcall(function() local x <close> = {} end))
