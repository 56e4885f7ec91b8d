-- The placeholder window manager (pid 3): prints every message it receives.
_printh("wm: ready " .. pid())
while true do
	local m = _read_message()
	while m ~= nil do
		_printh("wm: " .. pod(m))
		m = _read_message()
	end
	flip()
end
