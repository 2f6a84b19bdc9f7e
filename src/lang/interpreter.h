#pragma once
// The interpreter: starts a run (resets, compile, array memory), runs the
// start process, the scheduler cycles and the end process on its own thread,
// handles run-time errors, the single-step debugger protocol and the run-end
// clean-up.
//
// Threads: startRun, requestStop, requestBreakKey, debugCommand, input() and
// the getters run on the window thread (or a test); everything else runs on
// the interpreter thread. The words both threads touch are atomics.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "lang/builtin_state.h"
#include "lang/compiler.h"
#include "lang/ports.h"
#include "lang/program.h"
#include "lang/routine.h"
#include "lang/run_code.h"
#include "lang/run_input.h"
#include "lang/scheduler.h"
#include "lang/statements.h"

namespace morvel::lang {

class ValueStore;

// Run-time error numbers of the interpreter and the scheduler.
inline constexpr int kErrProcessNumber = 6;  // process number out of range
inline constexpr int kErrCallDepth = 152;    // call nested deeper than 10 levels

// exitRequest values.
enum ExitRequest : int {
  kRunning = 0,
  kExitStop = 1,        // exit(), stop command, CTRL+B: the end process runs
  kExitClose = 2,       // winexit/mvexit: the same, then close the program
  kExitProgram = 3,     // program(s): no end process, then load the next document
  kExitRestart = 5,     // restart: run the start process again
  kExitDebugBreak = 6,  // break into the debugger
};

// stepCommand values of the debugger windows.
enum StepCommand : int {
  kStepOne = 0,
  kStepPause = 1,
  kStepStop = 2,
  kStepToLine = 3,
  kStepContinue = 4,
};

// A run-end clean-up hook: closes or releases what a builtin family opened
// during the run (files, serial ports, filter buffers, ...).
using CleanupHook = void (*)(RunContext& ctx);

struct RunRequest {
  std::vector<std::string> processes;  // start process first, end process last
  CompileOptions options;
  int layoutCount = 1;   // the application's layouts; none refuses the run
  bool debug = false;    // start paused under the debugger
  // Scheduler cycles after which the run stops as by the stop command
  // (batch runs and tests); negative: no limit.
  int64_t maxCycles = -1;
};

struct StartResult {
  bool started = false;
  bool compileFailed = false;
  CompileError compileError;  // when compileFailed
  std::string message;        // German text when refused for another reason
};

// What the last run ended with (readable after it ended).
struct RunOutcome {
  RunEnd how = RunEnd::Stopped;
  int errorNumber = 0;
  int errorProcess = -1;
  int errorLine = -1;
  bool errorExitArmed = false;
  std::string nextDocument;
};

class Interpreter {
 public:
  Interpreter(ValueStore& values, Ports ports);
  ~Interpreter();
  Interpreter(const Interpreter&) = delete;
  Interpreter& operator=(const Interpreter&) = delete;

  // --- window thread ------------------------------------------------------
  // StartRun: everything of the run start, then the interpreter thread.
  StartResult startRun(const RunRequest& request);
  // The run start without the thread; the caller then calls runLoop() or
  // drives the run step by step (tests).
  StartResult prepareRun(const RunRequest& request);
  bool running() const { return running_.load(std::memory_order_acquire); }
  // Waits for the interpreter thread to end.
  void join();
  // The stop command: under a paused debugger its stop command, else exit
  // request 1. While the end process runs, a stop request ends it.
  void requestStop();
  // CTRL+B: acts as the stop command unless breakoff() is in effect.
  bool requestBreakKey();
  // The debugger's commands (pause, step, run to line, continue, stop) and
  // its break command.
  void debugCommand(int command, int line = 0);
  void breakIntoDebugger();
  // Debugger while paused: another process, or another statement.
  void setDebugProcess(int process);
  void setDebugStatement(int statement);
  InputQueue& input() { return input_; }

  // Run-end clean-up hooks. A hook is kept once (adding it again does
  // nothing) and runs at the end of every later run, after the core's own
  // clean-up, in the order added. No allocation: at most kMaxCleanupHooks.
  static constexpr int kMaxCleanupHooks = 32;
  bool addCleanup(CleanupHook hook);

