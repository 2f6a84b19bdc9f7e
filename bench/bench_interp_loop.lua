-- The Lua side of benchmark 1 of bench_interp: a loop of 10^7 iterations over
-- v1 = v1 + v2 with local variables. Prints the best CPU time per iteration
-- of `rounds` runs in nanoseconds.
local n = 10000000
local rounds = tonumber(arg and arg[1]) or 5
local best = math.huge
for _ = 1, rounds do
  local t = os.clock()
  local v1, v2 = 0, 1
  for i = 1, n do
    v1 = v1 + v2
  end
  local spent = os.clock() - t
  if v1 ~= n then error("wrong sum") end
  if spent < best then best = spent end
end
print(string.format("%.3f", best * 1e9 / n))
