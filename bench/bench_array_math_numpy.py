#!/usr/bin/python3
"""Whole-array statements against numpy on 10^7 samples, side by side in one run.

Usage: bench_array_math_numpy.py [BENCH_ARRAY_MATH] [ROUNDS]

BENCH_ARRAY_MATH is the benchmark program (default build/bench/bench_array_math).
For each case, round after round, the Morvel benchmark runs and then numpy
does the same work. Both sides measure the CPU time of the working thread
over batches of calls (mean per call) and keep the best batch over all
rounds, which filters out the time the machine spends on other work. Ratio = numpy time / Morvel time, so a ratio of 1 or
more means Morvel is no slower.
"""
import json
import os
import subprocess
import sys
import time

import numpy as np

N = 10_000_000

# Morvel benchmark name -> (statement, numpy work on arrays a, b, c)
CASES = [
    ("BM_Multiply", "a3 = a1 * a2", "c = a * b", lambda a, b, c: a * b),
    ("BM_Multiply", "a3 = a1 * a2", "np.multiply(a, b, out=c)", lambda a, b, c: np.multiply(a, b, out=c)),
    ("BM_Sin", "a2 = sin(a1)", "np.sin(a, out=b)", lambda a, b, c: np.sin(a, out=b)),
    ("BM_Exp", "a2 = exp(a1)", "np.exp(a, out=b)", lambda a, b, c: np.exp(a, out=b)),
    ("BM_Sqrt", "a2 = sqrt(a1)", "np.sqrt(p, out=b)", None),
    ("BM_Abs", "a2 = abs(a1)", "np.abs(a, out=b)", lambda a, b, c: np.abs(a, out=b)),
]


def morvel_time(program, name):
    out = subprocess.run(
        [program, "--benchmark_filter=^" + name + "/", "--benchmark_format=json", "--benchmark_min_time=0.2",
         "--benchmark_repetitions=5"],
        check=True, capture_output=True, text=True).stdout
    best = None
    implementation = ""
    for b in json.loads(out)["benchmarks"]:
        if b.get("run_type") != "iteration":
            continue
        unit = {"ms": 1e-3, "us": 1e-6, "ns": 1e-9, "s": 1.0}[b["time_unit"]]
        t = b["cpu_time"] * unit
        best = t if best is None else min(best, t)
        implementation = b.get("label", "")
    return best, implementation


def numpy_time(work, batches=5, calls=10):
    work()
    best = None
    for _ in range(batches):
        t0 = time.thread_time()
        for _ in range(calls):
            work()
        t = (time.thread_time() - t0) / calls
        best = t if best is None else min(best, t)
    return best


def main():
    program = sys.argv[1] if len(sys.argv) > 1 else os.path.join("build", "bench", "bench_array_math")
    rounds = int(sys.argv[2]) if len(sys.argv) > 2 else 3
    rng = np.random.default_rng(1)
    a = rng.uniform(-10.0, 10.0, N)
    b = rng.uniform(-10.0, 10.0, N)
    c = np.empty(N)
    p = np.abs(a)
    implementation = ""
    rows = []
    for name, statement, label, work in CASES:
        fn = (lambda: np.sqrt(p, out=b)) if work is None else (lambda work=work: work(a, b, c))
        m_best = n_best = None
        for _ in range(rounds):
            m, implementation = morvel_time(program, name)
            n = numpy_time(fn)
            m_best = m if m_best is None else min(m_best, m)
            n_best = n if n_best is None else min(n_best, n)
        rows.append((statement, m_best * 1e3, label, n_best * 1e3))
    print(f"{N} samples, best of {rounds} rounds, Morvel kernels: {implementation}, numpy {np.__version__}")
    print(f"{'Morvel statement':<16} {'CPU ms':>8}   {'numpy':<26} {'CPU ms':>8}   ratio numpy/Morvel")
    for statement, m, label, n in rows:
        print(f"{statement:<16} {m:8.2f}   {label:<26} {n:8.2f}   {n / m:6.2f}")


if __name__ == "__main__":
    main()
