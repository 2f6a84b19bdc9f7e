#pragma once
// Spectral analysis: the shared radix-2 transform (spectrum core) and the
// run and check routines of fft, ifft, revspec, betr, phase, real, im,
// konjc, complex, fftdev, noisesup and transf.
#include <cstdint>

#include "lang/routine.h"

namespace morvel::builtins {

using lang::CheckContext;
using lang::Operand;
using lang::RunContext;

// Run-time error numbers of this family.
inline constexpr int kErrSourceTooShort = 9;     // fewer samples than the transform needs
inline constexpr int kErrNotReal = 31;           // complex() of a complex source
inline constexpr int kErrNotComplex = 32;        // real/im/konjc of a real source
inline constexpr int kErrSameArray = 33;         // revspec into its own source
inline constexpr int kErrWindowNumberRange = 170;  // window number outside 0..6

namespace spectrum {

// Point counts the transform handles: 2^3 .. 2^18.
inline constexpr int kMinPoints = 8;
inline constexpr int kMaxPoints = 262144;
inline constexpr int kMaxInversePoints = 8192;
// transf: the largest transform (longer signals are refused).
inline constexpr int kMaxTransformPoints = 1 << 22;
inline constexpr int kWindowCount = 7;
// The value of pi the butterflies use.
inline constexpr double kPi = 3.1415926535;

bool isPowerOfTwo(int64_t n);

// Window weight w(k) of row `window` (0..6) for a transform of n points,
// computed as the window table writes it.
double windowWeight(int window, int k, int n);
// Scale factor c of row `window` for n points.
double windowScale(int window, int n);

// The spectrum core on n values (n a power of two, 2..kMaxTransformPoints), window
// 0..6. Reads n values from `src`: real samples (`complexSource` false,
// imaginary parts 0) or interleaved pairs (imaginary parts negated when
// `conjugate`). Windows them, permutes them by bit reversal and runs the
// radix-2 decimation in time; leaves the unscaled transform in re[0..n-1],
// im[0..n-1] (scratch of the calling thread, valid until its next call).
// Multiply by windowScale() for the scaled spectrum.
struct Transform {
  const double* re;
  const double* im;
};
Transform spectrumCore(const double* src, bool complexSource, bool conjugate, int n, int window);

// The same transform on split arrays in place, as the steps are written:
// window, bit reversal, butterflies with one cosine and sine per (stage, j),
// optional scaling. Slow; the tests compare the fast core with it.
void spectrumCoreReference(double* re, double* im, int n, int window, bool scale);

// Name of the butterfly kernel in use ("avx2" or "scalar").
const char* kernelName();
// Tests and benchmarks: force the scalar kernel.
void forceScalarKernel(bool on);

}  // namespace spectrum

void runFft(RunContext&, Operand*, int);
void runIfft(RunContext&, Operand*, int);
void runRevspec(RunContext&, Operand*, int);
void runBetr(RunContext&, Operand*, int);
void runPhase(RunContext&, Operand*, int);
void runReal(RunContext&, Operand*, int);
void runIm(RunContext&, Operand*, int);
void runKonjc(RunContext&, Operand*, int);
void runComplex(RunContext&, Operand*, int);
void runFftdev(RunContext&, Operand*, int);
void runNoisesup(RunContext&, Operand*, int);
void runTransf(RunContext&, Operand*, int);

// result a, source a, points (power of two 8..262144, fixes the
// compilation's point count), window (0, 1, 2, 3 or 6).
int checkFft(CheckContext&, const Operand*, int);
// result a, source a, points (power of two 8..8192, same point count).
int checkIfft(CheckContext&, const Operand*, int);
// betr, phase, real, im, konjc: source a.
int checkComplexSource(CheckContext&, const Operand*, int);
// complex: result a, two real-part arrays a.
int checkComplex(CheckContext&, const Operand*, int);

}  // namespace morvel::builtins
