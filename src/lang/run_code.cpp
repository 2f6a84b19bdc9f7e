#include "lang/run_code.h"

#include <new>

#include "lang/statements.h"
#include "lang/value_store.h"

namespace morvel::lang {

namespace {

bool hasTarget(uint8_t op) {
  return op == kStepJump || (op >= kStepForIntII && op <= kStepForFloatFF) || op == kStepCompareII ||
         op == kStepCompareFF;
}

}  // namespace

void RunCode::clear() {
  instructions_.reset();
  operands_.reset();
  stepStore_.reset();
  for (auto& c : code_) c = nullptr;
  for (auto& s : steps_) s = nullptr;
}

bool RunCode::build(const CompiledProgram& program, ValueStore& values) {
  clear();
  const int processes = program.processCount();
  int total = 0;
  for (int p = 0; p < processes; ++p) total += program.process(p).statements + 1;
  const int usedOperands = program.usedOperands();
  instructions_.reset(new (std::nothrow) Instruction[static_cast<size_t>(total)]);
  operands_.reset(new (std::nothrow) Operand[static_cast<size_t>(usedOperands > 0 ? usedOperands : 1)]);
  stepStore_.reset(new (std::nothrow) RunStep[static_cast<size_t>(total)]);
  if (!instructions_ || !operands_ || !stepStore_) {
    clear();
    return false;
  }

  const Operand* pool = program.operandPool();
  for (int k = 0; k < usedOperands; ++k) {
    Operand op = pool[k];
    if (op.kind() == KindInteger && !op.indirect() && op.slot() < kIntegerSlots)
      op.target = &values.integerSlot(op.slot());
    operands_[k] = op;
  }

  Instruction* out = instructions_.get();
  RunStep* step = stepStore_.get();
  for (int p = 0; p < processes; ++p) {
    code_[p] = out;
    steps_[p] = step;
    const Instruction* in = program.code(p);
    const int n = program.process(p).statements;
    for (int k = 0; k <= n; ++k, ++out, ++step) {
      Instruction ins = in[k];
      if (ins.operands != nullptr) ins.operands = operands_.get() + (ins.operands - pool);
      describeStep(ins.routine, ins.operands, ins.count, *step);
      step->index = k;
      ins.routine = step->routine;
      *out = ins;
    }
    // Jump targets as addresses, so that a jump costs no index arithmetic.
    // Targets beyond the process's code stay without one (their steps call
    // their routines).
    RunStep* first = stepStore_.get() + (steps_[p] - stepStore_.get());
    for (int k = 0; k <= n; ++k) {
      RunStep& st = first[k];
      if (!hasTarget(st.op)) continue;
      if (st.target <= n)
        st.jump = first + st.target;
      else
        st.op = kStepCall;
    }
  }
  return true;
}

}  // namespace morvel::lang
