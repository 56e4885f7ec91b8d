-- String concatenation: intermediate strings of growing and varied sizes.
local total = 0
for r = 1, 900 do
  local s = ""
  for i = 1, 300 do
    s = s .. i .. ";"
  end
  total = total + #s
end
local words = 0
for i = 1, 900000 do
  local w = "w" .. i .. "-" .. (i * 3) .. "/" .. (i % 13)
  words = words + #w
end
print(total, words)
