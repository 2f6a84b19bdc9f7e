// Statistics rows through the headless runner: each document runs in a real
// morvel-run process and its --dump output is compared.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "common/process_output.h"

#ifdef MORVEL_RUN_PATH
namespace {

namespace fs = std::filesystem;

struct StatCase {
  const char* name;
  const char* program;   // start process body
  const char* dump;      // --dump list
  const char* expected;  // standard output
  int status = 0;
  const char* error = "";  // beginning of standard error
};

using morvel::test::slurp;

class StatisticsRun : public ::testing::TestWithParam<StatCase> {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/morvel-statrun-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override { fs::remove_all(dir_); }

  fs::path dir_;
};

TEST_P(StatisticsRun, DumpAfterTheRun) {
  const StatCase& c = GetParam();
  std::string doc = "WindowPlc:0 0 100 100 0 0\r\nProgram:\r\n$Prozess:\r\n*Start\r\n";
  std::istringstream lines(c.program);
  for (std::string line; std::getline(lines, line);) doc += line + "\r\n";
  doc += "exit()\r\n$ProzessEnde:\r\n$Prozess:\r\n*End\r\n$ProzessEnde:\r\nEnd:\r\nLayout:\r\nName:L\r\nEnd:\r\n";
  std::ofstream(dir_ / "doc.mvl", std::ios::binary) << doc;
  const std::string cmd = "cd '" + dir_.string() + "' && MORVEL_SETTINGS='" + (dir_ / "settings.conf").string() +
                          "' timeout 20 '" MORVEL_RUN_PATH "' --dump '" + c.dump + "' doc.mvl >out 2>err";
  const int rc = std::system(cmd.c_str());
  EXPECT_EQ(WIFEXITED(rc) ? WEXITSTATUS(rc) : -1, c.status);
  EXPECT_EQ(slurp(dir_ / "out"), c.expected);
  const std::string err = slurp(dir_ / "err");
  EXPECT_EQ(err.rfind(c.error, 0), 0u) << err;
  if (c.status == 0) {
    EXPECT_EQ(err, "");
  }
}

const StatCase kCases[] = {
    {"Eff", "a1 = 1\na1 &= 2\na1 &= 3\na1 &= 4\nv1 = eff(a1)\nv2 = sum(a1)", "v1,v2",
     "v1 = 3.1622776601683795\nv2 = 10\n"},
    {"MomentAndGmean", "a1 = 1\na1 &= 2\na1 &= 3\nv1 = moment(a1, 2)\na2 = -2\na2 &= 8\nv2 = gmean(a2)", "v1,v2",
     "v1 = 7\nv2 = 4\n"},
    {"MeanCoversTheDuration", "a1 = 1\na1 &= 4\nsetxdist(a1, 0.25)\nsetoffset(a2, 3)\na2 = mean(a1)", "a2",
     "a2 = [len=1 kind=0 xdist=0.5 xoff=3] 2.5\n"},
    {"Levelcr", "a1 = 0\na1 &= 9\na1 &= 0\na2 = levelcr(a1, 0, 9, 10, 0.5, 0)", "a2",
     "a2 = [len=10 kind=0 xdist=1 xoff=0] 0 1 1 1 1 1 1 1 1 0\n"},
    {"Quant", "a1 = -3\na1 &= -1\na1 &= 0\na1 &= 9.99\na1 &= 10\na2 = quant(a1, 0, 10, 5)", "a2",
     "a2 = [len=5 kind=0 xdist=2 xoff=0] 50 0 0 0 50\n"},
    {"Maxxy", "a1 = 1\na1 &= 5\na1 &= 5\nsetoffset(a1, 10)\nsetxdist(a1, 0.5)\nmaxxy(a1, v1, v2)", "v1,v2",
     "v1 = 10.5\nv2 = 5\n"},
    {"DelminmaxAndTrigger",
     "a1 = 3\na1 &= 1\na1 &= 2\na1 &= 5\na2 = delminmax(a1, 1, 1)\na3 = 0\na3 &= 2\na3 &= 0\na3 &= 2\n"
     "a4 = trigger(a3, 1)\nv1 = trigger(a3, 1)",
     "a2,a4,v1", "a2 = [len=2 kind=0 xdist=1 xoff=0] 2 3\na4 = [len=2 kind=0 xdist=1 xoff=0] 1 3\nv1 = 1\n"},
    {"Fifoin", "a1 = 1\na1 &= 2\na1 &= 3\na2 = 4\na2 &= 5\na2 &= 6\nsetlen(a3, 0)\nfifoin(a3, a1, 4)\n"
     "fifoin(a3, a2, 4)",
     "a3", "a3 = [len=4 kind=0 xdist=1 xoff=0] 3 4 5 6\n"},
    {"Chklimit", "i1 = chklimit(-11, -10, 10, 1)\ni2 = chklimit(-11, -10, 10)", "i1,i2", "i1 = 1\ni2 = 0\n"},
    {"SumOfNothing", "a1 = 1\nsetlen(a1, 0)\nv1 = sum(a1)", "v1", "v1 = 0\n", 3,
     "Runtime error 43 (process 0, line 3)"},
    {"StddevOfOne", "a1 = 1\nv1 = stddev(a1)", "v1", "v1 = 0\n", 3, "Runtime error 8 (process 0, line 2)"},
    {"DelminmaxTooMany", "a1 = 1\na2 = delminmax(a1, 1, 1)", "a2", "a2 = [len=0 kind=0 xdist=1 xoff=0]\n", 3,
     "Runtime error 102 "},
    {"QuantWidth", "a1 = 1\na2 = quant(a1, 1, 1, 4)", "a2", "a2 = [len=0 kind=0 xdist=1 xoff=0]\n", 3,
     "Runtime error 7 "},
};

INSTANTIATE_TEST_SUITE_P(Table, StatisticsRun, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
#endif  // MORVEL_RUN_PATH
