// The interpreter: run start, the run loop on its own thread, run-time
// errors, the debugger's stepping loop and the end of a run.
#include "lang/interpreter.h"

#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <thread>

#include "lang/value_store.h"

namespace morvel::lang {

// --- the system clock ---------------------------------------------------------

int64_t SystemClock::nowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

uint64_t SystemClock::ticks() {
  using namespace std::chrono;
  return static_cast<uint64_t>(duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count());
}

uint64_t SystemClock::ticksPerSecond() { return 1000000000u; }

// A zero-length yield costs a system call, more than hundreds of statements;
// the scheduler asks for one every few cycles, so the processor is handed
// over at most once per kYieldSpacingNs (the kernel's time slices take care
// of fairness in between).
void SystemClock::yield(bool idle) {
  constexpr uint64_t kYieldSpacingNs = 1000000;
  if (idle) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return;
  }
  thread_local uint64_t lastYield = 0;
  const uint64_t now = ticks();
  if (now - lastYield < kYieldSpacingNs) return;
  lastYield = now;
  std::this_thread::yield();
}

// --- construction ----------------------------------------------------------------

Interpreter::Interpreter(ValueStore& values, Ports ports)
    : values_(values),
      ports_(ports),
      clock_(ports.clock ? ports.clock : &systemClock_),
      ctx_{values, nullptr, this, &state_} {}

Interpreter::~Interpreter() {
  if (thread_.joinable()) {
    requestStop();
    requestStop();
    thread_.join();
  }
}

bool Interpreter::addCleanup(CleanupHook hook) {
  if (hook == nullptr) return false;
  for (int i = 0; i < hookCount_; ++i)
    if (hooks_[i] == hook) return true;
  if (hookCount_ == kMaxCleanupHooks) return false;
  hooks_[hookCount_++] = hook;
  return true;
}

RunOutcome Interpreter::outcome() const {
  std::lock_guard<std::mutex> lock(outcomeMutex_);
  return outcome_;
}

// --- run start (window thread) -------------------------------------------------

StartResult Interpreter::prepareRun(const RunRequest& request) {
  StartResult result;
  if (running()) {
    result.message = "Die Anwendung l\xE4uft bereits";
    return result;
  }
  if (thread_.joinable()) thread_.join();
  if (request.layoutCount <= 0) {
    result.message = "Die Anwendung muss mindestens ein Layout haben";
    return result;
  }

  // Function keys, the current directory, process flags and stacks, the
  // value store.
  for (FunctionKey& k : keys_) k = FunctionKey{};
  lastFunctionKey_ = -1;
  lastKey_ = -1;
  lastMouseWindow_ = -1;
  {
    char buf[PATH_MAX];
    savedDirectory_ = ::getcwd(buf, sizeof buf) ? buf : "";
  }
  for (ProcessRecord& r : procs_) r = ProcessRecord{};
  exclusive_ = false;
  input_.clear();
  ctx_.program = nullptr;
  runCode_.clear();
  program_.reset();
  for (auto& c : code_) c = nullptr;
  for (auto& c : steps_) c = nullptr;
  values_.resetForStart();

  Compiler compiler(values_, request.options);
  CompileResult compiled = compiler.compile(request.processes);
  if (!compiled.ok()) {
    result.compileFailed = true;
    result.compileError = compiled.error;
    return result;
  }
  if (compiled.program->processCount() < 2) {
    result.message = "Die Anwendung braucht einen Start- und einen Endprozess";
    return result;
  }
  std::string message;
  if (!values_.allocateArrays(message)) {
    values_.releaseAtEnd();
    result.message = message;
    return result;
  }

  program_ = std::move(compiled.program);
  ctx_.program = program_.get();
  endIndex_ = program_->endProcess();
  const bool copied = runCode_.build(*program_, values_);
  for (int p = 0; p <= endIndex_; ++p) {
    code_[p] = copied ? runCode_.code(p) : program_->code(p);
    steps_[p] = copied ? runCode_.steps(p) : nullptr;
  }
  current_ = &procs_[0];
  currentProcess_.store(0, std::memory_order_relaxed);

  maxCycles_ = request.maxCycles;
  debugMode_.store(request.debug ? 1 : 0, std::memory_order_relaxed);
  stepCommand_.store(kStepPause, std::memory_order_relaxed);
  if (request.debug && ports_.frame) ports_.frame->showLine(0, nextLine(0));
  // RunLoop's first step happens here, before the thread exists, so that a
  // stop request made right after the start is not lost.
  beginRun();
  result.started = true;
  return result;
}

