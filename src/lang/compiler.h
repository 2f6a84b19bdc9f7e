#pragma once
// The compiler: turns the process texts of an application into a
// CompiledProgram. One statement per line, one instruction per statement.
#include <memory>
#include <string>
#include <vector>

#include "lang/program.h"

namespace morvel::lang {

class ValueStore;

struct CompileOptions {
  bool textMacros = false;  // "Textmacros Pelkat kompatibel": CR, LF, ... in literals
};

// Where and why a compilation stopped. `number` is the compile error number
// (texts in pcompile.hlp); 0 when the compilation was refused with `message`
// instead (too many labels or processes, no memory).
struct CompileError {
  int process = -1;
  int line = -1;
  int column = 0;
  int number = 0;
  std::string message;
};

struct CompileResult {
  std::unique_ptr<CompiledProgram> program;  // null on failure
  CompileError error;
  bool ok() const { return program != nullptr; }
};

// Compiles all processes in list order: entry 0 is the start process, the
// last the end process. Numeric literals are stored into float slots of
// `values`, and operands point at the value store's records, so the store
// must have been reset for the run before compiling (its start-of-run reset)
// and must outlive the program.
class Compiler {
 public:
  explicit Compiler(ValueStore& values, CompileOptions options = {});

  CompileResult compile(const std::vector<std::string>& processes);

 private:
  ValueStore& values_;
  CompileOptions options_;
};

}  // namespace morvel::lang
