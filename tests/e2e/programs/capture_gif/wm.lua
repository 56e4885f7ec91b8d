-- Window manager for the recording case: records a 64 x 32 region named
-- "anim" while a block moves across it for 20 produced frames, then ends
-- the recording. Prints every message it receives and ends the program
-- after the notification (or when it gives up).
_printh("wm: ready " .. pid())

local display = userdata("u8", 480, 270)
_map_ram(display, 0x10000)
poke2(0x5478, 480) poke2(0x547A, 270)
for a = 0x5508, 0x550B do poke(a, 0x3F) end
_set_draw_target(display)
pal() pal(2) palt()

local function draw(frame)
	cls(1)
	rectfill(2 * frame, 8, 2 * frame + 7, 15, 8)
end

_signal(65)
poke2(0x40, 0) poke2(0x42, 0) poke2(0x44, 64) poke2(0x46, 32)
poke2(0x48, 1) poke2(0x4C, 0) poke2(0x4E, 0)
for i = 0, 63 do poke(0x60 + i, 0) end
poke(0x60, ord("a"), ord("n"), ord("i"), ord("m"))
draw(0)
_signal(18)
-- Each flip ends this frame's slice; video out then produces the frame.
for frame = 1, 20 do
	flip()
	draw(frame)
end
_signal(19)

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
	flip()
end
