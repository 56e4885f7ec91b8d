local a, b = 5, 3
print(a != b, a ~= b, a \ b, a // b, a ^^ b, ^^a, ~b)
print(@a, %a, $a, *a, @a ^ 2, %a % 3, *a * 2, -@a, @@a)
local x = ? "printed"
print(0b101, 0B11, -0b1, 0b1.1, 0x1b, "\*\#\-\|\+\^")
