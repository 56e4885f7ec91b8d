local function fib(n) if n < 2 then return n end return fib(n-1) + fib(n-2) end
local t = setmetatable({}, {__index = function(_, k) return k * 2 end})
for i = 1, 10, 2 do t[i] = i end
goto done
::done::
return fib(10), t[3], 7 // 2, 7 % -3, 1 << 3, ~5, "\x41\u{48}\z
   end"
