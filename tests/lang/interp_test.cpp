// The interpreter through whole process texts: statements, loops, calls,
// run-time errors and the end of a run.
#include <cmath>
#include <cstring>

#include "interp_fixture.h"
#include "lang/statements.h"

namespace morvel::lang::testing {
namespace {

class Interp : public InterpFixture {};

struct DumpCase {
  const char* what;
  std::vector<std::string> processes;
  const char* items;
  const char* expected;  // dump lines
  int error;             // run-time error number, 0 none
};

// Start process, processes and end process as texts.
const DumpCase kDumpCases[] = {
    {"for i1 = 5 to 1 runs once and leaves 6",
     {"*Start\nfor i1 = 5 to 1\ni2 = i2 + 1\nnext\ni3 = 1\n", "*End\n"}, "i1,i2,i3", "i1 = 6\ni2 = 1\ni3 = 1\n", 0},
    {"float loop with step 0.25 runs five times",
     {"*Start\nfor v1 = 0 to 1 step 0.25\ni1 = i1 + 1\nnext\n", "*End\n"}, "i1,v1", "i1 = 5\nv1 = 1.25\n", 0},
    {"negative step counts down and the end and step are read again",
     {"*Start\ni9 = -2\nfor i1 = 3 to 0 step i9\ni2 = i2 + 1\nnext\n", "*End\n"}, "i1,i2", "i1 = -1\ni2 = 2\n", 0},
    {"integer division truncates toward zero",
     {"*Start\ni1 = 7 / 2\ni2 = -7 / 2\ni3 = 1 / 0\n", "*End\n"}, "i1,i2,i3", "i1 = 3\ni2 = -3\ni3 = 0\n", 0},
    {"float division by zero is IEEE, then 1e30 with mathdefaulton",
     {"*Start\nv1 = 1 / 0\nmathdefaulton()\nv2 = 1 / 0\ni1 = 1 / 0\nv3 = -5 / 0\nmathdefaultoff()\nv4 = 0 / 0\n",
      "*End\n"},
     "v1,v2,i1,v3", "v1 = inf\nv2 = 9.9999999999999988e+29\ni1 = 0\nv3 = -4.9999999999999998e+30\n", 0},
    {"bit operations on integers",
     {"*Start\ni1 = 12 and 10\ni2 = 12 or 3\ni3 = 12 xor 10\n", "*End\n"}, "i1,i2,i3", "i1 = 8\ni2 = 15\ni3 = 6\n", 0},
    {"integer left side reads the right side as an integer",
     {"*Start\ni1 = 2\nif i1 == 2.5 goto :yes\ni9 = 1\n:yes\nv1 = 2\nif v1 == 2.5 goto :no\ni8 = 1\n:no\n", "*End\n"},
     "i9,i8", "i9 = 0\ni8 = 1\n", 0},
    {"strings compare byte by byte",
     {"*Start\ns1 = \"abc\"\nif s1 == \"abc\" goto :x\ni1 = 1\n:x\nif s1 != \"abd\"\ni2 = 1\nelse\ni2 = 2\nendif\n",
      "*End\n"},
     "i1,i2", "i1 = 0\ni2 = 1\n", 0},
    {"and / nand test bits; comparisons of floats",
     {"*Start\ni1 = 6\nif i1 and 4\ni2 = 1\nendif\nif i1 nand 1\ni3 = 1\nendif\nv1 = 1.5\nif v1 < 2\ni4 = 1\nendif\n"
      "if v1 >= 2\ni5 = 1\nendif\nif v1 <= 1.5\ni6 = 1\nendif\nif v1 > 1\ni7 = 1\nendif\n",
      "*End\n"},
     "i2,i3,i4,i5,i6,i7", "i2 = 1\ni3 = 1\ni4 = 1\ni5 = 0\ni6 = 1\ni7 = 1\n", 0},
    {"if ... call calls a subroutine that returns after the if",
     {"*Start\ni1 = 1\nif i1 == 1 call :sub\ni3 = i2\ngoto :end\n:sub\ni2 = 7\nreturn\n:end\n", "*End\n"}, "i3",
     "i3 = 7\n", 0},
    {"float target takes the x distance of x; literal gives 1",
     {"*Start\nv1 = 3 * 4\nv2 = v1 - 0.5\n", "*End\n"}, "v1,v2", "v1 = 12\nv2 = 11.5\n", 0},
    {"a1 = v1 + i2 is the one-value array of v1 + i2",
     {"*Start\nv1 = 1.5\ni2 = 2\na1 = v1 + i2\na2 = i2 - v1\na3 = i2 * i2\n", "*End\n"}, "a1,a2,a3",
     "a1 = [len=1 kind=0 xdist=1 xoff=0] 3.5\na2 = [len=1 kind=0 xdist=1 xoff=0] 0.5\n"
     "a3 = [len=1 kind=0 xdist=1 xoff=0] 4\n",
     0},
    {"array with a scalar, either side",
     {"*Start\nfor i1 = 1 to 4\na1 &= i1\nnext\na2 = a1 * 2\na3 = 10 - a1\na4 = a1 / 0\na5 = 1 / a1\n", "*End\n"},
     "a2,a3,a5", "a2 = [len=4 kind=0 xdist=1 xoff=0] 2 4 6 8\na3 = [len=4 kind=0 xdist=1 xoff=0] 9 8 7 6\n"
     "a5 = [len=4 kind=0 xdist=1 xoff=0] 1 0.5 0.33333333333333331 0.25\n", 0},
    {"array with array takes the shorter length, the target may be a source",
     {"*Start\nfor i1 = 1 to 10\na2 &= i1\nnext\nfor i1 = 1 to 7\na3 &= i1\nnext\na1 = a2 * a3\na3 = a3 + a2\n", "*End\n"},
     "a1,a3", "a1 = [len=7 kind=0 xdist=1 xoff=0] 1 4 9 16 25 36 49\na3 = [len=7 kind=0 xdist=1 xoff=0] 2 4 6 8 10 12 14\n",
     0},
    {"return without call is a message and the process goes on",
     {"*Start\nreturn\ni1 = 1\n", "*End\n"}, "i1", "i1 = 1\n", 0},
    {"an eleventh nested call is a run-time error",
     {"*Start\n:r\ni1 = i1 + 1\ncall :r\n", "*End\ni2 = 1\n"}, "i1,i2", "i1 = 11\ni2 = 0\n", kErrCallDepth},
    {"a run-time error in a cyclic process skips the end process",
     {"*Start\ni1 = 5000\n", "*Prozess1\ni2 = i2 + 1\na[i1] = 1\n", "*End\ni3 = 1\n"}, "i2,i3", "i2 = 1\ni3 = 0\n",
     kErrIndirectSlotOutOfPool},
    {"exit() runs the end process once",
     {"*Start\n", "*Prozess1\ni2 = i2 + 1\nexit()\n", "*Prozess2\ni4 = i4 + 1\n", "*End\ni3 = i3 + 1\n"}, "i2,i3,i4",
     "i2 = 1\ni3 = 1\ni4 = 1\n", 0},
    {"run(*) is error 6", {"*Start\n", "*Prozess1\nrun(*)\n", "*End\n"}, "", "", kErrProcessNumber},
    {"start(0) is error 6", {"*Start\nstart(0)\n", "*End\n"}, "", "", kErrProcessNumber},
    {"stop(3) beyond the end process is error 6", {"*Start\nstop(3)\n", "*P\n", "*End\n"}, "", "", kErrProcessNumber},
    {"signal of an unknown process is error 6", {"*Start\nsignalon(7, 1)\n", "*End\n"}, "", "", kErrProcessNumber},
    {"signal numbers outside 1..8 are ignored", {"*Start\nsignalon(1, 9)\nsignaloff(1, 0)\ni1 = 1\n", "*End\n"}, "i1",
     "i1 = 1\n", 0},
    {"onkey with a process out of range is error 6", {"*Start\nonkey F2,\"x\",5\n", "*End\n"}, "", "", kErrProcessNumber},
    {"onkey with a key beyond F8 arms nothing", {"*Start\nonkey F9,\"x\",1\ni1 = 1\n", "*End\n"}, "i1", "i1 = 1\n", 0},
    {"onmouse with a process out of range is error 6", {"*Start\nonmouse w3,4\n", "*End\n"}, "", "",
     kErrProcessNumber},
    {"onmouse with an unbound window is error 89", {"*Start\nonmouse w12,1\n", "*End\n"}, "", "", kErrWindowNumber},
    {"restart runs the start process again; other processes keep their state",
     {"*Start\ni1 = i1 + 1\n", "*Prozess1\ni2 = i2 + 1\nif i1 >= 3\nexit()\nendif\nrestart\n", "*End\n"}, "i1,i2",
     "i1 = 3\ni2 = 3\n", 0},
    {"startw waits for end(*) of the started process",
     {"*Start\n", "*Prozess1\nstartw(2)\ni_back = i_back + 1\nstop(*)\n", "*Prozess2\ni_sub = i_sub + 1\nend(*)\n",
      "*Prozess3\ni_c = i_c + 1\nif i_c >= 20\nexit()\nendif\n", "*End\n"},
     "i_back,i_sub", "i_back = 1\ni_sub = 1\n", 0},
    {"startw: a process that only reaches its end never resumes the caller",
     {"*Start\n", "*Prozess1\nstartw(2)\ni_back = i_back + 1\n", "*Prozess2\ni_sub = i_sub + 1\n",
      "*Prozess3\ni_c = i_c + 1\nif i_c >= 20\nexit()\nendif\n", "*End\n"},
     "i_back", "i_back = 0\n", 0},
    {"multitask(0) runs the caller alone; multitask(1) restores",
     {"*Start\n", "*Prozess1\nmultitask(0)\ni1 = i1 + 1\ni1 = i1 + 1\ni_seen = i2\nmultitask(1)\nstop(*)\n",
      "*Prozess2\ni2 = i2 + 1\nif i2 >= 10\nexit()\nendif\n", "*End\n"},
     "i1,i_seen,i2", "i1 = 2\ni_seen = 0\ni2 = 10\n", 0},
    {"multitask(1) without multitask(0) does nothing",
     {"*Start\nstop(2)\n", "*Prozess1\nmultitask(1)\ni1 = i1 + 1\nif i1 >= 5\nexit()\nendif\n", "*Prozess2\ni2 = 1\n",
      "*End\n"},
     "i2", "i2 = 0\n", 0},
    {"program() ends without the end process",
     {"*Start\nprogram(\"next\")\ni1 = 1\n", "*End\ni2 = 1\n"}, "i1,i2", "i1 = 0\ni2 = 0\n", 0},
    {"winexit() runs the end process", {"*Start\nwinexit(0)\n", "*End\ni2 = 1\n"}, "i2", "i2 = 1\n", 0},
    {"errorexit() keeps the processes going", {"*Start\nerrorexit(1)\ni1 = 1\n", "*End\n"}, "i1", "i1 = 1\n", 0},
};

TEST_F(Interp, DocumentTable) {
  for (const DumpCase& c : kDumpCases) {
    SCOPED_TRACE(c.what);
    values_ = std::make_unique<ValueStore>();
    Ports ports;
    ports.frame = &ports_;
    ports.dialogs = &ports_;
    ports.layout = &ports_;
    ports.clock = &clock_;
    interp_ = std::make_unique<Interpreter>(*values_, ports);
    values_->setWindowPort(&windows_);
    ports_.interpreter = interp_.get();
    ports_.values = values_.get();
    ports_.errorNumber = 0;
    ports_.errorReports = 0;
    EXPECT_EQ(run(c.processes, c.items), c.expected);
    EXPECT_EQ(interp_->outcome().errorNumber, c.error);
    EXPECT_EQ(ports_.errorNumber, c.error);
    EXPECT_EQ(ports_.how, c.error ? RunEnd::RuntimeError : ports_.how);
  }
}

TEST_F(Interp, RuntimeErrorNamesProcessAndLine) {
  run({"*Start\n", "*Prozess1\ni1 = 1\n\n; remark\nrun(*)\n", "*End\n"}, "");
  EXPECT_EQ(ports_.errorReports, 1);
  EXPECT_EQ(ports_.errorNumber, kErrProcessNumber);
  EXPECT_EQ(ports_.errorProcess, 1);
  EXPECT_EQ(ports_.errorLine, 4);
  EXPECT_EQ(ports_.how, RunEnd::RuntimeError);
}

TEST_F(Interp, ErrorExitEndsSilentlyAndClosesTheProgram) {
  run({"*Start\nerrorexit(0)\nrun(*)\n", "*End\ni1 = 1\n"}, "i1");
  EXPECT_EQ(ports_.errorReports, 0);
  EXPECT_EQ(ports_.how, RunEnd::CloseProgram);
  EXPECT_EQ(interp_->outcome().errorNumber, kErrProcessNumber);
  EXPECT_TRUE(interp_->outcome().errorExitArmed);
  EXPECT_EQ(ports_.dumped, "i1 = 0\n");
}

TEST_F(Interp, EndsOfARun) {
  run({"*Start\nprogram(\"folge\")\n", "*End\n"}, "");
  EXPECT_EQ(ports_.how, RunEnd::LoadNext);
  EXPECT_EQ(ports_.next, "folge.mvl");
  EXPECT_EQ(interp_->outcome().nextDocument, "folge.mvl");

  run({"*Start\nmvexit(3)\n", "*End\n"}, "");
  EXPECT_EQ(ports_.how, RunEnd::CloseProgram);

  run({"*Start\nexit()\n", "*End\n"}, "");
  EXPECT_EQ(ports_.how, RunEnd::Stopped);

  // The limit of cycles stops the run like the stop command. A process at
  // the end of its code spends one cycle going back to its first statement.
  run({"*Start\n", "*P\ni1 = i1 + 1\n", "*End\ni2 = i1\n"}, "i2", 50);
  EXPECT_EQ(ports_.dumped, "i2 = 25\n");
}

TEST_F(Interp, ReturnWithoutCallShowsTheMessage) {
  run({"*Start\nreturn\n", "*End\n"}, "");
  ASSERT_EQ(ports_.messages.size(), 1u);
  EXPECT_EQ(ports_.messages[0], "return ohne call");
}

TEST_F(Interp, TraceOnlyWithTheTraceWindowOrTheDebugger) {
  run({"*Start\ntrace(\"eins\")\ns1 = \"zwei\"\ntrace(s1)\n", "*End\n"}, "");
  EXPECT_EQ(ports_.traces, (std::vector<std::string>{"eins", "zwei"}));
  ports_.traces.clear();
  ports_.traceShown = false;
  run({"*Start\ntrace(\"eins\")\n", "*End\n"}, "");
  EXPECT_TRUE(ports_.traces.empty());
}

TEST_F(Interp, MathDefaultIsKeptAcrossRunsAndBreakOnIsResetAtEachRun) {
  run({"*Start\nmathdefaulton()\nbreakoff()\n", "*End\n"}, "");
  EXPECT_TRUE(interp_->mathDefault());
  EXPECT_FALSE(interp_->breakEnabled());
  run({"*Start\nv1 = 2 / 0\n", "*End\n"}, "v1");
  EXPECT_EQ(ports_.dumped, "v1 = 1.9999999999999998e+30\n");
  EXPECT_TRUE(interp_->breakEnabled());
}

TEST_F(Interp, RunStartRefusals) {
  RunRequest noLayout;
  noLayout.processes = {"*Start\n", "*End\n"};
  noLayout.layoutCount = 0;
  StartResult r = interp_->prepareRun(noLayout);
  EXPECT_FALSE(r.started);
  EXPECT_EQ(r.message, "Die Anwendung muss mindestens ein Layout haben");

  RunRequest bad;
  bad.processes = {"*Start\nabs (v1)\n", "*End\n"};
  r = interp_->prepareRun(bad);
  EXPECT_FALSE(r.started);
  EXPECT_TRUE(r.compileFailed);
  EXPECT_EQ(r.compileError.number, 9);

  // Array memory: the allocator fails at the third array.
  static int calls;
  calls = 0;
  values_->setAllocator([](size_t n, size_t s) -> void* { return ++calls > 2 ? nullptr : std::calloc(n, s); });
  RunRequest ok;
  ok.processes = {"*Start\n", "*End\n"};
  r = interp_->prepareRun(ok);
  EXPECT_FALSE(r.started);
  EXPECT_EQ(r.message, "Ab Array 2 kein Platz im Speicher");
  values_->setAllocator([](size_t n, size_t s) { return std::calloc(n, s); });
}

// A cleanup hook registered once runs at the end of every run, also after a
// run-time error; adding it again does not run it twice.
int cleanupRuns = 0;
void countCleanup(RunContext&) { ++cleanupRuns; }

TEST_F(Interp, CleanupHooksRunAtEveryRunEnd) {
  cleanupRuns = 0;
  EXPECT_TRUE(interp_->addCleanup(countCleanup));
  EXPECT_TRUE(interp_->addCleanup(countCleanup));
  EXPECT_FALSE(interp_->addCleanup(nullptr));
  run({"*Start\n", "*End\n"}, "");
  EXPECT_EQ(cleanupRuns, 1);
  run({"*Start\nrun(*)\n", "*End\n"}, "");
  EXPECT_EQ(cleanupRuns, 2);
}

// --- array arithmetic on hand-made records ---------------------------------

class ArrayMath : public InterpFixture {
 protected:
  void SetUp() override { prepare({"*Start\n", "*End\n"}); }

