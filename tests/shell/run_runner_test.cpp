// morvel-run running documents: trace output, dump after the run, run-time
// errors, the timeout and SIGINT as stop requests, program() chaining and the
// ways a run ends.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/process_output.h"

#ifdef MORVEL_RUN_PATH
namespace fs = std::filesystem;

namespace {

using morvel::test::Outcome;
using morvel::test::slurp;

class RunDocuments : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/morvel-rundoc-XXXXXX";
    dir = mkdtemp(tmpl);
  }
  void TearDown() override { fs::remove_all(dir); }

  // A document with the given process texts and one layout, named `name`.
  std::string document(const std::vector<std::string>& processes, const std::string& name = "") {
    std::string d = "Program:\r\n";
    for (const auto& p : processes) d += "$Prozess:\r\n" + p + "$ProzessEnde:\r\n";
    d += "End:\r\nLayout:\r\nName:L\r\nEnd:\r\n";
    fs::path p = dir / (name.empty() ? "doc" + std::to_string(counter++) + ".mvl" : name);
    std::ofstream(p, std::ios::binary) << d;
    return p.string();
  }

  std::vector<std::string> command(const std::vector<std::string>& args) {
    std::vector<std::string> argv{MORVEL_RUN_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
  }

  // Starts morvel-run in the temporary folder with stdout and stderr to files.
  pid_t spawn(const std::vector<std::string>& args) {
    const std::vector<std::string> argv = command(args);
    pid_t pid = fork();
    if (pid == 0) {
      if (chdir(dir.c_str()) != 0) _exit(120);
      setenv("MORVEL_SETTINGS", (dir / "settings.conf").c_str(), 1);
      int out = open((dir / "out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      int err = open((dir / "err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(out, 1);
      dup2(err, 2);
      std::vector<char*> v;
      for (const auto& a : argv) v.push_back(const_cast<char*>(a.c_str()));
      v.push_back(nullptr);
      execv(v[0], v.data());
      _exit(127);
    }
    return pid;
  }

  Outcome finish(pid_t pid) {
    int rc = 0;
    waitpid(pid, &rc, 0);
    Outcome o;
    o.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    o.out = slurp(dir / "out");
    o.err = slurp(dir / "err");
    return o;
  }

  // A run that would never end is stopped after 20 s.
  Outcome run(std::vector<std::string> args) {
    if (std::find(args.begin(), args.end(), "--timeout") == args.end()) args.insert(args.begin(), {"--timeout", "20"});
    return finish(spawn(args));
  }

  // Waits until standard output holds `text` (at most 10 s).
  bool waitForOutput(const std::string& text) {
    for (int k = 0; k < 2000; ++k) {
      if (slurp(dir / "out").find(text) != std::string::npos) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
  }

  fs::path dir;
  int counter = 0;
};

TEST_F(RunDocuments, TraceLinesThenTheDump) {
  Outcome o = run({"--dump", "i1,v1,s1,a1",
                   document({"*Start\ntrace(\"Start \xE4\")\nfor i1 = 1 to 3\na1 &= i1\nnext\ns1 = \"fertig\"\n",
                             "*P1\nv1 = v1 + 0.5\nif v1 >= 2\nexit()\nendif\n", "*End\ntrace(\"Ende\")\n"})});
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(o.err, "");
  EXPECT_EQ(o.out,
            "Start \xC3\xA4\nEnde\ni1 = 4\nv1 = 2\ns1 = \"fertig\"\na1 = [len=3 kind=0 xdist=1 xoff=0] 1 2 3\n");
}

TEST_F(RunDocuments, RuntimeErrorsAndTheirExits) {
  struct Case {
    const char* what;
    std::vector<std::string> processes;
    int status;
    const char* err;
    const char* out;
  } cases[] = {
      {"error 6 with process, line and text",
       {"*Start\ni1 = 1\n", "*P1\n; Kommentar\nrun(*)\n", "*End\ntrace(\"Ende\")\n"}, 3,
       "Runtime error 6 (process 1, line 2): Prozessnummer au\xC3\x9F" "erhalb des g\xC3\xBCltigen Bereichs\n",
       "i1 = 1\n"},
      {"the call depth error has a text",
       {"*Start\n:r\ncall :r\n", "*End\n"}, 3,
       "Runtime error 152 (process 0, line 2): Mehr als 10 verschachtelte Unterprogrammaufrufe (call)\n", "i1 = 0\n"},
      {"after errorexit an error ends silently, still with status 3",
       {"*Start\nerrorexit(1)\ni1 = 2\nstart(9)\n", "*End\ntrace(\"Ende\")\n"}, 3, "", "i1 = 2\n"},
      {"winexit runs the end process and ends", {"*Start\nwinexit(0)\n", "*End\ntrace(\"Ende\")\n"}, 0, "",
       "Ende\ni1 = 0\n"},
      {"return without call is a message", {"*Start\nreturn\ni1 = 3\nexit()\n", "*End\n"}, 0, "Message: return ohne call\n",
       "i1 = 3\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Outcome o = run({"--dump", "i1", document(c.processes)});
    EXPECT_EQ(o.status, c.status);
    EXPECT_EQ(o.err, c.err);
    EXPECT_EQ(o.out, c.out);
  }
}

TEST_F(RunDocuments, TimeoutStopsLikeTheStopCommand) {
  const auto t0 = std::chrono::steady_clock::now();
  Outcome o = run({"--timeout", "0.3", "--dump", "i2",
                   document({"*Start\n", "*P1\ni1 = i1 + 1\n", "*End\ntrace(\"Ende\")\ni2 = 1\n"})});
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(o.out, "Ende\ni2 = 1\n");
  EXPECT_GE(seconds, 0.3);
  EXPECT_LT(seconds, 5.0);

  // An end process that does not end is ended by the next timeout period.
  o = run({"--timeout", "0.2", document({"*Start\n", "*P1\n", "*End\ntrace(\"Ende\")\n:l\ngoto :l\n"})});
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(o.out, "Ende\n");
}

TEST_F(RunDocuments, SigintStopsAndASecondOneAborts) {
  pid_t pid = spawn({"--dump", "i5", document({"*Start\ntrace(\"l\xE4uft\")\n", "*P1\ni1 = i1 + 1\n",
                                               "*End\ntrace(\"Ende\")\ni5 = 5\n"})});
  if (!waitForOutput("l\xC3\xA4uft\n")) {
    kill(pid, SIGKILL);
    finish(pid);
    FAIL() << "no trace line";
  }
  kill(pid, SIGINT);
  Outcome o = finish(pid);
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(o.out, "l\xC3\xA4uft\nEnde\ni5 = 5\n");

  pid = spawn({document({"*Start\n", "*P1\n", "*End\ntrace(\"Ende\")\n:l\ngoto :l\n"})});
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  kill(pid, SIGINT);
  const bool ended = waitForOutput("Ende\n");
  kill(pid, ended ? SIGINT : SIGKILL);
  o = finish(pid);
  ASSERT_TRUE(ended);
  EXPECT_EQ(o.status, 130);
  EXPECT_EQ(o.out, "Ende\n");
}

TEST_F(RunDocuments, ProgramLoadsAndStartsTheNextDocument) {
  document({"*Start\ntrace(\"zwei\")\ni1 = 2\nexit()\n", "*End\ntrace(\"Ende zwei\")\n"}, "zweites.mvl");
  Outcome o = run({"--dump", "i1,i2",
                   document({"*Start\ntrace(\"eins\")\ni2 = 7\nprogram(\"zweites\")\n", "*End\ntrace(\"Ende eins\")\n"})});
  EXPECT_EQ(o.status, 0) << o.err;
  // The end process of the first document does not run; its values are gone.
  EXPECT_EQ(o.out, "eins\nzwei\nEnde zwei\ni1 = 2\ni2 = 0\n");

  o = run({document({"*Start\nprogram(\"fehlt\")\n", "*End\n"})});
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.err, "Message: fehlt.mvl kann nicht geladen werden\n");
}

TEST_F(RunDocuments, RestartAndMultitask) {
  Outcome o = run({"--dump", "i1,i2,i3",
                   document({"*Start\ni1 = i1 + 1\n", "*P1\ni2 = i2 + 1\nif i1 >= 3\nexit()\nendif\nrestart\n",
                             "*P2\nmultitask(0)\ni3 = i2\nmultitask(1)\nstop(*)\n", "*End\n"})});
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(o.out, "i1 = 3\ni2 = 3\ni3 = 1\n");
}

TEST_F(RunDocuments, ProcessControlRowsAreListedAsImplemented) {
  Outcome o = run({"--builtins"});
  for (const char* name : {"start", "startw", "run", "stop", "end", "exit", "winexit", "mvexit", "errorexit",
                           "program", "multitask", "waittime", "signalon", "signaloff", "keyon", "keyoff",
                           "getonkey", "mathdefaulton", "mathdefaultoff", "breakon", "breakoff", "debug", "trace",
                           "closef", "ifwait", "ifsignal", "ifnotsignal"})
    EXPECT_NE(o.out.find(std::string("\n") + name + "\timplemented\n"), std::string::npos) << name;
}

}  // namespace
#endif
