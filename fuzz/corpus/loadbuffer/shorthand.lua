local i = 0
while (i < 10) i += 1
if (i == 10) ? "ten", i else ? "not"
if (i > 3) if (i < 20) print(i)
local function f(x) if (x) return 1 end
for j = 1, 3 do if (j == 2) break
end
