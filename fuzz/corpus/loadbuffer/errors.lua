if (a) b() elseif (c) d()
x //= 2
a >>>= 1
local k <const> = 1 k += 1
? 1 2
