// The Butterworth filter bank: setfilter fills a slot, filter runs blocks of
// samples through it and keeps the delay lines for the next block.
//
// The per-sample arithmetic is exactly the sections' difference equations in
// their written order; the speed comes from a kernel per section count and
// type that keeps coefficients and delay lines local for the whole block and
// runs the sections as a wavefront (see wavefront()). Built with
// -ffp-contract=off: no fused multiply-add.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <new>

#include "builtins/filter.h"
#include "builtins/operands.h"
#include "lang/interpreter.h"
#include "lang/value_store.h"

namespace morvel::builtins {

using lang::FilterRecord;
using lang::ValueArray;

namespace filters {

void design(FilterRecord& r, double period) {
  constexpr double pi = 3.14159265358979323846;
  const int n = r.sections;
  for (int k = 1; k <= n; ++k) {
    const double ck = std::cos((2.0 * n + 2.0 * k - 1.0) * pi / (4.0 * n));
    double* c = r.coeff[k - 1];
    if (r.type == 2) {
      const double d = std::tan(pi * r.cutoff1 * period);
      const double e = std::tan(pi * r.cutoff2 * period);
      const double m = (e - d) * (e - d);
      const double o = m + 2.0 * e * d;
      const double rr = d * d * e * e;
      const double A = -2.0 * ck * (e - d);
      const double B = d * e * A;
      const double C = 1.0 + o + rr + A + B;
      c[0] = m / C;
      c[1] = (2.0 * B - 2.0 * A - 4.0 + 4.0 * rr) / C;
      c[2] = (6.0 - 2.0 * o + 6.0 * rr) / C;
      c[3] = (4.0 * rr + 2.0 * A - 4.0 - 2.0 * B) / C;
      c[4] = (1.0 + o + rr - A - B) / C;
    } else {
      const double w = std::tan(pi * r.cutoff1 * period);
      const double h = 1.0 / (1.0 + w * w - 2.0 * ck * w);
      c[0] = r.type == 0 ? w * w * h : h;
      c[1] = 2.0 * h * (w * w - 1.0);
      c[2] = h * (w * (w + 2.0 * ck) + 1.0);
      c[3] = c[4] = 0.0;
    }
  }
  std::memset(r.line, 0, sizeof r.line);
  r.period = period;
  r.ready = true;
}

namespace {

// One section step of type Type (0 low, 1 high, 2 band pass): input x, its
// coefficients c, its past inputs px and past outputs py (newest first).
template <int Type>
[[gnu::always_inline]] inline double sectionStep(const double* c, double* px, double* py, double x) {
  double y;
  if constexpr (Type == 2) {
    y = c[0] * (x - 2.0 * px[1] + px[3]) - c[1] * py[0] - c[2] * py[1] - c[3] * py[2] - c[4] * py[3];
    px[3] = px[2];
    px[2] = px[1];
    py[3] = py[2];
    py[2] = py[1];
  } else if constexpr (Type == 1) {
    y = c[0] * (x - 2.0 * px[0] + px[1]) - c[1] * py[0] - c[2] * py[1];
  } else {
    y = c[0] * (x + 2.0 * px[0] + px[1]) - c[1] * py[0] - c[2] * py[1];
  }
  px[1] = px[0];
  px[0] = x;
  py[1] = py[0];
  py[0] = y;
  return y;
}

// N sections as a wavefront: at step t section k works on sample t - k, so
// the N section steps of one loop pass are independent of each other and the
// processor runs them side by side. Each section sees the same inputs in the
// same order as sample-by-sample processing, so the results are identical.
// Section k keeps its own copy of its input line (the output line of section
// k - 1, which runs one sample ahead); at the end both copies agree.
template <int N, int Type>
void wavefront(FilterRecord& r, const double* in, double* out, int64_t n) {
  constexpr int L = Type == 2 ? 4 : 2;
  double c[N][5], px[N][L], py[N][L], carry[N];
  for (int k = 0; k < N; ++k) {
    for (int j = 0; j < 5; ++j) c[k][j] = r.coeff[k][j];
    for (int j = 0; j < L; ++j) {
      px[k][j] = r.line[k][j];
      py[k][j] = r.line[k + 1][j];
    }
    carry[k] = 0.0;
  }
  const int64_t total = n + N - 1;
  // Steps where some sections have nothing to do (start and end).
  auto partial = [&](int64_t t) {
    for (int k = N - 1; k >= 0; --k) {
      const int64_t m = t - k;
      if (m < 0 || m >= n) continue;
      const double y = sectionStep<Type>(c[k], px[k], py[k], k == 0 ? in[m] : carry[k - 1]);
      if (k == N - 1)
        out[m] = y;
      else
        carry[k] = y;
    }
  };
  int64_t t = 0;
  for (; t < N - 1 && t < total; ++t) partial(t);
  for (; t < n; ++t) {
    // Sections in falling order: each reads its predecessor's output of the
    // previous step before the predecessor replaces it.
#pragma GCC unroll 8
    for (int k = N - 1; k >= 0; --k) {
      const double y = sectionStep<Type>(c[k], px[k], py[k], k == 0 ? in[t] : carry[k - 1]);
      if (k == N - 1)
        out[t - (N - 1)] = y;
      else
        carry[k] = y;
    }
  }
  for (; t < total; ++t) partial(t);
  for (int j = 0; j < L; ++j) {
    r.line[0][j] = px[0][j];
    for (int k = 0; k < N; ++k) r.line[k + 1][j] = py[k][j];
  }
}

using Kernel = void (*)(FilterRecord&, const double*, double*, int64_t);

constexpr Kernel kLow[] = {nullptr,           wavefront<1, 0>, wavefront<2, 0>, wavefront<3, 0>, wavefront<4, 0>,
                           wavefront<5, 0>, wavefront<6, 0>, wavefront<7, 0>, wavefront<8, 0>};
constexpr Kernel kHigh[] = {nullptr,           wavefront<1, 1>, wavefront<2, 1>, wavefront<3, 1>, wavefront<4, 1>,
                            wavefront<5, 1>, wavefront<6, 1>, wavefront<7, 1>, wavefront<8, 1>};
constexpr Kernel kBand[] = {nullptr,           wavefront<1, 2>, wavefront<2, 2>, wavefront<3, 2>, wavefront<4, 2>,
                            wavefront<5, 2>, wavefront<6, 2>, wavefront<7, 2>, wavefront<8, 2>};

#if defined(__x86_64__) && defined(__GNUC__)
typedef double v8d __attribute__((vector_size(64)));
typedef long long v8l __attribute__((vector_size(64)));

// The wavefront on 512-bit vectors, one section per lane (N <= 8), with a
// skew of two samples: at step t lane k works on sample t - 2k, and its input
// is lane k - 1's output of step t - 2. Each lane computes exactly the scalar
// section step. Lanes outside their samples (start and end of the block, and
// lanes >= N) keep their state.
__attribute__((target("avx512f"))) void wavefront512(FilterRecord& r, const double* in, double* out, int64_t n) {
  const int N = r.sections;
  const int type = r.type;
  v8d c0 = {}, c1 = {}, c2 = {}, c3 = {}, c4 = {};
  v8d x1 = {}, x2 = {}, x3 = {}, x4 = {}, y1 = {}, y2 = {}, y3 = {}, y4 = {};
  for (int k = 0; k < N; ++k) {
    c0[k] = r.coeff[k][0];
    c1[k] = r.coeff[k][1];
    c2[k] = r.coeff[k][2];
    c3[k] = r.coeff[k][3];
    c4[k] = r.coeff[k][4];
    x1[k] = r.line[k][0];
    x2[k] = r.line[k][1];
    x3[k] = r.line[k][2];
    x4[k] = r.line[k][3];
    y1[k] = r.line[k + 1][0];
    y2[k] = r.line[k + 1][1];
    y3[k] = r.line[k + 1][2];
    y4[k] = r.line[k + 1][3];
  }
  const v8l lanes = {0, 1, 2, 3, 4, 5, 6, 7};
  const v8l shift = {8, 0, 1, 2, 3, 4, 5, 6};  // lane 0 from the new sample
  const v8d two = {2.0, 2.0, 2.0, 2.0, 2.0, 2.0, 2.0, 2.0};
  v8d prev1 = {}, prev2 = {};  // outputs of steps t - 1 and t - 2
  const int64_t lag = 2 * static_cast<int64_t>(N - 1);
  const int64_t total = n + lag;
  double lastLane[8];
  for (int64_t t = 0; t < total; ++t) {
    const double sample = t < n ? in[t] : 0.0;
    const v8d fresh = {sample, sample, sample, sample, sample, sample, sample, sample};
    const v8d x = __builtin_shuffle(prev2, fresh, shift);
    v8d y;
    if (type == 2) {
      y = c0 * (x - two * x2 + x4) - c1 * y1 - c2 * y2 - c3 * y3 - c4 * y4;
    } else if (type == 1) {
      y = c0 * (x - two * x1 + x2) - c1 * y1 - c2 * y2;
    } else {
      y = c0 * (x + two * x1 + x2) - c1 * y1 - c2 * y2;
    }
    if (t >= lag && t < n) {
      x4 = x3;
      x3 = x2;
      x2 = x1;
      x1 = x;
      y4 = y3;
      y3 = y2;
      y2 = y1;
      y1 = y;
    } else {
      const v8l m = t - 2 * lanes;
      const v8l active = (m >= 0) & (m < n) & (lanes < N);
      x4 = active ? x3 : x4;
      x3 = active ? x2 : x3;
      x2 = active ? x1 : x2;
      x1 = active ? x : x1;
      y4 = active ? y3 : y4;
      y3 = active ? y2 : y3;
      y2 = active ? y1 : y2;
      y1 = active ? y : y1;
    }
    prev2 = prev1;
    prev1 = y;
    if (t >= lag) {
      __builtin_memcpy(lastLane, &y, sizeof lastLane);
      out[t - lag] = lastLane[N - 1];
    }
  }
  for (int k = 0; k < N; ++k) {
    r.line[k][0] = x1[k];
    r.line[k][1] = x2[k];
    r.line[k][2] = x3[k];
    r.line[k][3] = x4[k];
  }
  r.line[N][0] = y1[N - 1];
  r.line[N][1] = y2[N - 1];
  r.line[N][2] = y3[N - 1];
  r.line[N][3] = y4[N - 1];
}

bool haveAvx512() { return __builtin_cpu_supports("avx512f"); }
typedef double v4d __attribute__((vector_size(32)));
typedef long long v4l __attribute__((vector_size(32)));

// The same wavefront on 256-bit vectors: sections 0..3 in the low half,
// 4..7 in the high half (used when N > 4); lane 0 of the high half takes
// lane 3 of the low half.
struct Half {
  v4d c0 = {}, c1 = {}, c2 = {}, c3 = {}, c4 = {};
  v4d x1 = {}, x2 = {}, x3 = {}, x4 = {}, y1 = {}, y2 = {}, y3 = {}, y4 = {};
  v4d prev1 = {}, prev2 = {};
};

__attribute__((target("avx2"))) inline v4d halfStep(Half& h, v4d x, int type, bool all, v4l active) {
  const v4d two = {2.0, 2.0, 2.0, 2.0};
  v4d y;
  if (type == 2) {
    y = h.c0 * (x - two * h.x2 + h.x4) - h.c1 * h.y1 - h.c2 * h.y2 - h.c3 * h.y3 - h.c4 * h.y4;
  } else if (type == 1) {
    y = h.c0 * (x - two * h.x1 + h.x2) - h.c1 * h.y1 - h.c2 * h.y2;
  } else {
    y = h.c0 * (x + two * h.x1 + h.x2) - h.c1 * h.y1 - h.c2 * h.y2;
  }
  if (all) {
    h.x4 = h.x3;
    h.x3 = h.x2;
    h.x2 = h.x1;
    h.x1 = x;
    h.y4 = h.y3;
    h.y3 = h.y2;
    h.y2 = h.y1;
    h.y1 = y;
  } else {
    h.x4 = active ? h.x3 : h.x4;
    h.x3 = active ? h.x2 : h.x3;
    h.x2 = active ? h.x1 : h.x2;
    h.x1 = active ? x : h.x1;
    h.y4 = active ? h.y3 : h.y4;
    h.y3 = active ? h.y2 : h.y3;
    h.y2 = active ? h.y1 : h.y2;
    h.y1 = active ? y : h.y1;
  }
  return y;
}

template <bool TwoHalves>
__attribute__((target("avx2"))) void wavefront256(FilterRecord& r, const double* in, double* out, int64_t n) {
  const int N = r.sections;
  const int type = r.type;
  Half lo, hi;
  for (int k = 0; k < N; ++k) {
    Half& h = k < 4 ? lo : hi;
    const int j = k & 3;
    h.c0[j] = r.coeff[k][0];
    h.c1[j] = r.coeff[k][1];
    h.c2[j] = r.coeff[k][2];
    h.c3[j] = r.coeff[k][3];
    h.c4[j] = r.coeff[k][4];
    h.x1[j] = r.line[k][0];
    h.x2[j] = r.line[k][1];
    h.x3[j] = r.line[k][2];
    h.x4[j] = r.line[k][3];
    h.y1[j] = r.line[k + 1][0];
    h.y2[j] = r.line[k + 1][1];
    h.y3[j] = r.line[k + 1][2];
    h.y4[j] = r.line[k + 1][3];
  }
  const v4l lanesLo = {0, 1, 2, 3}, lanesHi = {4, 5, 6, 7};
  const v4l shiftIn = {4, 0, 1, 2};     // lane 0 from the second operand's lane 0
  const v4l shiftCarry = {7, 0, 1, 2};  // lane 0 from the second operand's lane 3
  const int64_t lag = 2 * static_cast<int64_t>(N - 1);
  const int64_t total = n + lag;
  double lastLanes[8];
  for (int64_t t = 0; t < total; ++t) {
    const double sample = t < n ? in[t] : 0.0;
    const v4d fresh = {sample, sample, sample, sample};
    const v4d xLo = __builtin_shuffle(lo.prev2, fresh, shiftIn);
    const bool all = t >= lag && t < n;
    const v4l mLo = t - 2 * lanesLo;
    const v4l activeLo = (mLo >= 0) & (mLo < n) & (lanesLo < N);
    v4d yHi = {};
    if constexpr (TwoHalves) {
      const v4d xHi = __builtin_shuffle(hi.prev2, lo.prev2, shiftCarry);
      const v4l mHi = t - 2 * lanesHi;
      const v4l activeHi = (mHi >= 0) & (mHi < n) & (lanesHi < N);
      yHi = halfStep(hi, xHi, type, all, activeHi);
      hi.prev2 = hi.prev1;
      hi.prev1 = yHi;
    }
    const v4d yLo = halfStep(lo, xLo, type, all, activeLo);
    lo.prev2 = lo.prev1;
    lo.prev1 = yLo;
    if (t >= lag) {
      __builtin_memcpy(lastLanes, &yLo, sizeof yLo);
      __builtin_memcpy(lastLanes + 4, &yHi, sizeof yHi);
      out[t - lag] = lastLanes[N - 1];
    }
  }
  for (int k = 0; k < N; ++k) {
    const Half& h = k < 4 ? lo : hi;
    const int j = k & 3;
    r.line[k][0] = h.x1[j];
    r.line[k][1] = h.x2[j];
    r.line[k][2] = h.x3[j];
    r.line[k][3] = h.x4[j];
  }
  const Half& last = N - 1 < 4 ? lo : hi;
  const int j = (N - 1) & 3;
  r.line[N][0] = last.y1[j];
  r.line[N][1] = last.y2[j];
  r.line[N][2] = last.y3[j];
  r.line[N][3] = last.y4[j];
}

bool haveAvx2() { return __builtin_cpu_supports("avx2"); }

#else
void wavefront512(FilterRecord&, const double*, double*, int64_t) {}
template <bool TwoHalves>
void wavefront256(FilterRecord&, const double*, double*, int64_t) {}
bool haveAvx512() { return false; }
bool haveAvx2() { return false; }
#endif

// 0 fastest available, 1 256-bit vectors at most, 2 scalar.
int gLimit = 0;

}  // namespace

void process(FilterRecord& r, const double* in, double* out, int64_t n) {
  const int sections = r.sections;
  if (sections <= 0) {
    if (in != out && n > 0) std::memmove(out, in, static_cast<size_t>(n) * sizeof(double));
    return;
  }
  if (gLimit == 0 && haveAvx512()) {
    wavefront512(r, in, out, n);
    return;
  }
  if (gLimit <= 1 && haveAvx2()) {
    if (sections > 4)
      wavefront256<true>(r, in, out, n);
    else
      wavefront256<false>(r, in, out, n);
    return;
  }
  const Kernel* table = r.type == 0 ? kLow : r.type == 1 ? kHigh : kBand;
  table[sections](r, in, out, n);
}

const char* kernelName() {
  if (gLimit == 0 && haveAvx512()) return "avx512";
  if (gLimit <= 1 && haveAvx2()) return "avx2";
  return "scalar";
}
void limitKernel(int level) { gLimit = level; }

void processReference(FilterRecord& r, const double* in, double* out, int64_t n) {
  const int sections = r.sections;
  for (int64_t i = 0; i < n; ++i) {
    double x = in[i];
    for (int k = 0; k < sections; ++k) {
      const double* c = r.coeff[k];
      double* inLine = r.line[k];
      double* outLine = r.line[k + 1];
      double y;
      if (r.type == 2) {
        y = c[0] * (x - 2.0 * inLine[1] + inLine[3]) - c[1] * outLine[0] - c[2] * outLine[1] -
            c[3] * outLine[2] - c[4] * outLine[3];
      } else if (r.type == 1) {
        y = c[0] * (x - 2.0 * inLine[0] + inLine[1]) - c[1] * outLine[0] - c[2] * outLine[1];
      } else {
        y = c[0] * (x + 2.0 * inLine[0] + inLine[1]) - c[1] * outLine[0] - c[2] * outLine[1];
      }
      // The input line moves on by one sample.
      inLine[3] = inLine[2];
      inLine[2] = inLine[1];
      inLine[1] = inLine[0];
      inLine[0] = x;
      x = y;
    }
    double* last = r.line[sections];
    last[3] = last[2];
    last[2] = last[1];
    last[1] = last[0];
    last[0] = x;
    out[i] = x;
  }
}

void releaseFilters(RunContext& ctx) {
  if (ctx.state == nullptr) return;
  for (auto& f : ctx.state->filters) f.reset();
}

}  // namespace filters

namespace {

lang::BuiltinState& stateOf(RunContext& ctx) {
  if (ctx.state == nullptr) lang::raiseRuntimeError(lang::kErrBuiltinNotAvailable);
  return *ctx.state;
}

}  // namespace

// setfilter(number, type, order, fc1[, fc2])
void runSetfilter(RunContext& ctx, Operand* ops, int count) {
  lang::BuiltinState& state = stateOf(ctx);
  ValueStore& values = ctx.values;
  const int32_t number = values.IntegerValue(required(ops, count, 0));
  const int32_t type = values.IntegerValue(required(ops, count, 1));
  const int32_t order = values.IntegerValue(required(ops, count, 2));
  const double fc1 = values.FloatValue(required(ops, count, 3));
  if (number < 0 || number >= lang::BuiltinState::kFilterSlots) lang::raiseRuntimeError(kErrFilterNumber);
  if (type < 0 || type > 2) lang::raiseRuntimeError(kErrFilterType);
  const int32_t sections = order / 2;
  if (sections < 0 || sections > FilterRecord::kMaxSections) lang::raiseRuntimeError(kErrFilterNumber);
  const double fc2 = type == 2 ? values.FloatValue(required(ops, count, 4)) : 0.0;
  std::unique_ptr<FilterRecord>& slot = state.filters[number];
  if (!slot) {
    slot.reset(new (std::nothrow) FilterRecord);
    if (!slot) lang::raiseRuntimeError(kErrFilterMemory);
    if (ctx.interpreter != nullptr) ctx.interpreter->addCleanup(filters::releaseFilters);
  } else {
    *slot = FilterRecord{};
  }
  slot->sections = sections;
  slot->type = type;
  slot->cutoff1 = fc1;
  slot->cutoff2 = fc2;
}

// result = filter(number, source)
void runFilter(RunContext& ctx, Operand* ops, int count) {
  lang::BuiltinState& state = stateOf(ctx);
  ValueStore& values = ctx.values;
  const int32_t number = values.IntegerValue(required(ops, count, 1));
  if (number < 0 || number >= lang::BuiltinState::kFilterSlots) lang::raiseRuntimeError(kErrFilterNumber);
  FilterRecord* rec = state.filters[number].get();
  if (rec == nullptr) lang::raiseRuntimeError(kErrFilterEmpty);
  const ValueArray& src = values.ArrayOf(required(ops, count, 2));
  if (!isArrayOrFloat(ops[0].kind())) lang::raiseRuntimeError(kErrOperandKind);
  ValueArray& dst = values.ArrayOf(ops[0]);
  const double period = src.xDistance;
  if (!rec->ready || period != rec->period) filters::design(*rec, period);
  const int32_t length = src.length;
  const float xDistance = src.xDistance;
  values.Grow(dst, length);
  filters::process(*rec, src.data, dst.data, length);
  dst.length = length;
  dst.xDistance = xDistance;
}

}  // namespace morvel::builtins
