// Elementwise transcendental functions: glibc's vector math library when the
// processor has AVX-512 or AVX2, else the scalar C library.
//
// The vector variants follow the x86-64 vector function ABI names
// (_ZGVeN8v_sin: AVX-512, eight doubles; _ZGVdN4v_sin: AVX2, four doubles).
// They are declared here rather than reached through `#pragma omp simd` and
// -ffast-math, so the rest of the arithmetic keeps strict IEEE semantics.
#include "builtins/math_vector.h"

#include <cmath>

#if defined(MORVEL_HAVE_MVEC) && defined(__x86_64__)
#include <immintrin.h>
#define MORVEL_VECTOR_KERNELS 1
#endif

namespace morvel::builtins::vec {

namespace {

using UnaryKernel = void (*)(const double*, double*, int64_t);
using BinaryKernel = void (*)(const double*, const double*, double*, int64_t);
using PowKernel = void (*)(const double*, double, double*, int64_t);

constexpr int kUnaryCount = 9;

struct Kernels {
  const char* name;
  UnaryKernel unary[kUnaryCount];  // in the order of enum Unary
  BinaryKernel atan2;
  // The vector library's pow is up to 2 ulp off; the C library's is within
  // one, so pow stays scalar everywhere.
  PowKernel pow;
};

// --- scalar C library -----------------------------------------------------------

template <double (*F)(double)>
void scalarUnary(const double* s, double* d, int64_t n) {
  for (int64_t i = 0; i < n; ++i) d[i] = F(s[i]);
}

double sinC(double x) { return std::sin(x); }
double cosC(double x) { return std::cos(x); }
double tanC(double x) { return std::tan(x); }
double asinC(double x) { return std::asin(x); }
double acosC(double x) { return std::acos(x); }
double atanC(double x) { return std::atan(x); }
double expC(double x) { return std::exp(x); }
double logC(double x) { return std::log(x); }
double log10C(double x) { return std::log10(x); }

void scalarAtan2(const double* y, const double* x, double* d, int64_t n) {
  for (int64_t i = 0; i < n; ++i) d[i] = std::atan2(y[i], x[i]);
}

void scalarPow(const double* b, double e, double* d, int64_t n) {
  for (int64_t i = 0; i < n; ++i) d[i] = std::pow(b[i], e);
}

constexpr Kernels kScalar{
    "scalar",
    {scalarUnary<sinC>, scalarUnary<cosC>, scalarUnary<tanC>, scalarUnary<asinC>, scalarUnary<acosC>,
     scalarUnary<atanC>, scalarUnary<expC>, scalarUnary<logC>, scalarUnary<log10C>},
    scalarAtan2,
    scalarPow,
};

#ifdef MORVEL_VECTOR_KERNELS

// The kernels process full vectors and then the remainder in a zero-padded
// block of one vector, so every sample goes through the same routine.

#pragma GCC push_options
#pragma GCC target("avx512f")

extern "C" {
__m512d _ZGVeN8v_sin(__m512d);
__m512d _ZGVeN8v_cos(__m512d);
__m512d _ZGVeN8v_tan(__m512d);
__m512d _ZGVeN8v_asin(__m512d);
__m512d _ZGVeN8v_acos(__m512d);
__m512d _ZGVeN8v_atan(__m512d);
__m512d _ZGVeN8v_exp(__m512d);
__m512d _ZGVeN8v_log(__m512d);
__m512d _ZGVeN8v_log10(__m512d);
__m512d _ZGVeN8vv_atan2(__m512d, __m512d);
}

template <__m512d (*F)(__m512d)>
void unary512(const double* s, double* d, int64_t n) {
  int64_t i = 0;
  for (; i + 8 <= n; i += 8) _mm512_storeu_pd(d + i, F(_mm512_loadu_pd(s + i)));
  if (i < n) {
    const auto mask = static_cast<__mmask8>((1u << (n - i)) - 1u);
    const __m512d x = _mm512_maskz_loadu_pd(mask, s + i);
    _mm512_mask_storeu_pd(d + i, mask, F(x));
  }
}

void atan2_512(const double* y, const double* x, double* d, int64_t n) {
  int64_t i = 0;
  for (; i + 8 <= n; i += 8)
    _mm512_storeu_pd(d + i, _ZGVeN8vv_atan2(_mm512_loadu_pd(y + i), _mm512_loadu_pd(x + i)));
  if (i < n) {
    const auto mask = static_cast<__mmask8>((1u << (n - i)) - 1u);
    const __m512d r = _ZGVeN8vv_atan2(_mm512_maskz_loadu_pd(mask, y + i), _mm512_maskz_loadu_pd(mask, x + i));
    _mm512_mask_storeu_pd(d + i, mask, r);
  }
}

const Kernels kAvx512{
    "avx512",
    {unary512<_ZGVeN8v_sin>, unary512<_ZGVeN8v_cos>, unary512<_ZGVeN8v_tan>, unary512<_ZGVeN8v_asin>,
     unary512<_ZGVeN8v_acos>, unary512<_ZGVeN8v_atan>, unary512<_ZGVeN8v_exp>, unary512<_ZGVeN8v_log>,
     unary512<_ZGVeN8v_log10>},
    atan2_512,
    scalarPow,
};

#pragma GCC pop_options

#pragma GCC push_options
#pragma GCC target("avx2")

extern "C" {
__m256d _ZGVdN4v_sin(__m256d);
__m256d _ZGVdN4v_cos(__m256d);
__m256d _ZGVdN4v_tan(__m256d);
__m256d _ZGVdN4v_asin(__m256d);
__m256d _ZGVdN4v_acos(__m256d);
__m256d _ZGVdN4v_atan(__m256d);
__m256d _ZGVdN4v_exp(__m256d);
__m256d _ZGVdN4v_log(__m256d);
__m256d _ZGVdN4v_log10(__m256d);
__m256d _ZGVdN4vv_atan2(__m256d, __m256d);
}

template <__m256d (*F)(__m256d)>
void unary256(const double* s, double* d, int64_t n) {
  int64_t i = 0;
  for (; i + 4 <= n; i += 4) _mm256_storeu_pd(d + i, F(_mm256_loadu_pd(s + i)));
  if (i < n) {
    alignas(32) double block[4] = {0.0, 0.0, 0.0, 0.0};
    for (int64_t k = 0; k < n - i; ++k) block[k] = s[i + k];
    _mm256_store_pd(block, F(_mm256_load_pd(block)));
    for (int64_t k = 0; k < n - i; ++k) d[i + k] = block[k];
  }
}

void atan2_256(const double* y, const double* x, double* d, int64_t n) {
  int64_t i = 0;
  for (; i + 4 <= n; i += 4)
    _mm256_storeu_pd(d + i, _ZGVdN4vv_atan2(_mm256_loadu_pd(y + i), _mm256_loadu_pd(x + i)));
  if (i < n) {
    alignas(32) double by[4] = {0.0, 0.0, 0.0, 0.0};
    alignas(32) double bx[4] = {1.0, 1.0, 1.0, 1.0};
    for (int64_t k = 0; k < n - i; ++k) {
      by[k] = y[i + k];
      bx[k] = x[i + k];
    }
    _mm256_store_pd(by, _ZGVdN4vv_atan2(_mm256_load_pd(by), _mm256_load_pd(bx)));
    for (int64_t k = 0; k < n - i; ++k) d[i + k] = by[k];
  }
}

const Kernels kAvx2{
    "avx2",
    {unary256<_ZGVdN4v_sin>, unary256<_ZGVdN4v_cos>, unary256<_ZGVdN4v_tan>, unary256<_ZGVdN4v_asin>,
     unary256<_ZGVdN4v_acos>, unary256<_ZGVdN4v_atan>, unary256<_ZGVdN4v_exp>, unary256<_ZGVdN4v_log>,
     unary256<_ZGVdN4v_log10>},
    atan2_256,
    scalarPow,
};

#pragma GCC pop_options

#endif  // MORVEL_VECTOR_KERNELS

const Kernels* chooseKernels() {
#ifdef MORVEL_VECTOR_KERNELS
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx512f")) return &kAvx512;
  if (__builtin_cpu_supports("avx2")) return &kAvx2;
#endif
  return &kScalar;
}

const Kernels* const kChosen = chooseKernels();
const Kernels* active = kChosen;

}  // namespace

void apply(Unary fn, const double* src, double* dst, int64_t n) {
  if (n > 0) active->unary[static_cast<int>(fn)](src, dst, n);
}

void atan2(const double* y, const double* x, double* dst, int64_t n) {
  if (n > 0) active->atan2(y, x, dst, n);
}

void pow(const double* base, double exponent, double* dst, int64_t n) {
  if (n > 0) active->pow(base, exponent, dst, n);
}

const char* implementation() { return active->name; }

void forceScalar(bool on) { active = on ? &kScalar : kChosen; }

}  // namespace morvel::builtins::vec
