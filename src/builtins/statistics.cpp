// Aggregates (sum, mean, gmean, max, min, amp, stddev, eff, moment, zmoment)
// and the positions of the extremes (maxxy, minxy, maxiy, miniy).
//
// The sums keep the order of a plain loop over the samples: each sample is
// added to the running sum in turn. Quotients are computed a block at a time
// ahead of the sum so the compiler can vectorise them; powers and logarithms
// come from the C library, sample by sample, so a result is the same on
// every processor. The extremes, whose result does not depend on the order,
// are searched in several lanes at once.
#include <cmath>
#include <cstdint>

#include "builtins/operands.h"
#include "builtins/statistics.h"

namespace morvel::builtins {

namespace stats {

namespace {

constexpr int64_t kBlock = 512;

int64_t firstNumber(const double* x, int64_t n) {
  int64_t i = 0;
  while (i < n && std::isnan(x[i])) ++i;
  return i;
}

template <bool kMax>
inline bool beats(double a, double b) {
  return kMax ? a > b : a < b;
}

// The extreme of `start` (a number) and x[0..n). NaN samples never win a
// comparison, so every lane holds a number throughout.
template <bool kMax>
double extremeOf(const double* x, int64_t n, double start) {
  constexpr int kLanes = 8;
  double acc[kLanes];
  for (double& a : acc) a = start;
  int64_t i = 0;
  for (; i + kLanes <= n; i += kLanes) {
    for (int j = 0; j < kLanes; ++j) {
      const double v = x[i + j];
      acc[j] = beats<kMax>(v, acc[j]) ? v : acc[j];
    }
  }
  for (; i < n; ++i) acc[0] = beats<kMax>(x[i], acc[0]) ? x[i] : acc[0];
  double m = acc[0];
  for (int j = 1; j < kLanes; ++j) m = beats<kMax>(acc[j], m) ? acc[j] : m;
  return m;
}

// Both extremes of x[0..n) in one pass, under the same conditions.
void bothExtremesOf(const double* x, int64_t n, double& largest, double& smallest) {
  constexpr int kLanes = 8;
  double hi[kLanes], lo[kLanes];
  for (int j = 0; j < kLanes; ++j) hi[j] = lo[j] = x[0];
  int64_t i = 0;
  for (; i + kLanes <= n; i += kLanes) {
    for (int j = 0; j < kLanes; ++j) {
      const double v = x[i + j];
      hi[j] = v > hi[j] ? v : hi[j];
      lo[j] = v < lo[j] ? v : lo[j];
    }
  }
  for (; i < n; ++i) {
    hi[0] = x[i] > hi[0] ? x[i] : hi[0];
    lo[0] = x[i] < lo[0] ? x[i] : lo[0];
  }
  largest = hi[0];
  smallest = lo[0];
  for (int j = 1; j < kLanes; ++j) {
    largest = hi[j] > largest ? hi[j] : largest;
    smallest = lo[j] < smallest ? lo[j] : smallest;
  }
}

int64_t firstEqual(const double* x, int64_t from, int64_t n, double value) {
  for (int64_t i = from; i < n; ++i)
    if (x[i] == value) return i;
  return -1;  // not reached for a value taken from the samples
}

// The scan in index order keeps the first sample of the extreme value. The
// extreme is searched block by block; the first block that holds it is the
// one whose extreme last beat the running one, and only that block is
// searched for the sample.
template <bool kMax>
int64_t extremeIndex(const double* x, int64_t n) {
  constexpr int64_t kSearchBlock = 4096;
  const int64_t f = firstNumber(x, n);
  if (f == n) return -1;
  double m = x[f];
  int64_t from = f, to = f + 1;
  for (int64_t b = f + 1; b < n; b += kSearchBlock) {
    const int64_t e = n - b < kSearchBlock ? n : b + kSearchBlock;
    const double bm = extremeOf<kMax>(x + b, e - b, m);
    if (beats<kMax>(bm, m)) {
      m = bm;
      from = b;
      to = e;
    }
  }
  return firstEqual(x, from, to, m);
}

template <bool kMax>
double extremeValue(const double* x, int64_t n) {
  const int64_t k = extremeIndex<kMax>(x, n);
  if (k < 0) return kMax ? kMaxStart : kMinStart;
  return x[k];
}

}  // namespace

double sum(const double* x, int64_t n) {
  double s = 0.0;
  for (int64_t i = 0; i < n; ++i) s += x[i];
  return s;
}

double sumOfSquares(const double* x, int64_t n) {
  double s = 0.0;
  for (int64_t i = 0; i < n; ++i) s += x[i] * x[i];
  return s;
}

double sumOfQuotients(const double* x, int64_t n, double d) {
  double q[kBlock];
  double s = 0.0;
  for (int64_t i = 0; i < n; i += kBlock) {
    const int64_t m = n - i < kBlock ? n - i : kBlock;
    for (int64_t j = 0; j < m; ++j) q[j] = x[i + j] / d;
    for (int64_t j = 0; j < m; ++j) s += q[j];
  }
  return s;
}

double sumOfSquaredDeviations(const double* x, int64_t n, double m) {
  double s = 0.0;
  for (int64_t i = 0; i < n; ++i) {
    const double d = x[i] - m;
    s += d * d;
  }
  return s;
}

double sumOfPowers(const double* x, int64_t n, double k) {
  double s = 0.0;
  for (int64_t i = 0; i < n; ++i) s += std::pow(x[i], k);
  return s;
}

double sumOfDeviationPowers(const double* x, int64_t n, double m, double k) {
  double s = 0.0;
  for (int64_t i = 0; i < n; ++i) s += std::pow(x[i] - m, k);
  return s;
}

double sumOfLog10Magnitudes(const double* x, int64_t n) {
  double s = 0.0;
  for (int64_t i = 0; i < n; ++i) s += std::log10(std::fabs(x[i]));
  return s;
}

double range(const double* x, int64_t n) {
  const int64_t f = firstNumber(x, n);
  if (f == n) return kMaxStart - kMinStart;
  double largest, smallest;
  bothExtremesOf(x + f, n - f, largest, smallest);
  // Only zero has two samples that compare equal: the scan keeps the first.
  if (largest == 0.0) largest = x[firstEqual(x, f, n, largest)];
  if (smallest == 0.0) smallest = x[firstEqual(x, f, n, smallest)];
  return largest - smallest;
}

int64_t maxIndex(const double* x, int64_t n) { return extremeIndex<true>(x, n); }
int64_t minIndex(const double* x, int64_t n) { return extremeIndex<false>(x, n); }
double maxValue(const double* x, int64_t n) { return extremeValue<true>(x, n); }
double minValue(const double* x, int64_t n) { return extremeValue<false>(x, n); }

}  // namespace stats

namespace {

using lang::KindArray;
using lang::KindFloat;
using lang::KindInteger;

// An aggregate of `samples` samples with x distance `dx` into the result:
// an `i` takes the value converted, a `v` or `a` one sample whose x distance
// is the duration the source covered; its x offset stays.
void storeAggregate(ValueStore& values, const Operand& target, double value, int64_t samples, float dx) {
  switch (target.kind()) {
    case KindInteger: values.storeScalar(target, value); return;
    case KindFloat:
    case KindArray: {
      ValueArray& r = values.ArrayOf(target);
      values.Grow(r, 1);
      r.data[0] = value;
      r.length = 1;
      r.kind = 0;
      r.xDistance = static_cast<float>(static_cast<double>(samples) * static_cast<double>(dx));
      return;
    }
    default: lang::raiseRuntimeError(kErrOperandKind);
  }
}

// A plain value into a position operand: the first sample of a `v` (its
// length and axis stay) or an integer.
void storePlain(ValueStore& values, const Operand& target, double value) {
  switch (target.kind()) {
    case KindInteger: values.storeScalar(target, value); return;
    case KindFloat:
    case KindArray: {
      ValueArray& r = values.ArrayOf(target);
      values.Grow(r, 1);
      r.data[0] = value;
      return;
    }
    default: lang::raiseRuntimeError(kErrOperandKind);
  }
}

// The source of an aggregate with its length checked: fewer than `least`
// samples raise `error`.
const ValueArray& aggregateSource(ValueStore& values, Operand* ops, int count, int32_t least, int error) {
  const ValueArray& src = values.ArrayOf(required(ops, count, 1));
  if (src.length < least) lang::raiseRuntimeError(error);
  return src;
}

}  // namespace

// --- check routines -----------------------------------------------------------

int checkAggregate(CheckContext&, const Operand* ops, int count) {
  return kindAt(ops, count, 1) == KindArray ? 0 : -1;
}

int checkMoment(CheckContext&, const Operand* ops, int count) {
  return kindAt(ops, count, 1) == KindArray && kindAt(ops, count, 2) == KindFloat ? 0 : -1;
}

int checkExtremeXY(CheckContext&, const Operand* ops, int count) {
  return kindAt(ops, count, 0) == KindArray && kindAt(ops, count, 1) == KindFloat &&
                 kindAt(ops, count, 2) == KindFloat
             ? 0
             : -1;
}

int checkExtremeIY(CheckContext&, const Operand* ops, int count) {
  return kindAt(ops, count, 0) == KindArray && kindAt(ops, count, 1) == KindInteger &&
                 kindAt(ops, count, 2) == KindFloat
             ? 0
             : -1;
}

// --- aggregates ---------------------------------------------------------------

void runSum(RunContext& ctx, Operand* ops, int count) {
  const ValueArray& src = aggregateSource(ctx.values, ops, count, 1, kErrEmptyArray);
  const double s = stats::sum(src.data, src.length);
  storeAggregate(ctx.values, ops[0], s, src.length, src.xDistance);
}

void runMean(RunContext& ctx, Operand* ops, int count) {
  const ValueArray& src = aggregateSource(ctx.values, ops, count, 1, kErrEmptyArray);
  const int32_t n = src.length;
  const double m = stats::sum(src.data, n) / n;
  storeAggregate(ctx.values, ops[0], m, n, src.xDistance);
}

// 10^(Σ log10 |x| / n): the geometric mean of the magnitudes.
void runGmean(RunContext& ctx, Operand* ops, int count) {
  const ValueArray& src = aggregateSource(ctx.values, ops, count, 1, kErrEmptyArray);
  const int32_t n = src.length;
  const double g = std::pow(10.0, stats::sumOfLog10Magnitudes(src.data, n) / n);
  storeAggregate(ctx.values, ops[0], g, n, src.xDistance);
}

void runMax(RunContext& ctx, Operand* ops, int count) {
  const ValueArray& src = aggregateSource(ctx.values, ops, count, 1, kErrEmptyArray);
  storeAggregate(ctx.values, ops[0], stats::maxValue(src.data, src.length), src.length, src.xDistance);
}

void runMin(RunContext& ctx, Operand* ops, int count) {
  const ValueArray& src = aggregateSource(ctx.values, ops, count, 1, kErrEmptyArray);
  storeAggregate(ctx.values, ops[0], stats::minValue(src.data, src.length), src.length, src.xDistance);
}

// Peak to peak; an empty array gives the start values' difference, -2e37.
void runAmp(RunContext& ctx, Operand* ops, int count) {
  const ValueArray& src = aggregateSource(ctx.values, ops, count, 0, 0);
  const double p = stats::range(src.data, src.length);
  storeAggregate(ctx.values, ops[0], p, src.length, src.xDistance);
}

// sqrt(Σ (x − m)² / (n − 1)) with m = Σ (x / n).
void runStddev(RunContext& ctx, Operand* ops, int count) {
  const ValueArray& src = aggregateSource(ctx.values, ops, count, 2, kErrTooFewSamples);
  const int32_t n = src.length;
  const double m = stats::sumOfQuotients(src.data, n, n);
  const double s = std::sqrt(stats::sumOfSquaredDeviations(src.data, n, m) / (n - 1));
  storeAggregate(ctx.values, ops[0], s, n, src.xDistance);
}

// sqrt(Σ x² / (n − 1)).
void runEff(RunContext& ctx, Operand* ops, int count) {
  const ValueArray& src = aggregateSource(ctx.values, ops, count, 2, kErrTooFewSamples);
  const int32_t n = src.length;
  const double e = std::sqrt(stats::sumOfSquares(src.data, n) / (n - 1));
  storeAggregate(ctx.values, ops[0], e, n, src.xDistance);
}

// Σ x^k / (n − 1); one sample divides by zero (an infinity, or NaN for 0/0).
void runMoment(RunContext& ctx, Operand* ops, int count) {
  const ValueArray& src = aggregateSource(ctx.values, ops, count, 1, kErrEmptyArray);
  const double k = ctx.values.FloatValue(required(ops, count, 2));
  const int32_t n = src.length;
  const double r = stats::sumOfPowers(src.data, n, k) / (n - 1);
  storeAggregate(ctx.values, ops[0], r, n, src.xDistance);
}

// Σ (x − m)^k / (n − 1) with m = Σ (x / n).
void runZmoment(RunContext& ctx, Operand* ops, int count) {
  const ValueArray& src = aggregateSource(ctx.values, ops, count, 2, kErrTooFewSamples);
  const double k = ctx.values.FloatValue(required(ops, count, 2));
  const int32_t n = src.length;
  const double m = stats::sumOfQuotients(src.data, n, n);
  const double r = stats::sumOfDeviationPowers(src.data, n, m, k) / (n - 1);
  storeAggregate(ctx.values, ops[0], r, n, src.xDistance);
}

// --- extreme positions --------------------------------------------------------
// Without a sample that is a number the value operand gets the start value,
// an index -1 and an x position NaN.

namespace {

template <bool kMax, bool kIndex>
void runExtremePosition(RunContext& ctx, Operand* ops, int) {
  const ValueArray& src = ctx.values.ArrayOf(ops[0]);
  const int64_t k = kMax ? stats::maxIndex(src.data, src.length) : stats::minIndex(src.data, src.length);
  double position;
  double value;
  if (k < 0) {
    position = kIndex ? -1.0 : std::nan("");
    value = kMax ? kMaxStart : kMinStart;
  } else {
    position = kIndex ? static_cast<double>(k)
                      : static_cast<double>(k) * static_cast<double>(src.xDistance) +
                            static_cast<double>(src.xOffset);
    value = src.data[k];
  }
  storePlain(ctx.values, ops[1], position);
  storePlain(ctx.values, ops[2], value);
}

}  // namespace

void runMaxxy(RunContext& ctx, Operand* ops, int count) { runExtremePosition<true, false>(ctx, ops, count); }
void runMinxy(RunContext& ctx, Operand* ops, int count) { runExtremePosition<false, false>(ctx, ops, count); }
void runMaxiy(RunContext& ctx, Operand* ops, int count) { runExtremePosition<true, true>(ctx, ops, count); }
void runMiniy(RunContext& ctx, Operand* ops, int count) { runExtremePosition<false, true>(ctx, ops, count); }

}  // namespace morvel::builtins
