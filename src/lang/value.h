#pragma once
// Basic types of the script language: variable kinds, the array value and the
// operand that compiled code uses to address a value.
#include <cstdint>

namespace morvel::lang {

// Operand kind codes (stored in bits 0..3 of the operand word).
enum Kind : uint32_t {
  KindNone = 0,  // operator slot or absent operand
  KindWindow = 1,
  KindArray = 2,
  KindFileArray = 3,
  KindP = 4,  // the `p<digit>` form; rejected by the compiler
  KindFloat = 5,
  KindInteger = 6,
  KindString = 7,
  KindFileNumber = 8,
};

// Pool sizes.
inline constexpr int kWindowSlots = 200;
inline constexpr int kArraySlots = 500;
inline constexpr int kFileArraySlots = 100;
inline constexpr int kFloatSlots = 4000;
inline constexpr int kIntegerSlots = 1200;
inline constexpr int kStringSlots = 200;
inline constexpr int kFileNumberSlots = 100;
inline constexpr int kStringCapacity = 1024;  // 1023 characters + terminating zero
inline constexpr int kMaxStringLength = kStringCapacity - 1;
inline constexpr int kFirstNamedSlot = 100;   // slots below are for numbered use only
inline constexpr int kInitialArrayCapacity = 1024;

// One array value: samples plus x axis. Complex arrays hold interleaved
// (real, imaginary) pairs; `length` counts doubles, not pairs.
struct ValueArray {
  double* data = nullptr;
  float xOffset = 0.0f;
  float xDistance = 1.0f;
  uint32_t kind = 0;  // low 2 bits: 0 real, 1 complex
  int32_t capacity = 0;
  int32_t length = 0;
  // Samples from this index on may never have been written since the buffer
  // grew for appends (their memory was not cleared); INT32_MAX when every
  // sample of the buffer holds a value. The samples in use always do.
  int32_t dirtyFrom = INT32_MAX;

  bool isComplex() const { return (kind & 3u) == 1u; }
};

// One addressed value in compiled code.
//   word bits 0..3  kind code
//        bit 4      append (`&=` / `%=`)
//        bit 6      indirect: the slot is the value of integer variable `slot()`
//        bits 7..22 slot number, the integer variable's number, or an operator character
struct Operand {
  uint32_t word = 0;
  uint32_t subIndex = 0;
  void* target = nullptr;  // ValueArray* for a, v and numeric literals; char* for s and string literals

  static constexpr uint32_t kAppendBit = 1u << 4;
  static constexpr uint32_t kIndirectBit = 1u << 6;
  static constexpr int kSlotShift = 7;
  static constexpr uint32_t kSlotMask = 0xFFFFu;

  uint32_t kind() const { return word & 0xFu; }
  bool append() const { return (word & kAppendBit) != 0; }
  bool indirect() const { return (word & kIndirectBit) != 0; }
  int slot() const { return static_cast<int>((word >> kSlotShift) & kSlotMask); }

  static uint32_t makeWord(uint32_t kind, int slot, bool indirect = false, bool append = false) {
    return (kind & 0xFu) | (append ? kAppendBit : 0u) | (indirect ? kIndirectBit : 0u) |
           ((static_cast<uint32_t>(slot) & kSlotMask) << kSlotShift);
  }
};

}  // namespace morvel::lang
