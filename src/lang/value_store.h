#pragma once
// The value store: every variable slot of the script language, and the only
// way run routines reach values.
//
// NOTE: this header fixes the interface that the compiler and the builtins
// rely on. Keep its names; add to it as needed.
#include <cstddef>
#include <cstdint>
#include <string>

#include "lang/routine.h"
#include "lang/value.h"

namespace morvel::lang {

// Run-time error numbers the value store raises.
inline constexpr int kErrArrayMemory = 13;       // array memory exhausted
inline constexpr int kErrFileArrayCreate = 18;   // f file cannot be created
inline constexpr int kErrFileArrayWrite = 19;    // f file short write
inline constexpr int kErrFileArrayOpen = 81;     // f file cannot be opened for reading
inline constexpr int kErrWindowNumber = 89;      // window number invalid or unbound

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
  // `clr(w)`: clears the diagram of window number `number` (bound, see
  // hasWindow) and draws it again. Without diagrams there is nothing to clear.
  virtual void clearWindow(int number) { (void)number; }
};

// One numbered file of the file builtins (`#0`..`#99`): an open file
// descriptor (-1 when none) and the access mode (0 read, 1 write, 2 both).
struct FileChannel {
  int fd = -1;
  uint8_t mode = 0;
};

class ValueStore {
 public:
  // Memory for array buffers; calloc by default. Tests replace it to make
  // allocation fail.
  using Allocator = void* (*)(size_t count, size_t size);

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
  // Indirect operands (`a[i3]`) resolve when called; a slot outside the
  // kind's pool is run-time error 150 (89 for windows). ArrayOf of an
  // integer gives a one-value array (one of a few records that are reused in
  // turn), of another non-array kind an empty one; StringOf of a non-string
  // gives an empty text.
  int32_t IntegerValue(const Operand& op);
  double FloatValue(const Operand& op);
  ValueArray& ArrayOf(const Operand& op);
  char* StringOf(const Operand& op);
  // Window number of a `w` operand after checking that it is bound (error 89).
  int WindowOf(const Operand& op);
  // Error 13 when memory fails. Samples past the kept ones read zero unless
  // `clearRest` is false (appends, which write the next samples at once);
  // those are then marked in the array's dirtyFrom.
  void Grow(ValueArray& array, int64_t n, bool clearRest = true);
  // Frees a buffer that Grow gave a record of its own (a temporary array
  // filled by readFileArray, say). Null does nothing.
  static void freeBuffer(double* data);
  // Sets the length to n (growing as needed); samples that come into use
  // without ever having been written read zero, the others keep their values.
  void extendLength(ValueArray& array, int32_t n);
  int FileArrayHandle(int slot) const;      // open file descriptor or -1
  int SlotOf(const Operand& op);

  // A scalar result into a `v`, `i` or `a` target: a float (through its
  // twin) or an array becomes one value with x offset 0, x distance 1 and
  // real kind; an integer takes the value converted by toInteger.
  void storeScalar(const Operand& target, double value);

  void setWindowPort(WindowPort* port) { windows_ = port; }
  WindowPort* windowPort() const { return windows_; }

  // --- f variables: file f<nn>.tmp (10-byte header, then 64-bit samples) --
  static std::string fileArrayName(int slot);  // "f07.tmp"
  // Opens f<slot> unless it is open: existing file only, read-write (read
  // only when writing is not allowed). Returns the handle, -1 on failure.
  int openFileArray(int slot);
  // Reads f<slot> into `dst` (kind, xDistance, xOffset, samples); opens the
  // file when it has no handle yet (error 81 when that fails). `skip` samples
  // are passed over, then at most `count` (all when negative) are read. A
  // file shorter than the header holds no samples.
  void readFileArray(int slot, ValueArray& dst, int64_t skip = 0, int64_t count = -1);
  // Writes `src` into f<slot>: `append` false rewrites header and samples,
  // `append` true adds the samples after an existing header. Errors 18, 19.
  void writeFileArray(int slot, const ValueArray& src, bool append);
  void closeFileArray(int slot);    // closes the handle, the file stays
  bool removeFileArray(int slot);   // closes the handle and deletes the file
  void closeAllFileArrays();

  // --- # file numbers (handles of the file builtins) --------------------
  FileChannel& fileChannel(int number);  // 0..99
  // Closes and clears channels first..99 (run end closes #3..#99).
  void closeFileChannels(int first);

  // Averaging counter of array a<slot> (used by `avg`, reset by `clr`).
  double& averagingCounter(int slot);

  // True when `array` is the one-sample twin of a float variable.
  bool isFloatTwin(const ValueArray& array) const;

  void setAllocator(Allocator allocator) { allocate_ = allocator; }

  // --- run lifecycle ------------------------------------------------------
  void resetForStart();                        // before compilation
  bool allocateArrays(std::string& message);   // after compilation succeeded
  void releaseAtEnd();                         // run end

  // --- watch text ---------------------------------------------------------
  // kind: 0 float, 1 integer, 2 string, 3 array.
  std::string watchText(int kind, int slot) const;

 private:
  static constexpr int kScratchRecords = 4;

  int resolvedSlot(const Operand& op, int poolSize);
  ValueArray& scratchRecord();
  double* homeOf(const ValueArray& array) const;
  void releaseBuffer(ValueArray& array);
  // A zeroed buffer of `slots` samples on a 64-byte line (nullptr when the
  // allocator fails).
  double* newBuffer(size_t slots);

  // The array table: a0..a499, then the twins of v0..v3999.
  ValueArray records_[kArraySlots + kFloatSlots];
  double floats_[kFloatSlots] = {};
  int32_t integers_[kIntegerSlots] = {};
  char strings_[kStringSlots][kStringCapacity] = {};
  double averaging_[kArraySlots] = {};
  int fileArrayFds_[kFileArraySlots];
  bool fileArrayWritable_[kFileArraySlots] = {};
  FileChannel fileChannels_[kFileNumberSlots];
  // One-value records that ArrayOf hands out for an integer source.
  ValueArray scratch_[kScratchRecords];
  double scratchValues_[kScratchRecords] = {};
  // Handed out by StringOf for an operand that is not a string.
  char scratchString_[kStringCapacity] = {};
  int nextScratch_ = 0;
  WindowPort* windows_ = nullptr;
  Allocator allocate_;
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
