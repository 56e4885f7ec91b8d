-- String building: concatenation, formatting, patterns.
local s = ""
for i = 1, 200 do s = s .. (i % 10) end
print(string.len(s), s:sub(1, 25), s:sub(-5))

local parts = {}
for i = 1, 100 do parts[i] = string.format("%03d", i * 7 % 1000) end
print(table.concat(parts, ",", 1, 12))
print(table.concat(parts, "", 90))

print(string.format("%5.2f|%-6s|%x|%X|%o|%e|%g|%q|%%|%c", 3.14159, "ab", 255, 255, 8, 12345.678, 0.0001, "a\nb\"c", 65))
print(string.format("%10.4s|%+d|% d|%#x|%i", "abcdefg", 5, 5, 255, -3))
print(string.format("%q", 1 / 3), string.format("%q", 10), string.format("%q", math.mininteger))
print(("x"):rep(5), ("ab"):rep(3, "-"), ("z"):rep(0))
print(("Hello World"):upper(), ("Hello World"):lower(), ("abc"):reverse())
print(string.char(72, 105), string.byte("ABC", 2), ("%d"):format(2^31))

-- patterns
print(string.find("the quick brown fox", "quick"), string.find("a.b.c", ".", 1, true))
print(string.find("key = value", "(%w+)%s*=%s*(%w+)"))
print(string.match("2024-01-15", "(%d+)-(%d+)-(%d+)"))
print(string.match("  trim me  ", "^%s*(.-)%s*$") .. "|")
print(string.gsub("hello world", "o", "0"))
print(string.gsub("hello world", "(%w+)", "<%1>"))
print(string.gsub("abc", "%w", "%0%0"))
print(string.gsub("$name is $age", "%$(%w+)", {name = "Ann", age = 33}))
print(string.gsub("one two three", "%w+", function(w) return w:upper() end, 2))
local words = {}
for w in string.gmatch("alpha beta  gamma,delta", "%a+") do words[rawlen(words) + 1] = w end
print(table.concat(words, "|"))
for k, v in string.gmatch("a=1, b=2, c=3", "(%w+)=(%w+)") do kv_seen = (kv_seen or "") .. k .. v end
print(kv_seen)
print(string.find("abc", "b", -10), string.find("", ""), string.find("abc", "", 10))
print(("%bxy"):len(), string.find("f(a(b)c)d", "%b()"))
print(string.gsub("abc def", "%f[%w]%w+", "W"))

-- numbers and strings
print(10 .. 20, 1.5 .. "", -0.0 .. "", 2^63 .. "", math.mininteger .. "")
print("10" + 5, "3" * "4", "2" ^ 2, 10 // "3", "7" % 2, -"2")
print(tostring(1e15), tostring(1e16), tostring(0.1), tostring(-1e-300), tostring(2^53))
print(tonumber("0x10"), tonumber("  12  "), tonumber("1e2"), tonumber("z", 36), tonumber("10", 2), tonumber("abc"), tonumber(""))
print(math.tointeger(3.0), math.tointeger(3.5), math.type(1), math.type(1.0), math.type("1"))

-- utf8
print(utf8.char(72, 228, 8364, 128512), utf8.len("häll€"), utf8.codepoint("€"))
local cps = {}
for _, c in utf8.codes("aé€") do cps[rawlen(cps) + 1] = c end
print(table.concat(cps, " "))

-- a longer build
local buf = {}
for i = 1, 500 do
  buf[rawlen(buf) + 1] = (i % 3 == 0 and "fizz" or "") .. (i % 5 == 0 and "buzz" or "")
end
local joined = table.concat(buf)
print(string.len(joined), select(2, string.gsub(joined, "fizzbuzz", "")))
