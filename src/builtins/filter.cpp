// The Butterworth filter bank: setfilter fills a slot, filter runs blocks of
// samples through it and keeps the delay lines for the next block.
//
// The per-sample arithmetic is exactly the sections' difference equations in
// their written order; the speed comes from a kernel per section count and
// type that keeps coefficients and delay lines in registers for the whole
// block. Section k of sample i needs only section k-1 of sample i and
// section k of earlier samples, so the processor overlaps the sections of
// successive samples. Built with -ffp-contract=off: no fused multiply-add.
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

template <int N, bool High>
void lowHigh(FilterRecord& r, const double* in, double* out, int64_t count) {
  double b0[N], a1[N], a2[N], z1[N + 1], z2[N + 1];
  for (int k = 0; k < N; ++k) {
    b0[k] = r.coeff[k][0];
    a1[k] = r.coeff[k][1];
    a2[k] = r.coeff[k][2];
  }
  for (int k = 0; k <= N; ++k) {
    z1[k] = r.line[k][0];
    z2[k] = r.line[k][1];
  }
  for (int64_t i = 0; i < count; ++i) {
    double x = in[i];
#pragma GCC unroll 8
    for (int k = 0; k < N; ++k) {
      const double s = High ? x - 2.0 * z1[k] + z2[k] : x + 2.0 * z1[k] + z2[k];
      const double y = b0[k] * s - a1[k] * z1[k + 1] - a2[k] * z2[k + 1];
      z2[k] = z1[k];
      z1[k] = x;
      x = y;
    }
    z2[N] = z1[N];
    z1[N] = x;
    out[i] = x;
  }
  for (int k = 0; k <= N; ++k) {
    r.line[k][0] = z1[k];
    r.line[k][1] = z2[k];
  }
}

template <int N>
void bandPass(FilterRecord& r, const double* in, double* out, int64_t count) {
  double b0[N], a1[N], a2[N], a3[N], a4[N], z1[N + 1], z2[N + 1], z3[N + 1], z4[N + 1];
  for (int k = 0; k < N; ++k) {
    b0[k] = r.coeff[k][0];
    a1[k] = r.coeff[k][1];
    a2[k] = r.coeff[k][2];
    a3[k] = r.coeff[k][3];
    a4[k] = r.coeff[k][4];
  }
  for (int k = 0; k <= N; ++k) {
    z1[k] = r.line[k][0];
    z2[k] = r.line[k][1];
    z3[k] = r.line[k][2];
    z4[k] = r.line[k][3];
  }
  for (int64_t i = 0; i < count; ++i) {
    double x = in[i];
#pragma GCC unroll 8
    for (int k = 0; k < N; ++k) {
      const double s = x - 2.0 * z2[k] + z4[k];
      const double y = b0[k] * s - a1[k] * z1[k + 1] - a2[k] * z2[k + 1] - a3[k] * z3[k + 1] - a4[k] * z4[k + 1];
      z4[k] = z3[k];
      z3[k] = z2[k];
      z2[k] = z1[k];
      z1[k] = x;
      x = y;
    }
    z4[N] = z3[N];
    z3[N] = z2[N];
    z2[N] = z1[N];
    z1[N] = x;
    out[i] = x;
  }
  for (int k = 0; k <= N; ++k) {
    r.line[k][0] = z1[k];
    r.line[k][1] = z2[k];
    r.line[k][2] = z3[k];
    r.line[k][3] = z4[k];
  }
}

using Kernel = void (*)(FilterRecord&, const double*, double*, int64_t);

constexpr Kernel kLow[] = {nullptr, lowHigh<1, false>, lowHigh<2, false>, lowHigh<3, false>, lowHigh<4, false>,
                           lowHigh<5, false>, lowHigh<6, false>, lowHigh<7, false>, lowHigh<8, false>};
constexpr Kernel kHigh[] = {nullptr, lowHigh<1, true>, lowHigh<2, true>, lowHigh<3, true>, lowHigh<4, true>,
                            lowHigh<5, true>, lowHigh<6, true>, lowHigh<7, true>, lowHigh<8, true>};
constexpr Kernel kBand[] = {nullptr, bandPass<1>, bandPass<2>, bandPass<3>, bandPass<4>,
                            bandPass<5>, bandPass<6>, bandPass<7>, bandPass<8>};

}  // namespace

void process(FilterRecord& r, const double* in, double* out, int64_t n) {
  const int sections = r.sections;
  if (sections <= 0) {
    if (in != out && n > 0) std::memmove(out, in, static_cast<size_t>(n) * sizeof(double));
    return;
  }
  const Kernel* table = r.type == 0 ? kLow : r.type == 1 ? kHigh : kBand;
  table[sections](r, in, out, n);
}

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
