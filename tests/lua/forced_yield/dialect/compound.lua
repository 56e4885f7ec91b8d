-- The dialect's statements and operators under forced yields.
local x = 1
x += 2 x -= 1 x *= 10
print(x)
x /= 4
print(x)
x \= 1
print(x, 7 \ 2, 0b1010, 0b1010 ^^ 0b0110)
local s = "a"
for i = 1, 5 do s ..= i end
print(s)
local b = 0xF0
b &= 0x3C b |= 1 b ^^= 0xFF b <<= 2 b >>= 1
print(b)
local p = 2
p ^= 10 p %= 1000
print(p)

-- table and key evaluated once, shown with counting metamethods
local reads, writes = 0, 0
local store = {n = 5}
local proxy = setmetatable({}, {
  __index = function(_, k) reads += 1 return store[k] end,
  __newindex = function(_, k, v) writes += 1 store[k] = v end,
})
local calls = 0
local function key() calls += 1 return "n" end
local function tbl() calls += 1 return proxy end
tbl()[key()] += 10
print(store.n, reads, writes, calls)

-- shorthand if and while, print shorthand, !=
local i = 0
while (i < 10) i += 1
print(i)
if (i != 10) print("wrong") else print("ten")
if (i == 10) i += 5
?i, i * 2
local t = {}
for k = 1, 20 do t[k] = k end
local sum = 0
for _, v in ipairs(t) do
  if (v % 2 == 0) sum += v
end
?sum
