// Run routines of the statements the compiler makes itself: arithmetic,
// comparisons, jumps, loops, subroutine calls, onkey/onmouse and restart.
//
// These are the hot path of the interpreter: no allocation (array growth
// apart), no lookup. Direct float and integer operands are read straight
// from their records; everything else goes through the value store.
#include "lang/statements.h"

#include <cmath>
#include <cstring>

#include "lang/interpreter.h"
#include "lang/value_store.h"

namespace morvel::lang {

namespace {

constexpr uint32_t kDirectMask = 0xFu | Operand::kIndirectBit;
constexpr double kTinyDivisor = 1e-30;

inline bool directFloat(const Operand& op) {
  return (op.word & kDirectMask) == KindFloat && op.target != nullptr;
}

inline double floatOf(ValueStore& values, const Operand& op) {
  if (directFloat(op)) return static_cast<const ValueArray*>(op.target)->data[0];
  if ((op.word & kDirectMask) == KindInteger && op.target != nullptr) return *static_cast<const int32_t*>(op.target);
  return values.FloatValue(op);
}

inline int32_t truncated(double x) { return truncatedInteger(x); }

// A direct integer operand of the run's code carries the address of its slot
// (see RunCode); operands made elsewhere go through the store.
inline int32_t integerOf(ValueStore& values, const Operand& op) {
  if ((op.word & kDirectMask) == KindInteger)
    return op.target != nullptr ? *static_cast<const int32_t*>(op.target) : values.integerSlot(op.slot());
  if (directFloat(op)) return truncated(static_cast<const ValueArray*>(op.target)->data[0]);
  return values.IntegerValue(op);
}

inline int32_t& integerTarget(ValueStore& values, const Operand& op) {
  if ((op.word & kDirectMask) == KindInteger)
    return op.target != nullptr ? *static_cast<int32_t*>(op.target) : values.integerSlot(op.slot());
  return values.integerSlot(values.SlotOf(op));
}

// The record of a float target (its twin) or an array operand.
inline ValueArray& recordOf(ValueStore& values, const Operand& op) {
  if ((op.word & Operand::kIndirectBit) == 0 && op.target != nullptr &&
      (op.kind() == KindFloat || op.kind() == KindArray))
    return *static_cast<ValueArray*>(op.target);
  return values.ArrayOf(op);
}

inline Interpreter& interp(RunContext& ctx) { return *ctx.interpreter; }

inline bool mathDefaultOn(RunContext& ctx) { return ctx.state != nullptr && ctx.state->mathDefault; }

// The divisor of a division under the math default mode.
inline double divisor(double d, bool mathDefault) {
  if (mathDefault && (d == 0.0 || std::isnan(d))) return kTinyDivisor;
  return d;
}

inline double apply(char op, double x, double y, bool mathDefault) {
  switch (op) {
    case '+': return x + y;
    case '-': return x - y;
    case '*': return x * y;
    default: return x / divisor(y, mathDefault);
  }
}

inline char operatorOf(const Operand* ops) { return static_cast<char>(ops[2].slot()); }

// Jump of the current process to instruction `index` of its code.
inline void jumpTo(RunContext& ctx, uint32_t index) {
  interp(ctx).current().pc = static_cast<int32_t>(index & kControlTargetMask);
}

void callTo(RunContext& ctx, uint32_t index) {
  ProcessRecord& r = interp(ctx).current();
  if (r.depth >= kCallDepth) raiseRuntimeError(kErrCallDepth);
  r.stack[r.depth++] = r.pc;
  r.pc = static_cast<int32_t>(index & kControlTargetMask);
}

// Acts on a comparison's result with its control word.
inline void branch(RunContext& ctx, bool condition, uint32_t control) {
  if (condition) {
    if (control & kControlCallBit)
      callTo(ctx, control);
    else if (!(control & kControlBlockBit))
      jumpTo(ctx, control);
  } else if (control & kControlBlockBit) {
    jumpTo(ctx, control);
  }
}

enum class Cmp { Eq, Ne, Ge, Le, Lt, Gt };

template <Cmp C, typename T>
inline bool compareValues(T a, T b) {
  switch (C) {
    case Cmp::Eq: return a == b;
    case Cmp::Ne: return a != b;
    case Cmp::Ge: return a >= b;
    case Cmp::Le: return a <= b;
    case Cmp::Lt: return a < b;
    default: return a > b;
  }
}

// The kind of x decides: integer compares integers, a string compares texts
// (== and != only), anything else compares floats.
template <Cmp C>
void compare(RunContext& ctx, Operand* ops, int count) {
  if (count < 3) return;
  ValueStore& values = ctx.values;
  bool condition;
  switch (ops[0].kind()) {
    case KindInteger:
      condition = compareValues<C>(integerOf(values, ops[0]), integerOf(values, ops[1]));
      break;
    case KindString: {
      const int diff = std::strcmp(values.StringOf(ops[0]), values.StringOf(ops[1]));
      condition = C == Cmp::Eq ? diff == 0 : C == Cmp::Ne ? diff != 0 : false;
      break;
    }
    default:
      condition = compareValues<C>(floatOf(values, ops[0]), floatOf(values, ops[1]));
      break;
  }
  branch(ctx, condition, ops[2].word);
}

bool arrayLike(uint32_t kind) { return kind == KindFloat || kind == KindArray; }

}  // namespace

// --- arithmetic -------------------------------------------------------------------

void floatArithmetic(RunContext& ctx, Operand* ops, int count) {
  if (count < 4) return;
  ValueStore& values = ctx.values;
  const double x = floatOf(values, ops[1]);
  const double y = floatOf(values, ops[3]);
  const double r = apply(operatorOf(ops), x, y, mathDefaultOn(ctx));
  float xDistance = 1.0f;
  if (arrayLike(ops[1].kind()))
    xDistance = recordOf(values, ops[1]).xDistance;
  else if (arrayLike(ops[3].kind()))
    xDistance = recordOf(values, ops[3]).xDistance;
  ValueArray& target = recordOf(values, ops[0]);
  target.data[0] = r;
  target.xDistance = xDistance;
}

void integerArithmetic(RunContext& ctx, Operand* ops, int count) {
  if (count < 4) return;
  ValueStore& values = ctx.values;
  const double x = floatOf(values, ops[1]);
  const double y = floatOf(values, ops[3]);
  integerTarget(values, ops[0]) = truncated(apply(operatorOf(ops), x, y, mathDefaultOn(ctx)));
}

void integerBitAnd(RunContext& ctx, Operand* ops, int count) {
  if (count < 3) return;
  ValueStore& values = ctx.values;
  const int32_t v = integerOf(values, ops[1]) & integerOf(values, ops[2]);
  integerTarget(values, ops[0]) = v;
}

void integerBitOr(RunContext& ctx, Operand* ops, int count) {
  if (count < 3) return;
  ValueStore& values = ctx.values;
  const int32_t v = integerOf(values, ops[1]) | integerOf(values, ops[2]);
  integerTarget(values, ops[0]) = v;
}

void integerBitXor(RunContext& ctx, Operand* ops, int count) {
  if (count < 3) return;
  ValueStore& values = ctx.values;
  const int32_t v = integerOf(values, ops[1]) ^ integerOf(values, ops[2]);
  integerTarget(values, ops[0]) = v;
}

void arrayArrayArithmetic(RunContext& ctx, Operand* ops, int count) {
  if (count < 4) return;
  ValueStore& values = ctx.values;
  ValueArray& x = recordOf(values, ops[1]);
  ValueArray& y = recordOf(values, ops[3]);
  ValueArray& t = recordOf(values, ops[0]);
  const char op = operatorOf(ops);
  const bool md = mathDefaultOn(ctx);
  const float xDistance = x.xDistance;
  const float xOffset = x.xOffset;
  const int32_t lx = x.length > 0 ? x.length : 0;
  const int32_t ly = y.length > 0 ? y.length : 0;

  if (!x.isComplex() && !y.isComplex()) {
    const int32_t n = lx < ly ? lx : ly;
    values.Grow(t, lx);  // keeps the values of x and y when t is one of them
    const double* a = x.data;
    const double* b = y.data;
    double* out = t.data;
    switch (op) {
      case '+': for (int32_t i = 0; i < n; ++i) out[i] = a[i] + b[i]; break;
      case '-': for (int32_t i = 0; i < n; ++i) out[i] = a[i] - b[i]; break;
      case '*': for (int32_t i = 0; i < n; ++i) out[i] = a[i] * b[i]; break;
      default: for (int32_t i = 0; i < n; ++i) out[i] = a[i] / divisor(b[i], md); break;
    }
    t.length = n;
    t.kind = 0;
    t.xDistance = xDistance;
    t.xOffset = xOffset;
    return;
  }

  // Complex result. A real source value v counts as (v, 0).
  const bool cx = x.isComplex();
  const bool cy = y.isComplex();
  const int32_t nx = cx ? lx / 2 : lx;
  const int32_t ny = cy ? ly / 2 : ly;
  const int32_t n = nx < ny ? nx : ny;
  values.Grow(t, static_cast<int64_t>(n) * 2);
  const double* a = x.data;
  const double* b = y.data;
  double* out = t.data;
  // From the last pair to the first: when the target is also a source, a
  // pair is written only where no value still to be read is stored.
  for (int32_t i = n - 1; i >= 0; --i) {
    const double ar = cx ? a[2 * i] : a[i];
    const double ai = cx ? a[2 * i + 1] : 0.0;
    const double br = cy ? b[2 * i] : b[i];
    const double bi = cy ? b[2 * i + 1] : 0.0;
    double re;
    double im;
    switch (op) {
      case '+': re = ar + br; im = ai + bi; break;
      case '-': re = ar - br; im = ai - bi; break;
      case '*': re = ar * br - ai * bi; im = ar * bi + ai * br; break;
      default: {
        double m = br * br + bi * bi;
        if (md && (m == 0.0 || std::isnan(m))) m = kTinyDivisor;
        re = (ar * br + ai * bi) / m;
        im = (ai * br - ar * bi) / m;
        break;
      }
    }
    out[2 * i] = re;
    out[2 * i + 1] = im;
  }
  t.length = n * 2;
  t.kind = 1;
  t.xDistance = xDistance;
  t.xOffset = xOffset;
}

void arrayScalarArithmetic(RunContext& ctx, Operand* ops, int count) {
  if (count < 4) return;
  ValueStore& values = ctx.values;
  const char op = operatorOf(ops);
  const bool md = mathDefaultOn(ctx);
  // Array first (x op c), or a scalar first (c op y) where y is an array or
  // the one-value array of a scalar (a float's twin, an integer's value).
  const bool arrayFirst = ops[1].kind() == KindArray;
  const double c = floatOf(values, ops[arrayFirst ? 3 : 1]);
  ValueArray& s = recordOf(values, ops[arrayFirst ? 1 : 3]);
  ValueArray& t = recordOf(values, ops[0]);
  const int32_t n = s.length > 0 ? s.length : 0;
  const uint32_t kind = s.kind;
  const float xDistance = s.xDistance;
  values.Grow(t, n);
  const double* in = s.data;
  double* out = t.data;
  if (arrayFirst) {
    switch (op) {
      case '+': for (int32_t i = 0; i < n; ++i) out[i] = in[i] + c; break;
      case '-': for (int32_t i = 0; i < n; ++i) out[i] = in[i] - c; break;
      case '*': for (int32_t i = 0; i < n; ++i) out[i] = in[i] * c; break;
      default: {
        const double d = divisor(c, md);
        for (int32_t i = 0; i < n; ++i) out[i] = in[i] / d;
        break;
      }
    }
  } else {
    switch (op) {
      case '+': for (int32_t i = 0; i < n; ++i) out[i] = c + in[i]; break;
      case '-': for (int32_t i = 0; i < n; ++i) out[i] = c - in[i]; break;
      case '*': for (int32_t i = 0; i < n; ++i) out[i] = c * in[i]; break;
      default: for (int32_t i = 0; i < n; ++i) out[i] = c / divisor(in[i], md); break;
    }
  }
  t.length = n;
  t.kind = kind;
  t.xDistance = xDistance;
}

// --- forms chosen at run start for direct operands ----------------------------

namespace {

template <char Op>
inline double combine(double x, double y) {
  if constexpr (Op == '+') return x + y;
  if constexpr (Op == '-') return x - y;
  return x * y;
}

// target, x, y direct floats (their records), no division.
template <char Op>
void floatDirect(RunContext&, Operand* ops, int) {
  const auto* x = static_cast<const ValueArray*>(ops[1].target);
  const auto* y = static_cast<const ValueArray*>(ops[3].target);
  auto* t = static_cast<ValueArray*>(ops[0].target);
  t->data[0] = combine<Op>(x->data[0], y->data[0]);
  t->xDistance = x->xDistance;
}

// Direct integer target; direct integer or float sources; no division.
template <char Op>
void integerDirect(RunContext& ctx, Operand* ops, int) {
  ValueStore& values = ctx.values;
  *static_cast<int32_t*>(ops[0].target) = truncated(combine<Op>(floatOf(values, ops[1]), floatOf(values, ops[3])));
}

// A direct operand known to be an integer (true) or a float (false).
template <bool kInteger>
inline int32_t directInteger(const Operand& op) {
  if constexpr (kInteger) return *static_cast<const int32_t*>(op.target);
  return truncated(static_cast<const ValueArray*>(op.target)->data[0]);
}

// for-step of a direct integer variable with direct end and step of the
// given kinds.
template <bool kEndInteger, bool kStepInteger>
void forStepIntegerDirect(RunContext& ctx, Operand* ops, int) {
  int32_t& v = *static_cast<int32_t*>(ops[0].target);
  const int32_t step = directInteger<kStepInteger>(ops[3]);
  v = static_cast<int32_t>(static_cast<uint32_t>(v) + static_cast<uint32_t>(step));
  const int32_t end = directInteger<kEndInteger>(ops[2]);
  if (step > 0 ? v <= end : v >= end) jumpTo(ctx, ops[4].word);
}

// for-step of a direct float variable with direct end and step.
void forStepFloatDirect(RunContext& ctx, Operand* ops, int) {
  ValueStore& values = ctx.values;
  double& v = static_cast<ValueArray*>(ops[0].target)->data[0];
  const double step = floatOf(values, ops[3]);
  v += step;
  const double end = floatOf(values, ops[2]);
  if (step > 0 ? v <= end : v >= end) jumpTo(ctx, ops[4].word);
}

void appendFloatDirect(RunContext& ctx, Operand* ops, int) {
  appendFloatRecord(ctx.values, *static_cast<ValueArray*>(ops[0].target),
                    *static_cast<const ValueArray*>(ops[1].target), [] {});
}

}  // namespace

void growForAppend(ValueStore& values, ValueArray& dst, int32_t n) {
  const int64_t need = static_cast<int64_t>(dst.length) + n;
  const int64_t doubled = static_cast<int64_t>(dst.capacity) * 2;
  // The appended values follow at once; the rest need not be cleared.
  values.Grow(dst, need > doubled ? need : doubled, false);
}

RunRoutine specialisedRoutine(RunRoutine routine, const Operand* ops, int count) {
  auto directF = [](const Operand& op) { return directFloat(op); };
  auto directI = [](const Operand& op) { return (op.word & kDirectMask) == KindInteger && op.target != nullptr; };
  auto directNumber = [&](const Operand& op) { return directF(op) || directI(op); };
  if (count == 4 && routine == floatArithmetic && directF(ops[0]) && directF(ops[1]) && directF(ops[3])) {
    switch (operatorOf(ops)) {
      case '+': return floatDirect<'+'>;
      case '-': return floatDirect<'-'>;
      case '*': return floatDirect<'*'>;
      default: return routine;
    }
  }
  if (count == 4 && routine == integerArithmetic && directI(ops[0]) && directNumber(ops[1]) &&
      directNumber(ops[3])) {
    switch (operatorOf(ops)) {
      case '+': return integerDirect<'+'>;
      case '-': return integerDirect<'-'>;
      case '*': return integerDirect<'*'>;
      default: return routine;
    }
  }
  if (count == 2 && routine == assignArray && ops[0].append() && ops[0].kind() == KindArray &&
      !ops[0].indirect() && ops[0].target != nullptr && directF(ops[1]))
    return appendFloatDirect;
  if (count == 5 && routine == forStep && directNumber(ops[2]) && directNumber(ops[3])) {
    if (directI(ops[0])) {
      const bool endInteger = directI(ops[2]);
      const bool stepInteger = directI(ops[3]);
      if (endInteger) return stepInteger ? forStepIntegerDirect<true, true> : forStepIntegerDirect<true, false>;
      return stepInteger ? forStepIntegerDirect<false, true> : forStepIntegerDirect<false, false>;
    }
    if (directF(ops[0])) return forStepFloatDirect;
  }
  return routine;
}

// --- comparisons ----------------------------------------------------------------------

void compareEqual(RunContext& ctx, Operand* ops, int count) { compare<Cmp::Eq>(ctx, ops, count); }
void compareNotEqual(RunContext& ctx, Operand* ops, int count) { compare<Cmp::Ne>(ctx, ops, count); }
void compareGreaterEqual(RunContext& ctx, Operand* ops, int count) { compare<Cmp::Ge>(ctx, ops, count); }
void compareLessEqual(RunContext& ctx, Operand* ops, int count) { compare<Cmp::Le>(ctx, ops, count); }
void compareLess(RunContext& ctx, Operand* ops, int count) { compare<Cmp::Lt>(ctx, ops, count); }
void compareGreater(RunContext& ctx, Operand* ops, int count) { compare<Cmp::Gt>(ctx, ops, count); }

void compareAnd(RunContext& ctx, Operand* ops, int count) {
  if (count < 3) return;
  ValueStore& values = ctx.values;
  branch(ctx, (integerOf(values, ops[0]) & integerOf(values, ops[1])) != 0, ops[2].word);
}

void compareNand(RunContext& ctx, Operand* ops, int count) {
  if (count < 3) return;
  ValueStore& values = ctx.values;
  branch(ctx, (integerOf(values, ops[0]) & integerOf(values, ops[1])) == 0, ops[2].word);
}

// --- control flow ---------------------------------------------------------------------

void jump(RunContext& ctx, Operand* ops, int count) {
  if (count < 1) return;
  jumpTo(ctx, ops[0].word);
}

void forInit(RunContext& ctx, Operand* ops, int count) {
  if (count < 4) return;
  ValueStore& values = ctx.values;
  if (ops[0].kind() == KindInteger)
    integerTarget(values, ops[0]) = integerOf(values, ops[1]);
  else
    recordOf(values, ops[0]).data[0] = floatOf(values, ops[1]);
}

void forStep(RunContext& ctx, Operand* ops, int count) {
  if (count < 5) return;
  ValueStore& values = ctx.values;
  bool again;
  if (ops[0].kind() == KindInteger) {
    int32_t& v = integerTarget(values, ops[0]);
    const int32_t step = integerOf(values, ops[3]);
    // Wraps like the 32-bit integer it is instead of overflowing.
    v = static_cast<int32_t>(static_cast<uint32_t>(v) + static_cast<uint32_t>(step));
    const int32_t end = integerOf(values, ops[2]);
    again = step > 0 ? v <= end : v >= end;
  } else {
    double& v = recordOf(values, ops[0]).data[0];
    const double step = floatOf(values, ops[3]);
    v += step;
    const double end = floatOf(values, ops[2]);
    again = step > 0 ? v <= end : v >= end;
  }
  if (again) jumpTo(ctx, ops[4].word);
}

void endIf(RunContext&, Operand*, int) {}

void callLabel(RunContext& ctx, Operand* ops, int count) {
  if (count < 1) return;
  callTo(ctx, ops[0].word);
}

void returnFromCall(RunContext& ctx, Operand*, int) {
  ProcessRecord& r = interp(ctx).current();
  if (r.depth == 0) {
    interp(ctx).message("return ohne call");
    return;
  }
  r.pc = r.stack[--r.depth];
}

void restartRun(RunContext& ctx, Operand*, int) { interp(ctx).setExitRequest(kExitRestart); }

// onkey F<k>,<text>,<p>: label and process of key k; p stops until the key
// starts it.
void armFunctionKey(RunContext& ctx, Operand* ops, int count) {
  if (count < 3) return;
  ValueStore& values = ctx.values;
  Interpreter& in = interp(ctx);
  const int p = values.IntegerValue(ops[2]);
  in.checkProcessNumber(p);
  const int k = values.IntegerValue(ops[0]);
  if (k < 1 || k > kFunctionKeys) return;  // no such key: nothing is armed
  FunctionKey& key = in.functionKey(k);
  const char* text = values.StringOf(ops[1]);
  const size_t n = strnlen(text, kKeyLabelLength);
  std::memcpy(key.label, text, n);
  key.label[n] = '\0';
  key.process = p;
  in.process(p).state = kStateStopped;
  const ProcessRecord& self = in.current();
  if (LayoutPort* layout = in.layout()) layout->showKeyLabel(k, key.label, self.textColor, self.backColor);
}

// onmouse w<n>,<p>: a click on diagram n starts p; p stops until then.
void armMouse(RunContext& ctx, Operand* ops, int count) {
  if (count < 2) return;
  ValueStore& values = ctx.values;
  Interpreter& in = interp(ctx);
  const int window = values.WindowOf(ops[0]);
  const int p = values.IntegerValue(ops[1]);
  in.checkProcessNumber(p);
  in.process(p).state = kStateStopped;
  if (LayoutPort* layout = in.layout()) layout->armMouse(window, p);
}

}  // namespace morvel::lang

