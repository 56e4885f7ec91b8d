-- Two markers 120 frames apart.
_printh("main: mark a")
for i = 1, 120 do flip() end
_printh("main: mark b")
_signal(33)
while true do flip() end
