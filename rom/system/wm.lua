-- The window manager (pid 3): shows the lowest user process's display on a
-- plain desktop each frame, and prints every message it receives.
_printh("wm: ready " .. pid())

local W, H = 480, 270
local DESKTOP = 1

local display = userdata("u8", W, H)
_map_ram(display, 0x10000)
poke2(0x5478, W)
poke2(0x547A, H)
for a = 0x5508, 0x550B do poke(a, 0x3F) end
_set_draw_target(display)
pal()
pal(2)
-- The desktop is ready: the boot screen may end.
_signal(37)

-- The lowest process id above the window manager's, or nil.
local function lowest_user_process()
	local lowest
	local list = _get_process_list()
	for i = 1, #list do
		local id = list[i].id
		if id > 3 and (lowest == nil or id < lowest) then lowest = id end
	end
	return lowest
end

local last_shown  -- the process shown in the last frame

while true do
	local m = _read_message()
	while m ~= nil do
		_printh("wm: " .. pod(m))
		m = _read_message()
	end
	local shown = lowest_user_process()
	-- A program holding its frame (bit 1 of its 0x547F) has no new one: the
	-- display keeps the one composed from it last. The zero-sized copy only
	-- asks.
	local held = shown ~= nil and shown == last_shown and _blit_process_video(shown, 0, 0, 0, 0) == true
	if not held then
		cls(DESKTOP)
		if shown then _blit_process_video(shown) end
	end
	last_shown = shown
	flip()
end
