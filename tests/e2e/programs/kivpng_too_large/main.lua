-- Stores a small cartridge, then one too large for a picture, then deletes
-- the large file again.
local function wait(n) for i = 1, n do flip() end end
mkdir("/host_data/c.kiv.png")
store("/host_data/c.kiv.png/main.lua", "print('small')", '--[[pod_format="raw"]]')
store("/host_data/c.kiv.png/.info.pod", "x", '--[[pod,title="Big",author="amy"]]')
-- Fetching the cartridge writes it back inside this slice, label text and all.
local first = fetch("/host_data/c.kiv.png")
_printh("main: still pid " .. pid() .. " " .. tostring(type(first) == "string"))
wait(40)
local before = fetch("/host_data/c.kiv.png")
_printh("main: stored " .. tostring(type(before) == "string" and #before > 0))
-- 300 KB that do not compress.
local parts, x = {}, 12345
for i = 1, 300 * 1024 / 4 do
	x = (x * 1103515245 + 12345) % 2147483648
	parts[i] = string.char(x % 256, (x >> 8) % 256, (x >> 16) % 256, (x >> 24) % 128)
end
store("/host_data/c.kiv.png/big.bin", table.concat(parts), '--[[pod_format="raw"]]')
wait(40)
local during = fetch("/host_data/c.kiv.png")
_printh("main: unchanged " .. tostring(during == before))
wait(40)
_fdelete("/host_data/c.kiv.png/big.bin")
wait(40)
_printh("main: deleted")
_signal(33)
while true do flip() end
