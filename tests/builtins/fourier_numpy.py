#!/usr/bin/python3
"""Reference spectra for the fft cross-check.

Usage: fourier_numpy.py IN OUT
IN holds 65536 little-endian doubles x. For N = 8, 16, ..., 65536 and each
window 0..6 (in that order) OUT receives N complex values (re, im pairs of
doubles): numpy's FFT of x[:N] weighted by the window table, times the
window's scale factor.
"""
import sys

import numpy as np


def weights(window, n):
    k = np.arange(n, dtype=np.float64)
    x = k / n
    c = np.cos
    if window == 0:
        return np.ones(n)
    if window == 1:
        h = n // 2
        return np.where(k < h, k / h, (n - k) / h)
    if window == 2:
        return 0.5 - 0.5 * c(6.28318 * x)
    if window == 3:
        return 0.54 - 0.46 * c(6.28318 * x)
    if window == 4:
        return 0.42659071 - 0.2482803 * c(6.28318 * x) + 0.03842433 * c(12.56636 * x)
    if window == 5:
        return (1 - 1.93 * c(6.28318 * x) + 1.29 * c(12.56636 * x) - 0.388 * c(18.84954 * x)
                + 0.0322 * c(25.13272 * x))
    return (0.323215218 - 0.471492057 * c(6.28318 * x) + 0.17553428 * c(12.56636 * x)
            - 0.028497078 * c(18.84954 * x) + 0.001261367 * c(25.13272 * x))


SCALE = [2.0, 4.0, 4.0, 3.7, 4.69252, 2.0, 2.0 * 3.093914]


def main():
    x = np.fromfile(sys.argv[1], dtype="<f8")
    with open(sys.argv[2], "wb") as out:
        n = 8
        while n <= 65536:
            for window in range(7):
                spectrum = np.fft.fft(x[:n] * weights(window, n)) * (SCALE[window] / n)
                pairs = np.empty(2 * n)
                pairs[0::2] = spectrum.real
                pairs[1::2] = spectrum.imag
                out.write(pairs.astype("<f8").tobytes())
            n *= 2


if __name__ == "__main__":
    main()
