#!/usr/bin/env bash
# Runs the interpreter benchmarks (bench_interp) and lua5.4 on the same loop
# in one invocation and prints the ratios:
#   1. ForLoopAdd: Morvel CPU time per iteration / Lua's (goal <= 1)
#   2. ThreeCounters statements per second / ForLoopAdd's (goal >= 0.5)
#   3. AppendFloat time per statement / ForLoopAdd's (goal <= 1.5)
# Usage: bench/bench_interp_lua.sh [BUILD_DIR]   (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${1:-${BUILD_DIR:-build}}
bench="$BUILD_DIR/bench/bench_interp"
if [ ! -x "$bench" ]; then echo "$bench is not built" >&2; exit 1; fi
if ! command -v lua5.4 >/dev/null; then echo "lua5.4 is not installed (Debian package lua5.4)" >&2; exit 1; fi

json=$(mktemp)
trap 'rm -f "$json"' EXIT
lua_before=$(lua5.4 bench/bench_interp_loop.lua 5)
"$bench" --benchmark_repetitions=5 --benchmark_report_aggregates_only=false \
  --benchmark_format=json >"$json" 2>/dev/null
lua_after=$(lua5.4 bench/bench_interp_loop.lua 5)

/usr/bin/python3 - "$json" "$lua_before" "$lua_after" <<'PY'
import json, sys
data = json.load(open(sys.argv[1]))
lua = min(float(sys.argv[2]), float(sys.argv[3]))
best = {}
for b in data["benchmarks"]:
    if b.get("run_type") != "iteration":
        continue
    name = b["run_name"] if "run_name" in b else b["name"]
    cur = best.get(name)
    if cur is None or b["cpu_time"] < cur["cpu_time"]:
        best[name] = b
def ms(b):  # CPU time of one run in ms
    unit = {"ms": 1.0, "us": 1e-3, "ns": 1e-6, "s": 1e3}[b["time_unit"]]
    return b["cpu_time"] * unit
loop = best["ForLoopAdd"]
loop_iter_ns = ms(loop) * 1e6 / 1e7
loop_stmt_ns = loop_iter_ns / 2
loop_rate = 1e9 / loop_stmt_ns
three_rate = best["ThreeCounters"]["statements_per_s"]
append_stmt_ns = ms(best["AppendFloat"]) * 1e6 / 2e6
print(f"1. for-next over v1 = v1 + v2, 10^7 iterations: Morvel {loop_iter_ns:.2f} ns/iteration "
      f"({loop_stmt_ns:.2f} ns/statement), lua5.4 {lua:.2f} ns/iteration; ratio Morvel/Lua = {loop_iter_ns / lua:.2f}")
print(f"2. three cyclic counters: {three_rate / 1e6:.1f} M statements/s against {loop_rate / 1e6:.1f} M/s of 1; "
      f"ratio = {three_rate / loop_rate:.2f} (goal >= 0.5)")
print(f"3. a1 &= v1, 10^6 times: {append_stmt_ns:.2f} ns/statement against {loop_stmt_ns:.2f} of 1; "
      f"ratio = {append_stmt_ns / loop_stmt_ns:.2f} (goal <= 1.5)")
PY
