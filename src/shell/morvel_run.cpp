// morvel-run: loads an application document, compiles it and runs it without
// any window. Interface:
//   morvel-run [--compile-only] [--dump LIST] [--timeout SECONDS] [--builtins] DOCUMENT.mvl
// Exit status: 0 success, 1 document unreadable or without layout, 2 compile
// error, 3 run-time error, 64 bad command line.
#include <unistd.h>

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
#include "lang/value_store.h"
#include "platform/codepage.h"
#include "platform/cnumber.h"
#include "shell/document.h"
#include "shell/dump.h"
#include "shell/settings.h"

using namespace morvel;

namespace {

// Texts of the core are Windows-1252; the terminal gets UTF-8.
void printMessage(const std::string& text) {
  std::fprintf(stderr, "Message: %s\n", platform::toUtf8(text).c_str());
}

struct StderrMessages : shell::MessageSink {
  void message(const std::string& text) override { printMessage(text); }
};

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
      if (*end || timeout < 0) {
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
  StderrMessages messages;
  shell::Document doc;
  std::string programDir = helpDirectory();
  shell::DocumentState state(doc, programDir, {&settings, nullptr, &messages});
  if (!state.loadDocument(document, true, false)) return 1;
  auto& layouts = static_cast<shell::OpaqueBlocks&>(doc.layouts());
  if (layouts.blocks().empty()) {
    printMessage("Die Anwendung muss mindestens ein Layout haben");
    return 1;
  }

  auto values = std::make_unique<lang::ValueStore>();
  values->resetForStart();
  lang::Compiler compiler(*values, {doc.textMacros});
  lang::CompileResult result = compiler.compile(doc.program.processes);
  if (!result.ok()) {
    const lang::CompileError& e = result.error;
    if (e.number == 0) {
      printMessage(e.message);
    } else {
      std::string text = platform::toUtf8(lang::errorText(e.number, false, programDir));
      std::fprintf(stderr, "Compile error %d (process %d, line %d): %s\n", e.number, e.process, e.line,
                   text.c_str());
    }
    return 2;
  }

  int status = 0;
  if (!compileOnly) {
    std::string message;
    if (!values->allocateArrays(message)) {
      printMessage(message);
      return 1;
    }
    // The interpreter is not part of this build yet: the document is
    // compiled and its arrays prepared, but no statement runs.
    printMessage("Die Ausf\xFChrung ist in dieser Version noch nicht eingebaut; das Programm wurde nur \xFC"
                 "bersetzt");
    (void)timeout;
  }
  for (const std::string& item : shell::splitDumpList(dumpList))
    std::printf("%s\n", shell::dumpLine(item, *values, result.program.get()).c_str());
  if (!compileOnly) values->releaseAtEnd();
  return status;
}
