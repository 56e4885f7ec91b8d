-- A small program in everyday style: a class system, a serialiser, sorting
-- and a tokenizer.
local Class = {}
Class.__index = Class

function Class:extend(fields)
  local sub = setmetatable(fields or {}, self)
  sub.__index = sub
  sub.super = self
  return sub
end

function Class:new(...)
  local obj = setmetatable({}, self)
  if obj.init then obj:init(...) end
  return obj
end

local Shape = Class:extend({name = "shape"})
function Shape:init(w, h) self.w, self.h = w, h end
function Shape:area() return self.w * self.h end

local Square = Shape:extend({name = "square"})
function Square:init(s) Shape.init(self, s, s) end

local function serialise(v, indent)
  indent = indent or ""
  local kind = type(v)
  if kind == "table" then
    local keys = {}
    for k in pairs(v) do keys[#keys + 1] = k end
    local out = {"{"}
    for _, k in ipairs(keys) do
      out[#out + 1] = indent .. "  [" .. serialise(k) .. "] = " .. serialise(v[k], indent .. "  ") .. ","
    end
    out[#out + 1] = indent .. "}"
    return table.concat(out, "\n")
  elseif kind == "string" then
    return string.format("%q", v)
  else
    return tostring(v)
  end
end

local function insertion_sort(arr, less)
  less = less or function(p, q) return p < q end
  for i = 2, #arr do
    local v, j = arr[i], i - 1
    while j >= 1 and less(v, arr[j]) do
      arr[j + 1] = arr[j]
      j = j - 1
    end
    arr[j + 1] = v
  end
  return arr
end

local function tokenize(src)
  local tokens, pos = {}, 1
  while pos <= #src do
    local ch = src:sub(pos, pos)
    if ch:match("%s") then
      pos = pos + 1
    elseif ch:match("%d") then
      local num = src:match("^%d+%.?%d*", pos)
      tokens[#tokens + 1] = {kind = "number", value = tonumber(num)}
      pos = pos + #num
    elseif ch:match("[%a_]") then
      local word = src:match("^[%w_]+", pos)
      tokens[#tokens + 1] = {kind = "name", value = word}
      pos = pos + #word
    else
      tokens[#tokens + 1] = {kind = "symbol", value = ch}
      pos = pos + 1
    end
  end
  return tokens
end

local co = coroutine.wrap(function(n)
  for i = 1, n do coroutine.yield(i) end
  return "done"
end)

local ok, err = pcall(function() error({code = 42}) end)
local ok2, msg = pcall(error, "plain")

local sq = Square:new(4)
local sorted = insertion_sort({5, 3, 8, 1, 9, 2})
local toks = tokenize("x = 10 + y2 * 3.5")
print(sq:area(), sq.name, Shape.name, serialise({a = 1, b = {"x", true}}), table.concat(sorted, " "),
      #toks, co(3), co(), ok, err.code, ok2, msg)
