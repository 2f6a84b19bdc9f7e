// Smoothing, interpolation and control rows: supp, avg, mavg, intpl, setpid,
// pid.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

#include "builtins/filter.h"
#include "builtins/operands.h"
#include "lang/value_store.h"

namespace morvel::builtins {

namespace {

using lang::KindArray;
using lang::KindFloat;
using lang::ValueArray;

// Work buffer of the calling thread (kept between calls, grown when needed).
double* workBuffer(int64_t doubles) {
  thread_local std::unique_ptr<double[]> buffer;
  thread_local int64_t size = 0;
  if (size < doubles) {
    buffer.reset(new (std::nothrow) double[doubles]);
    if (!buffer) {
      size = 0;
      lang::raiseRuntimeError(kErrWorkMemory);
    }
    size = doubles;
  }
  return buffer.get();
}

void resetCounter(CheckContext& ctx, const Operand& op) {
  if (op.kind() == KindArray && !op.indirect() && op.slot() < lang::kArraySlots)
    ctx.values.averagingCounter(op.slot()) = 0.0;
}

lang::PidController& controller(RunContext& ctx, const Operand& op) {
  if (ctx.state == nullptr) lang::raiseRuntimeError(lang::kErrBuiltinNotAvailable);
  const int32_t n = ctx.values.IntegerValue(op);
  if (n < 0 || n >= lang::BuiltinState::kPidControllers) lang::raiseRuntimeError(kErrControllerNumber);
  return ctx.state->pid[n];
}

// Replaces x[lo..hi] by the straight line through its end points; an empty
// span leaves the data.
void straighten(double* x, int64_t lo, int64_t hi) {
  if (hi <= lo) return;
  const double x0 = x[lo];
  const double slope = (x[hi] - x0) / static_cast<double>(hi - lo);
  for (int64_t j = lo + 1; j < hi; ++j) x[j] = x0 + slope * static_cast<double>(j - lo);
}

}  // namespace

// --- check routines -------------------------------------------------------------

int checkAvg(CheckContext& ctx, const Operand* ops, int count) {
  if (count != 2 || ops[0].kind() != KindArray || ops[1].kind() != KindArray) return -1;
  resetCounter(ctx, ops[0]);
  return 0;
}

int checkMavg(CheckContext& ctx, const Operand* ops, int count) {
  if (count != 3 || ops[0].kind() != KindArray || ops[1].kind() != KindArray || !isNumber(ops[2].kind()))
    return -1;
  resetCounter(ctx, ops[0]);
  return 0;
}

int checkIntpl(CheckContext&, const Operand* ops, int count) {
  return count == 3 && ops[0].kind() == KindArray && ops[1].kind() == KindArray && isNumber(ops[2].kind()) ? 0
                                                                                                            : -1;
}

int checkSetpid(CheckContext&, const Operand* ops, int count) {
  return count == 4 && isNumber(ops[0].kind()) && ops[1].kind() == KindFloat && ops[2].kind() == KindFloat &&
                 ops[3].kind() == KindFloat
             ? 0
             : -1;
}

int checkPid(CheckContext&, const Operand* ops, int count) {
  return count == 4 && ops[0].kind() == KindFloat && isNumber(ops[1].kind()) && ops[2].kind() == KindFloat &&
                 ops[3].kind() == KindFloat
             ? 0
             : -1;
}

// --- supp -------------------------------------------------------------------------

// supp(array, mode, weighting, before, after): spikes replaced in place.
void runSupp(RunContext& ctx, Operand* ops, int count) {
  ValueStore& values = ctx.values;
  const Operand& target = required(ops, count, 0);
  if (target.kind() != KindArray) lang::raiseRuntimeError(kErrOperandKind);
  const int32_t mode = values.IntegerValue(required(ops, count, 1));
  const double weighting = values.FloatValue(required(ops, count, 2));
  const int64_t before = values.IntegerValue(required(ops, count, 3));
  const int64_t after = values.IntegerValue(required(ops, count, 4));
  ValueArray& a = values.ArrayOf(target);
  const int64_t n = a.length;
  double* x = a.data;
  // A spike at i: the samples lo..hi become a line; the scan goes on at
  // hi + 2 (and always moves forward).
  auto replace = [&](int64_t i) {
    int64_t lo = i - before;
    if (lo < 0) lo = 0;
    int64_t hi = i + after;
    if (hi > n - 1) hi = n - 1;
    straighten(x, lo, hi);
    return hi + 2 > i + 1 ? hi + 2 : i + 1;
  };
  if (mode != 1) {
    const double threshold = weighting;
    for (int64_t i = 1; i < n;) {
      if (std::fabs(x[i] - x[i - 1]) > threshold)
        i = replace(i);
      else
        ++i;
    }
    return;
  }
  if (n < 3) return;
  double* d = workBuffer(n - 1);
  double mean = 0.0;
  for (int64_t j = 0; j < n - 1; ++j) {
    d[j] = x[j + 1] - x[j];
    mean += d[j];
  }
  mean /= static_cast<double>(n - 1);
  double squares = 0.0;
  for (int64_t j = 0; j < n - 1; ++j) squares += (d[j] - mean) * (d[j] - mean);
  const double threshold = weighting * std::sqrt(squares / static_cast<double>(n - 2));
  for (int64_t i = 1; i < n - 1;) {
    if (std::fabs(d[i] - d[i - 1]) > threshold)
      i = replace(i);
    else
      ++i;
  }
}

// --- avg ----------------------------------------------------------------------------

void runAvg(RunContext& ctx, Operand* ops, int count) {
  ValueStore& values = ctx.values;
  const Operand& target = required(ops, count, 0);
  if (target.kind() != KindArray) lang::raiseRuntimeError(kErrOperandKind);
  const ValueArray& src = values.ArrayOf(required(ops, count, 1));
  ValueArray& dst = values.ArrayOf(target);
  double& k = values.averagingCounter(values.SlotOf(target));
  const int32_t n = src.length;
  const int32_t old = dst.length;
  values.Grow(dst, n);
  const double* s = src.data;
  double* d = dst.data;
  if (k == 0.0) {
    if (d != s && n > 0) std::memcpy(d, s, static_cast<size_t>(n) * sizeof(double));
  } else {
    const int32_t both = old < n ? old : n;
    for (int32_t i = 0; i < both; ++i) d[i] = (k * d[i] + s[i]) / (k + 1.0);
    // Samples the destination did not hold yet start from the source.
    for (int32_t i = both; i < n; ++i) d[i] = s[i];
  }
  k = k + 1.0;
  dst.length = n;
  dst.xDistance = src.xDistance;
  dst.xOffset = src.xOffset;
  dst.kind = (dst.kind & ~3u) | (src.kind & 3u);
}

// --- mavg ---------------------------------------------------------------------------

// Output p is the mean of x[max(0, p-h) .. min(n-1, p+b-1-h)], h = (b-1)/2,
// kept as a running sum in extended precision: the sample leaving the window
// is subtracted before the one entering is added, as a ring of b values
// does it.
void runMavg(RunContext& ctx, Operand* ops, int count) {
  ValueStore& values = ctx.values;
  const Operand& target = required(ops, count, 0);
  if (!isArrayOrFloat(target.kind())) lang::raiseRuntimeError(kErrOperandKind);
  const ValueArray& src = values.ArrayOf(required(ops, count, 1));
  const int64_t b = values.IntegerValue(required(ops, count, 2));
  if (b < 1) lang::raiseRuntimeError(kErrSpanBelowOne);
  ValueArray& dst = values.ArrayOf(target);
  if (&src == &dst) lang::raiseRuntimeError(kErrSameArrays);
  const int64_t n = src.length;
  values.Grow(dst, n);
  const double* x = src.data;
  double* out = dst.data;
  const int64_t h = (b - 1) / 2;
  long double sum = 0.0L;
  int64_t lo = 0, next = 0;  // window lo .. next-1
  for (int64_t p = 0; p < n; ++p) {
    int64_t wantLo = p - h;
    if (wantLo < 0) wantLo = 0;
    int64_t wantHi = p + b - 1 - h;
    if (wantHi > n - 1) wantHi = n - 1;
    while (next <= wantHi) {
      if (lo < wantLo && next - lo >= b) sum -= x[lo++];
      sum += x[next++];
    }
    while (lo < wantLo) sum -= x[lo++];
    out[p] = static_cast<double>(sum / static_cast<long double>(next - lo));
  }
  dst.length = static_cast<int32_t>(n);
  dst.xDistance = src.xDistance;
  dst.xOffset = src.xOffset;
  dst.kind = (dst.kind & ~3u) | (src.kind & 3u);
}

// --- intpl --------------------------------------------------------------------------

void runIntpl(RunContext& ctx, Operand* ops, int count) {
  ValueStore& values = ctx.values;
  const Operand& target = required(ops, count, 0);
  if (!isArrayOrFloat(target.kind())) lang::raiseRuntimeError(kErrOperandKind);
  const ValueArray& src = values.ArrayOf(required(ops, count, 1));
  const int64_t points = values.IntegerValue(required(ops, count, 2));
  const int64_t n = src.length;
  if (n < 2) lang::raiseRuntimeError(kErrTooFewValues);
  if (points < 2) lang::raiseRuntimeError(kErrPointCountBelowTwo);
  const double T = src.xDistance;
  const float xOffset = src.xOffset;
  // Work arrays: the samples extended by two on each side (index j + 2),
  // the slopes m(j) for j = -2..n (index j + 2), derivatives t(0..n-1), and
  // the cubics' p2, p3 per interval.
  std::unique_ptr<double[]> work(new (std::nothrow) double[(n + 4) + (n + 3) + n + 2 * (n - 1)]);
  if (!work) lang::raiseRuntimeError(kErrWorkMemory);
  double* xe = work.get();
  double* m = xe + (n + 4);
  double* t = m + (n + 3);
  double* p2 = t + n;
  double* p3 = p2 + (n - 1);
  const double* x = src.data;
  std::memcpy(xe + 2, x, static_cast<size_t>(n) * sizeof(double));
  xe[1] = 2.0 * x[0] - x[1];
  xe[0] = 3.0 * x[0] - 2.0 * x[1];
  xe[n + 2] = 2.0 * x[n - 1] - x[n - 2];
  xe[n + 3] = 3.0 * x[n - 1] - 2.0 * x[n - 2];
  for (int64_t j = -2; j <= n; ++j) m[j + 2] = (xe[j + 3] - xe[j + 2]) / T;
  for (int64_t j = 0; j < n; ++j) {
    const double mm2 = m[j], mm1 = m[j + 1], m0 = m[j + 2], m1 = m[j + 3];
    if (mm2 == mm1 && m0 == m1) {
      t[j] = (m0 + m1) / 2.0;
    } else {
      const double w1 = std::fabs(m1 - m0);
      const double w2 = std::fabs(mm1 - mm2);
      t[j] = (w1 * mm1 + w2 * m0) / (w1 + w2);
    }
  }
  for (int64_t j = 0; j + 1 < n; ++j) {
    const double mj = m[j + 2];
    p2[j] = (3.0 * mj - 2.0 * t[j] - t[j + 1]) / T;
    p3[j] = (t[j] + t[j + 1] - 2.0 * mj) / (T * T);
  }
  const double D = static_cast<double>(n - 1) * T / static_cast<double>(points - 1);
  ValueArray& dst = values.ArrayOf(target);
  values.Grow(dst, points);
  double* out = dst.data;
  for (int64_t i = 0; i < points; ++i) {
    const double u = static_cast<double>(i) * D * 0.99999;
    const double q = u / T;
    int64_t k = 0;
    if (q >= static_cast<double>(n - 2)) k = n - 2;
    else if (q > 0.0) k = static_cast<int64_t>(q);
    const double s = u - static_cast<double>(k) * T;
    out[i] = xe[k + 2] + s * (t[k] + s * (p2[k] + s * p3[k]));
  }
  dst.length = static_cast<int32_t>(points);
  dst.xDistance = static_cast<float>(D);
  dst.xOffset = xOffset;
  dst.kind &= ~3u;
}

// --- PID controllers ------------------------------------------------------------------

void runSetpid(RunContext& ctx, Operand* ops, int count) {
  lang::PidController& c = controller(ctx, required(ops, count, 0));
  c.kp = static_cast<float>(ctx.values.FloatValue(required(ops, count, 1)));
  c.ki = static_cast<float>(ctx.values.FloatValue(required(ops, count, 2)));
  c.kd = static_cast<float>(ctx.values.FloatValue(required(ops, count, 3)));
}

void runPid(RunContext& ctx, Operand* ops, int count) {
  const Operand& target = required(ops, count, 0);
  lang::PidController& c = controller(ctx, required(ops, count, 1));
  const double e = ctx.values.FloatValue(required(ops, count, 2)) - ctx.values.FloatValue(required(ops, count, 3));
  c.integral = static_cast<float>(static_cast<double>(c.integral) + static_cast<double>(c.ki) * e);
  const double result = static_cast<double>(c.integral) +
                        static_cast<double>(c.kd) * (e - static_cast<double>(c.previousError)) +
                        static_cast<double>(c.kp) * e;
  c.previousError = static_cast<float>(e);
  ctx.values.storeScalar(target, result);
}

}  // namespace morvel::builtins
