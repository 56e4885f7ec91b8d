-- Holds the exclusive run, asks for the exit at frame 10 and keeps
-- counting its frames.
_signal(40)
local frame = 0
while true do
	frame = frame + 1
	_printh("main: frame " .. frame)
	if frame == 10 then
		_printh("main: exit requested at " .. frame)
		_signal(33)
	end
	flip()
end
