#!/usr/bin/python3
"""Reference values for the intpl cross-check.

Usage: filter_akima.py IN OUT T COUNT
IN holds n samples at spacing T. OUT receives COUNT doubles: the Akima
interpolant of scipy.interpolate.Akima1DInterpolator evaluated at
i * D * 0.99999 with D = (n - 1) * T / (COUNT - 1).
"""
import sys

import numpy as np
from scipy.interpolate import Akima1DInterpolator


def main():
    y = np.fromfile(sys.argv[1], dtype="<f8")
    period, count = float(sys.argv[3]), int(sys.argv[4])
    n = len(y)
    spline = Akima1DInterpolator(np.arange(n) * period, y)
    d = (n - 1) * period / (count - 1)
    u = np.arange(count) * d * 0.99999
    spline(u).astype("<f8").tofile(sys.argv[2])


if __name__ == "__main__":
    main()
