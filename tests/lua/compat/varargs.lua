-- Varargs, multiple results, open calls, tail calls.
local function pack(...) return {n = select("#", ...), ...} end
local function three() return 1, 2, 3 end
local function none() end
local function id(...) return ... end
local function first(a) return a end

local p = pack(three())
local q = pack(three(), three())
local r = pack((three()))
local s = {three(), three()}
local t = {three(), nil}
local u = {id(1, nil, 3)}

local function sum(...)
  local total = 0
  for i = 1, select("#", ...) do
    total = total + (select(i, ...) or 0)
  end
  return total
end

local function tail(n, acc)
  if n == 0 then return acc end
  return tail(n - 1, acc + n)
end

local function forward(f, ...) return f(...) end
local function args(...)
  local a, b, c = ...
  local all = {...}
  local cnt = #{...}
  return a, b, c, #all, cnt
end

local function varmix(a, b, ...)
  local extra = table.pack(...)
  return a, b, extra.n, ...
end

print(p.n, q.n, r.n, #s, #t, #u, sum(1, 2, 3, nil, 5), tail(100, 0),
      forward(three), first(three()), none(), args(4, 5), varmix(1, 2, 3, 4, 5))
print(table.unpack({1, 2, 3}))
print(select(-1, 1, 2, 3), select(2, "a", "b", "c"))
return id(three())
