-- Fetches the three addresses the driver wrote and prints each result as it
-- arrives, then asks for the exit.
local urls = {}
for line in fetch("/host_data/urls.txt"):gmatch("[^\n]+") do urls[#urls + 1] = line end

local jobs = {}
for i = 1, #urls do jobs[i] = _fetch_remote(urls[i]) end

local left = #jobs
local frames = 0
while left > 0 and frames < 600 do
	for i = 1, #jobs do
		if jobs[i] then
			local n = select('#', _fetch_remote_result(jobs[i]))
			if n > 0 then
				local v, _, err = _fetch_remote_result(jobs[i])
				if type(v) == "table" then
					_printh("fetch " .. i .. ": table a=" .. tostring(v.a) .. " b=" .. tostring(v.b))
				else
					_printh("fetch " .. i .. ": " .. tostring(v or err))
				end
				jobs[i] = nil
				left = left - 1
			end
		end
	end
	frames = frames + 1
	flip()
end
_printh("fetch: done")
_signal(33)
