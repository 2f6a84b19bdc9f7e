#!/usr/bin/python3
"""Reference outputs for the filter cross-check.

Usage: filter_scipy.py IN OUT CASE...
IN holds the input samples (little-endian doubles). Each CASE is
"type,sections,fc1,fc2,T" (type 0 low, 1 high, 2 band pass). OUT receives,
case after case, scipy.signal.sosfilt of the input through
butter(2 * sections, fc, btype, fs=1/T, output='sos'), from zero state.
"""
import sys

import numpy as np
from scipy import signal


def main():
    x = np.fromfile(sys.argv[1], dtype="<f8")
    with open(sys.argv[2], "wb") as out:
        for case in sys.argv[3:]:
            kind, sections, fc1, fc2, period = case.split(",")
            kind, sections = int(kind), int(sections)
            fc1, fc2, period = float(fc1), float(fc2), float(period)
            btype = ["lowpass", "highpass", "bandpass"][kind]
            wn = [fc1, fc2] if kind == 2 else fc1
            sos = signal.butter(2 * sections, wn, btype, fs=1.0 / period, output="sos")
            out.write(signal.sosfilt(sos, x).astype("<f8").tobytes())


if __name__ == "__main__":
    main()
