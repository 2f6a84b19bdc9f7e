#!/usr/bin/python3
# Reference results for the statistics cross-check, computed independently:
# sums and means with math.fsum, the standard deviation with numpy
# (ddof=1), central moments as sum((x - m)^k) / (n - 1), the geometric mean
# with scipy.stats.gmean of |x|, extremes and their positions with numpy,
# class shares with numpy's floor.
# Usage: statistics_reference.py INPUT OUTPUT
#   INPUT: little-endian float64 samples x (n), then y (n).
#   OUTPUT: float64 values in the order of NAMES, then the 13 class shares.
import math
import sys

import numpy as np
import scipy.stats

NAMES = ["sum", "mean", "stddev", "eff", "moment3", "zmoment3", "zmoment2", "gmean", "max", "min", "amp",
         "argmax", "argmin", "stddev_y", "mean_y", "moment2.5_y", "gmean_y"]


def main():
    data = np.fromfile(sys.argv[1], dtype="<f8")
    n = data.size // 2
    x, y = data[:n], data[n:]
    mean = math.fsum(x) / n
    results = {
        "sum": math.fsum(x),
        "mean": mean,
        "stddev": float(np.std(x, ddof=1)),
        "eff": math.sqrt(math.fsum(x * x) / (n - 1)),
        "moment3": math.fsum(x ** 3) / (n - 1),
        "zmoment3": math.fsum((x - mean) ** 3) / (n - 1),
        "zmoment2": math.fsum((x - mean) ** 2) / (n - 1),
        "gmean": float(scipy.stats.gmean(np.abs(x))),
        "max": float(np.max(x)),
        "min": float(np.min(x)),
        "amp": float(np.ptp(x)),
        "argmax": float(np.argmax(x)),
        "argmin": float(np.argmin(x)),
        "stddev_y": float(np.std(y, ddof=1)),
        "mean_y": math.fsum(y) / n,
        "moment2.5_y": math.fsum(y ** 2.5) / (n - 1),
        "gmean_y": float(scipy.stats.gmean(y)),
    }
    lower, upper, classes = -7.5, 8.25, 13
    width = (upper - lower) / classes
    k = np.floor((x - lower) / width)
    inside = k[(k >= 0) & (k < classes)].astype(np.int64)
    counts = np.bincount(inside, minlength=classes)
    shares = counts * 100.0 / inside.size
    with open(sys.argv[2], "wb") as out:
        np.array([results[name] for name in NAMES], dtype="<f8").tofile(out)
        shares.astype("<f8").tofile(out)


if __name__ == "__main__":
    main()
