#pragma once
// The code a run executes: a copy of the compiled program's instructions and
// operands, made at run start. Direct integer operands get the address of
// their slot, and routines with all-direct operands are replaced by their
// specialised forms, so the statement loop does no lookup. Instruction
// indexes and lines are those of the compiled program.
#include <memory>

#include "lang/program.h"

namespace morvel::lang {

class ValueStore;

class RunCode {
 public:
  // False when memory is short (the run then uses the program's own code).
  bool build(const CompiledProgram& program, ValueStore& values);
  void clear();
  // Instruction 0 of process p; the record after the last statement has a
  // null routine.
  const Instruction* code(int p) const { return code_[p]; }

 private:
  std::unique_ptr<Instruction[]> instructions_;
  std::unique_ptr<Operand[]> operands_;
  const Instruction* code_[kMaxProcesses] = {};
};

}  // namespace morvel::lang
