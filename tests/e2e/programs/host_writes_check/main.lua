-- After runs that were killed while saving: both files read back whole (a
-- run of one letter), then one last save of each.
local function whole(v)
	return type(v) == "string" and #v == 20000 and v == string.rep(v:sub(1, 1), 20000)
end
_printh("main: plain " .. (whole(fetch("/plain.txt")) and "whole" or "broken"))
_printh("main: cart " .. (whole(fetch("/c.kiv/data.txt")) and "whole" or "broken"))
local body = string.rep("z", 20000)
store("/plain.txt", body)
store("/c.kiv/data.txt", body)
_printh("main: clean")
while true do flip() end
