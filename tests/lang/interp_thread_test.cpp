// The interpreter on its own thread: the single-step debugger protocol, stop
// requests (also during the end process) and CTRL+B.
#include <chrono>
#include <thread>

#include "interp_fixture.h"

namespace morvel::lang::testing {
namespace {

class InterpThread : public InterpFixture {
 protected:
  size_t shown() {
    std::lock_guard<std::mutex> lock(ports_.mutex);
    return ports_.shownLines.size();
  }
  // Polls `done` for up to 10 s.
  template <typename F>
  static bool poll(F done) {
    for (int k = 0; k < 10000; ++k) {
      if (done()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
  }
};

TEST_F(InterpThread, SingleStepRunToLineAndContinue) {
  start({"*Start\ni1 = 1\ni2 = 2\ni3 = 3\ni4 = 4\n", "*P1\nexit()\n", "*End\ni5 = 5\n"}, true);
  // Paused before the first statement, which is shown.
  ASSERT_TRUE(ports_.waitFor([&] { return ports_.shownLines.size() == 1; }));
  EXPECT_EQ(ports_.shownLines[0], std::make_pair(0, 1));

  interp_->debugCommand(kStepOne);
  ASSERT_TRUE(ports_.waitFor([&] { return ports_.shownLines.size() == 2; }));
  EXPECT_EQ(ports_.shownLines[1], std::make_pair(0, 2));
  ASSERT_TRUE(poll([&] { return interp_->stepCommand() == kStepPause; }));
  {
    std::lock_guard<std::mutex> lock(ports_.mutex);
    EXPECT_EQ(values_->integerSlot(1), 1);
    EXPECT_EQ(values_->integerSlot(2), 0);
  }

  interp_->debugCommand(kStepToLine, 4);
  ASSERT_TRUE(ports_.waitFor([&] { return ports_.shownLines.size() == 4; }));
  EXPECT_EQ(ports_.shownLines[2], std::make_pair(0, 3));
  EXPECT_EQ(ports_.shownLines[3], std::make_pair(0, 4));
  ASSERT_TRUE(poll([&] { return interp_->stepCommand() == kStepPause; }));
  EXPECT_EQ(shown(), 4u);

  ports_.dumpItems = {"i4", "i5"};
  interp_->debugCommand(kStepContinue);
  ASSERT_TRUE(waitEnded());
  EXPECT_EQ(ports_.dumped, "i4 = 4\ni5 = 5\n");
  EXPECT_EQ(interp_->debugMode(), 2);
}

TEST_F(InterpThread, PausedDebuggerMovesToAnotherStatementOrProcess) {
  start({"*Start\ni1 = 1\ni2 = 2\ni3 = 3\n", "*P1\ni7 = 7\n", "*End\n"}, true);
  ASSERT_TRUE(ports_.waitFor([&] { return ports_.shownLines.size() == 1; }));
  interp_->setDebugStatement(2);  // skip i1 and i2
  ASSERT_EQ(shown(), 2u);
  EXPECT_EQ(ports_.shownLines[1], std::make_pair(0, 3));
  interp_->debugCommand(kStepOne);
  ASSERT_TRUE(ports_.waitFor([&] { return ports_.shownLines.size() == 3; }));
  interp_->setDebugProcess(1);
  interp_->debugCommand(kStepOne);
  ASSERT_TRUE(ports_.waitFor([&] { return ports_.shownLines.size() == 5; }));
  EXPECT_EQ(ports_.shownLines[3], std::make_pair(1, 1));
  // A cyclic process at its end starts again with its first statement.
  interp_->debugCommand(kStepOne);
  ASSERT_TRUE(ports_.waitFor([&] { return ports_.shownLines.size() == 6; }));
  EXPECT_EQ(interp_->process(1).pc, 1);
  ports_.dumpItems = {"i1", "i3", "i7"};
  interp_->requestStop();
  ASSERT_TRUE(waitEnded());
  EXPECT_EQ(ports_.dumped, "i1 = 0\ni3 = 3\ni7 = 7\n");
}

TEST_F(InterpThread, DebugBuiltinBreaksInOnlyWithoutADebugger) {
  ports_.continueOnBreak = true;
  ports_.dumpItems = {"i2"};
  start({"*Start\ni1 = 1\ndebug()\ni2 = 2\n", "*P1\nexit()\n", "*End\n"});
  ASSERT_TRUE(waitEnded());
  ASSERT_EQ(ports_.breaks.size(), 1u);
  EXPECT_EQ(ports_.breaks[0], std::make_pair(0, 3));
  EXPECT_EQ(ports_.dumped, "i2 = 2\n");

  // Under the debugger (continued at once) debug() does not break.
  ports_.breaks.clear();
  ports_.ended = 0;
  start({"*Start\ndebug()\n", "*P1\nexit()\n", "*End\n"}, true);
  interp_->debugCommand(kStepContinue);
  ASSERT_TRUE(waitEnded());
  EXPECT_TRUE(ports_.breaks.empty());
}

TEST_F(InterpThread, StopWhilePausedRunsTheEndProcess) {
  ports_.dumpItems = {"i5"};
  start({"*Start\ni1 = 1\n", "*End\ni5 = 5\n"}, true);
  ASSERT_TRUE(ports_.waitFor([&] { return ports_.shownLines.size() == 1; }));
  interp_->requestStop();
  ASSERT_TRUE(waitEnded());
  EXPECT_EQ(ports_.dumped, "i5 = 5\n");
  EXPECT_EQ(ports_.how, RunEnd::Stopped);
}

TEST_F(InterpThread, ASecondStopEndsAWaitingEndProcess) {
  ports_.dumpItems = {"i5", "i6"};
  start({"*Start\n", "*P1\ni1 = i1 + 1\n", "*End\ni5 = 5\n:l\ni6 = 1\ngoto :l\n"});
  interp_->requestStop();
  ASSERT_TRUE(poll([&] { return interp_->currentProcess() == 2; }));
  // The end process runs (its first stop request was cleared) and loops.
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_TRUE(interp_->running());
  interp_->requestStop();
  ASSERT_TRUE(waitEnded());
  EXPECT_EQ(ports_.dumped, "i5 = 5\ni6 = 1\n");
}

TEST_F(InterpThread, BreakKeyUnlessBreakoff) {
  start({"*Start\nbreakoff()\n", "*P1\ni1 = i1 + 1\n", "*End\n"});
  ASSERT_TRUE(poll([&] { return !interp_->breakEnabled(); }));
  EXPECT_FALSE(interp_->requestBreakKey());
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_TRUE(interp_->running());
  interp_->requestStop();
  ASSERT_TRUE(waitEnded());

  ports_.ended = 0;
  start({"*Start\n", "*P1\ni1 = i1 + 1\n", "*End\n"});
  EXPECT_TRUE(interp_->requestBreakKey());
  ASSERT_TRUE(waitEnded());
  EXPECT_EQ(ports_.how, RunEnd::Stopped);
}

}  // namespace
}  // namespace morvel::lang::testing
