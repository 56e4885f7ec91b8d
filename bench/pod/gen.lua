-- Seeded generator of the pod benchmark's data sets, run unchanged by our
-- runtime and by stock lua5.4: every value is representable in JSON.
local state = 0x2545F4914F6CDD1D

local function next64()
  state = state ~ (state << 13)
  state = state ~ (state >> 7)
  state = state ~ (state << 17)
  return state
end

local function rnd(n) return (next64() >> 1) % n end

local syllables = {"ka", "lo", "mi", "nu", "ra", "se", "ti", "vo", "\"q\"", "\n", "\195\169", "\226\152\133"}

local function text(n)
  local t = {}
  for i = 1, n do t[i] = syllables[rnd(#syllables) + 1] end
  return table.concat(t)
end

local event_names = {"keydown", "keyup", "mouse", "mousewheel", "textinput", "update"}

-- 20,000 event-like records.
local function events()
  local list = {}
  for i = 1, 20000 do
    list[i] = {
      event = event_names[rnd(#event_names) + 1],
      scancode = rnd(300),
      x = rnd(480), y = rnd(270), b = rnd(8),
      dx = (rnd(2001) - 1000) / 8,
      _from = 3, _sent_t = 100000 + i * 16, _flags = rnd(2),
      name = "proc_" .. rnd(64),
      down = rnd(2) == 1,
    }
  end
  return list
end

-- A tree of about 100,000 values, 6 levels deep: objects and arrays, with
-- strings holding quotes, line feeds and bytes of 128 and above.
local count = 0
local function node(depth)
  if depth == 6 then
    count = count + 1
    local k = rnd(4)
    if k == 0 then return rnd(100000) end
    if k == 1 then return rnd(1000000) / 1000 end
    if k == 2 then return rnd(2) == 1 end
    return text(1 + rnd(6))
  end
  local n = 6 + rnd(3)
  local t = {}
  if depth % 2 == 0 then
    for i = 1, n do t[i] = node(depth + 1) end
  else
    for i = 1, n do t["k" .. i .. "_" .. text(1)] = node(depth + 1) end
  end
  count = count + 1
  return t
end

local function tree()
  count = 0
  local roots = {}
  while count < 100000 do roots[#roots + 1] = node(1) end
  return roots
end

-- A 1 MB string of source-like text.
local function big_string()
  local parts, size = {}, 0
  while size < 1 << 20 do
    local line = "local v" .. rnd(1000) .. " = \"" .. text(3) .. "\" -- " .. rnd(1 << 20) .. "\n"
    parts[#parts + 1] = line
    size = size + #line
  end
  return table.concat(parts):sub(1, 1 << 20)
end

-- 480 x 270 colour indices in runs, as a plain list (the pod side turns it
-- into a u8 typed array).
local function bitmap()
  local px, v = {}, 0
  for i = 1, 480 * 270 do
    if rnd(12) == 0 then v = rnd(32) end
    px[i] = v
  end
  return px
end

return function()
  state = 0x2545F4914F6CDD1D
  return {events = events(), tree = tree(), string = big_string(), bitmap = bitmap()}
end
