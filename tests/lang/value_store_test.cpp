// Value store: integer conversion, reading one kind as another, indirect
// operands, growth, the assignment routines, watch texts and the run resets.
#include "lang/value_store.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <limits>
#include <memory>
#include <string>
#include <vector>

namespace morvel::lang {
namespace {

class ValueStoreTest : public ::testing::Test {
 protected:
  std::unique_ptr<ValueStore> store = std::make_unique<ValueStore>();
  RunContext ctx{*store};

  void SetUp() override {
    store->resetForStart();
    std::string message;
    ASSERT_TRUE(store->allocateArrays(message)) << message;
  }
  void TearDown() override { store->releaseAtEnd(); }

  // Operands as the compiler builds them.
  Operand v(int slot) { return {Operand::makeWord(KindFloat, slot), 0, &store->floatTwin(slot)}; }
  Operand literal(int slot, double value) {
    store->floatSlot(slot) = value;
    return v(slot);
  }
  Operand a(int slot, bool append = false) {
    return {Operand::makeWord(KindArray, slot, false, append), 0, &store->arrayRecord(slot)};
  }
  Operand i(int slot) { return {Operand::makeWord(KindInteger, slot), 0, nullptr}; }
  Operand s(int slot, bool append = false) {
    return {Operand::makeWord(KindString, slot, false, append), 0, store->stringSlot(slot)};
  }
  Operand text(const char* t) { return {Operand::makeWord(KindString, 0), 0, const_cast<char*>(t)}; }
  Operand indirect(uint32_t kind, int intVar, bool append = false) {
    return {Operand::makeWord(kind, intVar, true, append), 0, nullptr};
  }
  Operand w(int slot) { return {Operand::makeWord(KindWindow, slot), 0, nullptr}; }