StartResult Interpreter::startRun(const RunRequest& request) {
  StartResult result = prepareRun(request);
  if (!result.started) return result;
  running_.store(true, std::memory_order_release);
  thread_ = std::thread([this] { runLoop(); });
  return result;
}

void Interpreter::join() {
  if (thread_.joinable()) thread_.join();
}

// --- requests from the window thread ------------------------------------------------

void Interpreter::requestStop() {
  if (!inEndProcess_.load(std::memory_order_relaxed) && debugMode_.load(std::memory_order_relaxed) == 1) {
    {
      std::lock_guard<std::mutex> lock(stepMutex_);
      stepCommand_.store(kStepStop, std::memory_order_relaxed);
    }
    stepWake_.notify_all();
  }
  int expected = kRunning;
  if (!exitRequest_.compare_exchange_strong(expected, kExitStop) && expected == kExitDebugBreak) {
    // A break into the debugger is under way: stop instead of pausing.
    {
      std::lock_guard<std::mutex> lock(stepMutex_);
      stepCommand_.store(kStepStop, std::memory_order_relaxed);
    }
    stepWake_.notify_all();
  }
}

bool Interpreter::requestBreakKey() {
  if (!breakEnabled_.load(std::memory_order_relaxed)) return false;
  requestStop();
  return true;
}

void Interpreter::debugCommand(int command, int line) {
  {
    std::lock_guard<std::mutex> lock(stepMutex_);
    stepTargetLine_.store(line, std::memory_order_relaxed);
    stepCommand_.store(command, std::memory_order_relaxed);
  }
  stepWake_.notify_all();
}

void Interpreter::breakIntoDebugger() {
  stepCommand_.store(kStepPause, std::memory_order_relaxed);
  debugMode_.store(1, std::memory_order_relaxed);
  exitRequest_.store(kExitDebugBreak, std::memory_order_relaxed);
}

// Both run on the window thread while the stepping loop is paused; the lock
// orders the change before the next step command.
void Interpreter::setDebugProcess(int process) {
  if (process < 0 || process > endIndex_ || !program_) return;
  {
    std::lock_guard<std::mutex> lock(stepMutex_);
    currentProcess_.store(process, std::memory_order_relaxed);
  }
  if (ports_.frame) ports_.frame->showLine(process, nextLine(process));
}

void Interpreter::setDebugStatement(int statement) {
  const int p = currentProcess_.load(std::memory_order_relaxed);
  if (!program_ || statement < 0 || statement > statementCount(p)) return;
  {
    std::lock_guard<std::mutex> lock(stepMutex_);
    procs_[p].pc = statement;
  }
  if (ports_.frame) ports_.frame->showLine(p, nextLine(p));
}

// --- helpers for run routines ---------------------------------------------------

void Interpreter::setNextDocument(const char* name) {
  nextDocument_.assign(name, strnlen(name, kMaxStringLength));
  nextDocument_ += ".mvl";
}

void Interpreter::checkProcessNumber(int p) const {
  if (p < 1 || p > endIndex_) raiseRuntimeError(kErrProcessNumber);
}

int Interpreter::processOperand(const Operand& op, bool starAllowed) {
  const int p = values_.IntegerValue(op);
  if (p == -1 && starAllowed) return currentProcess_.load(std::memory_order_relaxed);
  checkProcessNumber(p);
  return p;
}

void Interpreter::debugBuiltin() {
  if (debugMode_.load(std::memory_order_relaxed) != 0) return;
  debugMode_.store(1, std::memory_order_relaxed);
  stepCommand_.store(kStepPause, std::memory_order_relaxed);
  int expected = kRunning;
  exitRequest_.compare_exchange_strong(expected, kExitDebugBreak);
}

void Interpreter::traceText(const char* text) {
  if (!ports_.frame) return;
  if (ports_.frame->traceWindowShown() || debugMode_.load(std::memory_order_relaxed) != 0)
    ports_.frame->trace(text);
}

void Interpreter::message(const char* text) {
  if (ports_.dialogs) ports_.dialogs->message(text);
}

int64_t Interpreter::nowMs() { return clock_->nowMs(); }

int Interpreter::takeLastKey() {
  const int k = lastKey_;
  lastKey_ = -1;
  return k;
}

int Interpreter::nextLine(int process) const {
  if (!program_ || process < 0 || process > endIndex_) return 0;
  const int pc = procs_[process].pc;
  if (pc < 0 || pc > program_->process(process).statements) return 0;
  return code_[process][pc].line;
}

// --- the run loop (interpreter thread) ---------------------------------------------

