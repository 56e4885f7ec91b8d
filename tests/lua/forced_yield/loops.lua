-- Loops and numbers: numeric for in all its forms, while, repeat, goto,
-- integer and float arithmetic, division and modulo edge cases, bitwise.
local s = 0
for i = 1, 100 do s = s + i end
print(s)
s = 0
for i = 100, 1, -3 do s = s + i end
print(s)
s = 0
for i = 1, 0 do s = s + 1 end
print(s)
local fs = {}
for x = 0, 1, 0.25 do fs[rawlen(fs) + 1] = x end
print(table.concat(fs, " "))
for x = 1.0, 3 do fsum = (fsum or 0) + x end
print(fsum)
local n = 0
for i = math.maxinteger - 2, math.maxinteger do n = n + 1 end
print(n)
n = 0
for i = math.mininteger, math.mininteger + 2 do n = n + 1 end
print(n)
n = 0
for i = 1, 10, 4 do n = n * 10 + i end
print(n)
print(pcall(function() for i = 1, 10, 0 do end end))
print(pcall(function() for i = "a", 2 do end end))

local w = 0
while w < 50 do w = w + 3 end
print(w)
local r = 1
repeat r = r * 2 local done = r > 1000 until done
print(r)

-- goto as continue, nested breaks
local odd = {}
for i = 1, 10 do
  if i % 2 == 0 then goto continue end
  odd[rawlen(odd) + 1] = i
  ::continue::
end
print(table.concat(odd, ","))
local found
for i = 1, 10 do
  for j = 1, 10 do
    if i * j == 42 then found = i .. "x" .. j break end
  end
  if found then break end
end
print(found)

-- integer arithmetic and wrap-around
print(math.maxinteger + 1 == math.mininteger, math.mininteger - 1 == math.maxinteger)
print(math.maxinteger * 2, -math.mininteger, math.abs(math.mininteger))
print(7 // 2, -7 // 2, 7 // -2, -7 // -2, 7 % 3, -7 % 3, 7 % -3, -7 % -3)
print(7.5 // 2, -7.5 // 2, 7.5 % 2, -7.5 % 2, 5.3 % -2)
local zero, mone = 0, -1
print(5 // zero, -5 // zero, 0 // zero, 5 % zero, -5 % zero)
print(math.mininteger // mone, math.mininteger % mone, 7 // mone, 7 % mone)
print(5 // 0, -5 // 0, 5 % 0, 5 % -1, math.mininteger // -1)
print(1 / 0, -1 / 0, 5.0 // 0 == 1 / 0)
print(3 / 2, 4 / 2, 2^10, 2^0.5 == math.sqrt(2), 10 // 3.0)

-- bitwise
print(0xFF & 0x0F, 0xF0 | 0x0F, 0xFF ~ 0x0F, ~0, 1 << 62, 1 << 63, 1 << 64, -1 >> 1, 1 >> -1)
print(3.0 & 1, pcall(function() return 1.5 & 1 end))
print(math.ult(1, -1), math.ult(-1, 1))

-- comparisons mixing integers and floats
print(1 == 1.0, 2^53 == 2^53 + 1, math.maxinteger < 2^63, math.maxinteger + 0.0 == 2^63, -0.0 == 0.0)
print(1 < 1.5, 2 <= 2.0, "a" < "b", "Z" < "a", "abc" < "abd", "" < "a")

-- math library
print(math.floor(3.7), math.ceil(3.2), math.floor(-3.5), math.ceil(-3.5), math.fmod(7, 3), math.fmod(-7, 3))
print(math.max(1, 5, 3), math.min(4, -2, 8), math.abs(-7), math.huge > 1e308, math.pi > 3.14)
print(string.format("%.6f %.6f %.6f", math.sin(1), math.cos(1), math.exp(1)), math.log(8, 2), math.log(100, 10))
print(pcall(math.fmod, 1, 0))
print(math.fmod(1, 0.0) ~= math.fmod(1, 0.0))

-- a numeric workload
local primes = {}
for i = 2, 400 do
  local isp = true
  for j = 2, i - 1 do
    if j * j > i then break end
    if i % j == 0 then isp = false break end
  end
  if isp then primes[rawlen(primes) + 1] = i end
end
print(rawlen(primes), primes[rawlen(primes)])
local collatz = 0
for start = 1, 60 do
  local x = start
  while x ~= 1 do
    if x % 2 == 0 then x = x // 2 else x = 3 * x + 1 end
    collatz = collatz + 1
  end
end
print(collatz)
