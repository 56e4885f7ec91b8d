-- Draws one frame in colour 9, then holds it (bit 1 of 0x547F, flip(1)) for
-- a few frames and prints the colour the window manager's display shows at
-- its middle, then asks for the exit.
local d = userdata("u8", 480, 270)
_map_ram(d, 0x10000)
poke2(0x5478, 480) poke2(0x547A, 270)
for a = 0x5508, 0x550B do poke(a, 0x3F) end
_set_draw_target(d)
cls(9)
for i = 1, 5 do flip() end
_printh("main: shown " .. _ppeek(3, 0x10000 + 135 * 480 + 240))
poke(0x547F, peek(0x547F) | 2)
for i = 1, 5 do flip(1) end
_printh("main: held " .. _ppeek(3, 0x10000 + 135 * 480 + 240))
_signal(33)
while true do flip() end