void Interpreter::beginRun() {
  exitRequest_.store(kRunning, std::memory_order_relaxed);
  errorExit_.store(false, std::memory_order_relaxed);
  currentProcess_.store(0, std::memory_order_relaxed);
  breakEnabled_.store(true, std::memory_order_relaxed);
  inEndProcess_.store(false, std::memory_order_relaxed);
  current_ = &procs_[0];
  state_.resetForRun();
  failed_ = false;
  nextDocument_.clear();
  std::lock_guard<std::mutex> lock(outcomeMutex_);
  outcome_ = RunOutcome{};
}

void Interpreter::failed(const RuntimeError& error) {
  failed_ = true;
  const int p = currentProcess_.load(std::memory_order_relaxed);
  int line = 0;
  if (program_ && p >= 0 && p <= endIndex_) {
    int pc = procs_[p].pc - 1;
    if (pc < 0) pc = 0;
    if (pc > program_->process(p).statements) pc = program_->process(p).statements;
    line = code_[p][pc].line;
  }
  std::lock_guard<std::mutex> lock(outcomeMutex_);
  outcome_.errorNumber = error.number();
  outcome_.errorProcess = p;
  outcome_.errorLine = line;
}

int Interpreter::runStartProcess() {
  try {
    return runStartFree();
  } catch (const RuntimeError& e) {
    failed(e);
    return kFailed;
  }
}

// The start process alone, free running or through the stepping loop.
int Interpreter::runStartFree() {
  for (;;) {
    if (debugMode_.load(std::memory_order_relaxed) == 1) {
      if (stepLoop() == StepResult::Exit) return exitRequest_.load(std::memory_order_relaxed);
      // Continue freely: the start process first if it is still current.
      if (currentProcess_.load(std::memory_order_relaxed) != 0) return 0;
    }
    ProcessRecord& r = procs_[0];
    current_ = &r;
    currentProcess_.store(0, std::memory_order_relaxed);
    const int request = steps_[0] != nullptr ? runSteps(r, steps_[0]) : runCalls(r, code_[0]);
    if (request != kExitDebugBreak) return request;
    enterDebugger();  // then the stepping loop
  }
}

