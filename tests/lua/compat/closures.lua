-- Closures, upvalues, recursion, methods, const and to-be-closed locals.
local function counter(start)
  local n = start
  return function(step)
    n = n + (step or 1)
    return n
  end, function() return n end
end

local inc, get = counter(10)
inc() inc(5)

local fns = {}
for i = 1, 5 do
  fns[i] = function() return i * i end
end

local function fib(n)
  if n < 2 then return n end
  return fib(n - 1) + fib(n - 2)
end

local even, odd
function even(n) if n == 0 then return true end return odd(n - 1) end
function odd(n) if n == 0 then return false end return even(n - 1) end

local Account = {}
Account.__index = Account
function Account.new(balance) return setmetatable({balance = balance}, Account) end
function Account:deposit(v) self.balance = self.balance + v end
function Account:get() return self.balance end
local acc = Account.new(100)
acc:deposit(50)

local LIMIT <const> = 42
local NAME <const> = "const string"
local pi <const> = 3.14159
local shared <const> = {}

local log = {}
do
  local res <close> = setmetatable({}, {__close = function() log[#log + 1] = "closed" end})
  local x <close> = nil
  log[#log + 1] = "body"
end

local function deep()
  local a = 1
  return function()
    local b = 2
    return function()
      local c = 3
      return function() a = a + 1 return a + b + c end
    end
  end
end

local make = deep()()()
local tbl = {f = function(self, x) return x end}
a = {b = {c = {}}}
function a.b.c.f1(x) return x end
function a.b.c:f2(x) return self, x end

print(get(), fns[3](), fib(15), even(10), acc:get(), LIMIT, NAME, pi, shared, log[1], make(),
      tbl:f(3), a.b.c.f1(4))
