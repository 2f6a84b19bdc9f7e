// The spectrum core: window, bit reversal and radix-2 decimation in time.
//
// The fast path computes exactly what the written steps compute, operation
// for operation: the window weights and the twiddle factors (one cosine and
// one sine of -(j-1)*pi/l per stage and j) are the same library calls, only
// made once per point count and kept; the butterflies of a stage are the
// same additions and products, done four at a time on vector registers or in
// a cache-friendly order (a block finishes its small stages before the next
// block starts). Nothing is fused (this file is built with
// -ffp-contract=off), so every result is bit for bit that of the reference.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>

#include "builtins/spectrum.h"
#include "lang/routine.h"
#include "lang/value_store.h"

namespace morvel::builtins::spectrum {

bool isPowerOfTwo(int64_t n) { return n > 0 && (n & (n - 1)) == 0; }

double windowWeight(int window, int k, int n) {
  const double x = static_cast<double>(k) / static_cast<double>(n);
  switch (window) {
    case 0: return 1.0;
    case 1: {
      const int half = n / 2;
      return k < half ? static_cast<double>(k) / half : static_cast<double>(n - k) / half;
    }
    case 2: return 0.5 - 0.5 * std::cos(6.28318 * x);
    case 3: return 0.54 - 0.46 * std::cos(6.28318 * x);
    case 4: return 0.42659071 - 0.2482803 * std::cos(6.28318 * x) + 0.03842433 * std::cos(12.56636 * x);
    case 5:
      return 1.0 - 1.93 * std::cos(6.28318 * x) + 1.29 * std::cos(12.56636 * x) -
             0.388 * std::cos(18.84954 * x) + 0.0322 * std::cos(25.13272 * x);
    case 6:
      return 0.323215218 - 0.471492057 * std::cos(6.28318 * x) + 0.17553428 * std::cos(12.56636 * x) -
             0.028497078 * std::cos(18.84954 * x) + 0.001261367 * std::cos(25.13272 * x);
    default: lang::raiseRuntimeError(kErrWindowNumberRange);
  }
}

double windowScale(int window, int n) {
  const double dn = static_cast<double>(n);
  switch (window) {
    case 0: return 2.0 / dn;
    case 1: return 4.0 / dn;
    case 2: return 4.0 / dn;
    case 3: return 3.7 / dn;
    case 4: return 4.69252 / dn;
    case 5: return 2.0 / dn;
    case 6: return (2.0 / dn) * 3.093914;
    default: lang::raiseRuntimeError(kErrWindowNumberRange);
  }
}

namespace {

// The twiddle factor of stage l (block half-width) and j = jj + 1.
inline void twiddle(int l, int jj, double& c, double& s) {
  const double theta = -(static_cast<double>(jj) * kPi) / static_cast<double>(l);
  c = std::cos(theta);
  s = std::sin(theta);
}

}  // namespace

void spectrumCoreReference(double* re, double* im, int n, int window, bool scale) {
  for (int k = 0; k < n; ++k) {
    const double w = windowWeight(window, k, n);
    re[k] = re[k] * w;
    im[k] = im[k] * w;
  }
  for (int i = 1, j = 0; i < n; ++i) {
    int bit = n >> 1;
    for (; j & bit; bit >>= 1) j ^= bit;
    j ^= bit;
    if (i < j) {
      std::swap(re[i], re[j]);
      std::swap(im[i], im[j]);
    }
  }
  for (int l = 1; l < n; l <<= 1) {
    for (int jj = 0; jj < l; ++jj) {
      double c = 1.0, s = 0.0;
      if (jj > 0) twiddle(l, jj, c, s);
      for (int p = jj; p < n; p += 2 * l) {
        const int q = p + l;
        double tr, ti;
        if (jj == 0) {
          tr = re[q];
          ti = im[q];
        } else {
          tr = re[q] * c - im[q] * s;
          ti = re[q] * s + im[q] * c;
        }
        const double ar = re[p], ai = im[p];
        re[p] = ar + tr;
        im[p] = ai + ti;
        re[q] = ar - tr;
        im[q] = ai - ti;
      }
    }
  }
  if (scale) {
    const double c = windowScale(window, n);
    for (int k = 0; k < n; ++k) {
      re[k] = re[k] * c;
      im[k] = im[k] * c;
    }
  }
}

namespace {

// Everything one point count needs, made on first use and kept by the
// thread that runs transforms (the interpreter thread of a run).
struct Plan {
  int n = 0;
  std::unique_ptr<uint32_t[]> reverse;   // bit-reversed index of k
  std::unique_ptr<double[]> cosines;     // stage l: [l + jj], jj = 0..l-1
  std::unique_ptr<double[]> sines;
  std::unique_ptr<double[]> weights[kWindowCount];  // made on first use
  std::unique_ptr<double[]> re, im;                 // work arrays

