-- First boot: the build and host codes, the desktop mount with a file stored
-- on it, the settings call's complaint, the clipboard set, then a reboot.
-- Second boot: the clipboard kept across the reboot, then exit.
if fetch("/marker.txt") == nil then
	local number, version = stat(5)
	_printh("main: build " .. number .. " " .. version)
	_printh("main: stamp " .. stat(306))
	_printh("main: headless " .. stat(315) .. " expcart " .. stat(317))
	_signal(65)
	store("/desktop/host/hello.txt", "from the desktop")
	_apply_system_settings("x")
	_set_userland_clipboard_text("kept across the reboot")
	store("/marker.txt", "here")
	_printh("main: rebooting")
	_signal(34)
else
	_printh("main: clipboard " .. _get_userland_clipboard_text())
	_signal(33)
end
while true do flip() end