  void set(int slot, std::vector<double> v, bool complex = false, float xDistance = 1.0f, float xOffset = 0.0f) {
    ValueArray& a = values_->arrayRecord(slot);
    values_->Grow(a, static_cast<int64_t>(v.size()));
    std::copy(v.begin(), v.end(), a.data);
    a.length = static_cast<int32_t>(v.size());
    a.kind = complex ? 1 : 0;
    a.xDistance = xDistance;
    a.xOffset = xOffset;
  }
  std::vector<double> get(int slot) {
    const ValueArray& a = values_->arrayRecord(slot);
    return std::vector<double>(a.data, a.data + a.length);
  }
  Operand array(int slot) {
    Operand op;
    op.word = Operand::makeWord(KindArray, slot);
    op.target = &values_->arrayRecord(slot);
    return op;
  }
  void apply(int t, int x, char op, int y) {
    Operand ops[4] = {array(t), array(x), Operand{}, array(y)};
    ops[2].word = Operand::makeWord(KindNone, op);
    arrayArrayArithmetic(interp_->context(), ops, 4);
  }
};

TEST_F(ArrayMath, RealTakesLengthAndAxisOfX) {
  set(2, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, false, 0.5f, 2.0f);
  set(3, {1, 1, 1, 1, 1, 1, 2});
  apply(1, 2, '*', 3);
  EXPECT_EQ(get(1), (std::vector<double>{1, 2, 3, 4, 5, 6, 14}));
  EXPECT_EQ(values_->arrayRecord(1).xDistance, 0.5f);
  EXPECT_EQ(values_->arrayRecord(1).xOffset, 2.0f);
}

TEST_F(ArrayMath, ComplexResults) {
  struct Case {
    const char* what;
    std::vector<double> x;
    bool cx;
    std::vector<double> y;
    bool cy;
    char op;
    std::vector<double> expected;
  } cases[] = {
      {"complex times complex", {1, 2, 3, 4}, true, {0, 1, 2, 0}, true, '*', {-2, 1, 6, 8}},
      {"real plus complex takes the smaller count", {1, 2, 3}, false, {10, 1, 20, 2}, true, '+', {11, 1, 22, 2}},
      {"complex over real", {2, 4, 6, 8}, true, {2, 4}, false, '/', {1, 2, 1.5, 2}},
      {"complex minus complex", {5, 5}, true, {1, 2}, true, '-', {4, 3}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    set(2, c.x, c.cx);
    set(3, c.y, c.cy);
    set(1, {});
    apply(1, 2, c.op, 3);
    EXPECT_EQ(get(1), c.expected);
    EXPECT_TRUE(values_->arrayRecord(1).isComplex());
  }
}

TEST_F(ArrayMath, ComplexTargetThatIsARealSourceAndMustGrow) {
  // a2 (real, 600 values) times a3 (complex, 600 pairs) into a2: the result
  // has 1200 doubles, more than a2's capacity of 1024.
  std::vector<double> x(600), y(1200);
  for (int i = 0; i < 600; ++i) {
    x[i] = i + 1;
    y[2 * i] = 1;
    y[2 * i + 1] = 2;
  }
  set(2, x);
  set(3, y, true);
  apply(2, 2, '*', 3);
  const std::vector<double> r = get(2);
  ASSERT_EQ(r.size(), 1200u);
  for (int i = 0; i < 600; ++i) {
    EXPECT_EQ(r[2 * i], i + 1) << i;
    EXPECT_EQ(r[2 * i + 1], 2.0 * (i + 1)) << i;
  }
  // The complex source as target: (a + bi) / (a + bi) is 1.
  set(3, {1, 2, 3, 4}, true);
  apply(3, 3, '/', 3);
  EXPECT_EQ(get(3), (std::vector<double>{1, 0, 1, 0}));
}

TEST_F(ArrayMath, ComplexDivisionByZeroUnderMathDefault) {
  set(2, {1, 1}, true);
  set(3, {0, 0}, true);
  apply(1, 2, '/', 3);
  EXPECT_TRUE(std::isnan(get(1)[0]));
  interp_->setMathDefault(true);
  apply(1, 2, '/', 3);
  EXPECT_EQ(get(1), (std::vector<double>{0, 0}));  // (1 * 0 + 1 * 0) / 1e-30
  interp_->setMathDefault(false);
}

}  // namespace
}  // namespace morvel::lang::testing
