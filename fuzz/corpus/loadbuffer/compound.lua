local t = {a = {b = 1}, 2, 3}
t.a.b += 1 t[1] -= 1 t[2] *= 2
local s = "x" s ..= "y" .. "z"
local n = 7 n /= 2 n %= 3 n ^= 2 n \= 1
local m = 0xff m &= 0x0f m |= 0x100 m ^^= 3 m <<= 2 m >>= 1
