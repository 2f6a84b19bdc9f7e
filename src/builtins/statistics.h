#pragma once
// Statistics and classification: run and check routines of the builtin
// table rows sum ... trigger, and the sample kernels behind them.
//
// Aggregates (result, source array[, order]): the result (`v`, `a` or `i`)
// becomes one value; a `v` or `a` result takes as x distance the duration
// the source covers (its length times its x distance) and keeps its x
// offset. Sums give the result of adding the terms in index order, one
// after the other, on every machine and for every array length; only the
// logarithms of gmean come from the vector library chosen for the processor.
#include <cstdint>

#include "lang/routine.h"

namespace morvel::builtins {

using lang::CheckContext;
using lang::Operand;
using lang::RunContext;

// Run-time error numbers of this family.
inline constexpr int kErrClassWidth = 7;     // quant/levelcr: classes or class width unusable
inline constexpr int kErrTooFewSamples = 8;  // stddev, eff, zmoment with fewer than 2 samples
inline constexpr int kErrEmptyArray = 43;    // sum, mean, gmean, max, min, moment of nothing
inline constexpr int kErrDropTooMany = 102;  // delminmax: nMin + nMax beyond the length, or negative

// Start values of the extremes; they remain when no sample is a number.
inline constexpr double kMaxStart = -1e37;
inline constexpr double kMinStart = 1e37;

namespace stats {

// s + t[0] + t[1] + ... + t[n-1], added one after the other in index order:
// bit for bit the result of `for (i) s += t[i];`, faster where the running
// sum stays within one power of two for a while.
double orderedSum(const double* t, int64_t n, double s);
// Tests: use the portable kernel of orderedSum even where AVX-512 is there
// (true), or go back to the start-up choice (false).
void forcePortableSums(bool on);
// Σ x, in index order starting from 0.
double sum(const double* x, int64_t n);
// Σ x², in index order.
double sumOfSquares(const double* x, int64_t n);
// Σ (x / d), in index order (the mean of stddev and zmoment, d = n).
double sumOfQuotients(const double* x, int64_t n, double d);
// Σ (x − m)², in index order.
double sumOfSquaredDeviations(const double* x, int64_t n, double m);
// Σ pow(x, k) and Σ pow(x − m, k), in index order, by the C library's pow;
// for k = 2 the square by one multiplication, the correctly rounded x².
double sumOfPowers(const double* x, int64_t n, double k);
double sumOfDeviationPowers(const double* x, int64_t n, double m, double k);
// Σ log10 |x|, in index order, with the logarithm of the elementwise `log`
// (vec::Unary::Log10), so gmean(a) is 10^(sum(log(abs(a))) / n).
double sumOfLog10Magnitudes(const double* x, int64_t n);

// Index of the sample a scan in index order ends on when it starts from the
// first sample that is a number and takes each later sample larger
// (smaller) than the one it holds: the first of the largest (smallest)
// samples. -1 when no sample is a number.
int64_t maxIndex(const double* x, int64_t n);
int64_t minIndex(const double* x, int64_t n);
// The values of that sample, or the start values when there is none.
double maxValue(const double* x, int64_t n);
double minValue(const double* x, int64_t n);
// maxValue − minValue in one pass over the samples.
double range(const double* x, int64_t n);

}  // namespace stats

// --- aggregates ----------------------------------------------------------------
void runSum(RunContext&, Operand*, int);
void runMean(RunContext&, Operand*, int);
void runGmean(RunContext&, Operand*, int);
void runMax(RunContext&, Operand*, int);
void runMin(RunContext&, Operand*, int);
void runAmp(RunContext&, Operand*, int);
void runStddev(RunContext&, Operand*, int);
void runEff(RunContext&, Operand*, int);
void runMoment(RunContext&, Operand*, int);
void runZmoment(RunContext&, Operand*, int);

// result of any kind, source `a`.
int checkAggregate(CheckContext&, const Operand*, int);
// result of any kind, source `a`, order `v`.
int checkMoment(CheckContext&, const Operand*, int);

// --- extreme positions -----------------------------------------------------------
void runMaxxy(RunContext&, Operand*, int);
void runMinxy(RunContext&, Operand*, int);
void runMaxiy(RunContext&, Operand*, int);
void runMiniy(RunContext&, Operand*, int);

int checkExtremeXY(CheckContext&, const Operand*, int);  // a, v, v
int checkExtremeIY(CheckContext&, const Operand*, int);  // a, i, v

// --- classification and buffers ---------------------------------------------------
void runQuant(RunContext&, Operand*, int);
void runLevelcr(RunContext&, Operand*, int);
void runDelminmax(RunContext&, Operand*, int);
void runFifoin(RunContext&, Operand*, int);
void runChklimit(RunContext&, Operand*, int);
void runTrigger(RunContext&, Operand*, int);

int checkQuant(CheckContext&, const Operand*, int);    // a, a, v, v, v/i
int checkTrigger(CheckContext&, const Operand*, int);  // second operand a

}  // namespace morvel::builtins
