-- Method calls: a small class hierarchy through metatables and __index.
local Point = {}
Point.__index = Point

function Point.new(x, y) return setmetatable({x = x, y = y}, Point) end
function Point:add(o) return Point.new(self.x + o.x, self.y + o.y) end
function Point:dot(o) return self.x * o.x + self.y * o.y end
function Point:scale(k) self.x = self.x * k self.y = self.y * k return self end

local Point3 = setmetatable({}, {__index = Point})
Point3.__index = Point3
function Point3.new(x, y, z)
  local p = Point.new(x, y)
  p.z = z
  return setmetatable(p, Point3)
end
function Point3:dot(o) return Point.dot(self, o) + self.z * o.z end

local acc = Point.new(0, 0)
local d = 0
for i = 1, 450000 do
  local p = Point.new(i, -i)
  acc = acc:add(p):scale(0.5)
  d = d + p:dot(acc)
end
local q = Point3.new(1, 2, 3)
for i = 1, 450000 do d = d + q:dot(q) + q:scale(1):dot(q) end
print(string.format("%.6g %.6g %.6g", acc.x, acc.y, d))
