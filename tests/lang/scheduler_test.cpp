// The scheduler cycle, driven cycle by cycle with a manual clock: turn
// taking, waiting, input events, process control and profiling.
#include "interp_fixture.h"
#include "lang/builtin_table.h"

namespace morvel::lang::testing {
namespace {

class Scheduler : public InterpFixture {
 protected:
  // Prepares the run and runs the start process.
  void begin(const std::vector<std::string>& processes) {
    prepare(processes);
    interp_->beginRun();
    ASSERT_EQ(interp_->runStartProcess(), 0);
  }
  int cycles(int64_t n) { return interp_->runCycles(n); }
  int i(int slot) { return values_->integerSlot(slot); }
};

TEST_F(Scheduler, ProcessesTakeTurnsOneStatementEach) {
  begin({"*Start\n", "*P1\ni1 = i1 + 1\ngoto :a\n:a\n", "*P2\ni2 = i2 + 1\ngoto :b\n:b\n",
         "*P3\ni3 = i3 + 1\ngoto :c\n:c\n", "*End\n"});
  for (int n = 1; n <= 30; ++n) {
    ASSERT_EQ(cycles(1), 0);
    // Two statements and one return to the start per round of three cycles.
    const int expected = (n + 2) / 3;
    EXPECT_EQ(i(1), expected) << n;
    EXPECT_EQ(i(2), expected) << n;
    EXPECT_EQ(i(3), expected) << n;
  }
  EXPECT_EQ(interp_->currentProcess(), 3);
}

TEST_F(Scheduler, WaittimeHoldsOnlyItsOwnProcess) {
  begin({"*Start\n", "*P1\nwaittime(0.5)\ni1 = i1 + 1\nstop(*)\n", "*P2\ni2 = i2 + 1\n", "*End\n"});
  ASSERT_EQ(cycles(10), 0);
  EXPECT_EQ(i(1), 0);
  EXPECT_EQ(i(2), 5);
  clock_.advance(499);
  ASSERT_EQ(cycles(10), 0);
  EXPECT_EQ(i(1), 0);
  clock_.advance(1);
  ASSERT_EQ(cycles(2), 0);
  EXPECT_EQ(i(1), 1);
  EXPECT_FALSE(interp_->process(1).waiting);
  EXPECT_EQ(i(2), 11);
}

TEST_F(Scheduler, RestartClearsTheDeadline) {
  // Process 1 waits 10 s; start(1) from process 2 restarts it, and the wait
  // begins anew from the time of the restart.
  begin({"*Start\n", "*P1\nwaittime(10)\ni1 = 1\nstop(*)\n", "*P2\nif i9 == 1\nstart(1)\ni9 = 2\nendif\n", "*End\n"});
  ASSERT_EQ(cycles(2), 0);
  EXPECT_TRUE(interp_->process(1).waiting);
  clock_.advance(9000);
  values_->integerSlot(9) = 1;
  ASSERT_EQ(cycles(4), 0);
  EXPECT_EQ(i(9), 2);
  clock_.advance(1500);  // past the first deadline, not the new one
  ASSERT_EQ(cycles(3), 0);
  EXPECT_EQ(i(1), 0);
  clock_.advance(9000);
  ASSERT_EQ(cycles(3), 0);
  EXPECT_EQ(i(1), 1);
}

TEST_F(Scheduler, StopRunAndStart) {
  begin({"*Start\n", "*P1\ni1 = i1 + 1\nstop(*)\ni2 = i2 + 1\ngoto :x\n:x\n", "*P2\n", "*End\n"});
  ASSERT_EQ(cycles(5), 0);
  EXPECT_EQ(i(1), 1);
  EXPECT_EQ(interp_->process(1).state, kStateStopped);
  EXPECT_EQ(interp_->process(1).pc, 2);
  // run(1) from another process resumes it where it stopped.
  Operand one;
  one.word = Operand::makeWord(KindInteger, 50);
  values_->integerSlot(50) = 1;
  findBuiltin("run")->run(interp_->context(), &one, 1);
  ASSERT_EQ(cycles(1), 0);
  EXPECT_EQ(i(2), 1);
  EXPECT_EQ(i(1), 1);
  // start(1) restarts it at its first statement.
  findBuiltin("start")->run(interp_->context(), &one, 1);
  ASSERT_EQ(cycles(1), 0);
  EXPECT_EQ(i(1), 2);
  EXPECT_EQ(interp_->process(1).pc, 1);
}

TEST_F(Scheduler, OnkeyStartsTheProcessThroughTheInputQueue) {
  begin({"*Start\nonkey F2,\"Messen\",2\n", "*P1\ni1 = getonkey()\n", "*P2\ni2 = i2 + 1\nstop(*)\n", "*End\n"});
  EXPECT_EQ(ports_.labels, (std::vector<std::string>{"2:Messen"}));
  EXPECT_EQ(interp_->process(2).state, kStateStopped);
  ASSERT_EQ(cycles(3), 0);
  EXPECT_EQ(i(1), -1);
  EXPECT_EQ(i(2), 0);

  interp_->input().pressFunctionKey(2);
  ASSERT_EQ(cycles(1), 0);  // the key is taken after this cycle
  EXPECT_EQ(i(2), 0);
  ASSERT_EQ(cycles(2), 0);
  EXPECT_EQ(i(2), 1);
  EXPECT_EQ(i(1), 2);

  // After keyoff(2) the key does nothing; keyon(*) enables it again.
  Operand k;
  k.word = Operand::makeWord(KindInteger, 50);
  values_->integerSlot(50) = 2;
  findBuiltin("keyoff")->run(interp_->context(), &k, 1);
  interp_->input().pressFunctionKey(2);
  ASSERT_EQ(cycles(4), 0);
  EXPECT_EQ(i(2), 1);
  values_->integerSlot(50) = -1;
  findBuiltin("keyon")->run(interp_->context(), &k, 1);
  interp_->input().pressFunctionKey(2);
  ASSERT_EQ(cycles(4), 0);
  EXPECT_EQ(i(2), 2);

  // A key without a process is only remembered.
  interp_->input().pressFunctionKey(7);
  ASSERT_EQ(cycles(3), 0);
  EXPECT_EQ(i(1), 7);
  EXPECT_EQ(i(2), 2);
}

TEST_F(Scheduler, AtMostOneEventOfEachKindPerCycle) {
  begin({"*Start\nonmouse w3,1\nonmouse w4,2\n", "*P1\ni1 = i1 + 1\nstop(*)\n", "*P2\ni2 = i2 + 1\nstop(*)\n",
         "*End\n"});
  EXPECT_EQ(ports_.armed, (std::vector<std::pair<int, int>>{{3, 1}, {4, 2}}));
  interp_->input().click(3, 1);
  interp_->input().click(4, 2);
  interp_->input().typeText("ab");
  ASSERT_EQ(cycles(1), 0);  // first click and first character taken
  EXPECT_EQ(interp_->lastMouseWindow(), 3);
  ASSERT_EQ(cycles(1), 0);  // process 1 runs; second click taken
  EXPECT_EQ(i(1), 1);
  EXPECT_EQ(i(2), 0);
  EXPECT_EQ(interp_->lastMouseWindow(), 4);
  EXPECT_EQ(interp_->takeLastKey(), 'b');
  EXPECT_EQ(interp_->takeLastKey(), -1);
  ASSERT_EQ(cycles(1), 0);
  EXPECT_EQ(i(2), 1);
  EXPECT_FALSE(interp_->input().pending());
}

TEST_F(Scheduler, ExitIsSeenAfterTheWholeCycle) {
  begin({"*Start\n", "*P1\nexit()\n", "*P2\ni2 = i2 + 1\n", "*End\n"});
  EXPECT_EQ(cycles(5), kExitStop);
  EXPECT_EQ(i(2), 1);
  interp_->finishRun(kExitStop);
  EXPECT_EQ(ports_.how, RunEnd::Stopped);
}

TEST_F(Scheduler, SignalsAreRecorded) {
  begin({"*Start\nsignalon(1, 3)\nsignalon(*, 8)\nsignalon(2, 1)\nsignaloff(2, 1)\n", "*P1\n", "*P2\n", "*End\n"});
  EXPECT_EQ(interp_->process(1).signals, 0x04);
  EXPECT_EQ(interp_->process(0).signals, 0x80);
  EXPECT_EQ(interp_->process(2).signals, 0x00);
}

// The rows ifsignal, ifnotsignal and ifwait, which no statement reaches (a
// line beginning with `if` is an if statement), called directly.
TEST_F(Scheduler, SignalRowsCalledDirectly) {
  begin({"*Start\nsignalon(1, 2)\n", "*P1\ni1 = 1\ni2 = 2\ni3 = 3\n", "*End\n"});
  values_->integerSlot(50) = 1;  // process
  values_->integerSlot(51) = 2;  // signal
  values_->integerSlot(52) = 2;  // statement
  Operand ops[3];
  for (int k = 0; k < 3; ++k) ops[k].word = Operand::makeWord(KindInteger, 50 + k);
  ASSERT_EQ(cycles(1), 0);  // process 1 is current
  EXPECT_EQ(interp_->process(1).pc, 1);
  findBuiltin("ifsignal")->run(interp_->context(), ops, 3);
  EXPECT_EQ(interp_->process(1).pc, 2);
  interp_->process(1).pc = 1;
  findBuiltin("ifnotsignal")->run(interp_->context(), ops, 3);
  EXPECT_EQ(interp_->process(1).pc, 1);
  values_->integerSlot(52) = 99;  // beyond the code: ignored
  findBuiltin("ifsignal")->run(interp_->context(), ops, 3);
  EXPECT_EQ(interp_->process(1).pc, 1);
  findBuiltin("ifwait")->run(interp_->context(), ops, 1);
  EXPECT_EQ(interp_->process(1).state, kStateWaitBit);
  ASSERT_EQ(cycles(3), 0);
  EXPECT_EQ(i(2), 0);  // held
}

TEST_F(Scheduler, YieldsRarelyWhileProcessesRunAndEveryCycleWhenIdle) {
  begin({"*Start\n", "*P1\ni1 = i1 + 1\ngoto :a\n:a\n", "*End\n"});
  ASSERT_EQ(cycles(640), 0);
  EXPECT_EQ(clock_.yields(), 10);
  begin({"*Start\nstop(1)\n", "*P1\n", "*End\n"});
  const int64_t before = clock_.yields();
  ASSERT_EQ(cycles(100), 0);
  EXPECT_EQ(clock_.yields() - before, 100);
}

TEST_F(Scheduler, ProfilingPerProcessAndPerInstruction) {
  ports_.watchShown = true;
  begin({"*Start\n", "*P1\ni1 = i1 + 1\ni1 = i1 + 1\n", "*P2\ni2 = i2 + 1\n", "*End\n"});
  ASSERT_EQ(cycles(30), 0);
  ProfileCounters& p = interp_->profile();
  EXPECT_EQ(p.frequency.load(), clock_.ticksPerSecond());
  EXPECT_GT(p.perProcess[1].load(), 0u);
  EXPECT_GT(p.perProcess[2].load(), 0u);
  EXPECT_EQ(p.perProcess[3].load(), 0u);
  p.mode = 1;
  p.selectedProcess = 1;
  p.clear();
  ASSERT_EQ(cycles(30), 0);
  EXPECT_GT(p.perInstruction[0].load(), 0u);
  EXPECT_GT(p.perInstruction[1].load(), 0u);
  EXPECT_EQ(p.perInstruction[2].load(), 0u);  // the end marker runs nothing
  EXPECT_EQ(p.perProcess[1].load(), 0u);
}

TEST_F(Scheduler, StartwRecordsTheCallerAndEndOfAnotherProcessDoesNotResumeIt) {
  begin({"*Start\n", "*P1\nstartw(2)\ni1 = 1\n", "*P2\nwaittime(1)\n", "*P3\nif i9 == 1\nend(2)\nendif\n",
         "*End\n"});
  ASSERT_EQ(cycles(1), 0);
  EXPECT_EQ(interp_->process(2).caller, 1);
  EXPECT_TRUE(interp_->process(2).waiting);
  EXPECT_EQ(interp_->process(1).state, kStateStopped);
  // Process 3 ends process 2: it stops, forgets its wait and its caller, and
  // the caller stays stopped.
  values_->integerSlot(9) = 1;
  ASSERT_EQ(cycles(3), 0);
  EXPECT_EQ(interp_->process(2).state, kStateStopped);
  EXPECT_EQ(interp_->process(2).caller, -1);
  EXPECT_FALSE(interp_->process(2).waiting);
  ASSERT_EQ(cycles(5), 0);
  EXPECT_EQ(i(1), 0);
}

TEST_F(Scheduler, ACallStackBelongsToItsProcessAndARestartClearsIt) {
  begin({"*Start\n", "*P1\ncall :s\n:s\ni1 = i1 + 1\nstop(*)\n", "*P2\ncall :t\n:t\nstop(*)\n", "*End\n"});
  ASSERT_EQ(cycles(3), 0);
  EXPECT_EQ(interp_->process(1).depth, 1);
  EXPECT_EQ(interp_->process(2).depth, 1);
  EXPECT_EQ(interp_->process(1).stack[0], 1);
  Operand one;
  one.word = Operand::makeWord(KindInteger, 50);
  values_->integerSlot(50) = 1;
  findBuiltin("start")->run(interp_->context(), &one, 1);
  EXPECT_EQ(interp_->process(1).depth, 0);
  EXPECT_EQ(interp_->process(2).depth, 1);
}

}  // namespace
}  // namespace morvel::lang::testing
