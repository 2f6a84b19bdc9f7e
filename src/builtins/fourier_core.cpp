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
#include <new>

#include "builtins/fourier.h"
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
  std::unique_ptr<double[]> weights[kWindowCount];  // w(rev[p]) at p, made on first use
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
      std::unique_ptr<double[]> t(new (std::nothrow) double[n]);
      if (!t) lang::raiseRuntimeError(lang::kErrArrayMemory);
      for (int p = 0; p < n; ++p) t[p] = windowWeight(w, static_cast<int>(reverse[p]), n);
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

// The first two stages of four values v0..v3 that the bit reversal put next
// to each other, written to re/im at p..p+3.
inline void firstStagesOfFour(double* re, double* im, int p, double r0, double i0, double r1, double i1,
                              double r2, double i2, double r3, double i3, double c2, double s2) {
  // l = 1: (v0, v1) and (v2, v3), twiddle 1.
  const double a0 = r0 + r1, b0 = i0 + i1;
  const double a1 = r0 - r1, b1 = i0 - i1;
  const double a2 = r2 + r3, b2 = i2 + i3;
  const double a3 = r2 - r3, b3 = i2 - i3;
  // l = 2: (0, 2) with twiddle 1, (1, 3) with (c2, s2).
  re[p] = a0 + a2;
  im[p] = b0 + b2;
  re[p + 2] = a0 - a2;
  im[p + 2] = b0 - b2;
  const double tr = a3 * c2 - b3 * s2;
  const double ti = a3 * s2 + b3 * c2;
  re[p + 1] = a1 + tr;
  im[p + 1] = b1 + ti;
  re[p + 3] = a1 - tr;
  im[p + 3] = b1 - ti;
}

using StageFn = void (*)(double* re, double* im, int m, int l, const double* c, const double* s);

// Stage l over m values (m a multiple of 2l).
void stageScalar(double* re, double* im, int m, int l, const double* c, const double* s) {
  for (int b = 0; b < m; b += 2 * l) stageBlockScalar(re + b, im + b, re + b + l, im + b + l, c, s, l);
}

#if defined(__x86_64__) && defined(__GNUC__)
typedef double v4d __attribute__((vector_size(32), aligned(8)));

__attribute__((target("avx2"))) inline void butterflies4(double* ar, double* ai, double* br, double* bi,
                                                          const double* c, const double* s, bool first) {
  const v4d vbr = *reinterpret_cast<const v4d*>(br);
  const v4d vbi = *reinterpret_cast<const v4d*>(bi);
  const v4d vc = *reinterpret_cast<const v4d*>(c);
  const v4d vs = *reinterpret_cast<const v4d*>(s);
  v4d tr = vbr * vc - vbi * vs;
  v4d ti = vbr * vs + vbi * vc;
  if (first) {
    // jj = 0: the twiddle is exactly 1, t = b.
    tr[0] = vbr[0];
    ti[0] = vbi[0];
  }
  const v4d xr = *reinterpret_cast<const v4d*>(ar);
  const v4d xi = *reinterpret_cast<const v4d*>(ai);
  *reinterpret_cast<v4d*>(ar) = xr + tr;
  *reinterpret_cast<v4d*>(ai) = xi + ti;
  *reinterpret_cast<v4d*>(br) = xr - tr;
  *reinterpret_cast<v4d*>(bi) = xi - ti;
}

__attribute__((target("avx2"))) void stageAvx2(double* re, double* im, int m, int l, const double* c,
                                                const double* s) {
  if (l < 4) {
    stageScalar(re, im, m, l, c, s);
    return;
  }
  for (int b = 0; b < m; b += 2 * l) {
    double* ar = re + b;
    double* ai = im + b;
    double* br = re + b + l;
    double* bi = im + b + l;
    butterflies4(ar, ai, br, bi, c, s, true);
    for (int jj = 4; jj < l; jj += 4) butterflies4(ar + jj, ai + jj, br + jj, bi + jj, c + jj, s + jj, false);
  }
}

