-- Listens on the port the driver wrote, echoes one connection's bytes back,
-- then asks for the exit.
local port = tonumber(fetch("/host_data/port.txt"))
local listener, err = _create_tcp_socket(port, "*")
_printh("echo: listening " .. tostring(listener) .. " " .. tostring(err))

local conn
while not conn do
	conn = _accept_socket(listener)
	flip()
end
_printh("echo: accepted")

local echoed = 0
while echoed < 4 do
	local data = _read_socket(conn)
	if type(data) == "string" then
		_write_socket(conn, data)
		echoed = echoed + #data
	end
	flip()
end
_printh("echo: done")
for i = 1, 3 do flip() end
_signal(33)
