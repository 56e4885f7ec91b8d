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
_signal(33)
while true do flip() end
