#pragma once
// Shared fixture of the interpreter and scheduler tests: a value store, an
// interpreter with recording ports and a manual clock, and helpers that run
// process texts and dump variables before the run's arrays are released.
#include <gtest/gtest.h>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "lang/interpreter.h"
#include "lang/value_store.h"
#include "shell/dump.h"

namespace morvel::lang::testing {

struct RecordingPorts : FramePort, DialogPort, LayoutPort {
  // settings
  bool traceShown = true;
  bool watchShown = false;
  bool continueOnBreak = false;  // answer DebugBreak with "continue"
  Interpreter* interpreter = nullptr;
  ValueStore* values = nullptr;
  std::vector<std::string> dumpItems;

  // records
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<std::string> traces, messages, labels;
  std::vector<std::pair<int, int>> shownLines, breaks, armed;
  int errorNumber = 0, errorProcess = -1, errorLine = -1, errorReports = 0;
  int ended = 0;
  RunEnd how = RunEnd::Stopped;
  std::string next;
  std::string dumped;

  void runtimeError(int process, int line, int number) override {
    std::lock_guard<std::mutex> lock(mutex);
    ++errorReports;
    errorNumber = number;
    errorProcess = process;
    errorLine = line;
  }
  void showLine(int process, int line) override {
    {
      std::lock_guard<std::mutex> lock(mutex);
      shownLines.emplace_back(process, line);
    }
    changed.notify_all();
  }
  void debugBreak(int process, int line) override {
    {
      std::lock_guard<std::mutex> lock(mutex);
      breaks.emplace_back(process, line);
    }
    changed.notify_all();
    if (continueOnBreak) interpreter->debugCommand(kStepContinue);
  }
  void trace(const char* text) override { traces.emplace_back(text); }
  bool traceWindowShown() const override { return traceShown; }
  bool processWatchShown() const override { return watchShown; }
  void runEnded(RunEnd h, const std::string& nextDocument) override {
    {
      std::lock_guard<std::mutex> lock(mutex);
      ++ended;
      how = h;
      next = nextDocument;
    }
    changed.notify_all();
  }
  void beforeRelease(RunEnd) override {
    dumped.clear();
    for (const std::string& item : dumpItems)
      dumped += shell::dumpLine(item, *values, interpreter->program()) + "\n";
  }
  void message(const char* text) override { messages.emplace_back(text); }
  void showKeyLabel(int key, const char* text, int, int) override {
    labels.push_back(std::to_string(key) + ":" + text);
  }
  void armMouse(int window, int process) override { armed.emplace_back(window, process); }

  // Waits until `done` holds (checked under the lock), at most 10 s.
  template <typename F>
  bool waitFor(F done) {
    std::unique_lock<std::mutex> lock(mutex);
    return changed.wait_for(lock, std::chrono::seconds(10), done);
  }
};

// A window port with windows 0..9 bound.
struct TenWindows : WindowPort {
  bool hasWindow(int number) const override { return number >= 0 && number < 10; }
  void assign(int, const Operand&, const Operand*, int, ValueStore&) override {}
};

class InterpFixture : public ::testing::Test {
 protected:
  InterpFixture() : values_(std::make_unique<ValueStore>()) {
    Ports ports;
    ports.frame = &ports_;
    ports.dialogs = &ports_;
    ports.layout = &ports_;
    ports.clock = &clock_;
    interp_ = std::make_unique<Interpreter>(*values_, ports);
    ports_.interpreter = interp_.get();
    ports_.values = values_.get();
    values_->setWindowPort(&windows_);
  }

  // Compiles and prepares a run; the processes are given as texts.
  void prepare(const std::vector<std::string>& processes, int64_t maxCycles = 100000, bool debug = false) {
    RunRequest request;
    request.processes = processes;
    request.maxCycles = maxCycles;
    request.debug = debug;
    StartResult r = interp_->prepareRun(request);
    ASSERT_TRUE(r.started) << "compile error " << r.compileError.number << " process " << r.compileError.process
                           << " line " << r.compileError.line << " " << r.message;
  }

  // Runs the processes on this thread (the whole run loop) and returns the
  // dump of `items` taken before the arrays were released.
  std::string run(const std::vector<std::string>& processes, const std::string& items,
                  int64_t maxCycles = 100000) {
    ports_.dumpItems = shell::splitDumpList(items);
    prepare(processes, maxCycles);
    interp_->runLoop();
    return ports_.dumped;
  }

  // Starts a run on the interpreter's own thread.
  void start(const std::vector<std::string>& processes, bool debug = false) {
    RunRequest request;
    request.processes = processes;
    request.debug = debug;
    StartResult r = interp_->startRun(request);
    ASSERT_TRUE(r.started) << r.compileError.number << " " << r.message;
  }
  bool waitEnded() {
    const bool ok = ports_.waitFor([this] { return ports_.ended > 0; });
    interp_->join();
    return ok;
  }

  std::unique_ptr<ValueStore> values_;
  ManualClock clock_;
  RecordingPorts ports_;
  TenWindows windows_;
  std::unique_ptr<Interpreter> interp_;
};

}  // namespace morvel::lang::testing
