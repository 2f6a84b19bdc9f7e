#pragma once
// The interpreter's view of everything outside the script language core:
// the main frame and program window, the current layout, modal dialogs,
// sound and the clock. The desktop program implements these ports with its
// windows; the headless runner and the tests implement them too.
//
// Every port call happens on the interpreter thread. A "sent" message of
// the desktop program is a call that returns when the window thread has
// handled it; a "posted" one may return at once.
#include <cstdint>
#include <string>

namespace morvel::lang {

// Why a run ended, as the main frame learns it.
enum class RunEnd {
  Stopped,         // exit(), the stop command, CTRL+B, end of the debugger run
  CloseProgram,    // winexit/mvexit, or any end after errorexit
  LoadNext,        // program(s): load and start the named document
  RuntimeError,    // a run-time error ended the run (no end process)
};

// Main frame, program window and debugger windows.
class FramePort {
 public:
  virtual ~FramePort() = default;
  // RuntimeError (sent): report run-time error `number` at process and line.
  virtual void runtimeError(int process, int line, int number) = 0;
  // ShowLine (sent): show this process and line in the editor.
  virtual void showLine(int process, int line) = 0;
  // DebugBreak (sent): the debugger has been entered.
  virtual void debugBreak(int process, int line) = 0;
  // RefreshDebug / RefreshProcessWatch (posted) after a step.
  virtual void refreshDebug() {}
  virtual void refreshProcessWatch() {}
  // trace(text): one line for the trace window (without its line break).
  virtual void trace(const char* text) = 0;
  // True when the trace window is switched on.
  virtual bool traceWindowShown() const { return false; }
  // True when the process watch window is shown (profiling runs then).
  virtual bool processWatchShown() const { return false; }
  // The run is over. `nextDocument` is the file named by program(s), with
  // ".mvl" appended, for RunEnd::LoadNext; empty otherwise.
  virtual void runEnded(RunEnd how, const std::string& nextDocument) = 0;
  // Called on the interpreter thread when the processes have stopped and
  // before array memory is released (also after a run-time error), so that
  // a host can look at the values of the run.
  virtual void beforeRelease(RunEnd how) { (void)how; }
};

// The current layout as the scheduler and the process-control rows see it.
class LayoutPort {
 public:
  virtual ~LayoutPort() = default;
  // onkey: draw the label of function key `key` (1..8) in the given palette
  // colours.
  virtual void showKeyLabel(int key, const char* text, int textColor, int backColor) = 0;
  // onmouse: arm diagram `window` so that a click queues {window, process}.
  // The window number was checked before.
  virtual void armMouse(int window, int process) = 0;
};

// Modal message boxes of the interpreter (the desktop program routes them
// through the window thread).
class DialogPort {
 public:
  virtual ~DialogPort() = default;
  virtual void message(const char* text) = 0;
};

// Sounds the interpreter asks for.
class SoundPort {
 public:
  virtual ~SoundPort() = default;
  virtual void playSystemSound(const char* name) = 0;
};

// Time for waittime, deadlines and profiling, and the scheduler's yield.
class ClockPort {
 public:
  virtual ~ClockPort() = default;
  // Monotonic milliseconds.
  virtual int64_t nowMs() = 0;
  // A high-resolution tick count and its frequency (profiling).
  virtual uint64_t ticks() = 0;
  virtual uint64_t ticksPerSecond() = 0;
  // Gives the processor to other threads between cycles. `idle` is true
  // when no process could run for a while.
  virtual void yield(bool idle) = 0;
};

// The real clock: steady_clock, sched_yield, and a short sleep when idle.
class SystemClock final : public ClockPort {
 public:
  int64_t nowMs() override;
  uint64_t ticks() override;
  uint64_t ticksPerSecond() override;
  void yield(bool idle) override;
};

// A clock that only moves when told (scheduler tests).
class ManualClock final : public ClockPort {
 public:
  int64_t nowMs() override { return now_; }
  uint64_t ticks() override { return static_cast<uint64_t>(now_) * 1000u + ++tick_; }
  uint64_t ticksPerSecond() override { return 1000000u; }
  void yield(bool) override { ++yields_; }
  void advance(int64_t ms) { now_ += ms; }
  void set(int64_t ms) { now_ = ms; }
  int64_t yields() const { return yields_; }

 private:
  int64_t now_ = 1000;
  uint64_t tick_ = 0;
  int64_t yields_ = 0;
};

// All ports of one interpreter. Null members fall back to quiet defaults
// (no frame messages, no layout, the system clock).
struct Ports {
  FramePort* frame = nullptr;
  LayoutPort* layout = nullptr;
  DialogPort* dialogs = nullptr;
  SoundPort* sound = nullptr;
  ClockPort* clock = nullptr;
};

}  // namespace morvel::lang