  explicit Plan(int points) : n(points) {
    reverse.reset(new uint32_t[n]);
    int bits = 0;
    while ((1 << bits) < n) ++bits;
    for (int k = 0; k < n; ++k) {
      uint32_t r = 0;
      for (int b = 0; b < bits; ++b)
        if (k & (1 << b)) r |= 1u << (bits - 1 - b);
      reverse[k] = r;
    }
    cosines.reset(new double[n]);
    sines.reset(new double[n]);
    cosines[0] = sines[0] = 0.0;
    for (int l = 1; l < n; l <<= 1) {
      cosines[l] = 1.0;
      sines[l] = 0.0;
      for (int jj = 1; jj < l; ++jj) twiddle(l, jj, cosines[l + jj], sines[l + jj]);
    }
    re.reset(new double[n]);
    im.reset(new double[n]);
  }

  const double* window(int w) {
    if (!weights[w]) {
      std::unique_ptr<double[]> t(new double[n]);
      for (int k = 0; k < n; ++k) t[k] = windowWeight(w, k, n);
      weights[w] = std::move(t);
    }
    return weights[w].get();
  }
};

constexpr int kMaxLog = 22;  // transf goes beyond the fft point counts
thread_local std::unique_ptr<Plan> tPlans[kMaxLog + 1];

Plan& planFor(int n) {
  int log = 0;
  while ((1 << log) < n) ++log;
  if (log > kMaxLog) lang::raiseRuntimeError(lang::kErrArrayMemory);
  std::unique_ptr<Plan>& p = tPlans[log];
  if (!p) {
    try {
      p = std::make_unique<Plan>(n);
    } catch (const std::bad_alloc&) {
      lang::raiseRuntimeError(lang::kErrArrayMemory);
    }
  }
  return *p;
}

// --- butterflies -------------------------------------------------------------

// Stage l over one block of 2l values: jj = 0 with the exact twiddle 1,
// then jj = 1..l-1 with the cached factors.
inline void stageBlockScalar(double* __restrict ar, double* __restrict ai, double* __restrict br,
                             double* __restrict bi, const double* c, const double* s, int l) {
  for (int jj = 0; jj < l; ++jj) {
    double tr, ti;
    if (jj == 0) {
      tr = br[0];
      ti = bi[0];
    } else {
      tr = br[jj] * c[jj] - bi[jj] * s[jj];
      ti = br[jj] * s[jj] + bi[jj] * c[jj];
    }
    const double xr = ar[jj], xi = ai[jj];
    ar[jj] = xr + tr;
    ai[jj] = xi + ti;
    br[jj] = xr - tr;
    bi[jj] = xi - ti;
  }
}

// Stages 1 and 2 over groups of four values: the same butterflies as the
// stage loops, two stages per pass.
inline void firstStages(double* re, double* im, int n, double c2, double s2) {
  for (int p = 0; p < n; p += 4) {
    // l = 1: (p, p+1) and (p+2, p+3), twiddle 1.
    double r0 = re[p] + re[p + 1], i0 = im[p] + im[p + 1];
    double r1 = re[p] - re[p + 1], i1 = im[p] - im[p + 1];
    double r2 = re[p + 2] + re[p + 3], i2 = im[p + 2] + im[p + 3];
    double r3 = re[p + 2] - re[p + 3], i3 = im[p + 2] - im[p + 3];
    // l = 2: (p, p+2) with twiddle 1, (p+1, p+3) with (c2, s2).
    re[p] = r0 + r2;
    im[p] = i0 + i2;
    re[p + 2] = r0 - r2;
    im[p + 2] = i0 - i2;
    const double tr = r3 * c2 - i3 * s2;
    const double ti = r3 * s2 + i3 * c2;
    re[p + 1] = r1 + tr;
    im[p + 1] = i1 + ti;
    re[p + 3] = r1 - tr;
    im[p + 3] = i1 - ti;
  }
}

using StageFn = void (*)(double* re, double* im, int m, int l, const double* c, const double* s);

// Stage l over m values (m a multiple of 2l).
void stageScalar(double* re, double* im, int m, int l, const double* c, const double* s) {
  for (int b = 0; b < m; b += 2 * l) stageBlockScalar(re + b, im + b, re + b + l, im + b + l, c, s, l);
}

#if defined(__x86_64__) && defined(__GNUC__)
typedef double v4d __attribute__((vector_size(32), aligned(8)));

__attribute__((target("avx2"))) void stageAvx2(double* re, double* im, int m, int l, const double* c,
                                                const double* s) {
  if (l < 8) {
    stageScalar(re, im, m, l, c, s);
    return;
  }
  for (int b = 0; b < m; b += 2 * l) {
    double* __restrict ar = re + b;
    double* __restrict ai = im + b;
    double* __restrict br = re + b + l;
    double* __restrict bi = im + b + l;
    // jj = 0..3 one by one (the first has the exact twiddle 1).
    stageBlockScalar(ar, ai, br, bi, c, s, 4);
    for (int jj = 4; jj < l; jj += 4) {
      const v4d vbr = *reinterpret_cast<const v4d*>(br + jj);
      const v4d vbi = *reinterpret_cast<const v4d*>(bi + jj);
      const v4d vc = *reinterpret_cast<const v4d*>(c + jj);
      const v4d vs = *reinterpret_cast<const v4d*>(s + jj);
      const v4d tr = vbr * vc - vbi * vs;
      const v4d ti = vbr * vs + vbi * vc;
      const v4d xr = *reinterpret_cast<const v4d*>(ar + jj);
      const v4d xi = *reinterpret_cast<const v4d*>(ai + jj);
      *reinterpret_cast<v4d*>(ar + jj) = xr + tr;
      *reinterpret_cast<v4d*>(ai + jj) = xi + ti;
      *reinterpret_cast<v4d*>(br + jj) = xr - tr;
      *reinterpret_cast<v4d*>(bi + jj) = xi - ti;
    }
  }
}

bool haveAvx2() { return __builtin_cpu_supports("avx2"); }
#else
void stageAvx2(double* re, double* im, int m, int l, const double* c, const double* s) {
  stageScalar(re, im, m, l, c, s);
}
bool haveAvx2() { return false; }
#endif

bool gForceScalar = false;

StageFn stageFunction() { return !gForceScalar && haveAvx2() ? stageAvx2 : stageScalar; }

// Values per block that finishes all its small stages at once (the block's
// real and imaginary parts stay in the first-level cache).
constexpr int kBlock = 1024;

// Stages 3.. of a block of m values (stages 1 and 2 are done): blocks up to
// kBlock run their stages one after the other; larger ones transform their
// halves first and then run their last stage (l = m/2). Every butterfly gets
// the same operands as in the stage-by-stage order.
void stagesFrom4(double* re, double* im, int m, const double* c, const double* s, StageFn stage) {
  if (m <= kBlock) {
    for (int l = 4; l < m; l <<= 1) stage(re, im, m, l, c + l, s + l);
    return;
  }
  const int h = m / 2;
  stagesFrom4(re, im, h, c, s, stage);
  stagesFrom4(re + h, im + h, h, c, s, stage);
  stage(re, im, m, h, c + h, s + h);
}

}  // namespace

const char* kernelName() { return !gForceScalar && haveAvx2() ? "avx2" : "scalar"; }
void forceScalarKernel(bool on) { gForceScalar = on; }

Transform spectrumCore(const double* src, bool complexSource, bool conjugate, int n, int window) {
  if (window < 0 || window >= kWindowCount) lang::raiseRuntimeError(kErrWindowNumberRange);
  Plan& plan = planFor(n);
  double* re = plan.re.get();
  double* im = plan.im.get();
  const uint32_t* rev = plan.reverse.get();
  // Window and bit reversal in one pass: the value that the permutation
  // moves to rev[k] is the windowed value k.
  if (window == 0) {
    // w(k) = 1: the product changes nothing (not even a zero's sign).
    if (!complexSource) {
      for (int k = 0; k < n; ++k) {
        re[rev[k]] = src[k];
        im[rev[k]] = 0.0;
      }
    } else {
      for (int k = 0; k < n; ++k) {
        re[rev[k]] = src[2 * k];
        im[rev[k]] = conjugate ? -src[2 * k + 1] : src[2 * k + 1];
      }
    }
  } else {
    const double* w = plan.window(window);
    if (!complexSource) {
      for (int k = 0; k < n; ++k) {
        re[rev[k]] = src[k] * w[k];
        im[rev[k]] = 0.0 * w[k];
      }
    } else {
      for (int k = 0; k < n; ++k) {
        re[rev[k]] = src[2 * k] * w[k];
        im[rev[k]] = (conjugate ? -src[2 * k + 1] : src[2 * k + 1]) * w[k];
      }
    }
  }
  const double* c = plan.cosines.get();
  const double* s = plan.sines.get();
  if (n == 2) {
    const double r0 = re[0], i0 = im[0];
    re[0] = r0 + re[1];
    im[0] = i0 + im[1];
    re[1] = r0 - re[1];
    im[1] = i0 - im[1];
  } else {
    firstStages(re, im, n, c[3], s[3]);
    stagesFrom4(re, im, n, c, s, stageFunction());
  }
  return Transform{re, im};
}

}  // namespace morvel::builtins::spectrum
