local s = [[
long
]] if (true) ? s
print(1)? 2
? 3