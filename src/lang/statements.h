#pragma once
// Run routines of the statements that the compiler produces itself (all but
// builtin calls and plain assignments), and the layout of their operands.
//
// Operand lists, target first:
//   floatArithmetic / integerArithmetic / arrayArrayArithmetic /
//   arrayScalarArithmetic:   target, x, operator, y (4 operands). The operator
//                            operand has kind 0 and the operator character
//                            ('+', '-', '*', '/') as its slot number.
//   integerBitAnd/Or/Xor:    target, x, y (3 operands).
//   compare*:                x, y, control (3 operands). The control operand's
//                            `word` holds the control word (see below).
//   jump:                    one operand whose `word` holds the target
//                            instruction index in bits 0..13 (other bits are
//                            not part of the index).
//   forInit:                 variable, start, end, step (4 operands).
//   forStep:                 copies of the four forInit operands, then one
//                            operand whose `word` is the instruction index just
//                            after the forInit (the first body instruction).
//   endIf, returnFromCall, restartRun: no operands.
//   armFunctionKey:          key number (float literal), label text (string),
//                            process (float).
//   armMouse:                window, process.
//   callLabel:               one operand whose `word` holds the target index.
#include <cstdint>
#include <cstring>

#include "lang/routine.h"
#include "lang/run_code.h"

namespace morvel::lang {

class ValueStore;

// Control word of a compare instruction.
inline constexpr uint32_t kControlTargetMask = 0x3FFFu;  // bits 0..13: instruction index
inline constexpr uint32_t kControlBlockBit = 1u << 14;   // jump when false, else go on
inline constexpr uint32_t kControlCallBit = 1u << 15;    // call the target when true
inline constexpr int kMaxProcessInstructions = 16384;    // addressable by bits 0..13

// Arithmetic with one operator.
void floatArithmetic(RunContext& ctx, Operand* ops, int count);
void integerArithmetic(RunContext& ctx, Operand* ops, int count);
void integerBitAnd(RunContext& ctx, Operand* ops, int count);
void integerBitOr(RunContext& ctx, Operand* ops, int count);
void integerBitXor(RunContext& ctx, Operand* ops, int count);
void arrayArrayArithmetic(RunContext& ctx, Operand* ops, int count);
void arrayScalarArithmetic(RunContext& ctx, Operand* ops, int count);

// `if x op y ...`: one routine per comparison operator.
void compareEqual(RunContext& ctx, Operand* ops, int count);
void compareNotEqual(RunContext& ctx, Operand* ops, int count);
void compareGreaterEqual(RunContext& ctx, Operand* ops, int count);
void compareLessEqual(RunContext& ctx, Operand* ops, int count);
void compareAnd(RunContext& ctx, Operand* ops, int count);
void compareNand(RunContext& ctx, Operand* ops, int count);
void compareLess(RunContext& ctx, Operand* ops, int count);
void compareGreater(RunContext& ctx, Operand* ops, int count);

// Control flow.
void jump(RunContext& ctx, Operand* ops, int count);  // goto, else
void forInit(RunContext& ctx, Operand* ops, int count);
void forStep(RunContext& ctx, Operand* ops, int count);
void endIf(RunContext& ctx, Operand* ops, int count);  // does nothing
void armFunctionKey(RunContext& ctx, Operand* ops, int count);
void armMouse(RunContext& ctx, Operand* ops, int count);
void callLabel(RunContext& ctx, Operand* ops, int count);
void returnFromCall(RunContext& ctx, Operand* ops, int count);
void restartRun(RunContext& ctx, Operand* ops, int count);

// The run's code may use a specialised form of a routine whose operands are
// all direct (no indirect slot): the same effect without the general checks.
// Returns `routine` itself when there is none. Direct integer operands must
// carry the address of their slot in `target` (see RunCode).
RunRoutine specialisedRoutine(RunRoutine routine, const Operand* ops, int count);

// The step of the run's code for a statement (routine as compiled, operands
// of the run's code): an inline form with its records where the statement
// has one, else a call of its specialised routine.
void describeStep(RunRoutine routine, Operand* ops, int count, RunStep& step);

// `a &= v` with direct operands (the array's record, the float's record): the
// append of the general assignment, with the array's room doubled when it is
// full so that a long series of appends copies each value only a few times.
void growForAppend(ValueStore& values, ValueArray& dst, int32_t n);  // error 13

// `beforeGrow` runs first when the array must grow (which may fail).
template <typename BeforeGrow>
inline void appendFloatRecord(ValueStore& values, ValueArray& dst, const ValueArray& src, BeforeGrow beforeGrow) {
  const int32_t n = src.length > 0 ? src.length : 0;
  if (static_cast<int64_t>(dst.capacity) - dst.length < n) {
    beforeGrow();
    growForAppend(values, dst, n);
  }
  if (n == 1)
    dst.data[dst.length] = src.data[0];
  else if (n > 0)
    std::memmove(dst.data + dst.length, src.data, static_cast<size_t>(n) * 8);
  dst.length += n;
  dst.xDistance = src.xDistance;
  dst.xOffset = src.xOffset;
  dst.kind = src.kind;
}

}  // namespace morvel::lang
