-- Reads a host file through /host_data, then asks for the exit.
_printh("main: pid " .. pid())
_printh("main: " .. tostring(fetch("/host_data/x.txt")))
_signal(33)
while true do flip() end
