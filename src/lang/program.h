#pragma once
// The compiled program: instructions, operands, string literals and symbol
// bindings of one compilation. Built by the Compiler, read-only afterwards.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "lang/routine.h"
#include "lang/symbols.h"
#include "lang/value.h"

namespace morvel::lang {

inline constexpr int kMaxStatements = 10000;    // in the whole application
inline constexpr int kOperandPoolSize = 20000;
inline constexpr int kLiteralPoolSize = 60000;  // bytes
inline constexpr int kMaxProcesses = 50;
inline constexpr int kMaxLabels = 2000;         // per process
inline constexpr int kLineBufferSize = 1024;    // 1023 characters + zero
inline constexpr int kMaxNesting = 9;           // open `for` loops / `if` blocks

// Settings that check routines record while compiling (for example the point
// count of `fft`), read by the run routines later.
struct CompileSettings {
  int fftPoints = 0;
};

// One statement. A record with a null routine ends a process's code.
struct Instruction {
  RunRoutine routine = nullptr;
  int32_t line = 0;             // line in the process text, header line = 0
  Operand* operands = nullptr;  // first operand in the operand pool
  int32_t count = 0;            // operands of this statement (target first)
};

// A variable that the debugger's auto-watch window shows.
struct WatchEntry {
  uint32_t kind;  // KindFloat, KindInteger, KindString or KindArray
  int slot;
};

struct ProcessCode {
  int start = 0;            // pool index of the process's first instruction
  int statements = 0;       // number of instructions
  int gpibOnError = -1;     // instruction index of `:gpibonerror`, -1 if none
};

class CompiledProgram {
 public:
  CompiledProgram(const CompiledProgram&) = delete;
  CompiledProgram& operator=(const CompiledProgram&) = delete;

  int processCount() const { return static_cast<int>(processes_.size()); }
  int endProcess() const { return processCount() - 1; }
  const ProcessCode& process(int p) const { return processes_[p]; }
  // Instruction k of process p; k == statements gives the end record.
  const Instruction* code(int p) const { return &instructions_[processes_[p].start]; }
  const Instruction& instruction(int p, int k) const { return instructions_[processes_[p].start + k]; }

  int totalStatements() const { return totalStatements_; }
  int usedOperands() const { return usedOperands_; }
  int freeOperands() const { return kOperandPoolSize - usedOperands_; }
  int literalBytes() const { return literalUsed_; }
  const Operand* operandPool() const { return operands_.get(); }
  const char* literalPool() const { return literals_.get(); }

  const SymbolTable& symbols(SymbolKind kind) const { return symbols_[static_cast<int>(kind)]; }
  // Directly written v, i, s and a variables, once per kind and slot, in the
  // order first met.
  const std::vector<WatchEntry>& autoWatch() const { return autoWatch_; }
  const CompileSettings& settings() const { return settings_; }

  // "%d Zeilen  %d freie Par.bl\xF6cke" (statements, free operands).
  std::string summary() const;

 private:
  friend class Compiler;
  friend class CompilerJob;
  CompiledProgram();

  std::unique_ptr<Instruction[]> instructions_;
  std::unique_ptr<Operand[]> operands_;
  std::unique_ptr<char[]> literals_;
  std::unique_ptr<SymbolTable[]> symbols_;
  std::vector<ProcessCode> processes_;
  std::vector<WatchEntry> autoWatch_;
  CompileSettings settings_;
  int totalStatements_ = 0;
  int usedOperands_ = 0;
  int literalUsed_ = 0;
};

}  // namespace morvel::lang
