#pragma once
// Signatures of builtin run and check routines, the run context, and
// run-time errors.
#include <exception>

#include "lang/value.h"

namespace morvel::lang {

class ValueStore;
class CompiledProgram;
class Interpreter;     // the interpreter and scheduler fill this in
struct BuiltinState;   // per-run state of the builtin families
struct CompileSettings;  // compile-time settings recorded by check routines

// Everything a run routine may reach. The interpreter owns one per run.
struct RunContext {
  ValueStore& values;
  const CompiledProgram* program = nullptr;
  Interpreter* interpreter = nullptr;
  BuiltinState* state = nullptr;
};

// Run routine: `ops` points at the instruction's first operand, `count` is the
// number of operands the statement has (target first when present). A routine
// never reads ops[count] or beyond.
using RunRoutine = void (*)(RunContext& ctx, Operand* ops, int count);

// Everything a check routine may reach at compile time.
struct CheckContext {
  ValueStore& values;           // literal values are already stored
  CompileSettings& settings;    // per-compilation settings (e.g. the FFT point count)
};

// Check routine: 0 accepts, negative rejects (compile error 3).
using CheckRoutine = int (*)(CheckContext& ctx, const Operand* ops, int count);

// A numbered run-time error. Run routines raise it; the interpreter catches
// it, ends the run and reports the number with process and line.
class RuntimeError : public std::exception {
 public:
  explicit RuntimeError(int number) : number_(number) {}
  int number() const { return number_; }
  const char* what() const noexcept override { return "morvel run-time error"; }

 private:
  int number_;
};

[[noreturn]] inline void raiseRuntimeError(int number) { throw RuntimeError(number); }

// Run-time error numbers chosen here (texts in resources/runerr.hlp).
inline constexpr int kErrIndirectSlotOutOfPool = 150;  // a[i3] with i3 outside 0..499 etc.
inline constexpr int kErrBuiltinNotAvailable = 151;    // builtin row not built yet

}  // namespace morvel::lang
