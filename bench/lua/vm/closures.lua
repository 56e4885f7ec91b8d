-- Closures: creation, upvalue reads and writes, and calls through them.
local function counter(step)
  local n = 0
  return function() n = n + step return n end
end

local function compose(f, g)
  return function(x) return f(g(x)) end
end

local total = 0
for i = 1, 600000 do
  local c = counter(i % 5 + 1)
  c() c()
  total = total + c()
end

local inc = function(x) return x + 1 end
local dbl = function(x) return x * 2 end
local h = compose(inc, compose(dbl, inc))
for i = 1, 3000000 do total = total + h(i) % 7 end

print(total)