// Stages l and 2l in one pass over blocks of 4l values (l >= 4): the four
// values p, p + l, p + 2l, p + 3l go through their two stage-l butterflies
// and then their two stage-2l butterflies, with the same twiddle factors as
// stage by stage. c and s are the whole tables.
__attribute__((target("avx2"))) void stagePairAvx2(double* re, double* im, int m, int l, const double* c,
                                                    const double* s) {
  const double* c1 = c + l;
  const double* s1 = s + l;
  const double* c2 = c + 2 * l;
  const double* s2 = s + 2 * l;
  for (int b = 0; b < m; b += 4 * l) {
    for (int jj = 0; jj < l; jj += 4) {
      double* r0 = re + b + jj;
      double* i0 = im + b + jj;
      const v4d ar = *reinterpret_cast<const v4d*>(r0);
      const v4d ai = *reinterpret_cast<const v4d*>(i0);
      const v4d br = *reinterpret_cast<const v4d*>(r0 + l);
      const v4d bi = *reinterpret_cast<const v4d*>(i0 + l);
      const v4d cr = *reinterpret_cast<const v4d*>(r0 + 2 * l);
      const v4d ci = *reinterpret_cast<const v4d*>(i0 + 2 * l);
      const v4d dr = *reinterpret_cast<const v4d*>(r0 + 3 * l);
      const v4d di = *reinterpret_cast<const v4d*>(i0 + 3 * l);
      const v4d wc = *reinterpret_cast<const v4d*>(c1 + jj);
      const v4d ws = *reinterpret_cast<const v4d*>(s1 + jj);
      // Stage l: (a, b) and (c, d) with twiddle jj.
      v4d t1r = br * wc - bi * ws, t1i = br * ws + bi * wc;
      v4d t2r = dr * wc - di * ws, t2i = dr * ws + di * wc;
      if (jj == 0) {
        t1r[0] = br[0];
        t1i[0] = bi[0];
        t2r[0] = dr[0];
        t2i[0] = di[0];
      }
      const v4d a1r = ar + t1r, a1i = ai + t1i, b1r = ar - t1r, b1i = ai - t1i;
      const v4d c1r = cr + t2r, c1i = ci + t2i, d1r = cr - t2r, d1i = ci - t2i;
      // Stage 2l: (a, c) with twiddle jj, (b, d) with twiddle jj + l.
      const v4d uc = *reinterpret_cast<const v4d*>(c2 + jj);
      const v4d us = *reinterpret_cast<const v4d*>(s2 + jj);
      const v4d vc = *reinterpret_cast<const v4d*>(c2 + jj + l);
      const v4d vs = *reinterpret_cast<const v4d*>(s2 + jj + l);
      v4d t3r = c1r * uc - c1i * us, t3i = c1r * us + c1i * uc;
      if (jj == 0) {
        t3r[0] = c1r[0];
        t3i[0] = c1i[0];
      }
      const v4d t4r = d1r * vc - d1i * vs, t4i = d1r * vs + d1i * vc;
      *reinterpret_cast<v4d*>(r0) = a1r + t3r;
      *reinterpret_cast<v4d*>(i0) = a1i + t3i;
      *reinterpret_cast<v4d*>(r0 + 2 * l) = a1r - t3r;
      *reinterpret_cast<v4d*>(i0 + 2 * l) = a1i - t3i;
      *reinterpret_cast<v4d*>(r0 + l) = b1r + t4r;
      *reinterpret_cast<v4d*>(i0 + l) = b1i + t4i;
      *reinterpret_cast<v4d*>(r0 + 3 * l) = b1r - t4r;
      *reinterpret_cast<v4d*>(i0 + 3 * l) = b1i - t4i;
    }
  }
}

bool haveAvx2() { return __builtin_cpu_supports("avx2"); }
#else
void stageAvx2(double* re, double* im, int m, int l, const double* c, const double* s) {
  stageScalar(re, im, m, l, c, s);
}
void stagePairAvx2(double*, double*, int, int, const double*, const double*) {}
bool haveAvx2() { return false; }
#endif

bool gForceScalar = false;

// The butterfly kernels in use: one stage (its twiddles at c + l, s + l),
// and two stages l and 2l at once (whole tables; null: two single stages).
struct Kernels {
  StageFn stage;
  StageFn pair;
};

