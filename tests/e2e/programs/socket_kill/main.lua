-- Starts a child that listens on one port and connects to the driver's
-- server on another, kills it once both are up, then asks for the exit.
local ports = fetch("/host_data/ports.txt")
local server_port, child_port = ports:match("(%d+) (%d+)")

local child_code = [[
local l = _create_tcp_socket(]] .. child_port .. [[, "*")
local c = _create_tcp_socket(]] .. server_port .. [[, "127.0.0.1")
_printh("child: listener " .. tostring(l) .. " client " .. tostring(c))
while true do flip() end
]]
local child = _create_process_from_code(child_code, "child", "/ram/child.lua")
for i = 1, 10 do flip() end
_kill_process(child)
_printh("main: killed child")
for i = 1, 30 do flip() end
_printh("main: bye")
_signal(33)
