-- Metamethods written in Lua, called from the interpreter (where they can
-- yield) and from library functions (where they cannot).
local V = {}
V.__index = V
local function vec(x, y) return setmetatable({x = x, y = y}, V) end
V.__add = function(a, b) return vec(a.x + b.x, a.y + b.y) end
V.__sub = function(a, b) return vec(a.x - b.x, a.y - b.y) end
V.__mul = function(a, b)
  if type(a) == "number" then return vec(a * b.x, a * b.y) end
  if type(b) == "number" then return vec(a.x * b, a.y * b) end
  return a.x * b.x + a.y * b.y
end
V.__div = function(a, b) return vec(a.x / b, a.y / b) end
V.__idiv = function(a, b) return vec(a.x // b, a.y // b) end
V.__mod = function(a, b) return vec(a.x % b, a.y % b) end
V.__pow = function(a, n) local r = a for i = 2, n do r = r * 1 end return r end
V.__unm = function(a) return vec(-a.x, -a.y) end
V.__band = function(a, b) return vec(a.x & b, a.y & b) end
V.__bor = function(a, b) return vec(a.x | b, a.y | b) end
V.__bxor = function(a, b) return vec(a.x ~ b, a.y ~ b) end
V.__shl = function(a, b) return vec(a.x << b, a.y << b) end
V.__shr = function(a, b) return vec(a.x >> b, a.y >> b) end
V.__bnot = function(a) return vec(~a.x, ~a.y) end
V.__eq = function(a, b) return a.x == b.x and a.y == b.y end
V.__lt = function(a, b) return a.x < b.x or (a.x == b.x and a.y < b.y) end
V.__le = function(a, b) return not (b < a) end
V.__concat = function(a, b)
  local sa = type(a) == "table" and ("(" .. a.x .. "," .. a.y .. ")") or tostring(a)
  local sb = type(b) == "table" and ("(" .. b.x .. "," .. b.y .. ")") or tostring(b)
  return sa .. sb
end
V.__call = function(self, k) return self.x * k + self.y end
V.__tostring = function(a) return "vec(" .. a.x .. "," .. a.y .. ")" end
function V:len2() return self.x * self.x + self.y * self.y end

local a, b = vec(1, 2), vec(10, 20)
print(tostring(a + b), tostring(b - a), a * b, tostring(a * 3), tostring(3 * a))
print(tostring(b / 2), tostring(b // 3), tostring(b % 3), tostring(-a), tostring(a ^ 3))
print(tostring(b & 6), tostring(b | 1), tostring(b ~ 3), tostring(a << 2), tostring(b >> 1), tostring(~a))
print(a == vec(1, 2), a ~= b, a < b, b < a, a <= a, b >= a)
print(a .. b, a .. "!" .. b .. 1 .. 2.5, "x" .. a)
print(a(10), b(0), a:len2())

-- chains of __index and __newindex
local log = {}
local base = {greeting = "hello"}
local mid = setmetatable({}, {__index = base})
local top = setmetatable({}, {__index = function(t, k)
  log[rawlen(log) + 1] = "get " .. k
  return mid[k]
end, __newindex = function(t, k, v)
  log[rawlen(log) + 1] = "set " .. k
  rawset(t, k, v and v * 2)
end})
print(top.greeting, top.missing)
top.n = 21
print(top.n, rawget(top, "n"))
print(table.concat(log, ";"))

-- __index on strings, __len via rawlen absent, __close
local s = "Metatables"
print(s:upper(), s:sub(2, 4), ("%d-%s"):format(7, "x"))

-- metamethods called from library functions (not yieldable)
local str = setmetatable({}, {__tostring = function() local r = "" for i = 1, 30 do r = r .. i % 10 end return r end})
print(tostring(str))
local viaconcat = setmetatable({}, {__index = function(_, i) return "<" .. i .. ">" end})
print(table.concat(viaconcat, "", 1, 5))
print((string.gsub("a1b2c3", "%d", function(d) local n = 0 for i = 1, tonumber(d) * 10 do n = n + i end return "[" .. n .. "]" end)))

-- comparison metamethods in loops
local items = {}
for i = 1, 30 do items[i] = vec((i * 7) % 11, (i * 3) % 5) end
local best = items[1]
for i = 2, 30 do if items[i] < best then best = items[i] end end
print("min", tostring(best))
local eqs = 0
for i = 1, 30 do for j = i + 1, 30 do if items[i] == items[j] then eqs = eqs + 1 end end end
print("equal pairs", eqs)

-- __concat chain over many operands
local parts = setmetatable({}, {__concat = function(x, y)
  local sx = type(x) == "table" and "T" or x
  local sy = type(y) == "table" and "T" or y
  return sx .. sy
end})
print("a" .. parts .. "b" .. parts .. "c" .. 1 .. parts)
