-- Table constructors, indexing and assignment forms.
local empty = {}
local list = {1, 2, 3, 4, 5,}
local semi = {1; 2; 3; x = 1; ["y"] = 2;}
local mixed = {10, x = 1, 20, [30] = 3, 40, ["key with space"] = 4, [1.5] = 5, [-1] = 6}
local nested = {{1, 2}, {3, {4, {5}}}, a = {b = {c = {d = "deep"}}}}
local calls = {select(2, 1, 2, 3)}
local calls2 = {select(2, 1, 2, 3), 0}

local big = {
  1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20,
  21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32, 33, 34, 35, 36, 37, 38, 39, 40,
  41, 42, 43, 44, 45, 46, 47, 48, 49, 50, 51, 52, 53, 54, 55, 56, 57, 58, 59, 60,
  61, 62, 63, 64, 65, 66, 67, 68, 69, 70, 71, 72, 73, 74, 75, 76, 77, 78, 79, 80,
  k1 = 1, k2 = 2, k3 = 3,
}

local t = {}
t[1] = "one"
t.two = 2
t["three"] = 3
t[#t + 1] = "next"
t[t[1]] = t.two
t[1.0] = "float key"
t[2^53] = "big"
t[-0] = "zero"
t[true] = "bool"
t.a, t.b, t.c = 1, 2
t.x, t.y = t.y, t.x

local i = 1
i, t[i] = i + 1, 20
local k = "k"
local u = {}
u[k], u[k .. k], k = 1, 2, "changed"

local grid = {}
for r = 1, 5 do
  grid[r] = {}
  for c = 1, 5 do grid[r][c] = r * c end
end
grid[2][3] = grid[3][2] + grid[1][1]

local cnt = 0
for _, row in ipairs(grid) do
  for _, v in ipairs(row) do cnt = cnt + v end
end

print(#empty, #list, semi.x, mixed[30], nested.a.b.c.d, #calls, #calls2, #big, big.k3,
      t[1], t.two, t.a, t.c, u.k, u.kk, k, cnt, next({}), rawlen(list), rawequal(t, t))
