-- Closures, upvalues and tables.
local function counter()
  local n = 0
  return function() n = n + 1 return n end, function() return n end
end
local inc, get = counter()
for i = 1, 5 do inc() end
local inc2 = counter()
inc2()
print(get(), inc2())

-- closures in loops capture fresh variables
local fns = {}
for i = 1, 5 do fns[i] = function() return i * 10 end end
local vals = {}
for i = 1, 5 do vals[i] = fns[i]() end
print(table.concat(vals, ","))
local shared = {}
do
  local x = 0
  for i = 1, 3 do shared[i] = function() x = x + i return x end end
end
print(shared[1](), shared[2](), shared[3](), shared[1]())

-- upvalues of upvalues
local function make(a)
  return function(b)
    return function(c) return a + b + c end
  end
end
print(make(1)(2)(3), make(10)(20)(30))

-- recursive local function and mutual recursion via upvalues
local function fact(n) return n <= 1 and 1 or n * fact(n - 1) end
print(fact(20))

-- tables: constructors, array and hash parts, removal, insertion
local t = {1, 2, 3, x = "x", ["y z"] = "yz", [10] = "ten", [1.5] = "float", [true] = "t"}
print(t[1], t.x, t["y z"], t[10], t[1.5], t[true], t[2.0])
t[2.0] = "two"
print(t[2])
local arr = {}
for i = 1, 50 do arr[i] = i * i end
table.insert(arr, 1, 0)
table.insert(arr, 99)
print(rawlen(arr), arr[1], arr[2], arr[rawlen(arr)])
print(table.remove(arr), table.remove(arr, 1), rawlen(arr))
print(table.concat(table.move({1, 2, 3, 4, 5}, 2, 4, 1), ","))
print(table.unpack({1, 2, 3}, 2))
print(next({}), type(next({a = 1})))
print(rawequal(t, t), rawequal(t, {}), rawlen({1, 2}), rawlen("abc"), rawget(t, "x"))

-- a sum over pairs does not depend on the traversal order
local h = {}
for i = 1, 100 do h["k" .. i] = i end
local total, count = 0, 0
for k, v in pairs(h) do total = total + v count = count + 1 end
print(total, count)
h.k50 = nil
total = 0
for k, v in pairs(h) do total = total + v end
print(total)

-- memoisation through a table
local memo = {}
local function fib(n)
  if n < 2 then return n end
  local m = memo[n]
  if m then return m end
  m = fib(n - 1) + fib(n - 2)
  memo[n] = m
  return m
end
print(fib(80))

-- object with methods and inheritance
local Animal = {}
Animal.__index = Animal
function Animal.new(name, sound) return setmetatable({name = name, sound = sound}, Animal) end
function Animal:speak() return self.name .. " says " .. self.sound end
local Dog = setmetatable({}, {__index = Animal})
Dog.__index = Dog
function Dog.new(name) local d = Animal.new(name, "woof") return setmetatable(d, Dog) end
function Dog:fetch() return self.name .. " fetches" end
local d = Dog.new("Rex")
print(d:speak(), d:fetch(), getmetatable(d) == Dog)

-- select and string keys created in loops
local keys = {}
for i = 1, 20 do keys[rawlen(keys) + 1] = string.char(96 + i) end
local obj = {}
for i, k in ipairs(keys) do obj[k] = i end
local acc = 0
for i, k in ipairs(keys) do acc = acc + obj[k] * i end
print(acc)

-- garbage: tables created and dropped in a loop
local keep
for i = 1, 2000 do keep = {i, tostring(i), {i}} end
collectgarbage()
print(keep[1], keep[2], keep[3][1])
