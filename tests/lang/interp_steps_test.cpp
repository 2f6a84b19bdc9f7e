// The statement loop's inline forms (direct arithmetic, compares, jumps,
// for-next, appends): the same results as the routines they stand for, the
// right line in a run-time error, and stop, break and single steps while a
// loop made only of inline forms runs.
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "interp_fixture.h"

namespace morvel::lang::testing {
namespace {

class InterpSteps : public InterpFixture {};

struct StepCase {
  const char* what;
  const char* start;  // text of the start process
  const char* items;
  const char* expected;
};

const StepCase kStepCases[] = {
    {"integer sums and differences wrap like 32-bit integers",
     "*Start\ni1 = 2147483647\ni2 = 1\ni3 = i1 + i2\ni4 = i3 - i2\nv1 = -2147483648\ni5 = v1 - v1\n"
     "i6 = i4 - 2\n",
     "i3,i4,i5,i6", "i3 = -2147483648\ni4 = 2147483647\ni5 = 0\ni6 = 2147483645\n"},
    {"integer products are computed in double and then truncated",
     "*Start\ni1 = 2147483647\ni2 = i1 * i1\ni3 = -3\ni4 = i3 * 7\n", "i2,i4", "i2 = 0\ni4 = -21\n"},
    {"mixed integer and float sources truncate the double result",
     "*Start\ni1 = 2147483647\ni2 = 1\ni3 = i1 + 0.5\ni4 = 2.5 - i2\ni5 = i2 - 7.9\nv1 = 1e300\ni6 = i2 + v1\n"
     "v2 = 0 / 0\ni7 = v2 * i2\n",
     "i3,i4,i5,i6,i7", "i3 = 2147483647\ni4 = 1\ni5 = -6\ni6 = 0\ni7 = 0\n"},
    {"float arithmetic on direct floats",
     "*Start\nv1 = 1.5\nv2 = 4\nv3 = v1 + v2\nv4 = v1 - v2\nv5 = v1 * v2\nv1 = v1 + v1\n", "v1,v3,v4,v5",
     "v1 = 3\nv3 = 5.5\nv4 = -2.5\nv5 = 6\n"},
    {"compares of direct integers and floats, goto and block forms",
     "*Start\ni1 = 3\ni2 = 3\nv1 = 1.5\nv2 = 2\nif i1 >= i2 goto :a\ni9 = 1\n:a\nif v1 < v2\ni8 = 1\nendif\n"
     "if v1 == v2\ni7 = 1\nelse\ni7 = 2\nendif\nif i1 != i2 goto :b\ni6 = 1\n:b\nif v2 > v1\ni5 = 1\nendif\n"
     "if i1 <= i2\ni4 = 1\nendif\nv3 = 0 / 0\nif v3 != v3\ni3 = 1\nendif\nif v3 == v3\ni3 = 2\nendif\n",
     "i3,i4,i5,i6,i7,i8,i9", "i3 = 1\ni4 = 1\ni5 = 1\ni6 = 1\ni7 = 2\ni8 = 1\ni9 = 0\n"},
    {"a backward compare loop",
     "*Start\ni2 = 5\n:l\ni1 = i1 + 1\nif i1 < i2 goto :l\n", "i1", "i1 = 5\n"},
    {"integer for loops with integer and float end and step read again each time",
     "*Start\ni8 = 10\ni9 = 3\nfor i1 = 1 to i8 step i9\ni2 = i2 + 1\nnext\nv9 = 2.9\nfor i3 = 0 to 6 step v9\n"
     "i4 = i4 + 1\nnext\nfor i5 = 1 to i8\ni6 = i6 + 1\ni8 = 3\nnext\n",
     "i1,i2,i3,i4,i5,i6", "i1 = 13\ni2 = 4\ni3 = 8\ni4 = 4\ni5 = 4\ni6 = 3\n"},
    {"float for loop on direct floats, counting down",
     "*Start\nv8 = 0\nv9 = -0.5\nfor v1 = 1 to v8 step v9\ni1 = i1 + 1\nnext\n", "i1,v1", "i1 = 3\nv1 = -0.5\n"},
};

TEST_F(InterpSteps, InlineFormsGiveTheResultsOfTheirRoutines) {
  for (const StepCase& c : kStepCases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(run({c.start, "*End\n"}, c.items), c.expected);
    EXPECT_EQ(ports_.errorReports, 0);
  }
}

TEST_F(InterpSteps, AppendsGrowTheArrayAndKeepEveryValue) {
  prepare({"*Start\nv1 = 0.25\nfor i1 = 1 to 5000\nv1 = v1 + v1\na1 &= v1\nv1 = v1 * 0.5\nv1 = v1 + 1\nnext\n",
           "*End\n"});
  ASSERT_EQ(interp_->runStartProcess(), 0);
  const ValueArray& a = values_->arrayRecord(1);
  ASSERT_EQ(a.length, 5000);
  EXPECT_GE(a.capacity, 5000);
  double v = 0.25;
  for (int k = 0; k < 5000; ++k) {
    v = v + v;
    ASSERT_EQ(a.data[k], v) << k;
    v = v * 0.5 + 1;
  }
  interp_->finishRun(0);
}

TEST_F(InterpSteps, RuntimeErrorsInAndAfterInlineFormsNameTheirLine) {
  // The append that must grow fails (error 13) on its own line.
  prepare({"*Start\nv1 = 1\n\nfor i1 = 1 to 100000\na1 &= v1\nnext\n", "*End\n"});
  values_->setAllocator([](size_t, size_t) -> void* { return nullptr; });
  interp_->runLoop();
  values_->setAllocator([](size_t n, size_t s) { return std::calloc(n, s); });
  EXPECT_EQ(ports_.errorNumber, kErrArrayMemory);
  EXPECT_EQ(ports_.errorProcess, 0);
  EXPECT_EQ(ports_.errorLine, 4);

  // A routine that fails after a run of inline forms and a loop.
  run({"*Start\nfor i1 = 1 to 3\nv1 = v1 + v1\nnext\ni2 = i2 + 1\n; remark\nrun(*)\ni3 = 1\n", "*End\n"}, "");
  EXPECT_EQ(ports_.errorNumber, kErrProcessNumber);
  EXPECT_EQ(ports_.errorProcess, 0);
  EXPECT_EQ(ports_.errorLine, 6);
  EXPECT_EQ(ports_.errorReports, 2);
}

using InterpStepsThread = InterpFixture;

// Loops made only of inline forms: a goto loop, a for loop that does not
// end, a compare loop.
const char* const kEndlessLoops[] = {
    "*Start\nv2 = 1\n:l\nv1 = v1 + v2\ni1 = i1 + 1\ngoto :l\n",
    "*Start\nv2 = 1\nfor i1 = 1 to 2\nv1 = v1 + v2\ni1 = 1\nnext\n",
    "*Start\nv2 = 1\n:l\nv1 = v1 + v2\nif v1 > 0 goto :l\n",
};

TEST_F(InterpStepsThread, StopEndsALoopOfInlineFormsAndTheEndProcessRuns) {
  for (const char* loop : kEndlessLoops) {
    SCOPED_TRACE(loop);
    ports_.ended = 0;
    ports_.dumpItems = {"i5"};
    start({loop, "*End\ni5 = 5\n"});
    // Let it run, then stop it from this thread.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    interp_->requestStop();
    ASSERT_TRUE(waitEnded());
    EXPECT_GT(values_->floatSlot(1), 0.0);
    EXPECT_EQ(ports_.dumped, "i5 = 5\n");
    EXPECT_EQ(ports_.how, RunEnd::Stopped);
  }
}

TEST_F(InterpStepsThread, BreakInAndStepOneInlineFormAtATime) {
  start({"*Start\nv2 = 1\n:l\nv1 = v1 + v2\ni1 = i1 + 1\ngoto :l\n", "*End\n"});
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  interp_->breakIntoDebugger();
  ASSERT_TRUE(ports_.waitFor([&] { return ports_.breaks.size() == 1; }));
  int line;
  {
    std::lock_guard<std::mutex> lock(ports_.mutex);
    line = ports_.breaks[0].second;
    EXPECT_EQ(ports_.breaks[0].first, 0);
  }
  ASSERT_TRUE(line >= 3 && line <= 5) << line;
  // Lines 3, 4, 5 in turn, then back to 3 (the label has no statement).
  for (int k = 0; k < 6; ++k) {
    double v1;
    int i1;
    {
      std::lock_guard<std::mutex> lock(ports_.mutex);
      v1 = values_->floatSlot(1);
      i1 = values_->integerSlot(1);
    }
    const size_t before = [&] {
      std::lock_guard<std::mutex> lock(ports_.mutex);
      return ports_.shownLines.size();
    }();
    interp_->debugCommand(kStepOne);
    ASSERT_TRUE(ports_.waitFor([&] { return ports_.shownLines.size() == before + 1; }));
    for (int w = 0; w < 10000 && interp_->stepCommand() != kStepPause; ++w)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::lock_guard<std::mutex> lock(ports_.mutex);
    const int next = ports_.shownLines.back().second;
    EXPECT_EQ(next, line == 5 ? 3 : line + 1);
    // Exactly the one statement ran.
    EXPECT_EQ(values_->floatSlot(1), line == 3 ? v1 + 1 : v1);
    EXPECT_EQ(values_->integerSlot(1), line == 4 ? i1 + 1 : i1);
    line = next;
  }
  // Continue runs freely again (the inline loop), and a stop ends it.
  double at;
  {
    std::lock_guard<std::mutex> lock(ports_.mutex);
    at = values_->floatSlot(1);
  }
  interp_->debugCommand(kStepContinue);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  interp_->requestStop();
  ASSERT_TRUE(waitEnded());
  EXPECT_GT(values_->floatSlot(1), at + 100.0);
  EXPECT_EQ(ports_.how, RunEnd::Stopped);
}

}  // namespace
}  // namespace morvel::lang::testing
