// The elementwise family: abs, sin ... and. One pass over the samples, no
// temporary arrays; destination and argument may be the same array.
#include <cmath>
#include <cstdint>

#include "builtins/math.h"
#include "builtins/math_vector.h"
#include "builtins/operands.h"
#include "lang/builtin_state.h"

namespace morvel::builtins {

namespace {

using lang::KindArray;
using lang::KindFloat;
using lang::KindInteger;

// Destination grown to the argument's length; the caller fills dst[0..n).
struct Pass {
  ValueArray& dst;
  const ValueArray& src;
  int32_t n;
};

Pass begin(ValueStore& values, Operand& target, Operand& argument) {
  ValueArray& src = values.ArrayOf(argument);
  ValueArray& dst = values.ArrayOf(target);
  const int32_t n = src.length > 0 ? src.length : 0;
  values.Grow(dst, n);
  return {dst, src, n};
}

// Length and x distance from the argument, real result; x offset stays.
void finish(Pass& p) {
  p.dst.length = p.n;
  p.dst.xDistance = p.src.xDistance;
  p.dst.kind = 0;
}

void unaryVector(RunContext& ctx, Operand* ops, vec::Unary fn) {
  Pass p = begin(ctx.values, ops[0], ops[1]);
  vec::apply(fn, p.src.data, p.dst.data, p.n);
  finish(p);
}

// trunc, fract and and have no check routine: their result may also be an
// integer variable (it receives the first result sample), their argument an
// integer; other kinds are refused at run time.
template <class F>
void uncheckedUnary(RunContext& ctx, Operand* ops, int count, F f, bool clearKind) {
  Operand& target = required(ops, count, 0);
  Operand& argument = required(ops, count, 1);
  const uint32_t ak = argument.kind();
  if (!isArrayOrFloat(ak) && ak != KindInteger) lang::raiseRuntimeError(kErrOperandKind);
  const uint32_t tk = target.kind();
  if (tk == KindInteger) {
    const ValueArray& src = ctx.values.ArrayOf(argument);
    const double first = src.length > 0 ? f(src.data[0]) : 0.0;
    ctx.values.integerSlot(ctx.values.SlotOf(target)) = lang::toInteger(first);
    return;
  }
  if (!isArrayOrFloat(tk)) lang::raiseRuntimeError(kErrOperandKind);
  Pass p = begin(ctx.values, target, argument);
  const double* s = p.src.data;
  double* d = p.dst.data;
  for (int32_t i = 0; i < p.n; ++i) d[i] = f(s[i]);
  const uint32_t keptKind = p.dst.kind;
  finish(p);
  if (!clearKind) p.dst.kind = keptKind;
}

}  // namespace

// --- check routines -----------------------------------------------------------

int checkElementwise(CheckContext&, const Operand* ops, int count) {
  return isArrayOrFloat(kindAt(ops, count, 0)) && isArrayOrFloat(kindAt(ops, count, 1)) ? 0 : -1;
}

int checkAtan2(CheckContext&, const Operand* ops, int count) {
  return isArrayOrFloat(kindAt(ops, count, 0)) && isArrayOrFloat(kindAt(ops, count, 1)) &&
                 isArrayOrFloat(kindAt(ops, count, 2))
             ? 0
             : -1;
}

int checkPow(CheckContext&, const Operand* ops, int count) {
  return isArrayOrFloat(kindAt(ops, count, 0)) && isArrayOrFloat(kindAt(ops, count, 1)) &&
                 isNumber(kindAt(ops, count, 2))
             ? 0
             : -1;
}

// --- run routines -------------------------------------------------------------

void runAbs(RunContext& ctx, Operand* ops, int) {
  unaryVector(ctx, ops, vec::Unary::Abs);
}
void runSin(RunContext& ctx, Operand* ops, int) {
  unaryVector(ctx, ops, vec::Unary::Sin);
}
void runCos(RunContext& ctx, Operand* ops, int) {
  unaryVector(ctx, ops, vec::Unary::Cos);
}
void runTan(RunContext& ctx, Operand* ops, int) {
  unaryVector(ctx, ops, vec::Unary::Tan);
}
void runAsin(RunContext& ctx, Operand* ops, int) {
  unaryVector(ctx, ops, vec::Unary::Asin);
}
void runAcos(RunContext& ctx, Operand* ops, int) {
  unaryVector(ctx, ops, vec::Unary::Acos);
}
void runAtan(RunContext& ctx, Operand* ops, int) {
  unaryVector(ctx, ops, vec::Unary::Atan);
}
void runExp(RunContext& ctx, Operand* ops, int) {
  unaryVector(ctx, ops, vec::Unary::Exp);
}
void runLn(RunContext& ctx, Operand* ops, int) {
  unaryVector(ctx, ops, vec::Unary::Ln);
}

void runAtan2(RunContext& ctx, Operand* ops, int) {
  const ValueArray& y = ctx.values.ArrayOf(ops[1]);
  const ValueArray& x = ctx.values.ArrayOf(ops[2]);
  // The second argument must cover every sample of the first.
  if (x.length < y.length) lang::raiseRuntimeError(kErrBadOffset);
  Pass p = begin(ctx.values, ops[0], ops[1]);
  vec::atan2(p.src.data, x.data, p.dst.data, p.n);
  finish(p);
}

void runSqrt(RunContext& ctx, Operand* ops, int) {
  const ValueArray& src = ctx.values.ArrayOf(ops[1]);
  // Any negative sample or NaN stops the call before the result changes.
  if (vec::anyNegativeOrNaN(src.data, src.length)) lang::raiseRuntimeError(kErrNegativeRoot);
  unaryVector(ctx, ops, vec::Unary::Sqrt);
}

void runLog(RunContext& ctx, Operand* ops, int) {
  Pass p = begin(ctx.values, ops[0], ops[1]);
  const double* s = p.src.data;
  double* d = p.dst.data;
  const bool complex = p.src.isComplex();
  if (complex) {
    // Magnitude replaced by its decimal logarithm, phase kept. An odd last
    // value counts as a real one.
    for (int32_t i = 0; i < p.n; i += 2) {
      const double re = s[i];
      const double im = i + 1 < p.n ? s[i + 1] : 0.0;
      const double phi = std::atan2(im, re);
      const double mag = std::log10(std::hypot(re, im));
      d[i] = std::cos(phi) * mag;
      if (i + 1 < p.n) d[i + 1] = std::sin(phi) * mag;
    }
  } else {
    vec::apply(vec::Unary::Log10, s, d, p.n);
    // log10 is minus infinity exactly for the samples +0 and -0.
    if (ctx.state != nullptr && ctx.state->mathDefault)
      for (int32_t i = 0; i < p.n; ++i) d[i] = d[i] == -HUGE_VAL ? 0.0 : d[i];
  }
  p.dst.length = p.n;
  p.dst.xDistance = p.src.xDistance;
  p.dst.xOffset = p.src.xOffset;
  p.dst.kind = complex ? 1u : 0u;
}

void runPow(RunContext& ctx, Operand* ops, int) {
  const double exponent = ctx.values.FloatValue(ops[2]);
  Pass p = begin(ctx.values, ops[0], ops[1]);
  vec::pow(p.src.data, exponent, p.dst.data, p.n);
  finish(p);
}

void runSignum(RunContext& ctx, Operand* ops, int) {
  unaryVector(ctx, ops, vec::Unary::Signum);
}

void runPos(RunContext& ctx, Operand* ops, int) {
  unaryVector(ctx, ops, vec::Unary::Pos);
}

void runNeg(RunContext& ctx, Operand* ops, int) {
  unaryVector(ctx, ops, vec::Unary::Neg);
}

void runTrunc(RunContext& ctx, Operand* ops, int count) {
  uncheckedUnary(
      ctx, ops, count, [](double x) { return std::trunc(x); }, true);
}

void runFract(RunContext& ctx, Operand* ops, int count) {
  uncheckedUnary(
      ctx, ops, count, [](double x) { return x - std::trunc(x); }, true);
}

void runAnd(RunContext& ctx, Operand* ops, int count) {
  const int32_t mask = ctx.values.IntegerValue(required(ops, count, 2));
  uncheckedUnary(
      ctx, ops, count, [mask](double x) { return static_cast<double>(lang::toInteger(x) & mask); }, false);
}

}  // namespace morvel::builtins
