-- String building: concatenation, formatting, table.concat and the string library.
local parts, np = {}, 0
for i = 1, 180000 do
  np = np + 1
  parts[np] = string.format("%d:%s", i, ("x"):rep(i % 7))
end
local joined = table.concat(parts, ",")

local acc = ""
for i = 1, 60000 do
  acc = acc .. tostring(i % 10)
  if i % 1000 == 0 then acc = acc:sub(-100) end
end

local count, bytes = 0, 0
for word in joined:gmatch("%d+") do
  count = count + 1
  bytes = bytes + word:byte(1)
end

local up = 0
for i = 1, 600000 do
  local s = "key" .. (i % 500)
  up = up + s:len() + s:upper():byte(2)
end

print(string.len(joined), acc:sub(1, 10), count, bytes, up)
