// Elementwise transcendental functions: glibc's vector math library when the
// processor has AVX-512 or AVX2, else the scalar C library.
//
// The vector variants follow the x86-64 vector function ABI names
// (_ZGVeN8v_sin: AVX-512, eight doubles; _ZGVdN4v_sin: AVX2, four doubles).
// They are declared here rather than reached through `#pragma omp simd` and
// -ffast-math, so the rest of the arithmetic keeps strict IEEE semantics.
#include "builtins/math_vector.h"

#include <cmath>
#include <cstdint>

#if defined(MORVEL_HAVE_MVEC) && defined(__x86_64__)
#include <immintrin.h>
#define MORVEL_VECTOR_KERNELS 1
#endif

namespace morvel::builtins::vec {

namespace {

using UnaryKernel = void (*)(const double*, double*, int64_t);
using BinaryKernel = void (*)(const double*, const double*, double*, int64_t);
using PowKernel = void (*)(const double*, double, double*, int64_t);
using TestKernel = bool (*)(const double*, int64_t);

constexpr int kUnaryCount = 14;

// Results of at least this many samples (16 MB) of the quick operations go
// to memory with streaming stores: they would not stay in the cache anyway,
// and the stores then need not read the destination's old contents first.
constexpr int64_t kStreamSamples = int64_t{1} << 21;

struct Kernels {
  const char* name;
  UnaryKernel unary[kUnaryCount];  // in the order of enum Unary
  BinaryKernel atan2;
  // The vector library's pow is up to 2 ulp off; the C library's is within
  // one, so pow stays scalar everywhere.
  PowKernel pow;
  TestKernel anyNegativeOrNaN;
};

// --- scalar C library -----------------------------------------------------------

template <double (*F)(double)>
void scalarUnary(const double* s, double* d, int64_t n) {
  for (int64_t i = 0; i < n; ++i) d[i] = F(s[i]);
}

double sinC(double x) {
  return std::sin(x);
}
double cosC(double x) {
  return std::cos(x);
}
double tanC(double x) {
  return std::tan(x);
}
double asinC(double x) {
  return std::asin(x);
}
double acosC(double x) {
  return std::acos(x);
}
double atanC(double x) {
  return std::atan(x);
}
double expC(double x) {
  return std::exp(x);
}
double logC(double x) {
  return std::log(x);
}
double log10C(double x) {
  return std::log10(x);
}
double absC(double x) {
  return std::fabs(x);
}
double sqrtC(double x) {
  return std::sqrt(x);
}
double signumC(double x) {
  return x > 0.0 ? 1.0 : (x < 0.0 ? -1.0 : 0.0);
}
double posC(double x) {
  return x >= 0.0 ? x : 0.0;
}
double negC(double x) {
  return x <= 0.0 ? x : 0.0;
}

void scalarAtan2(const double* y, const double* x, double* d, int64_t n) {
  for (int64_t i = 0; i < n; ++i) d[i] = std::atan2(y[i], x[i]);
}

void scalarPow(const double* b, double e, double* d, int64_t n) {
  for (int64_t i = 0; i < n; ++i) d[i] = std::pow(b[i], e);
}

bool scalarAnyNegativeOrNaN(const double* s, int64_t n) {
  bool bad = false;
  for (int64_t i = 0; i < n; ++i) bad |= !(s[i] >= 0.0);
  return bad;
}

#define MORVEL_SCALAR_SIMPLE \
  scalarUnary<absC>, scalarUnary<sqrtC>, scalarUnary<signumC>, scalarUnary<posC>, scalarUnary<negC>

constexpr Kernels kScalar{
    "scalar",
    {scalarUnary<sinC>, scalarUnary<cosC>, scalarUnary<tanC>, scalarUnary<asinC>, scalarUnary<acosC>,
     scalarUnary<atanC>, scalarUnary<expC>, scalarUnary<logC>, scalarUnary<log10C>, MORVEL_SCALAR_SIMPLE},
    scalarAtan2,
    scalarPow,
    scalarAnyNegativeOrNaN,
};

#ifdef MORVEL_VECTOR_KERNELS

// The kernels process full vectors and then the remainder as one partial
// vector, so every sample goes through the same routine.

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
struct Library {
  // The library's routines take long enough per vector that streaming
  // stores make them slower.
  static constexpr bool kStream = false;
  static __m512d f(__m512d x) { return F(x); }
};
// sin for |x| up to 1e6: k = nearest integer to x/pi, r = x - k*pi with pi in
// three parts (the first product is exact, so r keeps its full precision
// even next to a multiple of pi), then sin(r) = r + r^3 * P(r^2) on
// |r| <= pi/2 with P of degree 7 fitted at Chebyshev nodes (relative error
// below 0.4 ulp before rounding). Odd k flips the sign. Working on |x| and
// putting x's sign back keeps sin(-0) = -0. Within 3 ulp of the C library;
// a vector with a larger |x|, an infinity or a NaN goes to the library.
// The library routine costs about a fifth more per vector on the processors
// at hand.
struct Sin512 {
  static constexpr bool kStream = false;
  static __m512d core(__m512d x) {
    const __m512d ax = _mm512_abs_pd(x);
    const __m512d shift = _mm512_set1_pd(0x1.8p52);
    const __m512d t = _mm512_fmadd_pd(ax, _mm512_set1_pd(0x1.45f306dc9c883p-2), shift);
    const __m512d k = _mm512_sub_pd(t, shift);
    __m512d r = _mm512_fnmadd_pd(k, _mm512_set1_pd(0x1.921fb54442d18p+1), ax);
    r = _mm512_fnmadd_pd(k, _mm512_set1_pd(0x1.1a62633145c07p-53), r);
    r = _mm512_fnmadd_pd(k, _mm512_set1_pd(-0x1.f1976b7ed8fbcp-109), r);
    const __m512d r2 = _mm512_mul_pd(r, r);
    __m512d p = _mm512_set1_pd(0x1.8995a9a27a132p-49);
    p = _mm512_fmadd_pd(p, r2, _mm512_set1_pd(-0x1.ae50c140dde5ap-41));
    p = _mm512_fmadd_pd(p, r2, _mm512_set1_pd(0x1.6123ffe41f87cp-33));
    p = _mm512_fmadd_pd(p, r2, _mm512_set1_pd(-0x1.ae64559d4e88bp-26));
    p = _mm512_fmadd_pd(p, r2, _mm512_set1_pd(0x1.71de3a544f4e3p-19));
    p = _mm512_fmadd_pd(p, r2, _mm512_set1_pd(-0x1.a01a01a018a03p-13));
    p = _mm512_fmadd_pd(p, r2, _mm512_set1_pd(0x1.1111111111107p-7));
    p = _mm512_fmadd_pd(p, r2, _mm512_set1_pd(-0x1.5555555555555p-3));
    const __m512d y = _mm512_fmadd_pd(_mm512_mul_pd(r, r2), p, r);
    // sign = (parity of k) xor (sign of x): 0x78 is a ^ (b & c). (The masked
    // shift: GCC 12 warns about the plain one's undefined start value.)
    const __m512i sign = _mm512_ternarylogic_epi64(_mm512_maskz_slli_epi64(0xFF, _mm512_castpd_si512(t), 63),
                                                   _mm512_castpd_si512(x), _mm512_set1_epi64(INT64_MIN), 0x78);
    return _mm512_castsi512_pd(_mm512_xor_si512(_mm512_castpd_si512(y), sign));
  }
  static __m512d f(__m512d x) {
    const __mmask8 outside = _mm512_cmp_pd_mask(_mm512_abs_pd(x), _mm512_set1_pd(1e6), _CMP_NLE_UQ);
    return outside != 0 ? _ZGVeN8v_sin(x) : core(x);
  }
};
struct Abs512 {
  static constexpr bool kStream = true;
  static __m512d f(__m512d x) { return _mm512_abs_pd(x); }
};
struct Sqrt512 {
  static constexpr bool kStream = true;
  // (the masked form: GCC 12 warns about _mm512_sqrt_pd's undefined start value)
  static __m512d f(__m512d x) { return _mm512_mask_sqrt_pd(x, 0xFF, x); }
};
// NaN compares false both ways and gives 0.
struct Signum512 {
  static constexpr bool kStream = true;
  static __m512d f(__m512d x) {
    const __m512d zero = _mm512_setzero_pd();
    const __mmask8 above = _mm512_cmp_pd_mask(x, zero, _CMP_GT_OQ);
    const __mmask8 below = _mm512_cmp_pd_mask(x, zero, _CMP_LT_OQ);
    return _mm512_mask_blend_pd(above, _mm512_mask_blend_pd(below, zero, _mm512_set1_pd(-1.0)),
                                _mm512_set1_pd(1.0));
  }
};
struct Pos512 {
  static constexpr bool kStream = true;
  static __m512d f(__m512d x) {
    return _mm512_maskz_mov_pd(_mm512_cmp_pd_mask(x, _mm512_setzero_pd(), _CMP_GE_OQ), x);
  }
};
struct Neg512 {
  static constexpr bool kStream = true;
  static __m512d f(__m512d x) {
    return _mm512_maskz_mov_pd(_mm512_cmp_pd_mask(x, _mm512_setzero_pd(), _CMP_LE_OQ), x);
  }
};

__mmask8 firstLanes(int64_t k) {
  return static_cast<__mmask8>((1u << k) - 1u);
}

template <class Op>
void unary512(const double* s, double* d, int64_t n) {
  int64_t i = 0;
  if (Op::kStream && n >= kStreamSamples) {
    // A partial vector up to the next 64-byte boundary of the destination,
    // then whole vectors with streaming stores.
    const int64_t head = static_cast<int64_t>((64 - (reinterpret_cast<uintptr_t>(d) & 63)) & 63) / 8;
    if (head > 0) {
      const __mmask8 m = firstLanes(head);
      _mm512_mask_storeu_pd(d, m, Op::f(_mm512_maskz_loadu_pd(m, s)));
      i = head;
    }
    for (; i + 8 <= n; i += 8) _mm512_stream_pd(d + i, Op::f(_mm512_loadu_pd(s + i)));
    _mm_sfence();
  } else {
    for (; i + 8 <= n; i += 8) _mm512_storeu_pd(d + i, Op::f(_mm512_loadu_pd(s + i)));
  }
  if (i < n) {
    const __mmask8 m = firstLanes(n - i);
    _mm512_mask_storeu_pd(d + i, m, Op::f(_mm512_maskz_loadu_pd(m, s + i)));
  }
}

void atan2_512(const double* y, const double* x, double* d, int64_t n) {
  int64_t i = 0;
  for (; i + 8 <= n; i += 8)
    _mm512_storeu_pd(d + i, _ZGVeN8vv_atan2(_mm512_loadu_pd(y + i), _mm512_loadu_pd(x + i)));
  if (i < n) {
    const __mmask8 m = firstLanes(n - i);
    const __m512d r = _ZGVeN8vv_atan2(_mm512_maskz_loadu_pd(m, y + i), _mm512_maskz_loadu_pd(m, x + i));
    _mm512_mask_storeu_pd(d + i, m, r);
  }
}

bool anyNegativeOrNaN512(const double* s, int64_t n) {
  const __m512d zero = _mm512_setzero_pd();
  __mmask8 bad = 0;
  int64_t i = 0;
  for (; i + 8 <= n; i += 8) bad |= _mm512_cmp_pd_mask(_mm512_loadu_pd(s + i), zero, _CMP_NGE_UQ);
  if (i < n) {
    const __mmask8 m = firstLanes(n - i);
    bad |= _mm512_mask_cmp_pd_mask(m, _mm512_maskz_loadu_pd(m, s + i), zero, _CMP_NGE_UQ);
  }
  return bad != 0;
}

const Kernels kAvx512{
    "avx512",
    {unary512<Sin512>, unary512<Library<_ZGVeN8v_cos>>, unary512<Library<_ZGVeN8v_tan>>,
     unary512<Library<_ZGVeN8v_asin>>, unary512<Library<_ZGVeN8v_acos>>, unary512<Library<_ZGVeN8v_atan>>,
     unary512<Library<_ZGVeN8v_exp>>, unary512<Library<_ZGVeN8v_log>>, unary512<Library<_ZGVeN8v_log10>>,
     unary512<Abs512>, unary512<Sqrt512>, unary512<Signum512>, unary512<Pos512>, unary512<Neg512>},
    atan2_512,
    scalarPow,
    anyNegativeOrNaN512,
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
     unary256<_ZGVdN4v_log10>, MORVEL_SCALAR_SIMPLE},
    atan2_256,
    scalarPow,
    scalarAnyNegativeOrNaN,
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

bool anyNegativeOrNaN(const double* src, int64_t n) {
  return n > 0 && active->anyNegativeOrNaN(src, n);
}

const char* implementation() {
  return active->name;
}

void forceScalar(bool on) {
  active = on ? &kScalar : kChosen;
}

}  // namespace morvel::builtins::vec