namespace morvel::lang {

void describeStep(RunRoutine routine, Operand* ops, int count, RunStep& step) {
  step = RunStep{};
  step.count = count;
  step.operands = ops;
  if (routine == nullptr) return;  // kStepEnd
  step.op = kStepCall;
  step.routine = specialisedRoutine(routine, ops, count);

  auto directF = [](const Operand& op) { return directFloat(op); };
  auto directI = [](const Operand& op) { return (op.word & kDirectMask) == KindInteger && op.target != nullptr; };
  auto directNumber = [&](const Operand& op) { return directF(op) || directI(op); };
  // Index of the I/F variant: x integer 0, float 2; y integer 0, float 1.
  auto variant = [&](const Operand& x, const Operand& y) { return (directI(x) ? 0 : 2) + (directI(y) ? 0 : 1); };
  auto use = [&](uint8_t op, void* a, void* b, void* c) {
    step.op = op;
    step.a = a;
    step.b = b;
    step.c = c;
  };

  if (routine == jump && count >= 1) {
    step.op = kStepJump;
    step.target = static_cast<int32_t>(ops[0].word & kControlTargetMask);
    return;
  }
  if (count == 4 && routine == floatArithmetic && directF(ops[0]) && directF(ops[1]) && directF(ops[3])) {
    switch (operatorOf(ops)) {
      case '+': use(kStepFloatAdd, ops[0].target, ops[1].target, ops[3].target); return;
      case '-': use(kStepFloatSub, ops[0].target, ops[1].target, ops[3].target); return;
      case '*': use(kStepFloatMul, ops[0].target, ops[1].target, ops[3].target); return;
      default: return;
    }
  }
  if (count == 4 && routine == integerArithmetic && directI(ops[0]) && directNumber(ops[1]) &&
      directNumber(ops[3])) {
    const int v = variant(ops[1], ops[3]);
    switch (operatorOf(ops)) {
      case '+': use(static_cast<uint8_t>(kStepIntAddII + v), ops[0].target, ops[1].target, ops[3].target); return;
      case '-': use(static_cast<uint8_t>(kStepIntSubII + v), ops[0].target, ops[1].target, ops[3].target); return;
      case '*': use(static_cast<uint8_t>(kStepIntMulII + v), ops[0].target, ops[1].target, ops[3].target); return;
      default: return;
    }
  }
  if (count == 5 && routine == forStep && directNumber(ops[2]) && directNumber(ops[3])) {
    step.target = static_cast<int32_t>(ops[4].word & kControlTargetMask);
    if (directI(ops[0])) {
      use(static_cast<uint8_t>(kStepForIntII + variant(ops[2], ops[3])), ops[0].target, ops[2].target,
          ops[3].target);
    } else if (directF(ops[0]) && directF(ops[2]) && directF(ops[3])) {
      use(kStepForFloatFF, ops[0].target, ops[2].target, ops[3].target);
    }
    return;
  }
  if (count == 3 && (ops[2].word & kControlCallBit) == 0) {
    uint8_t cmp;
    if (routine == compareEqual) cmp = kCmpEq;
    else if (routine == compareNotEqual) cmp = kCmpNe;
    else if (routine == compareGreaterEqual) cmp = kCmpGe;
    else if (routine == compareLessEqual) cmp = kCmpLe;
    else if (routine == compareLess) cmp = kCmpLt;
    else if (routine == compareGreater) cmp = kCmpGt;
    else return;
    uint8_t op;
    if (directI(ops[0]) && directI(ops[1])) op = kStepCompareII;
    else if (directF(ops[0]) && directF(ops[1])) op = kStepCompareFF;
    else return;
    use(op, ops[0].target, ops[1].target, nullptr);
    step.cmp = cmp;
    step.block = (ops[2].word & kControlBlockBit) != 0 ? 1 : 0;
    step.target = static_cast<int32_t>(ops[2].word & kControlTargetMask);
    return;
  }
  if (count == 2 && routine == assignArray && ops[0].append() && ops[0].kind() == KindArray &&
      !ops[0].indirect() && ops[0].target != nullptr && directF(ops[1])) {
    use(kStepAppendFloat, ops[0].target, ops[1].target, nullptr);
  }
}

}  // namespace morvel::lang
