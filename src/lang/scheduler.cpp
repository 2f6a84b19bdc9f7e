// The scheduler cycle: every runnable cyclic process executes one statement
// per cycle, in process-number order; between cycles the scheduler yields
// and hands input events to the processes.
#include "lang/interpreter.h"
#include "lang/value_store.h"

namespace morvel::lang {

namespace {

// Cycles between two yields of the processor while processes run. Yielding
// every cycle would cost more than the statements themselves; the order in
// which the processes run does not depend on it.
constexpr int kYieldInterval = 64;
// Cycles without any runnable process after which the yield may sleep.
constexpr int kIdleCycles = 1000;

}  // namespace

int Interpreter::runCycles(int64_t count) {
  try {
    return cycleLoop(count);
  } catch (const RuntimeError& e) {
    failed(e);
    return kFailed;
  }
}

int Interpreter::cycleLoop(int64_t count) {
  bool profiling = ports_.frame != nullptr && ports_.frame->processWatchShown();
  for (;;) {
    const bool was = profiling;
    if (was) {
      profile_.clear();
      profile_.frequency.store(clock_->ticksPerSecond(), std::memory_order_relaxed);
    }
    const int request = was ? cycles<true>(count, profiling) : cycles<false>(count, profiling);
    if (request != kRunning || count == 0) return request;
    // The process watch window was shown or hidden: go on in the other mode.
  }
}

// Runs cycles until an exit request, until `remaining` cycles have run (when
// not negative), or until the process watch window changes its state
// (`profiling` then holds the new state and 0 is returned).
template <bool kProfiled>
int Interpreter::cycles(int64_t& remaining, bool& profiling) {
  const int last = endIndex_;
  int sinceYield = 0;
  int idle = 0;
  while (remaining != 0) {
    if (remaining > 0) --remaining;
    bool ran = false;
    for (int p = 1; p < last; ++p) {
      ProcessRecord& r = procs_[p];
      if (r.state != 0) continue;
      ran = true;
      current_ = &r;
      currentProcess_.store(p, std::memory_order_relaxed);
      const int index = r.pc;
      if (const RunStep* steps = steps_[p]) {
        const RunStep& s = steps[index];
        if (s.op == kStepEnd) {
          r.pc = 0;  // starts again at its first statement next cycle
          continue;
        }
        bool control = false;
        if constexpr (kProfiled) {
          const uint64_t before = clock_->ticks();
          r.pc = execStep(r, s, index, control);
          profileStep(p, index, clock_->ticks() - before);
        } else {
          r.pc = execStep(r, s, index, control);
        }
      } else {
        const Instruction& ins = code_[p][index];
        if (ins.routine == nullptr) {
          r.pc = 0;
          continue;
        }
        r.pc = index + 1;
        if constexpr (kProfiled) {
          const uint64_t before = clock_->ticks();
          ins.routine(ctx_, ins.operands, ins.count);
          profileStep(p, index, clock_->ticks() - before);
        } else {
          ins.routine(ctx_, ins.operands, ins.count);
        }
      }
      if (exitRequest_.load(std::memory_order_relaxed) == kExitDebugBreak) {
        enterDebugger();
        if (stepLoop() == StepResult::Exit) return exitRequest_.load(std::memory_order_relaxed);
      }
    }

    if (!ran) {
      clock_->yield(++idle > kIdleCycles);
      sinceYield = 0;
    } else if (++sinceYield >= kYieldInterval) {
      clock_->yield(false);
      sinceYield = 0;
      idle = 0;
      const bool shown = ports_.frame != nullptr && ports_.frame->processWatchShown();
      if (shown != kProfiled) {
        profiling = shown;
        const int request = exitRequest_.load(std::memory_order_relaxed);
        if (request != kRunning) return request;
        if (input_.pending()) takeInput();
        return kRunning;
      }
    }
    const int request = exitRequest_.load(std::memory_order_relaxed);
    if (request != kRunning) return request;
    if (input_.pending()) takeInput();
  }
  return kRunning;
}

void Interpreter::profileStep(int p, int index, uint64_t spent) {
  if (profile_.mode.load(std::memory_order_relaxed) == 0) {
    profile_.perProcess[p].fetch_add(spent, std::memory_order_relaxed);
  } else if (profile_.selectedProcess.load(std::memory_order_relaxed) == p && index < kInstructionCounters) {
    profile_.perInstruction[index].fetch_add(spent, std::memory_order_relaxed);
  }
}

template int Interpreter::cycles<true>(int64_t&, bool&);
template int Interpreter::cycles<false>(int64_t&, bool&);

void Interpreter::takeInput() {
  const InputQueue::Events e = input_.take();
  if (e.hasClick) {
    lastMouseWindow_ = e.click.window;
    const int p = e.click.process;
    if (p >= 1 && p <= endIndex_) {
      procs_[p].state = 0;
      procs_[p].restart();
    }
  }
  if (e.keyCode >= InputQueue::kFunctionKeyFirst && e.keyCode <= InputQueue::kFunctionKeyLast) {
    const int k = (e.keyCode - InputQueue::kFunctionKeyFirst) / 256 + 1;
    FunctionKey& key = keys_[k - 1];
    if (key.enabled) {
      lastFunctionKey_ = k;
      const int p = key.process;
      if (p >= 1 && p <= endIndex_) {
        procs_[p].state = 0;
        procs_[p].restart();
      }
    }
  }
  if (e.character >= 0) lastKey_ = e.character;
}

void Interpreter::enterExclusive() {
  if (exclusive_) return;
  exclusive_ = true;
  for (int p = 1; p <= endIndex_; ++p) {
    savedState_[p] = procs_[p].state;
    procs_[p].state = kStateExclusive;
  }
  const int self = currentProcess_.load(std::memory_order_relaxed);
  if (self >= 0 && self <= endIndex_) procs_[self].state = 0;
}

void Interpreter::leaveExclusive() {
  if (!exclusive_) return;  // multitask(1) without multitask(0)
  exclusive_ = false;
  for (int p = 1; p <= endIndex_; ++p) procs_[p].state = savedState_[p];
}

}  // namespace morvel::lang
