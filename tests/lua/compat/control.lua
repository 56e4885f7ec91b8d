-- Control flow: conditionals, loops, break, goto and labels.
local function classify(n)
  if n < 0 then
    return "negative"
  elseif n == 0 then
    return "zero"
  elseif n < 10 then
    return "small"
  else
    return "large"
  end
end

local total = 0
for i = 1, 10 do total = total + i end
for i = 10, 1, -1 do total = total - i end
for x = 0.5, 2.5, 0.5 do total = total + x end
for i = 1, 0 do error("never") end
for i = math.maxinteger - 2, math.maxinteger do total = total + 1 end

local t = {10, 20, 30, a = 1, b = 2}
for k, v in pairs(t) do total = total + v end
for i, v in ipairs(t) do
  if v == 20 then goto continue end
  total = total + i
  ::continue::
end

local n = 0
while n < 100 do
  n = n + 7
  if n % 5 == 0 then break end
end

repeat
  local m = n * 2
  n = n - 1
until m < 50 or n <= 0

while true do
  if total > 0 then break end
  total = total + 1
end

do
  local i = 1
  ::top::
  if i < 3 then
    i = i + 1
    goto top
  end
end

for i = 1, 3 do
  for j = 1, 3 do
    if i == j then goto next_i end
  end
  ::next_i::
end

local function nested(a, b, c)
  if a then
    if b then
      if c then return 1 else return 2 end
    elseif not c then
      return 3
    end
  end
  return a and b or c
end

if total then end
if not total then else end
while false do end
repeat until true

print(classify(-1), classify(0), classify(5), classify(50), total, n, nested(1, nil, 2))
