-- Integer and float arithmetic, bitwise operators, comparisons, folding.
local a, b, c = 7, 2, -3
local x, y = 7.5, 0.25

local r1 = a + b, a - b, a * b, a / b, a // b, a % b, a ^ b
local r2 = x + y, x - y, x * y, x / y, x // y, x % y, x ^ y
local r3 = a & b, a | b, a ~ b, ~a, a << b, a >> b, a << -1, ~~a
local r4 = a == b, a ~= b, a < b, a <= b, a > b, a >= b
local r5 = -a, - -a, -x, not a, #"abc"
local r6 = a//b, a%b, a//-b, a%-b, -a//b, -a%b, x//-y, x%-y
local r7 = a + 1, a - 1, 1 + a, 1 - a, a * 3, a / 4, a + 1.5, a - 2.5
local r8 = a << 63, a >> 64, 1 << 62, -1 >> 1, a & 0xFF, a | 0x100, a ~ 0xF0F0
local r9 = a == 1, a ~= 1, a < 1, a <= 1, a > 1, a >= 1, 1 < a, 1 >= a
local r10 = a == 1.5, a < 2.5, a == "s", a ~= nil, a == true

-- constant folding and the cases that are not folded
local k1 = 1 + 2 * 3 - 4 / 2
local k2 = 2 ^ 10, 10 // 3, 10 % 3, -10 // 3, -10 % 3, 7 // -1, 7 % -1
local k3 = 1 // 0, 1 % 0, 1.0 // 0, 1.0 % 0, 0 / 0, 1 / 0, -1 / 0
local k4 = 3 & 5, 3 | 5, 3 ~ 5, ~0, 1 << 4, 256 >> 4, 1 << 64, 1 >> -1
local k5 = 1.5 & 1, "10" + 1, "3" * "4", 2^53 + 1, -(-9223372036854775807 - 1)
local k6 = math.maxinteger + 1, math.mininteger - 1, math.mininteger // -1
local k7 = 5 // 0.0, -5 // 0.0, 0.0 / 0.0 ~= 0.0 / 0.0, 3 % math.huge
local k8 = -0.0, 0.0, 1e308 * 10, -1e308 * 10, 2^-1074, 2^1023 * 2

-- numeric edge literals
local n1 = 9223372036854775807, 9223372036854775808, -9223372036854775808
local n2 = 0x7fffffffffffffff, 0xffffffffffffffff, 0x10000000000000000, 0x8000000000000000
local n3 = 1e308, 1e309, 4.9e-324, 2.2250738585072014e-308, 1.7976931348623157e308
local n4 = 0x1p-1074, 0x1.fffffffffffffp1023, 0xA.8p0, 0x.1p4, 0x1P+4, 0x1p-4
local n5 = .5, 5., 3e-2, 3E+2, 0.1e1, 1e-0, 00012, 0x00ff, 0XABCDEF
local n6 = 123456789012345678901234567890, 0.000000000000000000001
local n7 = 1//1, 1.0//1, 3 % -2, -3 % 2, 3.5 % -2, -3.5 % 2

local function dist(x1, y1, x2, y2)
  local dx, dy = x2 - x1, y2 - y1
  return math.sqrt(dx * dx + dy * dy)
end

local function mix(p, q)
  return (p + q) * (p - q) / ((p * q) ~= 0 and p * q or 1), p ^ -q, -p ^ 2, 2 ^ -p
end

local acc = 0
for i = 1, 100 do
  acc = acc + i * i - i // 3 + i % 7
  acc = acc ~ (i << 2)
  acc = acc & 0xFFFFFF
end

print(r1, r2, r3, r4, r5, r6, r7, r8, r9, r10, k1, k2, k3, k4, k5, k6, k7, k8,
      n1, n2, n3, n4, n5, n6, n7, dist(0, 0, 3, 4), mix(3, 4), acc)
