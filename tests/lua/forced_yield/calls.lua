-- Calls: varargs, open results, multiple assignment, tail calls, recursion.
local function three() return 1, 2, 3 end
local function none() end
local function pass(...) return ... end
local function count(...) return select("#", ...) end

print(three())
print(count(three()), count(three(), three()), count(none()), count(none(), nil))
print(pass(three()), pass(), pass(nil, nil))
local t = {three(), three()}
print(rawlen(t), t[4])
t = {three(), (three())}
print(rawlen(t))
local a, b, c, d = three()
print(a, b, c, d)
a, b = (three())
print(a, b)
print(select(2, three()), select(-1, three()))
print(string.byte("hello", 1, -1))
print(math.max(three()), math.min(pass(5, 4, 9)))
print(table.unpack({1, 2, nil, 4}, 1, 4))
local packed = table.pack(three())
print(packed.n, packed[3])

-- varargs in the middle and at the end of lists
local function mid(...) return "first", ..., "last" end
print(mid(1, 2, 3))
local function tail(...) return "first", ... end
print(tail(1, 2, 3))
local function va(...)
  local x, y = ...
  local all = {...}
  return x, y, rawlen(all), select("#", ...)
end
print(va())
print(va(1))
print(va(1, 2, 3, 4, 5))
print(va(nil, nil, nil))

-- method calls with open results
local obj = {k = 5}
function obj:m(...) return self.k, ... end
print(obj:m(three()))
print(obj.m(obj, pass(7, 8)))

-- tail calls, deep
local function loop(n, acc) if n == 0 then return acc end return loop(n - 1, acc + n) end
print(loop(100000, 0))
local function ping(n) if n == 0 then return "ping" end return (n % 2 == 0) and ping(n - 1) or ping(n - 1) end
print(ping(1001))
local function even(n) if n == 0 then return true end return odd(n - 1) end
function odd(n) if n == 0 then return false end return even(n - 1) end
print(even(5000), even(5001))
local function tailc(n) if n == 0 then return select("#", three()) end return tailc(n - 1) end
print(tailc(1000))
-- tail call of a C function
local function tostr(x) return tostring(x) end
print(tostr(12.5))

-- non-tail recursion
local function fib(n) if n < 2 then return n end return fib(n - 1) + fib(n - 2) end
print(fib(18))
local function depth(n) if n == 0 then return 0 end return 1 + depth(n - 1) end
print(depth(5000))

-- calls through tables of functions and closures
local ops = {
  add = function(x, y) return x + y end,
  mul = function(x, y) return x * y end,
  sub = function(x, y) return x - y end,
}
local r = 0
for i = 1, 100 do
  r = ops.add(r, i)
  r = ops.sub(r, ops.mul(i, 0))
end
print(r)

-- generic for with Lua iterators
local function iter(limit)
  return function(_, c) if c < limit then return c + 1, c * c end end, nil, 0
end
local s = 0
for i, sq in iter(50) do s = s + i + sq end
print(s)
local s2 = 0
for i, v in ipairs({5, 6, 7, nil, 9}) do s2 = s2 + i * v end
print(s2)
local sum = 0
for k, v in pairs({a = 1, b = 2, c = 3, 10, 20}) do sum = sum + v end
print(sum)
