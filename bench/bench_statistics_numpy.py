#!/usr/bin/python3
"""Statistics statements against numpy on 10^7 samples, side by side in one run.

Usage: bench_statistics_numpy.py [BENCH_STATISTICS] [ROUNDS] [CASES]

BENCH_STATISTICS is the benchmark program (default build/bench/bench_statistics);
CASES a regular expression of the case names to run (default all), e.g.
'sum|mean' for the sums and means.
Each round runs every Morvel statement once (Google Benchmark, mean per call
over at least 0.3 s) and then the numpy work for each (the same way), so both
sides see the same machine load. The medians over the rounds are compared,
in elapsed time and in processor time of the process. Ratio = Morvel time /
numpy time: 1.5 or less meets the goal. "best" compares each side's fastest
round (on a shared machine the least disturbed one). The load average is
printed before and after.
"""
import json
import os
import re
import statistics
import subprocess
import sys
import time

import numpy as np
import scipy.stats

N = 10_000_000


def numpy_cases(x):
    n = x.size
    x20 = x + 20.0
    return [
        ("sum", "v1 = sum(a1)", "np.sum(x)", lambda: np.sum(x)),
        ("mean", "v1 = mean(a1)", "np.mean(x)", lambda: np.mean(x)),
        ("sum_offset", "v1 = sum(a1), a1 in 10..30", "np.sum(x + 20)", lambda: np.sum(x20)),
        ("mean_offset", "v1 = mean(a1), a1 in 10..30", "np.mean(x + 20)", lambda: np.mean(x20)),
        ("max", "v1 = max(a1)", "np.max(x)", lambda: np.max(x)),
        ("min", "v1 = min(a1)", "np.min(x)", lambda: np.min(x)),
        ("amp", "v1 = amp(a1)", "np.ptp(x)", lambda: np.ptp(x)),
        ("eff", "v1 = eff(a1)", "sqrt(np.sum(x*x)/(n-1))", lambda: np.sqrt(np.sum(x * x) / (n - 1))),
        ("eff", "v1 = eff(a1)", "sqrt(np.dot(x,x)/(n-1))", lambda: np.sqrt(np.dot(x, x) / (n - 1))),
        ("stddev", "v1 = stddev(a1)", "np.std(x, ddof=1)", lambda: np.std(x, ddof=1)),
        ("moment2", "v1 = moment(a1, 2)", "np.sum(x**2)/(n-1)", lambda: np.sum(x ** 2) / (n - 1)),
        ("moment3", "v1 = moment(a1, 3)", "np.sum(x**3)/(n-1)", lambda: np.sum(x ** 3) / (n - 1)),
        ("zmoment3", "v1 = zmoment(a1, 3)", "np.sum((x-x.mean())**3)/(n-1)",
         lambda: np.sum((x - np.mean(x)) ** 3) / (n - 1)),
        ("gmean", "v1 = gmean(a1)", "scipy.stats.gmean(np.abs(x))", lambda: scipy.stats.gmean(np.abs(x))),
        ("maxiy", "maxiy(a1, i1, v1)", "i = np.argmax(x); x[i]", lambda: x[np.argmax(x)]),
        ("maxxy", "maxxy(a1, v1, v2)", "i = np.argmax(x); x[i]", lambda: x[np.argmax(x)]),
        ("quant", "a2 = quant(a1, -10, 10, 100)", "np.histogram(x, 100, (-10, 10))",
         lambda: np.histogram(x, 100, (-10.0, 10.0))),
        ("trigger", "a2 = trigger(a1, 9)", "np.flatnonzero((x[1:]>9)&(x[:-1]<=9))+1",
         lambda: np.flatnonzero((x[1:] > 9) & (x[:-1] <= 9)) + 1),
        ("delminmax", "a2 = delminmax(a1, 1, 1)", "np.sort(x)[1:-1]", lambda: np.sort(x)[1:-1]),
    ]


def morvel_round(program, cases):
    out = subprocess.run([program, f"--benchmark_filter=^Stat/({cases})/", "--benchmark_format=json",
                          "--benchmark_min_time=0.3"], check=True, capture_output=True, text=True).stdout
    times = {}
    for b in json.loads(out)["benchmarks"]:
        unit = {"ms": 1e-3, "us": 1e-6, "ns": 1e-9, "s": 1.0}[b["time_unit"]]
        name = b["name"].split("/")[1]
        times[name] = (b["real_time"] * unit, b["cpu_time"] * unit)
    return times


def numpy_time(work, min_time=0.3):
    work()
    calls = 0
    r0, c0 = time.perf_counter(), time.process_time()
    while True:
        work()
        calls += 1
        r, c = time.perf_counter() - r0, time.process_time() - c0
        if r >= min_time:
            return r / calls, c / calls


def main():
    program = sys.argv[1] if len(sys.argv) > 1 else os.path.join("build", "bench", "bench_statistics")
    rounds = int(sys.argv[2]) if len(sys.argv) > 2 else 3
    wanted = sys.argv[3] if len(sys.argv) > 3 else ".*"
    load_before = os.getloadavg()
    x = np.random.default_rng(1).uniform(-10.0, 10.0, N)
    cases = [c for c in numpy_cases(x) if re.fullmatch(wanted, c[0])]
    morvel = {}
    numpy = [[] for _ in cases]
    for _ in range(rounds):
        for name, t in morvel_round(program, wanted).items():
            morvel.setdefault(name, []).append(t)
        for k, (_, _, _, work) in enumerate(cases):
            numpy[k].append(numpy_time(work))
    load_after = os.getloadavg()

    def median(pairs, i):
        return statistics.median(p[i] for p in pairs)

    print(f"{N} samples, medians of {rounds} interleaved rounds, numpy {np.__version__}, "
          f"{os.cpu_count()} processors, load average {load_before[0]:.2f} before, {load_after[0]:.2f} after")
    print(f"{'Morvel statement':<30} {'ms':>8} {'cpu ms':>8}   {'numpy':<42} {'ms':>8} {'cpu ms':>8}"
          f"   {'ratio':>6} {'cpu ratio':>9} {'best':>6}")
    for k, (name, statement, label, _) in enumerate(cases):
        m_real, m_cpu = median(morvel[name], 0), median(morvel[name], 1)
        n_real, n_cpu = median(numpy[k], 0), median(numpy[k], 1)
        best = min(p[0] for p in morvel[name]) / min(p[0] for p in numpy[k])
        print(f"{statement:<30} {m_real * 1e3:8.2f} {m_cpu * 1e3:8.2f}   {label:<42} {n_real * 1e3:8.2f} "
              f"{n_cpu * 1e3:8.2f}   {m_real / n_real:6.2f} {m_cpu / n_cpu:9.2f} {best:6.2f}")


if __name__ == "__main__":
    main()
