-- A process that does not compile is not created; the next one gets the
-- id after the one it used up.
local bad = _create_process_from_code("x = = 1", "bad", "/ram/bad.lua")
_printh("main: bad is " .. tostring(bad))
local good = _create_process_from_code("while true do flip() end", "good", "/ram/good.lua")
_printh("main: good is " .. tostring(good))
for i = 1, 5 do flip() end
_signal(33)
while true do flip() end
