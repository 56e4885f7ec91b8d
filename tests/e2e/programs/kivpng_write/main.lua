-- Makes an image cartridge in the host folder with a program and its label
-- text, then asks for the exit, which writes the cartridge.
mkdir("/host_data/c.kiv.png")
store("/host_data/c.kiv.png/main.lua", "print('hello')", '--[[pod_format="raw"]]')
store("/host_data/c.kiv.png/.info.pod", "x", '--[[pod,title="Hello",author="amy",version="1.0"]]')
_printh("main: stored")
_signal(33)
while true do flip() end
