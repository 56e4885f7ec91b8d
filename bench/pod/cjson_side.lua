-- The cjson side of the pod benchmark, run by stock lua5.4: builds the sets
-- with gen.lua (its path is arg[1]), then answers one timing per line read
-- ("<set> <read|write>") with the CPU seconds of one cjson.decode or
-- cjson.encode of that set.
local cjson = require "cjson"
local sets = dofile(arg[1])()
local texts = {}
for name, v in pairs(sets) do texts[name] = cjson.encode(v) end
io.stdout:setvbuf("line")
print("ready")
for line in io.lines() do
  local name, dir = line:match("^(%S+) (%S+)$")
  collectgarbage()
  collectgarbage()
  local t0 = os.clock()
  local result
  if dir == "write" then result = cjson.encode(sets[name]) else result = cjson.decode(texts[name]) end
  local t = os.clock() - t0
  result = nil
  print(string.format("%.9f", t))
end
