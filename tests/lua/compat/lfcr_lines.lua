-- Written with LF CR line ends: line numbers must agree.
local function f(a, b)
  if a ~= b then
    return a // b, a ~ b
  end
  return [[
multi
line]]
end
--[[ comment
over lines ]]
local s = "a\
b"
return f(7, 2), s
