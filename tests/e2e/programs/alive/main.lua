-- Runs a few frames, says so, and asks for the exit.
for i = 1, 10 do flip() end
_printh("main: alive")
_signal(33)
while true do flip() end
