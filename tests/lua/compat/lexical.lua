-- Tokens written tightly or oddly: operators touching operands, comments
-- after minus signs, every standard multi-character symbol.
local a,b,c=1,2,3
local d=a-b-c
local e=a- -b
local f=a-(-b)
local g=a--[[comment between]]-b
local h=a --comment to end of line
-b
local i=-a^2
local j=2^-a
local k=a*-b
local l=a%-b
local m=a//-b
local n=a/-b
local o=a~=b
local p=a~b
local q=~a
local r=a~~b
local s=a<=b
local t1=a>=b
local u=a<<b
local v=a>>b
local w=a==b
local x=a..b
local y=a .. b
local z=1 .. 2
local t={}
t[#t+1]=a
local aa=#t*2
local ab=a%#t
local ac=a*#t
local ad=not not a
local ae=(a)
local af=((a))
local function ag(...)return...end
local ah=ag{1,2}
local ai=ag"str"
local aj=ag[[long]]
local ak=ag[==[long]==]
local al=t and t[1]or nil
local am=("s"):rep(2)
local an=[[a]]..[[b]]
local ao=a>b==false
local ap=a<b~=true
local aq=a&b|c~a
local ar=a>>1<<1
local as=1//1%1*1/1
local at=a;local au=b;;;
local av=0x10-0x1
local aw=0xep1
local ax=0xE+1
local ay=1e1-1
local az=3-3e-1
local ba=.1+.2
local bb=a.. --[[x]] b
local bc={[a]=b;[b]=a,}
goto l1
::l1::
do local _ENV={print=print}x1=1 end
local bd="?"
local be='!='
local bf="\\"
local bg="@$%*"
-- a comment with ? ! \ @ $ += -= ^^ != and more
print(d,e,f,g,h,i,j,k,l,m,n,o,p,q,r,s,t1,u,v,w,x,y,z,aa,ab,ac,ad,ae,af,ah,ai,aj,ak,al,am,an,ao,ap,aq,ar,as,at,au,av,aw,ax,ay,az,ba,bb,bc,bd,be,bf,bg)
