-- Sends every message's text back to its sender.
while true do
	local m = _read_message()
	if m ~= nil then
		_printh("echo: " .. m.text .. " from " .. m._from .. " flags " .. m._flags)
		send_message(m._from, {text = m.text .. " back"})
	end
	flip()
end
