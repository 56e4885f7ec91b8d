-- The kernel: the root process (pid 1). Starts the service process and the
-- window manager, then the expansion cartridge's program when there is one,
-- and from then on shares every frame among the other processes.

_printh("kernel: boot")

-- Creates a process from the file at 'path'. A missing file still creates
-- (an empty process), so every start uses up its process id and the window
-- manager is pid 3 whatever happens to the service before it.
local function start(path, name)
	local code = fetch(path)
	if type(code) ~= "string" then code = "" end
	return _create_process_from_code(code, name, path)
end

start("/system/idle.lua", "idle")
start("/system/wm.lua", "wm")

-- The display settings: a 960 x 540 window (headless, only the sound
-- settings apply). Every boot applies them; the same settings keep the window.
_apply_system_settings({fullscreen = false, pixel_perfect = true, pixel_scale = 2})

local user_main = "/ram/expcart/main.lua"
local code = fetch(user_main)
if type(code) == "string" then
	_create_process_from_code(code, "main", user_main)
end

local me = pid()
while true do
	local list = _get_process_list()
	local others = {}
	for i = 1, #list do
		local id = list[i].id
		if id ~= me then others[#others + 1] = id end
	end
	local n = #others
	for i = 1, n do
		_run_process_slice(others[i], 1 / n)
	end
	while _read_message() ~= nil do end
	flip()
end
