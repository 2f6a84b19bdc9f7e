#!/usr/bin/python3
"""Spectrum and filter benchmarks against their references, side by side.

Usage: bench_spectrum_scipy.py [BUILD_DIR] [ROUNDS]

- fft window 2 at N = 1024, 16384, 262144: bench/bench_spectrum runs the
  Morvel statement and FFTW (FFTW_MEASURE plan, transform of the windowed
  data) in the same process.
- filter with 8 sections over 10^6 samples: bench/bench_filter against
  scipy.signal.sosfilt with the same Butterworth design (butter(16, ...,
  output='sos'); the band pass has 16 second-order sections in scipy, 8
  fourth-order sections in Morvel).

Each round runs every case once; the best time over all rounds is kept for
each side (filters out the time the machine spends on other work). Ratios
are Morvel / reference for the fft (goal <= 3 from 16384 up) and
scipy / Morvel for the filter (goal >= 1).
"""
import json
import os
import subprocess
import sys
import time

import numpy as np
from scipy import signal

N_FILTER = 1_000_000


def bench(program, pattern):
    out = subprocess.run([program, "--benchmark_filter=" + pattern, "--benchmark_format=json",
                          "--benchmark_min_time=0.3"], check=True, capture_output=True, text=True).stdout
    times = {}
    for b in json.loads(out)["benchmarks"]:
        unit = {"ms": 1e-3, "us": 1e-6, "ns": 1e-9, "s": 1.0}[b["time_unit"]]
        times[b["run_name"].split("/min_time")[0]] = (b["real_time"] * unit, b.get("label", ""))
    return times


def scipy_time(sos, x, calls=5):
    signal.sosfilt(sos, x)
    best = None
    for _ in range(calls):
        t0 = time.perf_counter()
        signal.sosfilt(sos, x)
        t = time.perf_counter() - t0
        best = t if best is None else min(best, t)
    return best


def keep_best(best, times):
    for name, (t, label) in times.items():
        if name not in best or t < best[name][0]:
            best[name] = (t, label)


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else "build"
    rounds = int(sys.argv[2]) if len(sys.argv) > 2 else 3
    spectrum = os.path.join(build, "bench", "bench_spectrum")
    filt = os.path.join(build, "bench", "bench_filter")
    x = np.random.default_rng(1).uniform(-10.0, 10.0, N_FILTER)
    fs = 1.0 / float(np.float32(0.0001))
    designs = {
        "BM_FilterLow8": signal.butter(16, 500, "lowpass", fs=fs, output="sos"),
        "BM_FilterHigh8": signal.butter(16, 500, "highpass", fs=fs, output="sos"),
        "BM_FilterBand8": signal.butter(16, [300, 900], "bandpass", fs=fs, output="sos"),
    }
    fft_best, filter_best, scipy_best = {}, {}, {}
    for _ in range(rounds):
        keep_best(fft_best, bench(spectrum, "BM_MorvelFft/|BM_Fftw"))
        keep_best(filter_best, bench(filt, "."))
        for name, sos in designs.items():
            t = scipy_time(sos, x)
            scipy_best[name] = min(scipy_best.get(name, t), t)
    print(f"load average before the last round: {os.getloadavg()[0]:.2f} on {os.cpu_count()} cores, best of {rounds} rounds")
    print(f"{'fft window 2':<14} {'Morvel us':>10} {'FFTW us':>10} {'ratio':>7} {'FFTW+window us':>15} {'ratio':>7}")
    for n in (1024, 16384, 262144):
        m, label = fft_best[f"BM_MorvelFft/{n}"]
        f = fft_best[f"BM_Fftw/{n}"][0]
        fw = fft_best[f"BM_FftwWindowed/{n}"][0]
        print(f"N = {n:<10} {m * 1e6:10.1f} {f * 1e6:10.1f} {m / f:7.2f} {fw * 1e6:15.1f} {m / fw:7.2f}  ({label})")
    print(f"{'filter 8 sec.':<14} {'Morvel ms':>10} {'scipy ms':>10} {'scipy/Morvel':>13}")
    for name in designs:
        m, label = filter_best[name]
        s = scipy_best[name]
        print(f"{name[9:]:<14} {m * 1e3:10.2f} {s * 1e3:10.2f} {s / m:13.2f}  ({label})")


if __name__ == "__main__":
    main()
