-- Typed-array operations end to end: arrays from pod texts, each result
-- printed as pod text.
local function show(label, v) _printh("typed: " .. label .. " " .. pod(v)) end

local a = unpod('userdata("u8",4,"c8ff0a01")')
local b = unpod('userdata("u8",4,"64020a05")')
show("add", a + b)

local run = unpod('userdata("i32",5,"0000000100000002000000030000000400000005")')
run:add(run, true, 0, 1)
show("running", run)

local src = unpod('userdata("i16",4,"000a0014001e0028")')
local idx = unpod('userdata("i32",3,"000000030000000000000002")')
show("take", src:take(idx))

local t = unpod('userdata("f64",3,4,"1,0,0,0,2,0,0,0,3,10,20,30")')
local p = unpod('userdata("f64",3,"1,1,1")')
show("point", p:matmul3d(t))

local rows = unpod('userdata("i32",2,3,"000000010000001e000000020000000a0000000300000014")')
show("sorted", rows:sort(1))
show("rows", rows)
-- Every method, on arrays long enough for the vector loops, at every type:
-- one digest of all the results, the same on every processor.
local seen, n = {}, 0
local function keep(...)
  for i = 1, select("#", ...) do seen[#seen + 1] = pod((select(i, ...))) or "-" end
  n = n + 1
end
local function filled(ty, w, h, k)
  local u = h and userdata(ty, w, h) or userdata(ty, w)
  for i = 0, #u - 1 do u[i] = ((i * k + 7) % 61) - (ty == "u8" and 0 or 20) end
  return u
end
for _, ty in ipairs({"u8", "i16", "i32", "i64", "f64"}) do
  local a, b = filled(ty, 67, 3, 5), filled(ty, 67, 3, 11)
  for _, m in ipairs({"add", "sub", "mul", "div", "idiv", "mod", "pow", "band", "bor", "bxor", "shl", "shr",
                      "max", "min"}) do
    keep(pcall(a[m], a, b))
    keep(pcall(a[m], a, 3))
    keep(pcall(a[m], a, b, true, 0, 1, 20, 67, 67, 3))
  end
  for _, m in ipairs({"abs", "sgn", "sgn0", "clear", "transpose", "magnitude", "lerp"}) do keep(pcall(a[m], filled(ty, 67, 3, 3))) end
  keep(a + b, a - b, a * b, a / b, a \ b, a % b, a ^ 2, a & b, a | b, a ~ b, a << 2, a >> 1, #a, tostring(a):match("^%a+"))
  keep(a:convert("f64"), a:convert("u8"), a:copy(), a:copy(filled(ty, 30, 1, 2), true, 5, 7, 4))
  keep(a:take(filled("i32", 40, 1, 13)), a:row(1), a:column(5), a:width(), a:height(), a:attribs())
  keep(a:get(3, 2, 9), a:set(3, 2, 7, 8, 9), a[4], a:blit(filled(ty, 67, 3, 7), 2, 1, 0, 0, 30, 2))
  local s = filled(ty, 67, 3, 17) s:sort() keep(s, filled(ty, 4, 40, 19):sort(1, true))
  local m = filled(ty, 67, 3, 3) m:mutate(ty, 3, 67) keep(m)
end
local f, g = filled("f64", 24, 24, 7), filled("f64", 24, 24, 5)
keep(f:matmul(g), f:matmul(g, true), f:matmul(f, true), f:dot(g), f:distance(g), f:transpose(true))
keep(filled("f64", 3, 1, 2):cross(filled("f64", 3, 1, 5)), filled("f64", 3, 1, 1):matmul3d(filled("f64", 3, 4, 3)),
     filled("f64", 2, 1, 1):matmul2d(filled("f64", 2, 3, 3)))
local p = filled("u8", 64, 1, 3) p:poke(0x80000, 0, 64) keep(p:peek(0x80000, 0, 64), p:peek(0x80000))
_printh("typed: every method " .. n .. " " .. _md5(table.concat(seen, ";")))
_signal(33)
while true do flip() end