Kernels kernels() {
  if (!gForceScalar && haveAvx2()) return {stageAvx2, stagePairAvx2};
  return {stageScalar, nullptr};
}

// Values per block that finishes all its small stages at once (the block's
// real and imaginary parts stay in the first-level cache).
constexpr int kBlock = 1024;

// Stages 3.. of a block of m values (stages 1 and 2 are done): blocks up to
// kBlock run their stages one after the other; larger ones transform their
// halves first and then run their last stage (l = m/2). Every butterfly gets
// the same operands as in the stage-by-stage order.
void stagesFrom4(double* re, double* im, int m, const double* c, const double* s, const Kernels& k) {
  if (m <= kBlock) {
    int l = 4;
    if (k.pair != nullptr)
      for (; 4 * l <= m; l *= 4) k.pair(re, im, m, l, c, s);
    for (; l < m; l <<= 1) k.stage(re, im, m, l, c + l, s + l);
    return;
  }
  const int h = m / 2;
  stagesFrom4(re, im, h, c, s, k);
  stagesFrom4(re + h, im + h, h, c, s, k);
  k.stage(re, im, m, h, c + h, s + h);
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
  const double* c = plan.cosines.get();
  const double* s = plan.sines.get();
  if (n == 2) {
    // Window (n = 2 permutes nothing), one butterfly.
    const double* w = plan.window(window);
    double r0 = complexSource ? src[0] : src[0];
    double r1 = complexSource ? src[2] : src[1];
    double i0 = complexSource ? (conjugate ? -src[1] : src[1]) : 0.0;
    double i1 = complexSource ? (conjugate ? -src[3] : src[3]) : 0.0;
    if (window != 0) {
      r0 = r0 * w[0];
      i0 = i0 * w[0];
      r1 = r1 * w[1];
      i1 = i1 * w[1];
    }
    re[0] = r0 + r1;
    im[0] = i0 + i1;
    re[1] = r0 - r1;
    im[1] = i0 - i1;
    return Transform{re, im};
  }
  // Window, bit reversal and the first two stages in one pass: positions
  // p..p+3 receive the values rev[p], rev[p] + n/2, rev[p] + n/4 and
  // rev[p] + 3n/4, each multiplied by its weight (weight 1 changes nothing,
  // not even the sign of a zero, so window 0 skips the product).
  const int h = n / 2, q = n / 4;
  const double c2 = c[3], s2 = s[3];
  const double* w = window == 0 ? nullptr : plan.window(window);
  for (int p = 0; p < n; p += 4) {
    const int k0 = static_cast<int>(rev[p]), k1 = k0 + h, k2 = k0 + q, k3 = k0 + h + q;
    double r0, r1, r2, r3, i0, i1, i2, i3;
    if (!complexSource) {
      r0 = src[k0];
      r1 = src[k1];
      r2 = src[k2];
      r3 = src[k3];
      i0 = i1 = i2 = i3 = 0.0;
    } else {
      r0 = src[2 * k0];
      r1 = src[2 * k1];
      r2 = src[2 * k2];
      r3 = src[2 * k3];
      i0 = conjugate ? -src[2 * k0 + 1] : src[2 * k0 + 1];
      i1 = conjugate ? -src[2 * k1 + 1] : src[2 * k1 + 1];
      i2 = conjugate ? -src[2 * k2 + 1] : src[2 * k2 + 1];
      i3 = conjugate ? -src[2 * k3 + 1] : src[2 * k3 + 1];
    }
    if (w != nullptr) {
      // The weights are kept in bit-reversed order: w(k0) at p, w(k1) at p + 1, ...
      r0 = r0 * w[p];
      i0 = i0 * w[p];
      r1 = r1 * w[p + 1];
      i1 = i1 * w[p + 1];
      r2 = r2 * w[p + 2];
      i2 = i2 * w[p + 2];
      r3 = r3 * w[p + 3];
      i3 = i3 * w[p + 3];
    }
    firstStagesOfFour(re, im, p, r0, i0, r1, i1, r2, i2, r3, i3, c2, s2);
  }
  stagesFrom4(re, im, n, c, s, kernels());
  return Transform{re, im};
}

}  // namespace morvel::builtins::spectrum