  void run(RunRoutine routine, Operand target, Operand source) {
    Operand ops[2] = {target, source};
    routine(ctx, ops, 2);
  }
  void setArray(int slot, const std::vector<double>& values) {
    ValueArray& r = store->arrayRecord(slot);
    store->Grow(r, static_cast<int64_t>(values.size()));
    for (size_t k = 0; k < values.size(); ++k) r.data[k] = values[k];
    r.length = static_cast<int32_t>(values.size());
  }
  std::vector<double> arrayValues(int slot) {
    const ValueArray& r = store->arrayRecord(slot);
    return std::vector<double>(r.data, r.data + r.length);
  }
  int errorOf(RunRoutine routine, Operand target, Operand source) {
    try {
      run(routine, target, source);
    } catch (const RuntimeError& e) {
      return e.number();
    }
    return 0;
  }
};

// --- integer conversion ------------------------------------------------------

TEST(ToInteger, TruncatesTowardZeroAndKeepsLow32Bits) {
  const double inf = std::numeric_limits<double>::infinity();
  const struct {
    double x;
    int32_t expected;
  } cases[] = {
      {3.99, 3},
      {-3.99, -3},
      {0.5, 0},
      {-0.5, 0},
      {2147483647.0, 2147483647},
      {2147483648.0, std::numeric_limits<int32_t>::min()},
      {-2147483648.0, std::numeric_limits<int32_t>::min()},
      {3000000000.0, -1294967296},
      {-3000000000.0, 1294967296},
      {4294967301.0, 5},                        // 2^32 + 5
      {9223372036854774784.0, -1024},           // largest double below 2^63
      {9223372036854775808.0, 0},               // 2^63
      {-9223372036854775808.0, 0},              // -2^63
      {1e300, 0},
      {inf, 0},
      {-inf, 0},
      {std::nan(""), 0},
  };
  for (const auto& c : cases) EXPECT_EQ(toInteger(c.x), c.expected) << c.x;
}

// --- reading as another kind -------------------------------------------------

TEST_F(ValueStoreTest, ReadsEveryKindAsIntegerAndFloat) {
  store->floatSlot(1) = -7.9;
  setArray(2, {2.75, 9.0});
  store->integerSlot(3) = -12;
  std::strcpy(store->stringSlot(4), "A");
  std::strcpy(store->stringSlot(5), "\xE4x");  // a byte above 127 reads signed

  EXPECT_EQ(store->IntegerValue(v(1)), -7);
  EXPECT_EQ(store->IntegerValue(a(2)), 2);
  EXPECT_EQ(store->IntegerValue(i(3)), -12);
  EXPECT_EQ(store->IntegerValue(s(4)), 65);
  EXPECT_EQ(store->IntegerValue(s(5)), -28);
  EXPECT_EQ(store->IntegerValue(text("B")), 66);

  EXPECT_DOUBLE_EQ(store->FloatValue(v(1)), -7.9);
  EXPECT_DOUBLE_EQ(store->FloatValue(a(2)), 2.75);
  EXPECT_DOUBLE_EQ(store->FloatValue(i(3)), -12.0);

  // The first value counts whatever the length.
  store->arrayRecord(2).length = 0;
  EXPECT_DOUBLE_EQ(store->FloatValue(a(2)), 2.75);
}

TEST_F(ValueStoreTest, ArrayOfAFloatIsItsOneSampleTwin) {
  store->floatSlot(7) = 4.5;
  ValueArray& twin = store->ArrayOf(v(7));
  EXPECT_EQ(&twin, &store->floatTwin(7));
  EXPECT_EQ(twin.length, 1);
  EXPECT_EQ(twin.capacity, 1);
  EXPECT_DOUBLE_EQ(twin.data[0], 4.5);
  EXPECT_FLOAT_EQ(twin.xDistance, 1.0f);
}

TEST_F(ValueStoreTest, ArrayOfAnIntegerIsAOneValueArray) {
  store->integerSlot(2) = 17;
  store->integerSlot(3) = -4;
  ValueArray& x = store->ArrayOf(i(2));
  ValueArray& y = store->ArrayOf(i(3));
  ASSERT_NE(&x, &y);
  EXPECT_EQ(x.length, 1);
  EXPECT_DOUBLE_EQ(x.data[0], 17.0);
  EXPECT_DOUBLE_EQ(y.data[0], -4.0);
}

TEST_F(ValueStoreTest, OnlyStringsHaveAText) {
  store->floatSlot(3) = 65.0;
  EXPECT_STREQ(store->StringOf(v(3)), "");
  EXPECT_STREQ(store->StringOf(a(3)), "");
  EXPECT_DOUBLE_EQ(store->floatSlot(3), 65.0);
}

TEST_F(ValueStoreTest, ScalarResultIntoFloatArrayAndInteger) {
  ValueArray& twin = store->floatTwin(4);
  twin.xOffset = 3.0f;
  twin.xDistance = 0.5f;
  store->storeScalar(v(4), 2.5);
  EXPECT_DOUBLE_EQ(store->floatSlot(4), 2.5);
  EXPECT_EQ(twin.length, 1);
  EXPECT_FLOAT_EQ(twin.xOffset, 0.0f);
  EXPECT_FLOAT_EQ(twin.xDistance, 1.0f);

  setArray(5, {1, 2, 3});
  store->arrayRecord(5).kind = 1;
  store->arrayRecord(5).xDistance = 0.1f;
  store->storeScalar(a(5), -1.5);
  EXPECT_EQ(arrayValues(5), (std::vector<double>{-1.5}));
  EXPECT_EQ(store->arrayRecord(5).kind, 0u);
  EXPECT_FLOAT_EQ(store->arrayRecord(5).xDistance, 1.0f);

  store->storeScalar(i(6), -3.99);
  EXPECT_EQ(store->integerSlot(6), -3);
}

// --- indirect operands ---------------------------------------------------------

TEST_F(ValueStoreTest, IndirectOperandsResolveAtTheMomentOfUse) {
  store->integerSlot(3) = 5;
  EXPECT_EQ(&store->ArrayOf(indirect(KindArray, 3)), &store->arrayRecord(5));
  EXPECT_EQ(&store->ArrayOf(indirect(KindFloat, 3)), &store->floatTwin(5));
  EXPECT_EQ(store->StringOf(indirect(KindString, 3)), store->stringSlot(5));
  store->integerSlot(5) = 99;
  EXPECT_EQ(store->IntegerValue(indirect(KindInteger, 3)), 99);
  EXPECT_EQ(store->SlotOf(indirect(KindFileArray, 3)), 5);
  store->integerSlot(3) = 6;
  EXPECT_EQ(&store->ArrayOf(indirect(KindArray, 3)), &store->arrayRecord(6));
  EXPECT_EQ(store->SlotOf(a(42)), 42);
}

TEST_F(ValueStoreTest, IndirectSlotOutsideItsPoolIsRuntimeError150) {
  const struct {
    uint32_t kind;
    int32_t value;
  } cases[] = {
      {KindArray, 500},  {KindArray, -1},    {KindFloat, 4000}, {KindInteger, 1200},
      {KindString, 200}, {KindFileArray, 100}, {KindFileNumber, 100},
  };
  for (const auto& c : cases) {
    store->integerSlot(3) = c.value;
    int number = 0;
    try {
      store->SlotOf(indirect(c.kind, 3));
    } catch (const RuntimeError& e) {
      number = e.number();
    }
    EXPECT_EQ(number, kErrIndirectSlotOutOfPool) << "kind " << c.kind << " slot " << c.value;
  }
  store->integerSlot(3) = 500;
  EXPECT_EQ(errorOf(assignArray, indirect(KindArray, 3), i(1)), 150);
  EXPECT_EQ(errorOf(assignInteger, i(1), indirect(KindArray, 3)), 150);
  store->integerSlot(3) = 4000;
  EXPECT_EQ(errorOf(assignFloat, indirect(KindFloat, 3), i(1)), 150);
  store->integerSlot(3) = 200;
  EXPECT_EQ(errorOf(assignString, indirect(KindString, 3), i(1)), 150);
  store->integerSlot(3) = -5;
  EXPECT_EQ(errorOf(assignInteger, indirect(KindInteger, 3), i(1)), 150);
  store->integerSlot(3) = 100;
  EXPECT_EQ(errorOf(assignFileArray, indirect(KindFileArray, 3), a(1)), 150);
}

// --- windows ----------------------------------------------------------------

struct RecordingPort : WindowPort {
  int bound = 1;
  int calls = 0;
  int lastNumber = -1;
  int lastCount = 0;
  uint32_t lastSubIndex = 0;
  double lastValue = 0;
  bool hasWindow(int number) const override { return number == bound; }
  void assign(int number, const Operand& target, const Operand* sources, int count,
              ValueStore& values) override {
    ++calls;
    lastNumber = number;
    lastCount = count;
    lastSubIndex = target.subIndex;
    lastValue = values.FloatValue(sources[0]);
  }
};

TEST_F(ValueStoreTest, WindowAssignmentGoesToTheBoundDiagram) {
  EXPECT_EQ(errorOf(assignWindow, w(1), literal(200, 2.0)), 89);  // no port at all

  RecordingPort port;
  store->setWindowPort(&port);
  Operand target = w(1);
  target.subIndex = 2;
  Operand ops[3] = {target, literal(200, 2.5), literal(201, 3.0)};
  assignWindow(ctx, ops, 3);
  EXPECT_EQ(port.calls, 1);
  EXPECT_EQ(port.lastNumber, 1);
  EXPECT_EQ(port.lastCount, 2);
  EXPECT_EQ(port.lastSubIndex, 2u);
  EXPECT_DOUBLE_EQ(port.lastValue, 2.5);

  EXPECT_EQ(errorOf(assignWindow, w(2), literal(200, 1.0)), 89);  // not bound
  store->integerSlot(4) = 200;
  EXPECT_EQ(errorOf(assignWindow, indirect(KindWindow, 4), literal(200, 1.0)), 89);
  store->integerSlot(4) = 1;
  EXPECT_EQ(errorOf(assignWindow, indirect(KindWindow, 4), literal(200, 1.0)), 0);
  EXPECT_EQ(port.calls, 2);
  EXPECT_EQ(store->WindowOf(indirect(KindWindow, 4)), 1);
  store->setWindowPort(nullptr);
}

// --- growth -------------------------------------------------------------------

TEST_F(ValueStoreTest, GrowAddsAnEighthAndKeepsTheValues) {
  setArray(1, {1, 2, 3});
  ValueArray& r = store->arrayRecord(1);
  store->Grow(r, 1000);  // within capacity: nothing happens
  EXPECT_EQ(r.capacity, 1024);
  store->Grow(r, 5000);
  EXPECT_EQ(r.capacity, 5625);
  EXPECT_EQ(arrayValues(1), (std::vector<double>{1, 2, 3}));
}

// Whether the mapping holding `p` carries the huge page advice ("hg" among
// its VmFlags in /proc/self/smaps).
bool mappingAdvisedHuge(const void* p) {
  std::ifstream smaps("/proc/self/smaps");
  const auto at = reinterpret_cast<uintptr_t>(p);
  std::string line;
  bool inside = false;
  while (std::getline(smaps, line)) {
    unsigned long begin = 0, end = 0;
    if (std::sscanf(line.c_str(), "%lx-%lx ", &begin, &end) == 2 && line.find(':') > line.find(' ')) {
      inside = at >= begin && at < end;
    } else if (inside && line.rfind("VmFlags:", 0) == 0) {
      return line.find(" hg") != std::string::npos;
    }
  }
  return false;
}

// Large buffers are advised for huge pages, fresh ones and grown ones alike;
// small ones are left alone. The values survive the growth.
TEST_F(ValueStoreTest, LargeBuffersAreAdvisedForHugePages) {
  if (!std::ifstream("/proc/self/smaps")) GTEST_SKIP() << "no /proc/self/smaps";
  ValueArray& r = store->arrayRecord(1);
  store->Grow(r, 100000);
  EXPECT_FALSE(mappingAdvisedHuge(r.data + 50000));
  r.data[99999] = 7.5;
  r.length = 100000;
  store->Grow(r, 2000000);
  EXPECT_TRUE(mappingAdvisedHuge(r.data + 1000000));
  EXPECT_EQ(r.data[99999], 7.5);
  store->Grow(r, 6000000);
  EXPECT_TRUE(mappingAdvisedHuge(r.data + 5000000));
  EXPECT_EQ(r.data[99999], 7.5);
  ValueArray& fresh = store->arrayRecord(2);
  store->Grow(fresh, 3000000);
  EXPECT_TRUE(mappingAdvisedHuge(fresh.data + 1500000));
}

// Array buffers start on a 64-byte line whatever their size, fresh or
// grown (in place, moved by realloc, or freshly allocated by a test
// allocator), and growth keeps every sample: small steps through the heap's
// chunks and large ones through mapped blocks, appends and clearing growth.
TEST_F(ValueStoreTest, BuffersStartOnACacheLineAndKeepTheirSamples) {
  const auto onLine = [](const double* p) { return reinterpret_cast<uintptr_t>(p) % 64 == 0; };
  for (const bool testAllocator : {false, true}) {
    if (testAllocator) store->setAllocator([](size_t c, size_t s) { return std::calloc(c, s); });
    std::string message;
    ASSERT_TRUE(store->allocateArrays(message)) << message;
    for (int slot = 0; slot < 6; ++slot) EXPECT_TRUE(onLine(store->arrayRecord(slot).data)) << slot;
    ValueArray& r = store->arrayRecord(3);
    // Another array grows in between, so the heap hands out other chunks.
    ValueArray& other = store->arrayRecord(4);
    int64_t n = 0;
    for (int64_t want : {int64_t{1030}, int64_t{1500}, int64_t{3001}, int64_t{7000}, int64_t{20000},
                         int64_t{70000}, int64_t{300000}, int64_t{1200000}}) {
      store->Grow(r, want, want % 2 == 0);
      store->Grow(other, want / 2 + 1200);
      ASSERT_TRUE(onLine(r.data)) << want;
      ASSERT_TRUE(onLine(other.data)) << want;
      for (int64_t k = 0; k < n; ++k) ASSERT_EQ(r.data[k], static_cast<double>(k) + 0.5) << want << " " << k;
      for (int64_t k = n; k < want; ++k) r.data[k] = static_cast<double>(k) + 0.5;
      n = want;
      r.length = static_cast<int32_t>(n);
    }
  }
}

TEST_F(ValueStoreTest, GrowBeyondWhatCanBeHeldIsRuntimeError13) {
  ValueArray& r = store->arrayRecord(1);
  for (int64_t n : {int64_t{2000000000}, int64_t{1} << 40, std::numeric_limits<int64_t>::max()}) {
    int number = 0;
    try {
      store->Grow(r, n);
    } catch (const RuntimeError& e) {
      number = e.number();
    }
    EXPECT_EQ(number, 13) << n;
    EXPECT_EQ(r.capacity, 1024);
  }
}

int failingAllocations = 0;
void* failAfterCount(size_t count, size_t size) {
  if (failingAllocations-- <= 0) return nullptr;
  return std::calloc(count, size);
}

TEST_F(ValueStoreTest, GrowWhenMemoryFailsIsRuntimeError13AndKeepsTheArray) {
  setArray(1, {4, 5});
  failingAllocations = 0;
  store->setAllocator(failAfterCount);
  int number = 0;
  try {
    store->Grow(store->arrayRecord(1), 2000);
  } catch (const RuntimeError& e) {
    number = e.number();
  }
  store->setAllocator([](size_t c, size_t s) { return std::calloc(c, s); });
  EXPECT_EQ(number, 13);
  EXPECT_EQ(store->arrayRecord(1).capacity, 1024);
  EXPECT_EQ(arrayValues(1), (std::vector<double>{4, 5}));
}

// Growth from the initial buffer through heap sizes into large buffers and
// on: the values in use survive every step and the rest reads zero, also
// after the length was cut back (stale samples do not come back).
TEST_F(ValueStoreTest, GrowthThroughSmallAndLargeBuffersKeepsValuesAndZeroesTheRest) {
  ValueArray& r = store->arrayRecord(2);
  int32_t length = 0;
  for (int64_t n : {int64_t{3000}, int64_t{100000}, int64_t{140000}, int64_t{2000000}, int64_t{2600000},
                    int64_t{5000000}}) {
    for (int32_t k = length; k < r.capacity; ++k) r.data[k] = 7.0;  // stale samples
    length = r.capacity * 2 / 3;
    for (int32_t k = 0; k < length; ++k) r.data[k] = k + 0.5;
    r.length = length;
    store->Grow(r, n);
    ASSERT_EQ(r.capacity, n + n / 8) << n;
    bool kept = true;
    for (int32_t k = 0; k < length; ++k) kept = kept && r.data[k] == k + 0.5;
    EXPECT_TRUE(kept) << n;
    bool zero = true;
    for (int64_t k = length; k < r.capacity + 2; ++k) zero = zero && r.data[k] == 0.0;
    EXPECT_TRUE(zero) << n;
  }
  // A large float twin goes back to its slot with its first value.
  ValueArray& twin = store->floatTwin(3);
  store->Grow(twin, 1 << 20);
  twin.data[0] = 2.25;
  twin.data[(1 << 20) - 1] = 1.0;
  store->releaseAtEnd();
  EXPECT_EQ(twin.data, &store->floatSlot(3));
  EXPECT_DOUBLE_EQ(store->floatSlot(3), 2.25);
  EXPECT_EQ(r.data, nullptr);
}

// Growth for appends leaves the new room uncleared and marks it; lengthening
// clears exactly the marked samples that come into use, while samples once
// written keep their values (they are not cleared).
TEST_F(ValueStoreTest, LengtheningClearsOnlySamplesNeverWritten) {
  ValueArray& r = store->arrayRecord(4);
  for (int32_t k = 0; k < 1024; ++k) r.data[k] = k + 1.0;
  r.length = 1024;
  store->Grow(r, 2048, false);
  EXPECT_EQ(r.dirtyFrom, 1026);
  for (int64_t k = 1024; k < r.capacity + 2; ++k) r.data[k] = -7.0;  // stands for what memory held
  for (int32_t k = 1024; k < 1500; ++k) r.data[k] = k + 1.0;        // appended
  r.length = 1500;
  store->extendLength(r, 10);
  EXPECT_EQ(r.length, 10);
  store->extendLength(r, 2200);  // within the capacity (2304)
  ASSERT_EQ(r.length, 2200);
  bool written = true, cleared = true;
  for (int32_t k = 0; k < 1500; ++k) written = written && r.data[k] == k + 1.0;
  for (int32_t k = 1500; k < 2200; ++k) cleared = cleared && r.data[k] == 0.0;
  EXPECT_TRUE(written);
  EXPECT_TRUE(cleared);
  EXPECT_EQ(r.dirtyFrom, 2200);
  // A clearing growth leaves nothing marked.
  store->Grow(r, 100000);
  EXPECT_EQ(r.dirtyFrom, INT32_MAX);
}

TEST_F(ValueStoreTest, AGrownTwinKeepsItsValueAndReturnsToItsSlot) {
  store->floatSlot(9) = 6.5;
  ValueArray& twin = store->floatTwin(9);
  store->Grow(twin, 10);
  EXPECT_EQ(twin.capacity, 11);
  EXPECT_DOUBLE_EQ(twin.data[0], 6.5);
  twin.data[0] = 8.0;
  EXPECT_DOUBLE_EQ(store->floatSlot(9), 8.0);
  EXPECT_DOUBLE_EQ(store->FloatValue(v(9)), 8.0);
  store->releaseAtEnd();
  EXPECT_EQ(twin.data, &store->floatSlot(9));
  EXPECT_EQ(twin.capacity, 1);
  EXPECT_DOUBLE_EQ(store->floatSlot(9), 8.0);
}

// --- assignment: float and integer targets -----------------------------------

TEST_F(ValueStoreTest, FloatTargetTakesValueAndXDistance) {
  setArray(2, {3.25, 1});
  store->arrayRecord(2).xDistance = 0.125f;
  run(assignFloat, v(1), a(2));
  EXPECT_DOUBLE_EQ(store->floatSlot(1), 3.25);
  EXPECT_FLOAT_EQ(store->floatTwin(1).xDistance, 0.125f);

  store->integerSlot(5) = -40;
  run(assignFloat, v(1), i(5));  // an integer has no record: x distance stays
  EXPECT_DOUBLE_EQ(store->floatSlot(1), -40.0);
  EXPECT_FLOAT_EQ(store->floatTwin(1).xDistance, 0.125f);

  run(assignFloat, v(1), literal(300, 1e-3));
  EXPECT_DOUBLE_EQ(store->floatSlot(1), 1e-3);
  EXPECT_FLOAT_EQ(store->floatTwin(1).xDistance, 1.0f);

  store->integerSlot(6) = 12;
  run(assignFloat, indirect(KindFloat, 6), literal(300, 2.0));
  EXPECT_DOUBLE_EQ(store->floatSlot(12), 2.0);
}

TEST_F(ValueStoreTest, IntegerTargetFromEveryKind) {
  std::strcpy(store->stringSlot(1), "A");
  setArray(2, {-2.9});
  store->integerSlot(7) = 77;
  const struct {
    Operand source;
    int32_t expected;
  } cases[] = {
      {literal(301, 3.99), 3},  {literal(302, -3.99), -3}, {literal(303, 3000000000.0), -1294967296},
      {s(1), 65},               {text("z"), 122},          {a(2), -2},
      {i(7), 77},               {literal(304, NAN), 0},
  };
  for (const auto& c : cases) {
    store->integerSlot(1) = 12345;
    run(assignInteger, i(1), c.source);
    EXPECT_EQ(store->integerSlot(1), c.expected) << "source kind " << c.source.kind();
  }
}

// --- assignment: string target -------------------------------------------------

TEST_F(ValueStoreTest, StringTargetCopiesAppendsAndTakesCharacterCodes) {
  run(assignString, s(1), literal(300, 65));
  EXPECT_STREQ(store->stringSlot(1), "A");
  run(assignString, s(1, true), literal(301, 66));
  EXPECT_STREQ(store->stringSlot(1), "AB");
  store->integerSlot(2) = 256 + 67;  // low 8 bits
  run(assignString, s(1, true), i(2));
  EXPECT_STREQ(store->stringSlot(1), "ABC");
  run(assignString, s(1, true), text("de"));
  EXPECT_STREQ(store->stringSlot(1), "ABCde");
  run(assignString, s(3), s(1));
  EXPECT_STREQ(store->stringSlot(3), "ABCde");
  run(assignString, s(3, true), s(3));
  EXPECT_STREQ(store->stringSlot(3), "ABCdeABCde");
  run(assignString, s(3), text(""));
  EXPECT_STREQ(store->stringSlot(3), "");
  run(assignString, s(3), literal(302, 0xE4));
  EXPECT_STREQ(store->stringSlot(3), "\xE4");
}

TEST_F(ValueStoreTest, StringResultsAreCutAt1023Characters) {
  const std::string long2000(2000, 'x');
  const std::string y100(100, 'y');
  std::strcpy(store->stringSlot(2), "guard");  // the buffer right after s1

  struct Case {
    std::string before;  // s1 before
    enum { Literal, Self, Code } source;
    std::string literal;
    size_t expectedLength;
    char expectedLast;
  };
  const Case cases[] = {
      {"", Case::Literal, long2000, 1023, 'x'},
      {std::string(1000, 'a'), Case::Literal, y100, 1023, 'y'},
      {std::string(600, 'a') + "b", Case::Self, "", 1023, 'a'},
      {std::string(1023, 'a'), Case::Code, "", 1023, 'a'},
      {std::string(1022, 'a'), Case::Code, "", 1023, 'A'},
  };
  for (const Case& c : cases) {
    std::strcpy(store->stringSlot(1), c.before.c_str());
    const bool append = !c.before.empty();
    switch (c.source) {
      case Case::Literal: run(assignString, s(1, append), text(c.literal.c_str())); break;
      case Case::Self: run(assignString, s(1, true), s(1)); break;
      case Case::Code: run(assignString, s(1, true), literal(300, 65)); break;
    }
    const char* r = store->stringSlot(1);
    EXPECT_EQ(std::strlen(r), c.expectedLength);
    EXPECT_EQ(r[c.expectedLength - 1], c.expectedLast);
    EXPECT_STREQ(store->stringSlot(2), "guard");
  }
  // s1 &= s1 appends the text as it was: 601 + its first 422 characters.
  std::strcpy(store->stringSlot(1), (std::string(599, 'a') + "bc").c_str());
  run(assignString, s(1, true), s(1));
  const std::string expected = std::string(599, 'a') + "bc" + std::string(422, 'a');
  EXPECT_EQ(std::string(store->stringSlot(1)), expected);
}

// --- assignment: array target --------------------------------------------------

TEST_F(ValueStoreTest, ArrayCopyTakesValuesAndAxisFromSource) {
  setArray(2, {1, 2, 3, 4});
  ValueArray& src = store->arrayRecord(2);
  src.xDistance = 0.5f;
  src.xOffset = -3.0f;
  src.kind = 1;
  run(assignArray, a(1), a(2));
  const ValueArray& dst = store->arrayRecord(1);
  EXPECT_EQ(arrayValues(1), (std::vector<double>{1, 2, 3, 4}));
  EXPECT_FLOAT_EQ(dst.xDistance, 0.5f);
  EXPECT_FLOAT_EQ(dst.xOffset, -3.0f);
  EXPECT_EQ(dst.kind, 1u);
  EXPECT_EQ(dst.capacity, 1024);

  // From an empty array: length 0, axis and kind still taken.
  ValueArray& empty = store->arrayRecord(3);
  empty.xDistance = 2.0f;
  empty.xOffset = 7.0f;
  empty.kind = 0;
  run(assignArray, a(1), a(3));
  EXPECT_EQ(dst.length, 0);
  EXPECT_FLOAT_EQ(dst.xDistance, 2.0f);
  EXPECT_FLOAT_EQ(dst.xOffset, 7.0f);
  EXPECT_EQ(dst.kind, 0u);

  // A longer source grows the target by the headroom rule.
  std::vector<double> big(3000);
  for (size_t k = 0; k < big.size(); ++k) big[k] = static_cast<double>(k);
  setArray(4, big);
  run(assignArray, a(1), a(4));
  EXPECT_EQ(dst.capacity, 3375);
  EXPECT_EQ(arrayValues(1), big);

  // From a float: the twin, one sample.
  store->floatSlot(5) = 9.5;
  store->floatTwin(5).xDistance = 0.25f;
  run(assignArray, a(1), v(5));
  EXPECT_EQ(arrayValues(1), (std::vector<double>{9.5}));
  EXPECT_FLOAT_EQ(dst.xDistance, 0.25f);
}

TEST_F(ValueStoreTest, ArrayAppendOfItselfAppendsTheOldValues) {
  setArray(1, {1, 2, 3});
  run(assignArray, a(1, true), a(1));
  EXPECT_EQ(arrayValues(1), (std::vector<double>{1, 2, 3, 1, 2, 3}));

  // Also when the append needs growth and the buffer moves.
  std::vector<double> full(1024);
  for (size_t k = 0; k < full.size(); ++k) full[k] = static_cast<double>(k) * 0.5;
  setArray(2, full);
  run(assignArray, a(2, true), a(2));
  const ValueArray& r = store->arrayRecord(2);
  EXPECT_EQ(r.length, 2048);
  EXPECT_EQ(r.capacity, 2304);  // (1024 + 1024) + 2048 / 8
  std::vector<double> twice = full;
  twice.insert(twice.end(), full.begin(), full.end());
  EXPECT_EQ(arrayValues(2), twice);
}

TEST_F(ValueStoreTest, ArrayAppendOfAnotherArrayGrowsByTheSourceLength) {
  setArray(1, std::vector<double>(1000, 1.0));
  setArray(2, std::vector<double>(100, 2.0));
  store->arrayRecord(2).xDistance = 0.01f;
  run(assignArray, a(1, true), a(2));
  const ValueArray& r = store->arrayRecord(1);
  EXPECT_EQ(r.length, 1100);
  EXPECT_EQ(r.capacity, 1124 + 1124 / 8);
  EXPECT_DOUBLE_EQ(r.data[999], 1.0);
  EXPECT_DOUBLE_EQ(r.data[1000], 2.0);
  EXPECT_DOUBLE_EQ(r.data[1099], 2.0);
  EXPECT_FLOAT_EQ(r.xDistance, 0.01f);
}

TEST_F(ValueStoreTest, ArrayFromAnInteger) {
  ValueArray& r = store->arrayRecord(1);
  setArray(1, std::vector<double>(1024, 0.0));
  r.xDistance = 0.5f;
  r.kind = 0;
  store->integerSlot(3) = 42;
  run(assignArray, a(1, true), i(3));  // full: grows to (1024 + 8) + 1032 / 8
  EXPECT_EQ(r.capacity, 1161);
  EXPECT_EQ(r.length, 1025);
  EXPECT_DOUBLE_EQ(r.data[1024], 42.0);
  EXPECT_FLOAT_EQ(r.xDistance, 0.5f);
  run(assignArray, a(1, true), i(3));  // room left: no growth
  EXPECT_EQ(r.capacity, 1161);
  EXPECT_EQ(r.length, 1026);

  run(assignArray, a(1), i(3));
  EXPECT_EQ(r.length, 1);
  EXPECT_EQ(r.capacity, 1161);
  EXPECT_DOUBLE_EQ(r.data[0], 42.0);
  EXPECT_FLOAT_EQ(r.xDistance, 0.5f);

  // An array without a buffer gets one.
  store->releaseAtEnd();
  run(assignArray, a(1), i(3));
  EXPECT_EQ(r.length, 1);
  EXPECT_GE(r.capacity, 1);
  EXPECT_DOUBLE_EQ(r.data[0], 42.0);
}

// --- watch text ---------------------------------------------------------------

TEST_F(ValueStoreTest, WatchTexts) {
  store->floatSlot(1) = 1.5;
  store->floatSlot(2) = 1e-7;
  store->integerSlot(3) = -17;
  std::strcpy(store->stringSlot(4), "Text \xE4");
  setArray(5, {3, -2, 7});
  store->arrayRecord(5).xDistance = 0.5f;
  store->arrayRecord(5).xOffset = 1.0f;

  const char* oldLocale = std::setlocale(LC_NUMERIC, nullptr);
  const std::string saved = oldLocale ? oldLocale : "C";
  // Output must not follow a comma locale when one is installed.
  if (!std::setlocale(LC_NUMERIC, "de_DE.UTF-8")) std::setlocale(LC_NUMERIC, "C");

  const struct {
    int kind;
    int slot;
    const char* expected;
  } cases[] = {
      {0, 1, "1.5"},
      {0, 2, "1e-07"},
      {1, 3, "-17"},
      {2, 4, "Text \xE4"},
      {3, 5, "3 Werte  Clk:0.5 min:-2 max:7 Offset:1"},
      {3, 6, "0 Werte  Clk:1 min:1e+37 max:-1e+37 Offset:0"},
      {0, 4000, "*"},
      {1, -1, "*"},
      {3, 500, "*"},
      {7, 0, "*"},
  };
  for (const auto& c : cases) EXPECT_EQ(store->watchText(c.kind, c.slot), c.expected);
  std::setlocale(LC_NUMERIC, saved.c_str());
}

// --- run lifecycle ------------------------------------------------------------

TEST(ValueStoreLifecycle, FreshStoreHoldsZeros) {
  auto store = std::make_unique<ValueStore>();
  EXPECT_EQ(store->integerSlot(150), 0);
  EXPECT_EQ(store->integerSlot(1199), 0);
  EXPECT_DOUBLE_EQ(store->floatSlot(3999), 0.0);
  EXPECT_STREQ(store->stringSlot(199), "");
  EXPECT_EQ(store->arrayRecord(0).capacity, 0);
  EXPECT_EQ(store->FileArrayHandle(0), -1);
  EXPECT_EQ(store->fileChannel(99).fd, -1);
}

TEST(ValueStoreLifecycle, StartResetsWhatARunMustNotInherit) {
  auto store = std::make_unique<ValueStore>();
  std::string message;
  store->resetForStart();
  ASSERT_TRUE(store->allocateArrays(message));
  // A first run leaves values behind.
  store->floatSlot(150) = 3.0;
  ValueArray& twin = store->floatTwin(150);
  twin.xOffset = 2.5f;
  twin.xDistance = 0.1f;
  twin.length = 1;
  store->integerSlot(5) = 5;
  store->integerSlot(150) = 150;
  store->integerSlot(1199) = -1;
  std::strcpy(store->stringSlot(150), "abc");
  ValueArray& arr = store->arrayRecord(7);
  arr.length = 10;
  arr.xDistance = 0.001f;
  arr.xOffset = 4.0f;
  arr.kind = 1;
  arr.data[3] = 9.0;
  store->averagingCounter(7) = 3;
  store->releaseAtEnd();
  EXPECT_EQ(arr.data, nullptr);
  EXPECT_EQ(arr.capacity, 0);
  EXPECT_EQ(arr.length, 0);

  store->resetForStart();
  EXPECT_DOUBLE_EQ(store->floatSlot(150), 0.0);
  EXPECT_EQ(twin.data, &store->floatSlot(150));
  EXPECT_EQ(twin.capacity, 1);
  EXPECT_EQ(twin.length, 1);
  EXPECT_FLOAT_EQ(twin.xDistance, 1.0f);
  EXPECT_FLOAT_EQ(twin.xOffset, 2.5f);
  EXPECT_EQ(store->integerSlot(5), 0);
  EXPECT_EQ(store->integerSlot(150), 150);
  EXPECT_EQ(store->integerSlot(1199), -1);
  EXPECT_STREQ(store->stringSlot(150), "");
  EXPECT_DOUBLE_EQ(store->averagingCounter(7), 0.0);

  ASSERT_TRUE(store->allocateArrays(message));
  EXPECT_EQ(arr.capacity, 1024);
  EXPECT_EQ(arr.length, 0);
  EXPECT_DOUBLE_EQ(arr.data[3], 0.0);
  EXPECT_DOUBLE_EQ(arr.data[1023], 0.0);
  EXPECT_FLOAT_EQ(arr.xDistance, 0.001f);
  EXPECT_FLOAT_EQ(arr.xOffset, 4.0f);
  EXPECT_EQ(arr.kind, 1u);
  store->releaseAtEnd();
}

TEST(ValueStoreLifecycle, ArrayMemoryFailureReleasesAllAndNamesTheArray) {
  auto store = std::make_unique<ValueStore>();
  store->resetForStart();
  failingAllocations = 7;  // a0..a6 get memory, a7 none
  store->setAllocator(failAfterCount);
  std::string message;
  EXPECT_FALSE(store->allocateArrays(message));
  EXPECT_EQ(message, "Ab Array 7 kein Platz im Speicher");
  for (int k = 0; k < kArraySlots; ++k) {
    ASSERT_EQ(store->arrayRecord(k).data, nullptr) << k;
    ASSERT_EQ(store->arrayRecord(k).capacity, 0) << k;
  }
  store->setAllocator([](size_t c, size_t s) { return std::calloc(c, s); });
  EXPECT_TRUE(store->allocateArrays(message));
}

}  // namespace
}  // namespace morvel::lang
