// The process-control rows of the builtin table.
#include "lang/process_control.h"

#include <cmath>

#include "lang/builtin_table.h"
#include "lang/interpreter.h"
#include "lang/value_store.h"

namespace morvel::lang {

namespace {

inline Interpreter& interp(RunContext& ctx) { return *ctx.interpreter; }

// Makes p runnable at its first statement.
void restartProcess(Interpreter& in, int p) {
  ProcessRecord& r = in.process(p);
  r.state = 0;
  r.restart();
}

void setSignal(RunContext& ctx, Operand* ops, int count, bool on) {
  if (count < 2) return;
  Interpreter& in = interp(ctx);
  const int p = in.processOperand(ops[0], true);
  const int n = ctx.values.IntegerValue(ops[1]);
  if (n < 1 || n > 8) return;  // no such signal
  ProcessRecord& r = in.process(p);
  const auto bit = static_cast<uint8_t>(1u << (n - 1));
  r.signals = on ? static_cast<uint8_t>(r.signals | bit) : static_cast<uint8_t>(r.signals & ~bit);
}

void enableKey(RunContext& ctx, Operand* ops, int count, bool on) {
  if (count < 1) return;
  Interpreter& in = interp(ctx);
  const int k = ctx.values.IntegerValue(ops[0]);
  if (k == -1) {
    for (int i = 1; i <= kFunctionKeys; ++i) in.functionKey(i).enabled = on;
  } else if (k >= 1 && k <= kFunctionKeys) {
    in.functionKey(k).enabled = on;
  }
}

// ifsignal / ifnotsignal (p, n, target): jump to statement `target` of the
// current process when signal n of p is (is not) set. A target outside the
// process's code is ignored.
void jumpOnSignal(RunContext& ctx, Operand* ops, int count, bool wanted) {
  if (count < 3) return;
  Interpreter& in = interp(ctx);
  const int p = in.processOperand(ops[0], true);
  const int n = ctx.values.IntegerValue(ops[1]);
  if (n < 1 || n > 8) return;
  const bool set = (in.process(p).signals >> (n - 1)) & 1u;
  if (set != wanted) return;
  const int target = ctx.values.IntegerValue(ops[2]);
  const int self = in.currentProcess();
  if (target < 0 || target > in.statementCount(self)) return;
  in.current().pc = target;
}

}  // namespace

void builtinStart(RunContext& ctx, Operand* ops, int count) {
  if (count < 1) return;
  Interpreter& in = interp(ctx);
  restartProcess(in, in.processOperand(ops[0], true));
}

void builtinStartw(RunContext& ctx, Operand* ops, int count) {
  if (count < 1) return;
  Interpreter& in = interp(ctx);
  const int p = in.processOperand(ops[0], true);
  const int self = in.currentProcess();
  in.current().state = kStateStopped;
  restartProcess(in, p);
  in.process(p).caller = self;
}

void builtinRun(RunContext& ctx, Operand* ops, int count) {
  if (count < 1) return;
  Interpreter& in = interp(ctx);
  in.process(in.processOperand(ops[0], false)).state = 0;
}

void builtinStop(RunContext& ctx, Operand* ops, int count) {
  if (count < 1) return;
  Interpreter& in = interp(ctx);
  in.process(in.processOperand(ops[0], true)).state = kStateStopped;
}

void builtinEnd(RunContext& ctx, Operand* ops, int count) {
  if (count < 1) return;
  Interpreter& in = interp(ctx);
  const int p = in.processOperand(ops[0], true);
  ProcessRecord& r = in.process(p);
  if (p == in.currentProcess() && r.caller >= 0 && r.caller <= in.endIndex()) in.process(r.caller).state = 0;
  r.state = kStateStopped;
  r.restart();
}

void builtinExit(RunContext& ctx, Operand*, int) { interp(ctx).setExitRequest(kExitStop); }

void builtinWinexit(RunContext& ctx, Operand* ops, int count) {
  if (count >= 1) (void)ctx.values.IntegerValue(ops[0]);  // read, without further effect
  interp(ctx).setExitRequest(kExitClose);
}

void builtinErrorexit(RunContext& ctx, Operand*, int) { interp(ctx).armErrorExit(); }

void builtinProgram(RunContext& ctx, Operand* ops, int count) {
  const int first = count > 0 && ops[0].kind() == KindInteger ? 1 : 0;
  if (count <= first) return;
  Interpreter& in = interp(ctx);
  in.setNextDocument(ctx.values.StringOf(ops[first]));
  in.setExitRequest(kExitProgram);
}

void builtinMultitask(RunContext& ctx, Operand* ops, int count) {
  if (count < 1) return;
  Interpreter& in = interp(ctx);
  if (ctx.values.FloatValue(ops[0]) == 0.0)
    in.enterExclusive();
  else
    in.leaveExclusive();
}

void builtinWaittime(RunContext& ctx, Operand* ops, int count) {
  if (count < 1) return;
  Interpreter& in = interp(ctx);
  ProcessRecord& r = in.current();
  const int64_t now = in.nowMs();
  if (!r.waiting) {
    // The wait in milliseconds as a 32-bit float, added and truncated.
    const float ms = static_cast<float>(ctx.values.FloatValue(ops[0]) * 1000.0);
    double wait = std::isnan(ms) ? 0.0 : static_cast<double>(ms);
    if (wait > 1e15) wait = 1e15;
    if (wait < -1e15) wait = -1e15;
    r.deadline = now + static_cast<int64_t>(wait);
    r.waiting = true;
  }
  if (now < r.deadline) {
    --r.pc;  // again at the next turn
    return;
  }
  r.waiting = false;
  r.deadline = 0;
}

void builtinSignalon(RunContext& ctx, Operand* ops, int count) { setSignal(ctx, ops, count, true); }
void builtinSignaloff(RunContext& ctx, Operand* ops, int count) { setSignal(ctx, ops, count, false); }
void builtinKeyon(RunContext& ctx, Operand* ops, int count) { enableKey(ctx, ops, count, true); }
void builtinKeyoff(RunContext& ctx, Operand* ops, int count) { enableKey(ctx, ops, count, false); }

void builtinGetonkey(RunContext& ctx, Operand* ops, int count) {
  if (count < 1) return;
  ctx.values.integerSlot(ctx.values.SlotOf(ops[0])) = interp(ctx).lastFunctionKey();
}

void builtinMathdefaulton(RunContext& ctx, Operand*, int) { interp(ctx).setMathDefault(true); }
void builtinMathdefaultoff(RunContext& ctx, Operand*, int) { interp(ctx).setMathDefault(false); }
void builtinBreakon(RunContext& ctx, Operand*, int) { interp(ctx).setBreakEnabled(true); }
void builtinBreakoff(RunContext& ctx, Operand*, int) { interp(ctx).setBreakEnabled(false); }
void builtinDebug(RunContext& ctx, Operand*, int) { interp(ctx).debugBuiltin(); }

void builtinTrace(RunContext& ctx, Operand* ops, int count) {
  if (count < 1) return;
  interp(ctx).traceText(ctx.values.StringOf(ops[0]));
}

void builtinClosef(RunContext& ctx, Operand*, int) { ctx.values.closeAllFileArrays(); }

// ifwait(p): holds p (state bit 0) until start or run makes it runnable.
void builtinIfwait(RunContext& ctx, Operand* ops, int count) {
  if (count < 1) return;
  Interpreter& in = interp(ctx);
  ProcessRecord& r = in.process(in.processOperand(ops[0], true));
  r.state = static_cast<uint8_t>(r.state | kStateWaitBit);
}

void builtinIfsignal(RunContext& ctx, Operand* ops, int count) { jumpOnSignal(ctx, ops, count, true); }
void builtinIfnotsignal(RunContext& ctx, Operand* ops, int count) { jumpOnSignal(ctx, ops, count, false); }

}  // namespace morvel::lang
