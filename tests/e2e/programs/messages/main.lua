-- Talks to an echo process, to the window manager, kills the echo process
-- and waits for the report of its end.
local function next_message()
	while true do
		local m = _read_message()
		if m ~= nil then return m end
		flip()
	end
end

local path = "/ram/expcart/echo.lua"
local echo = _create_process_from_code(fetch(path), "echo", path)
_printh("main: echo is " .. tostring(echo))

local sent = {text = "ping"}
send_message(echo, sent)
_printh("main: sent from " .. sent._from .. " flags " .. sent._flags)

local reply = next_message()
_printh("main: reply " .. reply.text .. " from " .. reply._from .. " flags " .. reply._flags)

send_message(3, {note = "hello wm"})

_kill_process(echo)
local done = next_message()
_printh("main: " .. tostring(done.event) .. " " .. tostring(done.proc_id))
-- The window manager runs before this process in each frame: give it a
-- frame to print its message before the exit.
for i = 1, 3 do flip() end
_signal(33)
while true do flip() end
