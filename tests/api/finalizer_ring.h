// The finalizer ring of the collector-stress tests: Lua code that, while
// ARMED is true, runs from each of its finalizers the ring's next step on
// RING_ARGS (a table of the arguments of the call under way, with n) and
// leaves a successor for the collector's next cycle; disarmed, a finalizer
// does neither. Make a ring finalizer with setmetatable({}, RING_MT) and
// let it go. The steps, in turn: grow, switch the draw target to an argument
// array (or SPARE), mutate the argument arrays to another type or shape,
// shrink the argument tables, map the argument arrays, write the drawing
// registers and palette, switch the draw target back to RING_HOME, clear,
// re-metatable, unmap, and through the debug library rewrite every slot of
// every host frame below the step with hostile values and call every host
// function found there that is no global, library function or method with
// arguments of its own. RING_NOTE(name), when defined, hears each step.
// RING_VALUE() makes a table whose metamethods run the next step.
#pragma once

inline constexpr char kFinalizerRing[] = R"lua(
RING_POS, ARMED, RING_ARGS, SPARE = 0, false, nil, userdata('u8', 7, 5)
local function each(kind, f)
  local args = RING_ARGS
  if not args then return end
  for i = 1, args.n do
    if type(args[i]) == kind then pcall(f, args[i], i) end
  end
end
local function first_array()
  local args = RING_ARGS or {n = 0}
  for i = 1, args.n do
    if type(args[i]) == 'userdata' then return args[i] end
  end
  return SPARE
end
local NARROWER = {u8 = 'u8', i16 = 'u8', i32 = 'i16', i64 = 'i32', f64 = 'f64'}
local WIDER = {u8 = 'i64', i16 = 'i32', i32 = 'i64', i64 = 'i64', f64 = 'f64'}
MUTATIONS = 0
local ADDRESSES = {0x10000, 0x100000, 0x10800, 0x84000}
local KNOWN = {}
for _, t in ipairs({_G, string, table, math, utf8, coroutine, debug, USERDATA}) do
  for _, f in next, t do KNOWN[f] = true end
end
RING = {
  {'grow', function() each('table', function(t)
     local n = rawlen(t)
     for k = 1, 200 do rawset(t, n + k, k) rawset(t, 'g' .. k, k) end
   end) end},
  {'target', function() _set_draw_target(first_array()) end},
  {'mutate', function() each('userdata', function(a)
     local w, h, ty = a:attribs()
     MUTATIONS = MUTATIONS + 1
     local k = MUTATIONS % 4
     if k == 0 then
       if NARROWER[ty] == ty then a:mutate(ty, w * h) else a:mutate(NARROWER[ty]) end
     elseif k == 1 then a:mutate(ty, 1, 1)
     elseif k == 2 then a:mutate(WIDER[ty])
     else a:mutate(ty, 3, w * h // 3) end
   end) end},
  {'shrink', function() each('table', function(t)
     local kept = 0
     for k in next, t do
       kept = kept + 1
       if kept > 2 then rawset(t, k, nil) end
     end
     for k = 1, 40 do rawset(t, 's' .. k, k) end
   end) end},
  {'map', function() each('userdata', function(a, i)
     _map_ram(a, ADDRESSES[(RING_POS + i) % #ADDRESSES + 1])
   end) end},
  {'registers', function()
     local k = RING_POS
     poke8(0x5500, k * 0x123456789)
     poke(0x5508, k * 37, k * 91, k * 13, k * 7, k, k)
     poke(0x550E, k % 3 == 0 and 0 or k, k % 5)
     poke4(0x5510, k % 2 == 0 and 0x7fffffff or -0x80000000, -k)
     poke2(0x5528, -k, k * 3, 0x7fff, -0x8000)
     poke2(0x5530, k * 1000, -k, 0x8000, k % 2 == 0 and 1 or 0)
     poke4(0x54f0, 0x7fffffff, -0x80000000)
     pal(k % 64, k * 7 % 64, k % 3)
     palt(k % 64, k % 2 == 0)
     fillp(k * 0x1111)
     camera(k * 9, -k)
     clip(k % 50, k % 30, 300, 200)
   end},
  {'target back', function() _set_draw_target(RING_HOME) end},
  {'clear', function() each('table', function(t)
     for k in next, t do rawset(t, k, nil) end
   end) end},
  {'metatable', function() each('table', function(t)
     if RING_POS % 2 == 0 then setmetatable(t, nil)
     else setmetatable(t, {__len = function() return 1 << 40 end, __index = function(_, k) return k end}) end
   end) end},
  {'unmap', function() each('userdata', function(a) _unmap_ram(a) end) end},
  {'frames', function()
     local vals = {1 << 40, false, first_array(), {}}
     for level = 2, 40 do
       local info = debug.getinfo(level, 'S')
       if not info then break end
       if info.what == 'C' then
         local f = debug.getinfo(level, 'f').func
         if not KNOWN[f] then pcall(f, nil, {}, 1 << 40) end
         for slot = 1, 16 do
           debug.getlocal(level, slot)
           debug.setlocal(level, slot, vals[(level + slot) % #vals + 1])
         end
       end
     end
   end},
}
-- The ring's next step, while armed (also from the metamethods of RING_VALUE).
function RING_STEP()
  if not ARMED then return false end
  local step = RING[RING_POS % #RING + 1]
  RING_POS = RING_POS + 1
  if RING_NOTE then RING_NOTE(step[1]) end
  pcall(step[2])
  return true
end
RING_MT = {__gc = function()
  if RING_STEP() then setmetatable({}, RING_MT) end
end}
-- A table whose length, missing keys and comparisons run the ring's next step.
function RING_VALUE()
  return setmetatable({1, 2, 3}, {
    __len = function() RING_STEP() return 3 end,
    __index = function() RING_STEP() end,
    __eq = function() RING_STEP() return false end,
    __lt = function() RING_STEP() return false end,
    __le = function() RING_STEP() return true end,
  })
end
)lua";
