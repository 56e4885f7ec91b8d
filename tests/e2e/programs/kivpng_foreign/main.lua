-- Writes into one picture that is no cartridge of ours and lists another.
store("/host_data/p.kiv.png/x.lua", "print(1)", '--[[pod_format="raw"]]')
local names = ls("/host_data/b.kiv.png")
_printh("main: listed " .. tostring(names and #names))
for i = 1, 40 do flip() end
_signal(33)
while true do flip() end
