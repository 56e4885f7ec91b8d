-- Starts a process that fails, then checks that it is gone.
local id = _create_process_from_code("flip() error(\"boom\")", "bad", "/ram/bad.lua")
_printh("main: bad is " .. tostring(id))
for i = 1, 10 do flip() end
_printh("main: bad state " .. _process_state(id))
_signal(33)
while true do flip() end