  // --- state for watch windows, hosts and tests ------------------------------
  const CompiledProgram* program() const { return program_.get(); }
  RunOutcome outcome() const;
  int currentProcess() const { return currentProcess_.load(std::memory_order_relaxed); }
  int exitRequest() const { return exitRequest_.load(std::memory_order_relaxed); }
  int debugMode() const { return debugMode_.load(std::memory_order_relaxed); }
  int stepCommand() const { return stepCommand_.load(std::memory_order_relaxed); }
  // The math default mode lives in the builtin state, which the builtin
  // families read too; it is kept across runs.
  bool mathDefault() const { return state_.mathDefault; }
  bool breakEnabled() const { return breakEnabled_.load(std::memory_order_relaxed); }
  ProfileCounters& profile() { return profile_; }

  // --- step-wise driving (tests; the thread body is made of these) ----------
  static constexpr int kFailed = -1;  // a run-time error ended the run
  void beginRun();                    // RunLoop step 1 (prepareRun does it)
  // Runs the start process to its end; returns the exit request that
  // stopped it (0 when it reached its end), kFailed after a run-time error.
  int runStartProcess();
  // Runs at most `cycles` scheduler cycles (all when negative); returns the
  // exit request that ended them (0 when the count ran out), or kFailed.
  int runCycles(int64_t cycles);
  // Ends the run for `request` (end process unless 3 or a failure,
  // clean-up, messages).
  void finishRun(int request);
  // The whole thread body, after prepareRun.
  void runLoop();

  // --- run routines (interpreter thread) ---------------------------------------
  RunContext& context() { return ctx_; }
  ProcessRecord& current() { return *current_; }
  ProcessRecord& process(int p) { return procs_[p]; }
  int endIndex() const { return endIndex_; }
  int statementCount(int p) const { return program_->process(p).statements; }
  void setExitRequest(int value) { exitRequest_.store(value, std::memory_order_relaxed); }
  void setMathDefault(bool on) { state_.mathDefault = on; }
  void setBreakEnabled(bool on) { breakEnabled_.store(on, std::memory_order_relaxed); }
  void armErrorExit() { errorExit_.store(true, std::memory_order_relaxed); }
  void setNextDocument(const char* name);
  // Process number operand of the process-control rows: integer or float;
  // -1 (`*`) is the current process when `starAllowed`. Error 6 otherwise
  // when outside 1..endIndex.
  int processOperand(const Operand& op, bool starAllowed);
  void checkProcessNumber(int p) const;
  // debug(): break in unless a debugger is active.
  void debugBuiltin();
  void traceText(const char* text);
  void message(const char* text);
  int64_t nowMs();
  // Exclusive mode (multitask).
  void enterExclusive();
  void leaveExclusive();
  FunctionKey& functionKey(int k) { return keys_[k - 1]; }
  int lastFunctionKey() const { return lastFunctionKey_; }
  // The character most recently moved from the typed text (-1 none); reading
  // takes it.
  int takeLastKey();
  int lastMouseWindow() const { return lastMouseWindow_; }
  LayoutPort* layout() const { return ports_.layout; }
  const Instruction* code(int p) const { return code_[p]; }

 private:
  enum class StepResult { Exit, Continue };

  void resetRunState();
  void runCleanup();
  void releaseArrays(RunEnd how);
  int runStartGuarded();
  int runCyclesGuarded(int64_t cycles);
  int runStartFree();
  // Runs process r from its pc through its steps until its end (0) or an
  // exit request (returned); r.pc is the next statement either way.
  int runSteps(ProcessRecord& r, const RunStep* steps);
  // Runs process r by calling the routines of `code` (when the run has no
  // steps); the same results as runSteps.
  int runCalls(ProcessRecord& r, const Instruction* code);
  // Executes step s of the current process r, instruction index pc (r.pc
  // need not be up to date: it is written before anything that may read it).
  // Returns the next index; sets `control` where the exit request may have
  // changed or control went elsewhere (routine calls and jumps).
  int32_t execStep(ProcessRecord& r, const RunStep& s, int32_t pc, bool& control);
  int cycleLoop(int64_t cycles);
  template <bool kProfiled>
  int cycles(int64_t& remaining, bool& profiling);
  void takeInput();
  void profileStep(int p, int index, uint64_t spent);
  StepResult stepLoop();
  void enterDebugger();
  void runEndProcess();
  void failed(const RuntimeError& error);
  int nextLine(int process) const;

