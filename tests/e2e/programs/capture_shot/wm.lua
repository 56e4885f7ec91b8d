-- Window manager for the screenshot case: draws a pattern of cells in
-- sixteen known colours, mounts the desktop, waits until video out shows
-- this display, then asks for a 100x60 screenshot at (10, 20), scale 2,
-- named "shot". Prints every message it receives and ends the program
-- after the notification (or when it gives up).
_printh("wm: ready " .. pid())

local display = userdata("u8", 480, 270)
_map_ram(display, 0x10000)
poke2(0x5478, 480) poke2(0x547A, 270)
for a = 0x5508, 0x550B do poke(a, 0x3F) end
_set_draw_target(display)
pal() pal(2) palt()
-- Colour i is (17i, 255 - 13i, 7i + 3); screen palette plain, every row in bank 0.
for i = 0, 15 do poke4(0x5000 + 4 * i, ((17 * i) << 16) | ((255 - 13 * i) << 8) | (7 * i + 3)) end
for i = 0, 63 do poke(0x5480 + i, i) end
for a = 0x5400, 0x5443 do poke(a, 0) end
poke(0x547C, 0)

-- Cells of 5 x 4 pixels: cell (cx, cy) has colour (cx + 3 cy) % 16.
for cy = 0, 67 do
	for cx = 0, 95 do
		rectfill(cx * 5, cy * 4, cx * 5 + 4, cy * 4 + 3, (cx + 3 * cy) % 16)
	end
end

_signal(37)
_signal(65)

local requested = false
while true do
	local m = _read_message()
	while m ~= nil do
		_printh("wm: " .. pod(m))
		if type(m) == "table" and m.event == "user_notification" then _signal(33) end
		m = _read_message()
	end
	-- Bounded: twenty seconds after the boot began the case has failed.
	if stat(987) > 20000 then
		_printh("wm: gave up")
		_signal(33)
	end
	-- Once the boot screen is over, every frame shows this display.
	if not requested and stat(985) == 1 then
		poke2(0x50, 10) poke2(0x52, 20) poke2(0x54, 100) poke2(0x56, 60)
		poke2(0x58, 2) poke2(0x5A, 0) poke2(0x5C, 0) poke2(0x5E, 0)
		for i = 0, 63 do poke(0x60 + i, 0) end
		poke(0x60, ord("s"), ord("h"), ord("o"), ord("t"))
		_signal(21)
		requested = true
	end
	flip()
end
