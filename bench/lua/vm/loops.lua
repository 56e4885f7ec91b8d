-- Numeric loops: nested integer and float loops with arithmetic and branches.
local isum, fsum = 0, 0.0
for i = 1, 9000 do
  for j = 1, 1000 do
    local k = i * j
    if k % 3 == 0 then isum = isum + k // 3 else isum = isum - (k & 7) end
    fsum = fsum + j * 0.5 - i / 4
  end
end

local n, steps = 27, 0
for _ = 1, 60000 do
  n = 27
  while n ~= 1 do
    if n % 2 == 0 then n = n // 2 else n = 3 * n + 1 end
    steps = steps + 1
  end
end

print(isum, string.format("%.3f", fsum), steps)
