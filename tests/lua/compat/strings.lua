-- Strings: every standard escape, long strings and comments, concatenation.
local escapes = "\a\b\f\n\r\t\v\\\"\'"
local single = 'it\'s "quoted" \65\066\0677'
local hex = "\x41\x62\x7A\x00\xff\xFF"
local dec = "\0\1\12\123\255"
local utf = "\u{0}\u{41}\u{7FF}\u{FFFF}\u{10FFFF}\u{7FFFFFFF}"
local zap = "one \z
             two \z

             three"
local cont = "line one\
line two"
local empty, space = "", " "
local odd = "what? $100 @home %d *ptr !bang ^caret #hash |bar +plus -minus"

local long1 = [[
first line is skipped when it is just a newline
second ]] .. [[]]
local long2 = [==[
contains ]] and ]=] but not the closer
]==]
local long3 = [=[a
b]=]

--[[ a long
comment with ? and ! and \ ]]
--[==[ another
]] still inside
]==]
---[[ not a long comment: three dashes
local after = "after"
--]]

local parts = {}
for i = 1, 10 do parts[#parts + 1] = tostring(i) .. "," end
local joined = table.concat(parts)
local cat = "a" .. "b" .. 1 .. 2.5 .. "c" .. escapes .. single
local cat2 = ("x"):rep(3) .. ('y'):upper() .. [[z]]
local fmt = string.format("%d %5.2f %s %q %x", 42, 3.14159, "s", "q\n", 255)
local sub = ("hello world"):sub(1, 5):upper():lower()
local found = string.find("a+b", "+", 1, true)
local gs = ("a,b,,c"):gsub(",", ";")
local bytes = string.char(72, 105) .. string.byte("A")
local len = #"four" + #long1 + #escapes

print(escapes, single, hex, dec, utf, zap, cont, empty, space, odd, long1, long2, long3,
      after, joined, cat, cat2, fmt, sub, found, gs, bytes, len)
