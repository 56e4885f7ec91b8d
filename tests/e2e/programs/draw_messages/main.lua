-- The drawing calls' messages: each printed once, and the process runs on.
local d = unpod('userdata("u8",64,64,"")')
_set_draw_target(d)
mget(0, 0)
mset(0, 0, 1)
get(d, 0, 0, 1 << 40)
local m = unpod('userdata("i16",4,4,"")')
_draw_map(m, -2, 0, 0, 0, 4, 1, 0, 8, 8)
_printh("main: still running")
_signal(33)
while true do flip() end