  ValueStore& values_;
  Ports ports_;
  SystemClock systemClock_;
  ClockPort* clock_;
  BuiltinState state_;
  RunContext ctx_;

  std::unique_ptr<CompiledProgram> program_;
  RunCode runCode_;
  const Instruction* code_[kMaxProcesses] = {};
  const RunStep* steps_[kMaxProcesses] = {};  // all null when the run has no steps
  ProcessRecord procs_[kMaxProcesses];
  ProcessRecord* current_ = &procs_[0];
  int endIndex_ = 0;

  // exclusive mode
  bool exclusive_ = false;
  uint8_t savedState_[kMaxProcesses] = {};

  FunctionKey keys_[kFunctionKeys];
  int lastFunctionKey_ = -1;
  int lastKey_ = -1;
  int lastMouseWindow_ = -1;
  InputQueue input_;
  ProfileCounters profile_;

  // shared run-state words
  std::atomic<int> exitRequest_{0};
  std::atomic<bool> errorExit_{false};
  std::atomic<int> debugMode_{0};
  std::atomic<int> stepCommand_{kStepPause};
  std::atomic<int> stepTargetLine_{0};
  std::atomic<bool> breakEnabled_{true};
  std::atomic<int> currentProcess_{0};
  std::atomic<bool> running_{false};
  std::atomic<bool> inEndProcess_{false};

  // where the run ended
  mutable std::mutex outcomeMutex_;
  RunOutcome outcome_;
  bool failed_ = false;
  std::string nextDocument_;
  std::string savedDirectory_;
  int64_t maxCycles_ = -1;

  std::mutex stepMutex_;
  std::condition_variable stepWake_;

  CleanupHook hooks_[kMaxCleanupHooks] = {};
  int hookCount_ = 0;