// The statement loop of the start and the end process. The pc lives in a
// register; the process record gets it before a routine runs, before a
// statement that may fail, and when the loop ends. The exit request can only
// change in a routine or on the other thread, so it is read after routine
// calls and jumps (every loop of a process has one).
// Every form keeps its own dispatch jump (no merged tails), which lets the
// processor predict the next form from the current one.
#if defined(__GNUC__) && !defined(__clang__)
#define MORVEL_THREADED [[gnu::optimize("no-crossjumping", "no-gcse")]]
#else
#define MORVEL_THREADED
#endif
MORVEL_THREADED int Interpreter::runSteps(ProcessRecord& r, const RunStep* steps) {
  using namespace detail;
  // One dispatch per statement through this table (threaded: every form
  // ends with its own jump to the next one); the order is that of StepOp.
  static void* const kForms[] = {
      &&end,         &&call,        &&jump,        &&floatAdd,    &&floatSub,    &&floatMul,
      &&intAddII,    &&intAddIF,    &&intAddFI,    &&intAddFF,    &&intSubII,    &&intSubIF,
      &&intSubFI,    &&intSubFF,    &&intMulII,    &&intMulIF,    &&intMulFI,    &&intMulFF,
      &&forIntII,    &&forIntIF,    &&forIntFI,    &&forIntFF,    &&forFloatFF,  &&compareII,
      &&compareFF,   &&appendFloat,
  };
  static_assert(sizeof kForms / sizeof kForms[0] == kStepAppendFloat + 1, "one form per operation code");
  // `s` is the statement to run; the record's pc is its index (s->index).
  const RunStep* s = &steps[r.pc];
  int request;

#define MORVEL_NEXT()    \
  do {                   \
    goto* kForms[s->op]; \
  } while (false)
  // After a routine or a jump: an exit request ends the loop here.
#define MORVEL_CHECKED_NEXT()                                   \
  do {                                                          \
    request = exitRequest_.load(std::memory_order_relaxed);     \
    if (request != kRunning) goto leave;                        \
    MORVEL_NEXT();                                              \
  } while (false)
#define MORVEL_PLAIN(label, statement) \
  label:                               \
  statement;                           \
  ++s;                                 \
  MORVEL_NEXT();
#define MORVEL_LOOP(label, condition) \
  label:                              \
  if (condition) {                    \
    s = s->jump;                      \
    MORVEL_CHECKED_NEXT();            \
  }                                   \
  ++s;                                \
  MORVEL_NEXT();

  goto* kForms[s->op];

end:
  r.pc = s->index;
  return 0;
call:
  r.pc = s->index + 1;
  s->routine(ctx_, s->operands, s->count);
  s = steps + r.pc;
  MORVEL_CHECKED_NEXT();
jump:
  s = s->jump;
  MORVEL_CHECKED_NEXT();
  MORVEL_PLAIN(floatAdd, floatStep<'+'>(*s))
  MORVEL_PLAIN(floatSub, floatStep<'-'>(*s))
  MORVEL_PLAIN(floatMul, floatStep<'*'>(*s))
  MORVEL_PLAIN(intAddII, (integerStep<'+', true, true>(*s)))
  MORVEL_PLAIN(intAddIF, (integerStep<'+', true, false>(*s)))
  MORVEL_PLAIN(intAddFI, (integerStep<'+', false, true>(*s)))
  MORVEL_PLAIN(intAddFF, (integerStep<'+', false, false>(*s)))
  MORVEL_PLAIN(intSubII, (integerStep<'-', true, true>(*s)))
  MORVEL_PLAIN(intSubIF, (integerStep<'-', true, false>(*s)))
  MORVEL_PLAIN(intSubFI, (integerStep<'-', false, true>(*s)))
  MORVEL_PLAIN(intSubFF, (integerStep<'-', false, false>(*s)))
  MORVEL_PLAIN(intMulII, (integerStep<'*', true, true>(*s)))
  MORVEL_PLAIN(intMulIF, (integerStep<'*', true, false>(*s)))
  MORVEL_PLAIN(intMulFI, (integerStep<'*', false, true>(*s)))
  MORVEL_PLAIN(intMulFF, (integerStep<'*', false, false>(*s)))
  MORVEL_LOOP(forIntII, (forIntegerStep<true, true>(*s)))
  MORVEL_LOOP(forIntIF, (forIntegerStep<true, false>(*s)))
  MORVEL_LOOP(forIntFI, (forIntegerStep<false, true>(*s)))
  MORVEL_LOOP(forIntFF, (forIntegerStep<false, false>(*s)))
  MORVEL_LOOP(forFloatFF, forFloatStep(*s))
  MORVEL_LOOP(compareII, compareStep(s->cmp, *static_cast<const int32_t*>(s->a),
                                     *static_cast<const int32_t*>(s->b)) != (s->block != 0))
  MORVEL_LOOP(compareFF, compareStep(s->cmp, static_cast<const ValueArray*>(s->a)->data[0],
                                     static_cast<const ValueArray*>(s->b)->data[0]) != (s->block != 0))
appendFloat:
  // Growing may fail with a run-time error of this statement.
  appendFloatRecord(values_, *static_cast<ValueArray*>(s->a), *static_cast<const ValueArray*>(s->b),
                    [&r, s] { r.pc = s->index + 1; });
  ++s;
  MORVEL_NEXT();

#undef MORVEL_LOOP
#undef MORVEL_PLAIN
#undef MORVEL_CHECKED_NEXT
#undef MORVEL_NEXT
leave:
  r.pc = s->index;
  return request;
}

int Interpreter::runCalls(ProcessRecord& r, const Instruction* code) {
  for (;;) {
    const Instruction& ins = code[r.pc];
    if (ins.routine == nullptr) return 0;
    ++r.pc;
    ins.routine(ctx_, ins.operands, ins.count);
    const int request = exitRequest_.load(std::memory_order_relaxed);
    if (request != kRunning) return request;
  }
}

void Interpreter::enterDebugger() {
  exitRequest_.store(kRunning, std::memory_order_relaxed);
  debugMode_.store(1, std::memory_order_relaxed);
  const int p = currentProcess_.load(std::memory_order_relaxed);
  if (ports_.frame) ports_.frame->debugBreak(p, nextLine(p));
}

