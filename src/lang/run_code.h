#pragma once
// The code a run executes: a copy of the compiled program's instructions and
// operands, made at run start. Direct integer operands get the address of
// their slot, and routines with all-direct operands are replaced by their
// specialised forms, so the statement loop does no lookup. Instruction
// indexes and lines are those of the compiled program.
//
// Next to the instructions the run code keeps one step per instruction for
// the statement loops: the hottest statements with direct operands carry an
// operation code and the records they work on, so that the loops execute
// them inline; every other statement calls its routine.
#include <cmath>
#include <cstdint>
#include <memory>

#if defined(__x86_64__) && defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "lang/program.h"

namespace morvel::lang {

class ValueStore;

// Operation codes of a run step.
enum StepOp : uint8_t {
  kStepEnd = 0,    // the record after the last statement
  kStepCall,       // calls the routine
  kStepJump,       // goto / else: to `target`
  kStepFloatAdd,   // a, b, c: records of direct floats (target, x, y)
  kStepFloatSub,
  kStepFloatMul,
  // a: the integer target's slot; b, c: sources, integer slot (I) or float
  // record (F); the result is computed in double and truncated.
  kStepIntAddII, kStepIntAddIF, kStepIntAddFI, kStepIntAddFF,
  kStepIntSubII, kStepIntSubIF, kStepIntSubFI, kStepIntSubFF,
  kStepIntMulII, kStepIntMulIF, kStepIntMulFI, kStepIntMulFF,
  // a: the integer variable's slot; b: end, c: step (I or F as named).
  kStepForIntII, kStepForIntIF, kStepForIntFI, kStepForIntFF,
  // a: the float variable's record; b: end, c: step records.
  kStepForFloatFF,
  // a: x, b: y (both integer slots or both float records); `cmp` is the
  // comparison; jumps to `target` when the result differs from `block`.
  kStepCompareII,
  kStepCompareFF,
  // a: the array's record, b: the float's record.
  kStepAppendFloat,
};

// Comparison of a compare step.
enum StepCompare : uint8_t { kCmpEq, kCmpNe, kCmpGe, kCmpLe, kCmpLt, kCmpGt };

struct RunStep {
  uint8_t op = kStepEnd;
  uint8_t cmp = 0;
  uint8_t block = 0;
  int32_t count = 0;
  int32_t target = 0;
  int32_t index = 0;  // of this statement in its process
  const RunStep* jump = nullptr;  // the step of `target` (steps with a target)
  void* a = nullptr;
  void* b = nullptr;
  void* c = nullptr;
  RunRoutine routine = nullptr;
  Operand* operands = nullptr;
};

class RunCode {
 public:
  // False when memory is short (the run then uses the program's own code).
  bool build(const CompiledProgram& program, ValueStore& values);
  void clear();
  // Instruction 0 of process p; the record after the last statement has a
  // null routine.
  const Instruction* code(int p) const { return code_[p]; }
  // Step 0 of process p (nullptr when nothing is built); same indexes.
  const RunStep* steps(int p) const { return steps_[p]; }

 private:
  std::unique_ptr<Instruction[]> instructions_;
  std::unique_ptr<Operand[]> operands_;
  std::unique_ptr<RunStep[]> stepStore_;
  const Instruction* code_[kMaxProcesses] = {};
  const RunStep* steps_[kMaxProcesses] = {};
};

// The language's integer conversion (see toInteger), inline: truncate toward
// zero to 64 bits, keep the low 32 bits; NaN, infinities and |x| >= 2^63
// give 0.
inline int32_t truncatedInteger(double x) {
#if defined(__x86_64__) && defined(__SSE2__)
  // The processor's conversion gives 0x8000000000000000 for NaN, infinities
  // and |x| >= 2^63, whose low 32 bits are the 0 the language wants.
  return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(_mm_cvttsd_si64(_mm_set_sd(x)))));
#else
  if (!(std::fabs(x) < 9223372036854775808.0)) return 0;
  return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(static_cast<int64_t>(x))));
#endif
}

}  // namespace morvel::lang
