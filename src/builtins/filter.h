#pragma once
// Filters, smoothing and interpolation: the Butterworth filter bank
// (setfilter, filter), supp, avg, mavg, intpl, and the PID controllers
// (setpid, pid).
#include "lang/builtin_state.h"
#include "lang/routine.h"

namespace morvel::builtins {

using lang::CheckContext;
using lang::Operand;
using lang::RunContext;

// Run-time error numbers of this family.
inline constexpr int kErrTooFewValues = 8;        // intpl of fewer than 2 samples
inline constexpr int kErrFilterEmpty = 54;        // filter slot not filled
inline constexpr int kErrFilterMemory = 55;       // filter record cannot be allocated
inline constexpr int kErrFilterNumber = 56;       // number outside 0..31, order above 17
inline constexpr int kErrWorkMemory = 79;         // intpl work arrays
inline constexpr int kErrFilterType = 172;        // filter type outside 0..2
inline constexpr int kErrSpanBelowOne = 173;      // mavg span below 1
inline constexpr int kErrPointCountBelowTwo = 174;  // intpl count below 2
inline constexpr int kErrControllerNumber = 175;  // pid/setpid controller outside 0..15
inline constexpr int kErrSameArrays = 33;         // mavg into its own source

namespace filters {

// Coefficients of `rec` for sampling period `period` (sets rec.period and
// rec.ready, clears every delay line).
void design(lang::FilterRecord& rec, double period);

// Runs n samples through the record's sections (in may equal out).
void process(lang::FilterRecord& rec, const double* in, double* out, int64_t n);

// The same, one sample and one section at a time as the steps are written.
// Slow; the tests compare process() with it.
void processReference(lang::FilterRecord& rec, const double* in, double* out, int64_t n);

// Name of the section kernel in use ("avx512", "avx2" or "scalar"). Tests
// and benchmarks may limit the choice: 0 fastest available, 1 256-bit
// vectors at most, 2 scalar.
const char* kernelName();
void limitKernel(int level);

// Run-end clean-up: frees every filter record.
void releaseFilters(RunContext& ctx);

}  // namespace filters

void runSetfilter(RunContext&, Operand*, int);
void runFilter(RunContext&, Operand*, int);
void runSupp(RunContext&, Operand*, int);
void runAvg(RunContext&, Operand*, int);
void runMavg(RunContext&, Operand*, int);
void runIntpl(RunContext&, Operand*, int);
void runSetpid(RunContext&, Operand*, int);
void runPid(RunContext&, Operand*, int);

// avg: result a, source a; resets the result's averaging counter.
int checkAvg(CheckContext&, const Operand*, int);
// mavg: result a, source a, span v/i; resets the result's averaging counter.
int checkMavg(CheckContext&, const Operand*, int);
// intpl: result a, source a, count v/i.
int checkIntpl(CheckContext&, const Operand*, int);
// setpid: controller v/i, three gains v.
int checkSetpid(CheckContext&, const Operand*, int);
// pid: result v, controller v/i, set point v, actual value v.
int checkPid(CheckContext&, const Operand*, int);

}  // namespace morvel::builtins
