#pragma once
// Small helpers that the builtin families share for reading their operand
// lists: kind tests for check routines, absent operands, writable strings.
#include <cstdint>

#include "lang/builtin_table.h"
#include "lang/routine.h"
#include "lang/value.h"
#include "lang/value_store.h"

namespace morvel::builtins {

using lang::Operand;
using lang::RunContext;
using lang::ValueArray;
using lang::ValueStore;

// Run-time error of a builtin without a check routine whose operands it
// cannot use (a missing argument, a result of a kind it cannot write, a
// string literal where a variable must be changed).
inline constexpr int kErrOperandKind = 160;

inline bool isArrayOrFloat(uint32_t kind) {
  return kind == lang::KindArray || kind == lang::KindFloat;
}
inline bool isNumber(uint32_t kind) {
  return kind == lang::KindFloat || kind == lang::KindInteger;
}

// Kind of operand `index`, 0 when the statement has fewer operands.
inline uint32_t kindAt(const Operand* ops, int count, int index) {
  return lang::operandKind(ops, count, index);
}

// True when a string operand names a string variable (not a literal, whose
// text lives in the program's literal pool and must not change).
inline bool isStringVariable(ValueStore& values, const Operand& op) {
  if (op.kind() != lang::KindString) return false;
  if (op.indirect()) return true;
  const int slot = op.slot();
  return slot >= 0 && slot < lang::kStringSlots && op.target == values.stringSlot(slot);
}

// The buffer of a string variable that a routine changes; raises
// kErrOperandKind for a literal or another kind.
inline char* writableString(ValueStore& values, const Operand& op) {
  if (!isStringVariable(values, op)) lang::raiseRuntimeError(kErrOperandKind);
  return values.StringOf(op);
}

// Operand `index`, raising kErrOperandKind when the statement has fewer.
inline Operand& required(Operand* ops, int count, int index) {
  if (index >= count) lang::raiseRuntimeError(kErrOperandKind);
  return ops[index];
}

}  // namespace morvel::builtins
