-- Saves a host file and a file in a cartridge on the drive every frame,
-- each a run of one letter, until the program is killed.
local n = 0
while true do
	n = n + 1
	local body = string.rep(string.char(65 + n % 26), 20000)
	store("/plain.txt", body)
	store("/c.kiv/data.txt", body)
	_printh("main: saved " .. n)
	flip()
end
