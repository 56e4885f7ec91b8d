-- A scene that uses every drawing call, into the draw target already set.
-- Run by main.lua here and by the drawing tests in process; both print the
-- same checksum of the display.
pal() palt()
cls(1)
camera() clip() color(7)
rectfill(10, 10, 60, 40, 8) rect(70, 10, 120, 40, 9)
ovalfill(130, 10, 180, 40, 10) oval(190, 10, 240, 40, 11)
circfill(270, 25, 15, 12) circ(310, 25, 15, 13)
rrect(340, 10, 50, 30, 8, 14) rrectfill(400, 10, 50, 30, 8, 15)
line(10, 50, 470, 60, 7) line(10, 70) line(100, 80, 6)
pset(5, 5, 7) pset(6, 5, pget(5, 5) + 1)
fillp(0x5A5A) rectfill(10, 90, 60, 120, 0x1010A) fillp()
local s = userdata("u8", 16, 16)
for y = 0, 15 do for x = 0, 15 do set(s, x, y, 1 + (x * y) % 15) end end
_set_spr(1, s) fset(1, 3) fset(1, 7, true)
spr(1, 70, 90) spr(1, 90, 90, true, true) sspr(1, 0, 0, 16, 16, 110, 90, 32, 24)
local m = userdata("i16", 8, 4)
for i = 0, 31 do set(m, i % 8, i // 8, 1 | ((i % 4) << 13)) end
_map_ram(m, 0x100000) mset(0, 0, 1 | 0x4000)
_draw_map(m, 0, 0, 150, 90, 8, 4, fget(1) & 1, 16, 16)
_draw_map(m, 0, 0, 300, 90, 8, 4, 0, 8, 8)
tline3d(1, 10, 150, 200, 150, 0, 0, 16, 16)
local b = userdata("u8", 32, 32)
blit(nil, b, 0, 0, 0, 0, 32, 32) blit(b, nil, 0, 0, 300, 150, 32, 32)
pal(7, 9) rectfill(350, 150, 360, 160, 7) pal(0)
cursor(10, 200, 7) _print_zenscii("quillmar scene", 10, 200, 7)
clip(200, 200, 60, 60) circfill(230, 230, 20, 0x800000005) clip()
_blit_process_video(pid(), 0, 0, 40, 40, 420, 220)
local pts = userdata("f64", 5, 4)
for k = 0, 3 do set(pts, 0, k, 300 + 12 * k, 240, 308 + 12 * k, 248, 7 + k) end
pset(pts, 0, 4, 3, 5) rectfill(pts, 1) circfill(pts, 2, 2, 4, 5)
set(get(m, 0, 0) == 0 and m or s, 0, 0, 2)
_unmap_ram(m)
