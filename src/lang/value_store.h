#pragma once
// The value store: every variable slot of the script language, and the only
// way run routines reach values.
//
// NOTE: this header fixes the interface that the compiler and the builtins
// rely on. Keep its names; add to it as needed.
#include <cstdint>
#include <string>

#include "lang/routine.h"
#include "lang/value.h"

namespace morvel::lang {

// What the value store needs from the layouts: window numbers of the current
// layout. The layout windows implement it; the headless runner and tests too.
class WindowPort {
 public:
  virtual ~WindowPort() = default;
  // True when window number `number` (0..199) is bound to a diagram.
  virtual bool hasWindow(int number) const = 0;
  // `w = x` / `w = x, y`: hands the target and the source operands to the
  // diagram. `sources` holds `count` operands (1 or 2).
  virtual void assign(int number, const Operand& target, const Operand* sources, int count,
                      ValueStore& values) = 0;
};

class ValueStore {
 public:
  ValueStore();
  ~ValueStore();
  ValueStore(const ValueStore&) = delete;
  ValueStore& operator=(const ValueStore&) = delete;

  // --- raw slots (compiler, watch windows, tests) -------------------------
  double& floatSlot(int slot);             // v0..v3999
  int32_t& integerSlot(int slot);          // i0..i1199
  char* stringSlot(int slot);              // s0..s199, 1024 bytes
  ValueArray& arrayRecord(int slot);       // a0..a499
  ValueArray& floatTwin(int slot);         // the one-sample twin of v<slot>

  // --- the operations run routines use ------------------------------------
  int32_t IntegerValue(const Operand& op);
  double FloatValue(const Operand& op);
  ValueArray& ArrayOf(const Operand& op);
  char* StringOf(const Operand& op);
  // Window number of a `w` operand after checking that it is bound (error 89).
  int WindowOf(const Operand& op);
  void Grow(ValueArray& array, int64_t n);  // error 13 when memory fails
  int FileArrayHandle(int slot) const;      // open file descriptor or -1
  int SlotOf(const Operand& op);

  void setWindowPort(WindowPort* port) { windows_ = port; }
  WindowPort* windowPort() const { return windows_; }

  // --- run lifecycle ------------------------------------------------------
  void resetForStart();                        // before compilation
  bool allocateArrays(std::string& message);   // after compilation succeeded
  void releaseAtEnd();                         // run end

  // --- watch text ---------------------------------------------------------
  // kind: 0 float, 1 integer, 2 string, 3 array.
  std::string watchText(int kind, int slot) const;
};

// Integer conversion of the language: truncate toward zero to 64 bits and
// keep the low 32 bits; NaN, infinities and |x| >= 2^63 give 0.
int32_t toInteger(double x);

// The six assignment routines, chosen by the target's kind. Operands:
// target, source[, second source for a window].
void assignFloat(RunContext& ctx, Operand* ops, int count);
void assignInteger(RunContext& ctx, Operand* ops, int count);
void assignString(RunContext& ctx, Operand* ops, int count);
void assignArray(RunContext& ctx, Operand* ops, int count);
void assignFileArray(RunContext& ctx, Operand* ops, int count);
void assignWindow(RunContext& ctx, Operand* ops, int count);

}  // namespace morvel::lang
