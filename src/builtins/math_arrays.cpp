// Array rows: integration, difference, polynomial, shifting, filling,
// copying, clearing, lengths and axes, the random generator and mod.
#include <climits>
#include <cstdint>
#include <cstring>

#include "builtins/math.h"
#include "builtins/operands.h"
#include "lang/builtin_state.h"

namespace morvel::builtins {

namespace {

using lang::KindArray;
using lang::KindFileArray;
using lang::KindFloat;
using lang::KindInteger;
using lang::KindString;
using lang::KindWindow;

size_t stringLength(const char* s) {
  return strnlen(s, lang::kMaxStringLength);
}

// A scalar result into a `v`, `a` or `i` variable (rows without a check
// routine refuse other kinds at run time).
void storeResult(ValueStore& values, const Operand& target, double value) {
  const uint32_t k = target.kind();
  if (!isArrayOrFloat(k) && k != KindInteger) lang::raiseRuntimeError(kErrOperandKind);
  values.storeScalar(target, value);
}

}  // namespace

// --- check routines -----------------------------------------------------------

int checkIntegrate(CheckContext&, const Operand* ops, int count) {
  return isArrayOrFloat(kindAt(ops, count, 0)) && kindAt(ops, count, 1) == KindArray ? 0 : -1;
}

// result a/v, argument a/v, order v (its value at compile time tells how
// many coefficients follow), then the coefficients, each v.
int checkPoly(CheckContext& ctx, const Operand* ops, int count) {
  if (!isArrayOrFloat(kindAt(ops, count, 0)) || !isArrayOrFloat(kindAt(ops, count, 1)) ||
      kindAt(ops, count, 2) != KindFloat)
    return -1;
  if (count < 4) return -1;
  for (int k = 3; k < count; ++k)
    if (ops[k].kind() != KindFloat) return -1;
  // An indirect order (v[i3]) names no variable yet: the run checks it.
  if (ops[2].indirect()) return 0;
  const int32_t order = lang::toInteger(ctx.values.FloatValue(ops[2]));
  if (order >= 0 && order <= kMaxPolyOrder && count - 3 < order + 1) return -1;
  return 0;
}

int checkShift(CheckContext&, const Operand* ops, int count) {
  return kindAt(ops, count, 0) == KindArray && kindAt(ops, count, 1) == KindArray &&
                 isNumber(kindAt(ops, count, 2))
             ? 0
             : -1;
}

int checkFill(CheckContext&, const Operand* ops, int count) {
  return kindAt(ops, count, 0) == KindArray && isNumber(kindAt(ops, count, 1)) &&
                 isNumber(kindAt(ops, count, 2)) && isNumber(kindAt(ops, count, 3))
             ? 0
             : -1;
}

// result a, v or s; source a, f or s; offset and count v/i. A string result
// needs a string source (and a variable, not a literal).
int checkCopybuf(CheckContext& ctx, const Operand* ops, int count) {
  const uint32_t dk = kindAt(ops, count, 0);
  const uint32_t sk = kindAt(ops, count, 1);
  if (!isNumber(kindAt(ops, count, 2)) || !isNumber(kindAt(ops, count, 3))) return -1;
  if (sk != KindArray && sk != KindFileArray && sk != KindString) return -1;
  if (dk == KindString) return sk == KindString && isStringVariable(ctx.values, ops[0]) ? 0 : -1;
  return isArrayOrFloat(dk) ? 0 : -1;
}

int checkClr(CheckContext& ctx, const Operand* ops, int count) {
  switch (kindAt(ops, count, 0)) {
    case KindWindow:
    case KindArray:
    case KindFileArray:
      return 0;
    case KindString:
      return isStringVariable(ctx.values, ops[0]) ? 0 : -1;
    default:
      return -1;
  }
}

int checkSetAxis(CheckContext&, const Operand* ops, int count) {
  return isArrayOrFloat(kindAt(ops, count, 0)) && isNumber(kindAt(ops, count, 1)) ? 0 : -1;
}

int checkGetAxis(CheckContext&, const Operand* ops, int count) {
  return isArrayOrFloat(kindAt(ops, count, 0)) && isArrayOrFloat(kindAt(ops, count, 1)) ? 0 : -1;
}

// --- run routines -------------------------------------------------------------

// Running sum, rectangle rule: d[k] = dx * (s[0] + ... + s[k]).
void runInt(RunContext& ctx, Operand* ops, int) {
  const ValueArray& src = ctx.values.ArrayOf(ops[1]);
  ValueArray& dst = ctx.values.ArrayOf(ops[0]);
  const int32_t n = src.length;
  ctx.values.Grow(dst, n);
  const double dx = src.xDistance;
  double sum = 0.0;
  for (int32_t i = 0; i < n; ++i) {
    sum += src.data[i];
    dst.data[i] = dx * sum;
  }
  dst.length = n;
  dst.xDistance = src.xDistance;
}

// Backward difference: d[0] = 0, d[k] = (s[k] - s[k-1]) / dx.
void runDev(RunContext& ctx, Operand* ops, int) {
  const ValueArray& src = ctx.values.ArrayOf(ops[1]);
  ValueArray& dst = ctx.values.ArrayOf(ops[0]);
  const int32_t n = src.length;
  ctx.values.Grow(dst, n);
  const double dx = src.xDistance;
  if (n > 0) {
    double previous = src.data[0];
    dst.data[0] = 0.0;
    for (int32_t i = 1; i < n; ++i) {
      const double current = src.data[i];
      dst.data[i] = (current - previous) / dx;
      previous = current;
    }
  }
  dst.length = n;
  dst.xDistance = src.xDistance;
}

// Horner's rule, first coefficient the highest power. The order is read at
// run time; it must not ask for more coefficients than the statement has.
void runPoly(RunContext& ctx, Operand* ops, int count) {
  const int32_t order = ctx.values.IntegerValue(ops[2]);
  if (order < 0 || order > kMaxPolyOrder || order + 1 > count - 3) lang::raiseRuntimeError(kErrPolyOrder);
  double c[kMaxPolyOrder + 1];
  for (int32_t k = 0; k <= order; ++k) c[k] = ctx.values.FloatValue(ops[3 + k]);
  const ValueArray& src = ctx.values.ArrayOf(ops[1]);
  ValueArray& dst = ctx.values.ArrayOf(ops[0]);
  const int32_t n = src.length;
  ctx.values.Grow(dst, n);
  for (int32_t i = 0; i < n; ++i) {
    const double x = src.data[i];
    double r = c[0];
    for (int32_t k = 1; k <= order; ++k) r = r * x + c[k];
    dst.data[i] = r;
  }
  dst.length = n;
  dst.xDistance = src.xDistance;
  dst.kind = 0;
}

void runShift(RunContext& ctx, Operand* ops, int) {
  const ValueArray& src = ctx.values.ArrayOf(ops[1]);
  const int32_t k = ctx.values.IntegerValue(ops[2]);
  if (k < 0 || k > src.length) lang::raiseRuntimeError(kErrShiftTooFar);
  ValueArray& dst = ctx.values.ArrayOf(ops[0]);
  const int32_t n = src.length - k;
  ctx.values.Grow(dst, n);
  if (n > 0) std::memmove(dst.data, src.data + k, static_cast<size_t>(n) * sizeof(double));
  dst.length = n;
  dst.kind = src.kind;
  dst.xDistance = src.xDistance;
}

void runFill(RunContext& ctx, Operand* ops, int) {
  ValueArray& a = ctx.values.ArrayOf(ops[0]);
  const int32_t offset = ctx.values.IntegerValue(ops[1]);
  const int32_t n = ctx.values.IntegerValue(ops[2]);
  const double value = ctx.values.FloatValue(ops[3]);
  if (offset < 0) lang::raiseRuntimeError(kErrBadOffset);
  if (n < 0) lang::raiseRuntimeError(kErrNegativeCount);
  const int64_t end = static_cast<int64_t>(offset) + n;
  ctx.values.Grow(a, end);
  for (int64_t i = offset; i < end; ++i) a.data[i] = value;
  if (end > a.length) a.length = static_cast<int32_t>(end);
}

void runCopybuf(RunContext& ctx, Operand* ops, int) {
  ValueStore& values = ctx.values;
  const int32_t offset = values.IntegerValue(ops[2]);
  const int32_t n = values.IntegerValue(ops[3]);
  if (offset < 0) lang::raiseRuntimeError(kErrBadOffset);
  if (n < 0) lang::raiseRuntimeError(kErrNegativeCount);
  const uint32_t sourceKind = ops[1].kind();

  if (ops[0].kind() == KindString) {
    if (sourceKind != KindString) return;
    char* dst = writableString(values, ops[0]);
    const char* src = values.StringOf(ops[1]);
    const size_t length = stringLength(src);
    size_t take = 0;
    if (static_cast<size_t>(offset) < length) {
      take = length - static_cast<size_t>(offset);
      if (take > static_cast<size_t>(n)) take = static_cast<size_t>(n);
    }
    if (take > 0) std::memmove(dst, src + offset, take);
    dst[take] = '\0';
    return;
  }

  ValueArray& dst = values.ArrayOf(ops[0]);
  switch (sourceKind) {
    case KindArray:
    case KindFloat: {
      const ValueArray& src = values.ArrayOf(ops[1]);
      if (static_cast<int64_t>(src.length) - offset < n) lang::raiseRuntimeError(kErrBadOffset);
      values.Grow(dst, n);
      if (n > 0) std::memmove(dst.data, src.data + offset, static_cast<size_t>(n) * sizeof(double));
      dst.kind = src.kind;
      dst.xDistance = src.xDistance;
      dst.length = n;
      return;
    }
    case KindFileArray: {
      // The samples are read at their place in the file, whatever earlier
      // reads or writes did to the handle's position.
      const int slot = values.SlotOf(ops[1]);
      if (values.openFileArray(slot) < 0) {
        dst.length = 0;
        return;
      }
      values.readFileArray(slot, dst, offset, n);
      return;
    }
    default:
      return;  // a string source copies nothing into an array
  }
}

void runClr(RunContext& ctx, Operand* ops, int) {
  ValueStore& values = ctx.values;
  switch (ops[0].kind()) {
    case KindWindow: {
      const int number = values.WindowOf(ops[0]);  // error 89 when unbound
      values.windowPort()->clearWindow(number);
      return;
    }
    case KindArray: {
      values.ArrayOf(ops[0]).length = 0;
      values.averagingCounter(values.SlotOf(ops[0])) = 0.0;
      return;
    }
    case KindFileArray:
      values.removeFileArray(values.SlotOf(ops[0]));
      return;
    case KindString:
      writableString(values, ops[0])[0] = '\0';
      return;
    default:
      return;
  }
}

void runSetlen(RunContext& ctx, Operand* ops, int count) {
  ValueStore& values = ctx.values;
  Operand& target = required(ops, count, 0);
  const int32_t n = values.IntegerValue(required(ops, count, 1));
  const uint32_t k = target.kind();
  if (k == KindString) {
    char* s = writableString(values, target);
    if (n < 0) lang::raiseRuntimeError(kErrNegativeCount);
    if (n >= lang::kStringCapacity) return;
    const size_t length = stringLength(s);
    if (static_cast<size_t>(n) > length) std::memset(s + length, ' ', static_cast<size_t>(n) - length);
    s[n] = '\0';
    return;
  }
  if (!isArrayOrFloat(k)) lang::raiseRuntimeError(kErrOperandKind);
  if (n < 0) lang::raiseRuntimeError(kErrNegativeCount);
  values.extendLength(values.ArrayOf(target), n);
}

void runGetlen(RunContext& ctx, Operand* ops, int count) {
  ValueStore& values = ctx.values;
  Operand& target = required(ops, count, 0);
  Operand& argument = required(ops, count, 1);
  double length = 1.0;
  if (argument.kind() == KindArray)
    length = values.ArrayOf(argument).length;
  else if (argument.kind() == KindString)
    length = static_cast<double>(stringLength(values.StringOf(argument)));
  storeResult(values, target, length);
}

void runSetxdist(RunContext& ctx, Operand* ops, int) {
  const double d = ctx.values.FloatValue(ops[1]);
  ctx.values.ArrayOf(ops[0]).xDistance = static_cast<float>(d);
}

void runSetoffset(RunContext& ctx, Operand* ops, int) {
  const double x = ctx.values.FloatValue(ops[1]);
  ctx.values.ArrayOf(ops[0]).xOffset = static_cast<float>(x);
}

void runGetxdist(RunContext& ctx, Operand* ops, int) {
  const double d = ctx.values.ArrayOf(ops[1]).xDistance;
  ctx.values.storeScalar(ops[0], d);
}

void runGetoffset(RunContext& ctx, Operand* ops, int) {
  const double x = ctx.values.ArrayOf(ops[1]).xOffset;
  ctx.values.storeScalar(ops[0], x);
}

// Linear congruential generator, state 1 at every run start:
// state = state * 214013 + 2531011, r = (state >> 16) & 32767,
// sample = (r - 16384) / 16384.
void runRand(RunContext& ctx, Operand* ops, int count) {
  ValueStore& values = ctx.values;
  Operand& target = required(ops, count, 0);
  int32_t n = values.IntegerValue(required(ops, count, 1));
  const uint32_t k = target.kind();
  if (!isArrayOrFloat(k)) lang::raiseRuntimeError(kErrOperandKind);
  if (n < 0) lang::raiseRuntimeError(kErrNegativeCount);
  if (k == KindFloat && n > 1) n = 1;
  ValueArray& dst = values.ArrayOf(target);
  values.Grow(dst, n);
  uint32_t local = 1;
  uint32_t& state = ctx.state != nullptr ? ctx.state->randomState : local;
  uint32_t s = state;
  for (int32_t i = 0; i < n; ++i) {
    s = s * 214013u + 2531011u;
    const int r = static_cast<int>((s >> 16) & 32767u);
    dst.data[i] = (r - 16384) / 16384.0;
  }
  state = s;
  dst.length = n;
  dst.xDistance = 0.001f;
  dst.kind = 0;
}

// Remainder with the sign of the dividend; divisor 0 and INT_MIN / -1 give 0.
void runMod(RunContext& ctx, Operand* ops, int count) {
  ValueStore& values = ctx.values;
  Operand& target = required(ops, count, 0);
  const int32_t a = values.IntegerValue(required(ops, count, 1));
  const int32_t b = values.IntegerValue(required(ops, count, 2));
  int32_t r = 0;
  if (b != 0 && !(a == INT32_MIN && b == -1)) r = a % b;
  storeResult(values, target, r);
}

}  // namespace morvel::builtins
