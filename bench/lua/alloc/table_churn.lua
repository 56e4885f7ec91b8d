-- Table churn: many short-lived small tables, arrays and hashes, left to the collector.
local live = {}
local keep = 0
for i = 1, 800000 do
  local t = {i, i + 1, name = "n", value = i * 2}
  local inner = {t, {x = i}}
  if i % 100 == 0 then
    keep = keep % 1000 + 1
    live[keep] = inner
  end
end
local sum = 0
for i = 1, 1000 do
  local e = live[i]
  if e then sum = sum + e[1].value + e[2].x end
end
local grow = 0
for r = 1, 400 do
  local a = {}
  for i = 1, 1000 do a[i] = {r, i} end
  grow = grow + a[1000][2]
end
print(sum, grow)
