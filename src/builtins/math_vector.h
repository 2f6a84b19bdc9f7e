#pragma once
// Elementwise functions over sample blocks. On processors
// with AVX-512 or AVX2 the glibc vector math library computes eight or four
// samples per call (at most 4 ulp from the exact result); elsewhere the
// scalar C library does. The implementation is chosen once, at start-up.
//
// Every routine reads src[i] before it writes dst[i] and goes in increasing
// index order, so dst may be the same buffer as src.
#include <cstdint>

namespace morvel::builtins::vec {

enum class Unary { Sin, Cos, Tan, Asin, Acos, Atan, Exp, Ln, Log10, Abs, Sqrt, Signum, Pos, Neg };
// Signum: 1, -1, or 0 (also for NaN). Pos: the sample if >= 0, else 0 (NaN
// gives 0). Neg: the sample if <= 0, else 0.

void apply(Unary fn, const double* src, double* dst, int64_t n);
// dst[i] = atan2(y[i], x[i]).
void atan2(const double* y, const double* x, double* dst, int64_t n);
// dst[i] = pow(base[i], exponent), by the C library (within 1 ulp).
void pow(const double* base, double exponent, double* dst, int64_t n);

// True when a sample is negative or not a number (sqrt refuses those).
bool anyNegativeOrNaN(const double* src, int64_t n);

// Name of the implementation in use ("avx512", "avx2" or "scalar").
const char* implementation();
// Tests and benchmarks: force the scalar C library (true) or go back to the
// start-up choice (false).
void forceScalar(bool on);

}  // namespace morvel::builtins::vec
