-- Table fill and read: array part, hash part with string and integer keys.
local sum = 0
for round = 1, 60 do
  local a = {}
  for i = 1, 50000 do a[#a + 1] = i * round end
  for i = 1, #a do sum = sum + a[i] end
  local h = {}
  for i = 1, 20000 do h["k" .. (i % 2000)] = i end
  for k, v in pairs(h) do sum = sum + v end
  local sparse = {}
  for i = 1, 20000 do sparse[i * 7] = i end
  for i = 1, 20000 do sum = sum + sparse[i * 7] end
  for _, v in ipairs(a) do sum = sum - v // 2 end
end
print(sum)