  std::thread thread_;
};

namespace detail {

template <char Op>
inline double combineValues(double x, double y) {
  if constexpr (Op == '+') return x + y;
  if constexpr (Op == '-') return x - y;
  return x * y;
}

// A step source: an integer slot (true) or a float record (false).
template <bool kInteger>
inline double stepFloat(const void* p) {
  if constexpr (kInteger) return *static_cast<const int32_t*>(p);
  return static_cast<const ValueArray*>(p)->data[0];
}

template <bool kInteger>
inline int32_t stepInteger(const void* p) {
  if constexpr (kInteger) return *static_cast<const int32_t*>(p);
  return truncatedInteger(static_cast<const ValueArray*>(p)->data[0]);
}

// The sum or difference of two 32-bit integers is exact in double, so its
// truncation is the wrapping integer result: the same value without the trip
// through double (which would put a conversion on every counter's chain).
template <char Op>
inline int32_t wrapping(int32_t x, int32_t y) {
  const uint32_t ux = static_cast<uint32_t>(x);
  const uint32_t uy = static_cast<uint32_t>(y);
  return static_cast<int32_t>(Op == '+' ? ux + uy : ux - uy);
}

template <char Op, bool kX, bool kY>
inline void integerStep(const RunStep& s) {
  auto* t = static_cast<int32_t*>(s.a);
  if constexpr (Op != '*') {
    if constexpr (kX && kY) {
      *t = wrapping<Op>(*static_cast<const int32_t*>(s.b), *static_cast<const int32_t*>(s.c));
      return;
    }
  }
  *t = truncatedInteger(combineValues<Op>(stepFloat<kX>(s.b), stepFloat<kY>(s.c)));
}

template <char Op>
inline void floatStep(const RunStep& s) {
  auto* t = static_cast<ValueArray*>(s.a);
  const auto* x = static_cast<const ValueArray*>(s.b);
  const auto* y = static_cast<const ValueArray*>(s.c);
  t->data[0] = combineValues<Op>(x->data[0], y->data[0]);
  t->xDistance = x->xDistance;
}

// The loop goes on when true.
template <bool kEnd, bool kStep>
inline bool forIntegerStep(const RunStep& s) {
  int32_t& v = *static_cast<int32_t*>(s.a);
  const int32_t step = stepInteger<kStep>(s.c);
  v = static_cast<int32_t>(static_cast<uint32_t>(v) + static_cast<uint32_t>(step));
  const int32_t end = stepInteger<kEnd>(s.b);
  return step > 0 ? v <= end : v >= end;
}

inline bool forFloatStep(const RunStep& s) {
  double& v = static_cast<ValueArray*>(s.a)->data[0];
  const double step = static_cast<const ValueArray*>(s.c)->data[0];
  v += step;
  const double end = static_cast<const ValueArray*>(s.b)->data[0];
  return step > 0 ? v <= end : v >= end;
}

template <typename T>
inline bool compareStep(uint8_t cmp, T a, T b) {
  switch (cmp) {
    case kCmpEq: return a == b;
    case kCmpNe: return a != b;
    case kCmpGe: return a >= b;
    case kCmpLe: return a <= b;
    case kCmpLt: return a < b;
    default: return a > b;
  }
}

}  // namespace detail

[[gnu::always_inline]] inline int32_t Interpreter::execStep(ProcessRecord& r, const RunStep& s, int32_t pc,
                                                            bool& control) {
  using namespace detail;
  switch (s.op) {
    case kStepJump:
      control = true;
      return s.target;
    case kStepFloatAdd: floatStep<'+'>(s); return pc + 1;
    case kStepFloatSub: floatStep<'-'>(s); return pc + 1;
    case kStepFloatMul: floatStep<'*'>(s); return pc + 1;
    case kStepIntAddII: integerStep<'+', true, true>(s); return pc + 1;
    case kStepIntAddIF: integerStep<'+', true, false>(s); return pc + 1;
    case kStepIntAddFI: integerStep<'+', false, true>(s); return pc + 1;
    case kStepIntAddFF: integerStep<'+', false, false>(s); return pc + 1;
    case kStepIntSubII: integerStep<'-', true, true>(s); return pc + 1;
    case kStepIntSubIF: integerStep<'-', true, false>(s); return pc + 1;
    case kStepIntSubFI: integerStep<'-', false, true>(s); return pc + 1;
    case kStepIntSubFF: integerStep<'-', false, false>(s); return pc + 1;
    case kStepIntMulII: integerStep<'*', true, true>(s); return pc + 1;
    case kStepIntMulIF: integerStep<'*', true, false>(s); return pc + 1;
    case kStepIntMulFI: integerStep<'*', false, true>(s); return pc + 1;
    case kStepIntMulFF: integerStep<'*', false, false>(s); return pc + 1;
    case kStepForIntII:
      if (!forIntegerStep<true, true>(s)) return pc + 1;
      control = true;
      return s.target;
    case kStepForIntIF:
      if (!forIntegerStep<true, false>(s)) return pc + 1;
      control = true;
      return s.target;
    case kStepForIntFI:
      if (!forIntegerStep<false, true>(s)) return pc + 1;
      control = true;
      return s.target;
    case kStepForIntFF:
      if (!forIntegerStep<false, false>(s)) return pc + 1;
      control = true;
      return s.target;
    case kStepForFloatFF:
      if (!forFloatStep(s)) return pc + 1;
      control = true;
      return s.target;
    case kStepCompareII: {
      const bool condition =
          compareStep(s.cmp, *static_cast<const int32_t*>(s.a), *static_cast<const int32_t*>(s.b));
      if (condition == (s.block != 0)) return pc + 1;
      control = true;
      return s.target;
    }
    case kStepCompareFF: {
      const bool condition = compareStep(s.cmp, static_cast<const ValueArray*>(s.a)->data[0],
                                         static_cast<const ValueArray*>(s.b)->data[0]);
      if (condition == (s.block != 0)) return pc + 1;
      control = true;
      return s.target;
    }
    case kStepAppendFloat:
      r.pc = pc + 1;  // growing may fail with a run-time error of this statement
      appendFloatRecord(values_, *static_cast<ValueArray*>(s.a), *static_cast<const ValueArray*>(s.b), [] {});
      return pc + 1;
    default:  // kStepCall
      r.pc = pc + 1;
      s.routine(ctx_, s.operands, s.count);
      control = true;
      return r.pc;
  }
}

}  // namespace morvel::lang
