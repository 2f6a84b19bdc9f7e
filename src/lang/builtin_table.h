#pragma once
// The builtin table: every function a script can call, in a fixed order.
#include <cstddef>
#include <string_view>
#include <vector>

#include "lang/routine.h"

namespace morvel::lang {

struct BuiltinEntry {
  const char* name;   // as written in scripts; lookup ignores case. Null ends the table.
  const char* help;   // argument pattern ';' description, Windows-1252; may be ""
  RunRoutine run;     // never null
  CheckRoutine check; // null accepts every operand list
  unsigned flags;     // BuiltinFlag bits
};

enum BuiltinFlag : unsigned {
  kBuiltinImplemented = 1u,  // the run routine does the real work
  kBuiltinNoTarget = 2u,     // a call with a target is rejected (compile error 3)
};

inline constexpr int kBuiltinCount = 244;
inline constexpr int kMaxBuiltinNameLength = 39;  // a longer name is unknown

// The table: kBuiltinCount rows and a final row whose name is null.
const BuiltinEntry* builtinTable();

// Case-insensitive lookup, first row wins. Null when unknown or longer than
// kMaxBuiltinNameLength characters.
const BuiltinEntry* findBuiltin(std::string_view name);

// Row number of an entry of the table (0-based).
int builtinRow(const BuiltinEntry* entry);

bool builtinImplemented(const BuiltinEntry& entry);

// Names of the rows whose run routine is not built yet, in table order.
std::vector<const char*> pendingBuiltins();

// Run routine of the rows not built yet: raises kErrBuiltinNotAvailable.
void pendingBuiltin(RunContext& ctx, Operand* ops, int count);

// Kind of operand `index` of a check routine's list; 0 when absent.
inline uint32_t operandKind(const Operand* ops, int count, int index) {
  return index < count ? ops[index].kind() : KindNone;
}

}  // namespace morvel::lang
