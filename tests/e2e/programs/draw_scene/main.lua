-- Draws the scene into a display mapped at 0x10000 and prints the FNV-1a
-- checksum of the display, then asks for the exit.
local d = userdata("u8", 480, 270)
_map_ram(d, 0x10000)
poke2(0x5478, 480) poke2(0x547A, 270)
for a = 0x5508, 0x550B do poke(a, 0x3F) end
_set_draw_target(d)
load(fetch("/ram/expcart/scene.lua"), "@scene")()
local h = 0x811C9DC5
for i = 0, 480 * 270 - 1 do h = ((h ~ get(d, i % 480, i // 480)) * 0x01000193) & 0xFFFFFFFF end
_printh(string.format("main: scene %08x", h))
_signal(33)
while true do flip() end