Interpreter::StepResult Interpreter::stepLoop() {
  for (;;) {
    const int command = stepCommand_.load(std::memory_order_relaxed);
    if (command == kStepPause) {
      std::unique_lock<std::mutex> lock(stepMutex_);
      stepWake_.wait_for(lock, std::chrono::milliseconds(100),
                         [this] { return stepCommand_.load(std::memory_order_relaxed) != kStepPause; });
      continue;
    }
    if (command == kStepStop) {
      exitRequest_.store(kExitStop, std::memory_order_relaxed);
      return StepResult::Exit;
    }
    if (command == kStepContinue) {
      debugMode_.store(2, std::memory_order_relaxed);
      return StepResult::Continue;
    }
    // One instruction of the current process.
    const int p = currentProcess_.load(std::memory_order_relaxed);
    ProcessRecord& r = procs_[p];
    current_ = &r;
    const Instruction* ins = &code_[p][r.pc];
    if (ins->routine == nullptr && p != 0 && p != endIndex_) {
      r.pc = 0;  // a cyclic process starts again
      ins = &code_[p][0];
    }
    if (ins->routine != nullptr) {
      ++r.pc;
      ins->routine(ctx_, ins->operands, ins->count);
    }
    const int request = exitRequest_.load(std::memory_order_relaxed);
    if (request == kExitDebugBreak) {
      exitRequest_.store(kRunning, std::memory_order_relaxed);
    } else if (request != kRunning) {
      return StepResult::Exit;
    }
    const int shown = currentProcess_.load(std::memory_order_relaxed);
    const int line = nextLine(shown);
    // Paused before ShowLine goes out, so that a step command sent in answer
    // to it is not overwritten.
    if (!(command == kStepToLine && line != stepTargetLine_.load(std::memory_order_relaxed))) {
      int expected = command;
      stepCommand_.compare_exchange_strong(expected, kStepPause);
    }
    if (ports_.frame) ports_.frame->showLine(shown, line);
    if (ports_.frame) {
      ports_.frame->refreshDebug();
      ports_.frame->refreshProcessWatch();
    }
  }
}

void Interpreter::runEndProcess() {
  ProcessRecord& r = procs_[endIndex_];
  current_ = &r;
  currentProcess_.store(endIndex_, std::memory_order_relaxed);
  inEndProcess_.store(true, std::memory_order_relaxed);
  for (;;) {
    const int request = steps_[endIndex_] != nullptr ? runSteps(r, steps_[endIndex_]) : runCalls(r, code_[endIndex_]);
    if (request != kExitDebugBreak) break;
    enterDebugger();
    if (stepLoop() == StepResult::Exit) break;
    current_ = &r;
    currentProcess_.store(endIndex_, std::memory_order_relaxed);
  }
  inEndProcess_.store(false, std::memory_order_relaxed);
}

void Interpreter::runCleanup() {
  if (!savedDirectory_.empty() && ::chdir(savedDirectory_.c_str()) != 0) {
    // The directory is gone; the next run remembers its own.
  }
  values_.closeAllFileArrays();
  values_.closeFileChannels(3);
  for (int i = 0; i < hookCount_; ++i) {
    try {
      hooks_[i](ctx_);
    } catch (const RuntimeError&) {
      // A clean-up that fails cannot end the run a second time.
    }
  }
}

void Interpreter::releaseArrays(RunEnd how) {
  if (ports_.frame) ports_.frame->beforeRelease(how);
  values_.releaseAtEnd();
}

void Interpreter::finishRun(int request) {
  int reason = request;
  if (!failed_ && reason != kExitProgram) {
    exitRequest_.store(kRunning, std::memory_order_relaxed);
    try {
      runEndProcess();
    } catch (const RuntimeError& e) {
      failed(e);
    }
    // The end process itself may ask to close the program or load another.
    const int late = exitRequest_.load(std::memory_order_relaxed);
    if (!failed_ && (late == kExitClose || late == kExitProgram)) reason = late;
  }

  const bool armed = errorExit_.load(std::memory_order_relaxed);
  RunEnd how = RunEnd::Stopped;
  if (failed_)
    how = armed ? RunEnd::CloseProgram : RunEnd::RuntimeError;
  else if (reason == kExitProgram)
    how = RunEnd::LoadNext;
  else if (reason == kExitClose || armed)
    how = RunEnd::CloseProgram;

  releaseArrays(how);
  RunOutcome done;
  {
    std::lock_guard<std::mutex> lock(outcomeMutex_);
    outcome_.how = how;
    outcome_.errorExitArmed = armed;
    outcome_.nextDocument = how == RunEnd::LoadNext ? nextDocument_ : std::string();
    done = outcome_;
  }
  if (failed_ && !armed && ports_.frame)
    ports_.frame->runtimeError(done.errorProcess, done.errorLine, done.errorNumber);
  runCleanup();
  if (ports_.frame) ports_.frame->runEnded(how, done.nextDocument);
}

void Interpreter::runLoop() {
  int request = kRunning;
  for (;;) {
    request = runStartProcess();
    if (request == kRunning) {
      profile_.clear();
      request = runCycles(maxCycles_);
      if (request == kRunning) request = kExitStop;  // the cycle limit ran out
    }
    if (request == kExitRestart) {
      exitRequest_.store(kRunning, std::memory_order_relaxed);
      procs_[0].restart();
      continue;
    }
    break;
  }
  finishRun(request);
  running_.store(false, std::memory_order_release);
}

}  // namespace morvel::lang
