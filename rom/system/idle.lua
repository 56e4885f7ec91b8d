-- The service process (pid 2): shows a frame and does nothing else.
while true do flip() end
