// The headless runner as a user calls it: a real process on real documents.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "common/process_output.h"

#ifdef MORVEL_RUN_PATH
namespace fs = std::filesystem;

namespace {

using morvel::test::Outcome;
using morvel::test::slurp;

class MorvelRun : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/morvel-run-XXXXXX";
    dir = mkdtemp(tmpl);
  }
  void TearDown() override { fs::remove_all(dir); }

  Outcome run(const std::vector<std::string>& args) {
    std::string cmd = "cd '" + dir.string() + "' && MORVEL_SETTINGS='" + (dir / "settings.conf").string() +
                      "' '" MORVEL_RUN_PATH "'";
    for (const auto& a : args) cmd += " '" + a + "'";
    cmd += " >'" + (dir / "out").string() + "' 2>'" + (dir / "err").string() + "'";
    int rc = std::system(cmd.c_str());
    Outcome o;
    o.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    o.out = slurp(dir / "out");
    o.err = slurp(dir / "err");
    return o;
  }

  // A document with the given process texts and one layout.
  std::string document(const std::vector<std::string>& processes, bool withLayout = true) {
    std::string d = "WindowPlc:0 0 100 100 0 0\r\nProgram:\r\n";
    for (const auto& p : processes) d += "$Prozess:\r\n" + p + "$ProzessEnde:\r\n";
    d += "End:\r\n";
    if (withLayout) d += "Layout:\r\nName:L\r\nEnd:\r\n";
    fs::path p = dir / ("doc" + std::to_string(counter++) + ".mvl");
    std::ofstream(p, std::ios::binary) << d;
    return p.string();
  }

  fs::path dir;
  int counter = 0;
};

TEST_F(MorvelRun, BundledExamplesCompile) {
  int seen = 0;
  for (const auto& e : fs::directory_iterator(MORVEL_EXAMPLES_DIR)) {
    if (e.path().extension() != ".mvl") continue;
    ++seen;
    Outcome o = run({"--compile-only", e.path().string()});
    EXPECT_EQ(o.status, 0) << e.path() << "\n" << o.err;
    EXPECT_EQ(o.err, "") << e.path();
  }
  EXPECT_GE(seen, 2);
}

TEST_F(MorvelRun, CompileErrorsAreReportedWithProcessAndLine) {
  struct Case {
    std::vector<std::string> processes;
    std::string line;
  } cases[] = {
      {{"*Start\nv1 = 1\nabs (v1)\n", "*End\n"}, "Compile error 9 (process 0, line 2): "},
      {{"*Start\n", "*Prozess1\n; x\n\ngoto loop\n", "*End\n"}, "Compile error 34 (process 1, line 3): "},
      {{"*Start\n", "*End\nfor i1 = 1 to 3\n"}, "Compile error 7 (process 1, line "},
  };
  for (const auto& c : cases) {
    Outcome o = run({"--compile-only", document(c.processes)});
    EXPECT_EQ(o.status, 2) << o.err;
    EXPECT_EQ(o.err.rfind(c.line, 0), 0u) << o.err;
    EXPECT_EQ(std::count(o.err.begin(), o.err.end(), '\n'), 1) << o.err;
    EXPECT_EQ(o.err.find("Ung\xC3\xBCltige Fehlernummer"), std::string::npos) << o.err;  // a text was found
  }
}

TEST_F(MorvelRun, UnreadableOrLayoutlessDocuments) {
  Outcome missing = run({"--compile-only", (dir / "fehlt.mvl").string()});
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("Message: Kann "), std::string::npos) << missing.err;
  EXPECT_NE(missing.err.find("nicht \xC3\xB6" "ffnen"), std::string::npos) << missing.err;

  Outcome bare = run({"--compile-only", document({"*Start\n", "*End\n"}, false)});
  EXPECT_EQ(bare.status, 1);
  EXPECT_EQ(bare.err, "Message: Die Anwendung muss mindestens ein Layout haben\n");

  Outcome bad = run({"--timeout"});
  EXPECT_EQ(bad.status, 64);
}

TEST_F(MorvelRun, BuiltinsAndDump) {
  Outcome b = run({"--builtins"});
  EXPECT_EQ(b.status, 0);
  std::istringstream lines(b.out);
  std::string line;
  int rows = 0;
  while (std::getline(lines, line)) {
    ++rows;
    auto tab = line.find('\t');
    ASSERT_NE(tab, std::string::npos) << line;
    std::string state = line.substr(tab + 1);
    EXPECT_TRUE(state == "implemented" || state == "pending") << line;
  }
  EXPECT_EQ(rows, 244);
  EXPECT_EQ(b.out.rfind("abs\t", 0), 0u);

  // Literal values are in their slots after compiling; names resolve.
  Outcome d = run({"--compile-only", "--dump", "v3999, v_x,i1,s2,a0", document({"*Start\nv_a = 2.5\n", "*End\n"})});
  EXPECT_EQ(d.status, 0) << d.err;
  EXPECT_EQ(d.out, "v3999 = 0\nv_x = ?\ni1 = 0\ns2 = \"\"\na0 = [len=0 kind=0 xdist=1 xoff=0]\n");
}

}  // namespace
#endif
