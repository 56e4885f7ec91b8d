-- pcall and error: levels, error objects, nesting, messages naming variables.
local function thrower(kind)
  if kind == "string" then error("plain message")
  elseif kind == "level2" then error("blame the caller", 2)
  elseif kind == "nolevel" then error("no position", 0)
  elseif kind == "table" then error({reason = "tbl", n = 3})
  elseif kind == "nil" then error(nil)
  elseif kind == "number" then error(42)
  end
  return "no error"
end
for _, k in ipairs({"string", "level2", "nolevel", "table", "nil", "number", "none"}) do
  local ok, e = pcall(thrower, k)
  if type(e) == "table" then e = e.reason .. e.n end
  print(k, ok, tostring(e))
end

-- runtime errors and their messages
local cases = {
  function() local a; return a.b end,
  function() local t = {} ; return t.x.y end,
  function() return 1 + {} end,
  function() local s = "x"; return s + 1 end,
  function() return #nil end,
  function() undefinedglobal() end,
  function() local t = setmetatable({}, {__index = function(t, k) error("no field " .. k) end}); return t.foo end,
  function() return ("abc"):nosuchmethod() end,
  function() return 1 < "2" end,
  function() return {} .. "x" end,
  function() local x <const> = 1; return math.floor("a") end,
  function() return string.rep() end,
  function() return 2^53 | 0 end,
  function() return 1.5 // 0 end,
  function() return 1 // 0, 1 % 0 end,
}
for i, f in ipairs(cases) do
  print(i, pcall(f))
end

-- nested pcall, rethrow, error in error values
local function level3() error("deep") end
local function level2() local ok, e = pcall(level3); error("rethrown: " .. e, 0) end
print(pcall(level2))
print(pcall(pcall, error, "x"))
print(select("#", pcall(error)))
print(pcall(function() assert(false) end))
print(pcall(function() assert(nil, "custom assert") end))
print(pcall(function() assert(1 == 1, "unused") return "passed" end))

-- errors inside loops with pcall, counting
local fails = 0
for i = 1, 200 do
  local ok = pcall(function() if i % 7 == 0 then error("seven") end return i end)
  if not ok then fails = fails + 1 end
end
print("fails", fails)

-- tostring of error positions across lines
local ok, e = pcall(function()
  local t = {}
  local u = t.missing
  return u.again
end)
print(ok, e)
