// morvel-run: loads an application document, compiles it and runs it without
// any window. Interface:
//   morvel-run [--compile-only] [--dump LIST] [--timeout SECONDS] [--builtins] DOCUMENT.mvl
// Exit status: 0 success, 1 document unreadable or without layout, 2 compile
// error, 3 run-time error, 64 bad command line, 130 aborted by a second
// SIGINT.
//
// The run: trace(text) lines go to standard output; --timeout and the first
// SIGINT ask for a stop as the stop command does (the end process runs); when
// the end process still runs after another timeout period, or at a second
// SIGINT (which aborts), the run ends. program(s) loads and starts s.mvl;
// winexit/mvexit end morvel-run after the run. --dump prints the variables
// after the last run (also after a run-time error).
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "lang/builtin_table.h"
#include "lang/compiler.h"
#include "lang/error_text.h"
#include "lang/interpreter.h"
#include "lang/value_store.h"
#include "platform/codepage.h"
#include "platform/cnumber.h"
#include "shell/document.h"
#include "shell/dump.h"
#include "shell/settings.h"

using namespace morvel;

namespace {

// Texts of the core are Windows-1252; the terminal gets UTF-8.
void printMessage(const std::string& text) { StderrNotifier().message(text); }

void usage() {
  std::fprintf(stderr,
               "Aufruf: morvel-run [--compile-only] [--dump LISTE] [--timeout SEKUNDEN] [--builtins] "
               "DOKUMENT.mvl\n");
}

// The folder with pcompile.hlp and runerr.hlp: beside the program when they
// are installed there, else the source tree's resources.
std::string helpDirectory() {
  char exe[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  if (n > 0) {
    exe[n] = '\0';
    std::string dir(exe);
    dir.erase(dir.find_last_of('/') + 1);
    if (access((dir + "pcompile.hlp").c_str(), R_OK) == 0) return dir;
  }
  return lang::defaultResourceDir();
}

volatile sig_atomic_t interrupts = 0;

void onInterrupt(int) { interrupts = interrupts + 1; }

void printCompileError(const lang::CompileError& e, const std::string& programDir) {
  if (e.number == 0) {
    printMessage(e.message);
    return;
  }
  std::string text = platform::toUtf8(lang::errorText(e.number, false, programDir));
  std::fprintf(stderr, "Compile error %d (process %d, line %d): %s\n", e.number, e.process, e.line, text.c_str());
}

// The windows of the desktop program, headless: trace lines on standard
// output, message boxes and run-time errors on standard error, the dump
// before the arrays of the last run are released.
class HeadlessFrame final : public lang::FramePort, public lang::DialogPort, public lang::LayoutPort {
 public:
  HeadlessFrame(std::string programDir, std::vector<std::string> dump)
      : programDir_(std::move(programDir)), dump_(std::move(dump)) {}

  void setInterpreter(lang::Interpreter* interpreter, lang::ValueStore* values) {
    interpreter_ = interpreter;
    values_ = values;
  }

  void runtimeError(int process, int line, int number) override {
    // The text from runerr.hlp, without the "Runtime:" of the message area.
    std::string text = lang::errorText(number, true, programDir_);
    if (text.rfind("Runtime:", 0) == 0) text.erase(0, 8);
    text = platform::toUtf8(text);
    std::fprintf(stderr, "Runtime error %d (process %d, line %d): %s\n", number, process, line, text.c_str());
  }
  void showLine(int, int) override {}
  // Nobody can step a headless run: it goes on as after "continue".
  void debugBreak(int, int) override { interpreter_->debugCommand(lang::kStepContinue); }
  // One line per call, flushed so that a watching process sees it at once.
  void trace(const char* text) override {
    std::printf("%s\n", platform::toUtf8(text).c_str());
    std::fflush(stdout);
  }
  bool traceWindowShown() const override { return true; }
  void runEnded(lang::RunEnd, const std::string&) override { std::fflush(stdout); }
  void beforeRelease(lang::RunEnd how) override {
    if (how == lang::RunEnd::LoadNext) return;
    for (const std::string& item : dump_)
      std::printf("%s\n", shell::dumpLine(item, *values_, interpreter_->program()).c_str());
    dumped_ = true;
  }

  void message(const char* text) override { printMessage(text); }
  void showKeyLabel(int, const char*, int, int) override {}
  void armMouse(int, int) override {}

  bool dumped() const { return dumped_; }

 private:
  std::string programDir_;
  std::vector<std::string> dump_;
  lang::Interpreter* interpreter_ = nullptr;
  lang::ValueStore* values_ = nullptr;
  bool dumped_ = false;
};

// Waits for the run to end; the timeout and SIGINT ask for a stop, a second
// SIGINT aborts.
void waitForRun(lang::Interpreter& interpreter, double timeout) {
  using Clock = std::chrono::steady_clock;
  const auto period = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(timeout));
  auto deadline = Clock::now() + period;
  int seen = 0;
  while (interpreter.running()) {
    const int now = interrupts;
    if (now >= 2) {
      std::fflush(stdout);
      std::fprintf(stderr, "Message: Abgebrochen\n");
      std::_Exit(130);
    }
    if (now > seen) {
      seen = now;
      interpreter.requestStop();
    }
    if (timeout >= 0 && Clock::now() >= deadline) {
      interpreter.requestStop();
      deadline = Clock::now() + period;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  interpreter.join();
}

}  // namespace

int main(int argc, char** argv) {
  bool compileOnly = false;
  bool listBuiltins = false;
  std::string dumpList;
  double timeout = -1;
  std::string document;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&](const char* name) -> const char* {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "%s braucht einen Wert\n", name);
        usage();
        std::exit(64);
      }
      return argv[++i];
    };
    if (a == "--compile-only") {
      compileOnly = true;
    } else if (a == "--builtins") {
      listBuiltins = true;
    } else if (a == "--dump") {
      dumpList = value("--dump");
    } else if (a == "--timeout") {
      const char* text = value("--timeout");
      const char* end = nullptr;
      timeout = platform::strtodC(text, &end);
      if (*end || !(timeout >= 0) || timeout > 1e9) {
        std::fprintf(stderr, "Ung\xC3\xBCltige Zeit: %s\n", text);
        return 64;
      }
    } else if (a == "-h" || a == "--help") {
      usage();
      return 0;
    } else if (!a.empty() && a[0] == '-') {
      std::fprintf(stderr, "Unbekannte Option: %s\n", a.c_str());
      usage();
      return 64;
    } else if (document.empty()) {
      document = a;
    } else {
      usage();
      return 64;
    }
  }

  if (listBuiltins) {
    for (const lang::BuiltinEntry* e = lang::builtinTable(); e->name; ++e)
      std::printf("%s\t%s\n", e->name, lang::builtinImplemented(*e) ? "implemented" : "pending");
    if (document.empty()) return 0;
  }
  if (document.empty()) {
    usage();
    return 64;
  }

  shell::IniSettings settings(shell::defaultSettingsPath());
  StderrNotifier messages;
  shell::Document doc;
  std::string programDir = helpDirectory();
  shell::DocumentState state(doc, programDir, {&settings, nullptr, &messages});
  if (!state.loadDocument(document, true, false)) return 1;
  auto layoutCount = [&] {
    return static_cast<int>(static_cast<shell::OpaqueBlocks&>(doc.layouts()).blocks().size());
  };
  if (layoutCount() == 0) {
    printMessage("Die Anwendung muss mindestens ein Layout haben");
    return 1;
  }

  auto values = std::make_unique<lang::ValueStore>();
  const std::vector<std::string> dumpItems = shell::splitDumpList(dumpList);
  if (compileOnly) {
    values->resetForStart();
    lang::Compiler compiler(*values, {doc.textMacros});
    lang::CompileResult result = compiler.compile(doc.program.processes);
    if (!result.ok()) {
      printCompileError(result.error, programDir);
      return 2;
    }
    for (const std::string& item : dumpItems)
      std::printf("%s\n", shell::dumpLine(item, *values, result.program.get()).c_str());
    return 0;
  }

  struct sigaction action {};
  action.sa_handler = onInterrupt;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);

  HeadlessFrame frame(programDir, dumpItems);
  lang::Ports ports;
  ports.frame = &frame;
  ports.dialogs = &frame;
  ports.layout = &frame;
  lang::Interpreter interpreter(*values, ports);
  frame.setInterpreter(&interpreter, values.get());

  for (;;) {
    lang::RunRequest request;
    request.processes = doc.program.processes;
    request.options.textMacros = doc.textMacros;
    request.layoutCount = layoutCount();
    lang::StartResult started = interpreter.startRun(request);
    if (!started.started) {
      if (started.compileFailed) {
        printCompileError(started.compileError, programDir);
        return 2;
      }
      printMessage(started.message);
      return 1;
    }
    waitForRun(interpreter, timeout);
    const lang::RunOutcome outcome = interpreter.outcome();
    if (outcome.how == lang::RunEnd::LoadNext) {
      if (!state.loadDocument(outcome.nextDocument, false, false)) {
        printMessage(platform::formatC("%s kann nicht geladen werden", outcome.nextDocument.c_str()));
        return 1;
      }
      continue;
    }
    std::fflush(stdout);
    return outcome.errorNumber != 0 ? 3 : 0;
  }
}
