-- Metatables and every kind of metamethod call site.
local V = {}
V.__index = V
local function vec(x, y) return setmetatable({x = x, y = y}, V) end
V.__add = function(a, b) return vec(a.x + b.x, a.y + b.y) end
V.__sub = function(a, b) return vec(a.x - b.x, a.y - b.y) end
V.__mul = function(a, k) return vec(a.x * k, a.y * k) end
V.__div = function(a, k) return vec(a.x / k, a.y / k) end
V.__mod = function(a, k) return vec(a.x % k, a.y % k) end
V.__pow = function(a, k) return vec(a.x ^ k, a.y ^ k) end
V.__unm = function(a) return vec(-a.x, -a.y) end
V.__idiv = function(a, k) return vec(a.x // k, a.y // k) end
V.__band = function(a, k) return a.x & k end
V.__bor = function(a, k) return a.x | k end
V.__bxor = function(a, k) return a.x ~ k end
V.__shl = function(a, k) return a.x << k end
V.__shr = function(a, k) return a.x >> k end
V.__bnot = function(a) return ~a.x end
V.__concat = function(a, b) return tostring(a) .. tostring(b) end
V.__len = function(a) return 2 end
V.__eq = function(a, b) return a.x == b.x and a.y == b.y end
V.__lt = function(a, b) return a.x < b.x end
V.__le = function(a, b) return a.x <= b.x end
V.__call = function(self, k) return self[k] end
V.__tostring = function(a) return "(" .. a.x .. "," .. a.y .. ")" end
V.__close = function() end
V.__name = "vec"

local a, b = vec(1, 2), vec(3, 4)
local s = a + b - a * 2 / 1 % 5 ^ 1 // 1
local t = -a, ~a, a & 1, a | 2, a ~ 3, a << 1, a >> 1, #a, a .. b, a .. "s", "s" .. a
local c = a == b, a ~= b, a < b, a <= b, a > b, a >= b, a("x")

local proxy = setmetatable({}, {
  __index = function(t, k) return k .. "!" end,
  __newindex = function(t, k, v) rawset(t, k, v * 2) end,
})
proxy.x = 21
local got = proxy.missing, proxy.x, proxy[1], rawget(proxy, "y")

local chain = setmetatable({}, {__index = setmetatable({level = 2}, {__index = {deep = 3}})})
local weak = setmetatable({}, {__mode = "k"})
local gc = setmetatable({}, {__gc = function() end})

do
  local closer <close> = vec(0, 0)
end

print(tostring(s), t, c, got, chain.level, chain.deep, weak, gc, getmetatable(a) == V)
