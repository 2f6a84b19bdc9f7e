#!/usr/bin/python3
# Reference results of numpy for the elementwise cross-check.
# Usage: numpy_elementwise.py INPUT OUTPUT
#   INPUT: little-endian float64 samples x (n), y (n) one after the other.
#   OUTPUT: for each function in FUNCTIONS, n float64 results, in that order.
import sys

import numpy as np

FUNCTIONS = ["abs", "sqrt", "pow", "sin", "cos", "tan", "asin", "acos", "atan", "atan2", "exp", "ln", "log"]


def main():
    data = np.fromfile(sys.argv[1], dtype="<f8")
    n = data.size // 2
    x, y = data[:n], data[n:]
    ax = np.abs(x)
    unit = np.clip(x / 25.0, -1.0, 1.0)
    results = {
        "abs": np.abs(x),
        "sqrt": np.sqrt(ax),
        "pow": np.power(ax, 1.7),
        "sin": np.sin(x),
        "cos": np.cos(x),
        "tan": np.tan(x),
        "asin": np.arcsin(unit),
        "acos": np.arccos(unit),
        "atan": np.arctan(x),
        "atan2": np.arctan2(x, y),
        "exp": np.exp(x),
        "ln": np.log(ax),
        "log": np.log10(ax),
    }
    with open(sys.argv[2], "wb") as out:
        for name in FUNCTIONS:
            results[name].astype("<f8").tofile(out)


if __name__ == "__main__":
    main()
