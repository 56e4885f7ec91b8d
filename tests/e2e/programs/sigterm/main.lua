-- Changes a cartridge on the drive, then waits to be ended.
store("/saved.kiv/note.txt", "kept")
_printh("main: dirty")
while true do flip() end
