// Classification and buffers: histograms (quant), level-crossing counts
// (levelcr), trimming (delminmax), sliding windows (fifoin), limit tests
// (chklimit) and trigger points (trigger).
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "builtins/math.h"
#include "builtins/operands.h"
#include "builtins/statistics.h"

namespace morvel::builtins {

namespace {

using lang::KindArray;
using lang::KindFloat;
using lang::KindInteger;

// The samples of `src` for a routine that rewrites `dst` while it still
// reads them: when both are the same record the samples are copied first
// (into storage of the interpreter thread that is kept for the next call).
const double* samplesApart(const ValueArray& src, const ValueArray& dst) {
  if (&src != &dst || src.length == 0) return src.data;
  thread_local std::vector<double> copy;
  if (copy.size() < static_cast<size_t>(src.length)) copy.resize(static_cast<size_t>(src.length));
  std::memcpy(copy.data(), src.data, static_cast<size_t>(src.length) * sizeof(double));
  return copy.data();
}

// The array a routine without a check routine writes: `a` or `v`.
ValueArray& resultArray(ValueStore& values, const Operand& op) {
  if (!isArrayOrFloat(op.kind())) lang::raiseRuntimeError(kErrOperandKind);
  return values.ArrayOf(op);
}

}  // namespace

// --- check routines -----------------------------------------------------------

int checkQuant(CheckContext&, const Operand* ops, int count) {
  return kindAt(ops, count, 0) == KindArray && kindAt(ops, count, 1) == KindArray &&
                 kindAt(ops, count, 2) == KindFloat && kindAt(ops, count, 3) == KindFloat &&
                 isNumber(kindAt(ops, count, 4))
             ? 0
             : -1;
}

int checkTrigger(CheckContext&, const Operand* ops, int count) {
  return kindAt(ops, count, 1) == KindArray ? 0 : -1;
}

// --- quant ----------------------------------------------------------------------
// n classes of width w = (upper − lower) / n from lower on; sample x falls
// into class floor((x − lower) / w) when that lies in 0..n−1. Each class
// becomes its share of the counted samples in percent (0 when none counted).

void runQuant(RunContext& ctx, Operand* ops, int) {
  ValueStore& values = ctx.values;
  const double lower = values.FloatValue(ops[2]);
  const double upper = values.FloatValue(ops[3]);
  const int32_t n = values.IntegerValue(ops[4]);
  if (n < 1) lang::raiseRuntimeError(kErrClassWidth);
  const double w = (upper - lower) / n;
  if (!(w > 0.0) || !std::isfinite(w)) lang::raiseRuntimeError(kErrClassWidth);

  const ValueArray& src = values.ArrayOf(ops[1]);
  ValueArray& dst = values.ArrayOf(ops[0]);
  const int32_t m = src.length;
  const double* x = samplesApart(src, dst);
  values.Grow(dst, n);
  double* counts = dst.data;  // whole numbers below 2^31: exact as doubles
  std::fill(counts, counts + n, 0.0);
  int64_t counted = 0;
  const double classes = n;
  for (int32_t i = 0; i < m; ++i) {
    const double q = std::floor((x[i] - lower) / w);
    if (q >= 0.0 && q < classes) {
      counts[static_cast<int32_t>(q)] += 1.0;
      ++counted;
    }
  }
  const double c = static_cast<double>(counted);
  for (int32_t k = 0; k < n; ++k) counts[k] = counted > 0 ? counts[k] * 100.0 / c : 0.0;
  dst.length = n;
  dst.kind = 0;
  dst.xDistance = static_cast<float>(w);
  dst.xOffset = static_cast<float>(lower);
}

// --- levelcr --------------------------------------------------------------------
// Level-crossing count with hysteresis. In class units u(x) = (x − (lower −
// w/2)) / w, class k covers [k, k+1). In the upper half (k ≥ H = n/2) a rise
// through k + r counts class k; in the lower half a fall through 1 − r + k
// counts class k. After each sample the reference level moves to the last
// class passed, b: b + r above the half, 1 − r + b else. Class indexes stay
// inside the counters; samples that give no number are passed over.

void runLevelcr(RunContext& ctx, Operand* ops, int count) {
  ValueStore& values = ctx.values;
  required(ops, count, 6);
  const double lower = values.FloatValue(ops[2]);
  const double upper = values.FloatValue(ops[3]);
  const int32_t n = values.IntegerValue(ops[4]);
  const double r = values.FloatValue(ops[5]);
  const double start = values.FloatValue(ops[6]);
  if (n < 2) lang::raiseRuntimeError(kErrClassWidth);
  const double w = (upper - lower) / (n - 1);
  if (w == 0.0 || !std::isfinite(w)) lang::raiseRuntimeError(kErrClassWidth);

  ValueArray& dst = resultArray(values, ops[0]);
  const ValueArray& src = values.ArrayOf(ops[1]);
  const int32_t m = src.length;
  const double* x = samplesApart(src, dst);
  values.Grow(dst, n);
  double* counts = dst.data;
  std::fill(counts, counts + n, 0.0);

  const double base = lower - w / 2;
  const int32_t top = n - 1;
  const int32_t half = n / 2;
  // trunc(v) as a class index inside 0..n−1 (NaN gives 0).
  auto classOf = [top](double v) -> int32_t {
    const double t = std::trunc(v);
    if (!(t >= 0.0)) return 0;
    if (t >= top) return top;
    return static_cast<int32_t>(t);
  };

  double h = (start - base) / w;
  int32_t i = classOf(h);
  int32_t b = i;
  for (int32_t s = 0; s < m; ++s) {
    const double l = (x[s] - base) / w;
    if (std::isnan(l)) continue;
    const int32_t a = classOf(l);
    if (l > h) {
      for (int32_t k = i; k <= a; ++k) {
        if (k >= half) {
          const double level = k + r;
          if (h < level && level < l) {
            counts[k] += 1.0;
            b = k;
          }
        } else if (h < k && k < l) {
          b = k;
        }
      }
    } else if (l < h) {
      for (int32_t k = i; k >= a; --k) {
        if (k < half) {
          const double level = 1.0 - r + k;
          if (l < level && level < h) {
            counts[k] += 1.0;
            b = k;
          }
        } else if (l < k + 1.0 && k + 1.0 < h) {
          b = k;
        }
      }
    }
    i = b;
    h = b > half ? b + r : 1.0 - r + b;
  }
  dst.length = n;
  dst.kind = 0;
  dst.xDistance = static_cast<float>(w);
  dst.xOffset = static_cast<float>(lower);
}

// --- delminmax ------------------------------------------------------------------
// The samples sorted in ascending order without the nMin smallest and the
// nMax largest. NaN samples sort above every number.

void runDelminmax(RunContext& ctx, Operand* ops, int count) {
  ValueStore& values = ctx.values;
  required(ops, count, 3);
  ValueArray& dst = resultArray(values, ops[0]);
  const ValueArray& src = values.ArrayOf(ops[1]);
  const int32_t nMin = values.IntegerValue(ops[2]);
  const int32_t nMax = values.IntegerValue(ops[3]);
  const int32_t m = src.length;
  if (nMin < 0 || nMax < 0 || static_cast<int64_t>(nMin) + nMax > m) lang::raiseRuntimeError(kErrDropTooMany);
  const uint32_t kind = src.kind;
  const float xDistance = src.xDistance;
  const float xOffset = src.xOffset;
  const double* from = src.data;
  values.Grow(dst, m);
  if (&dst != &src && m > 0) std::memmove(dst.data, from, static_cast<size_t>(m) * sizeof(double));
  double* d = dst.data;
  double* numbersEnd = std::partition(d, d + m, [](double v) { return !std::isnan(v); });
  std::sort(d, numbersEnd);
  const int32_t keep = m - nMin - nMax;
  if (keep > 0 && nMin > 0) std::memmove(d, d + nMin, static_cast<size_t>(keep) * sizeof(double));
  dst.length = keep;
  dst.kind = kind;
  dst.xDistance = xDistance;
  dst.xOffset = xOffset;
}

// --- fifoin ---------------------------------------------------------------------
// The fifo (at most L samples) takes the source samples at its end; when
// they do not fit, its oldest samples go. A source longer than L leaves its
// last L samples.

void runFifoin(RunContext& ctx, Operand* ops, int count) {
  ValueStore& values = ctx.values;
  required(ops, count, 2);
  ValueArray& fifo = resultArray(values, ops[0]);
  const ValueArray& src = values.ArrayOf(ops[1]);
  const int32_t limit = values.IntegerValue(ops[2]);
  if (limit < 0) lang::raiseRuntimeError(kErrNegativeCount);
  const int32_t m = src.length;
  const double* s = samplesApart(src, fifo);
  values.Grow(fifo, limit);
  const int32_t k = fifo.length;
  double* d = fifo.data;
  if (m >= limit) {
    if (limit > 0) std::memmove(d, s + (m - limit), static_cast<size_t>(limit) * sizeof(double));
    fifo.length = limit;
  } else if (static_cast<int64_t>(k) + m <= limit) {
    if (m > 0) std::memmove(d + k, s, static_cast<size_t>(m) * sizeof(double));
    fifo.length = k + m;
  } else {
    const int32_t keep = limit - m;
    if (keep > 0) std::memmove(d, d + (k - keep), static_cast<size_t>(keep) * sizeof(double));
    if (m > 0) std::memmove(d + keep, s, static_cast<size_t>(m) * sizeof(double));
    fifo.length = limit;
  }
}

// --- chklimit -------------------------------------------------------------------
// Mode 0: 1 when limit1 ≤ value ≤ limit2. Mode 1: limit1 is a reference r,
// limit2 a tolerance p in percent: 1 when |value − r| ≤ |p · r · 0.01|.
// Other modes leave the result. An absent mode is mode 0.

void runChklimit(RunContext& ctx, Operand* ops, int count) {
  ValueStore& values = ctx.values;
  required(ops, count, 3);
  const uint32_t k = ops[0].kind();
  if (!isArrayOrFloat(k) && k != KindInteger) lang::raiseRuntimeError(kErrOperandKind);
  const double value = values.FloatValue(ops[1]);
  const double limit1 = values.FloatValue(ops[2]);
  const double limit2 = values.FloatValue(ops[3]);
  const int32_t mode = count > 4 ? values.IntegerValue(ops[4]) : 0;
  bool inside;
  if (mode == 0) {
    inside = limit1 <= value && value <= limit2;
  } else if (mode == 1) {
    const double t = std::fabs(limit2 * limit1 * 0.01);
    inside = limit1 - t <= value && value <= limit1 + t;
  } else {
    return;
  }
  values.storeScalar(ops[0], inside ? 1.0 : 0.0);
}

// --- trigger --------------------------------------------------------------------
// A trigger point is an index k ≥ 1 where sample k is above the level (NaN
// counts as above) and sample k − 1 is not. A `v` result gets the first one
// (−1 when there is none), an `a` result all of them in increasing order;
// other results stay as they are.

void runTrigger(RunContext& ctx, Operand* ops, int count) {
  ValueStore& values = ctx.values;
  const double level = values.FloatValue(required(ops, count, 2));
  const ValueArray& src = values.ArrayOf(ops[1]);
  const int32_t n = src.length;
  const uint32_t kind = ops[0].kind();
  if (kind == KindFloat) {
    double first = -1.0;
    for (int32_t k = 1; k < n; ++k) {
      if (!(src.data[k] <= level) && src.data[k - 1] <= level) {
        first = k;
        break;
      }
    }
    values.storeScalar(ops[0], first);
    return;
  }
  if (kind != KindArray) return;
  int32_t points = 0;
  for (int32_t k = 1; k < n; ++k)
    points += static_cast<int32_t>(!(src.data[k] <= level) & (src.data[k - 1] <= level));
  ValueArray& dst = values.ArrayOf(ops[0]);
  values.Grow(dst, points);
  // The j-th point lies at an index above j, so writing the indices over
  // the samples of the same array never overwrites a sample still to read.
  const double* x = src.data;
  double* d = dst.data;
  int32_t j = 0;
  bool previousAtOrBelow = n > 0 && x[0] <= level;
  for (int32_t k = 1; k < n; ++k) {
    const bool atOrBelow = x[k] <= level;
    if (!atOrBelow && previousAtOrBelow) d[j++] = k;
    previousAtOrBelow = atOrBelow;
  }
  dst.length = points;
  dst.xDistance = 1.0f;
}

}  // namespace morvel::builtins
