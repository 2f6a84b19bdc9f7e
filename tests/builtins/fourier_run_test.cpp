// Spectrum, filter and smoothing rows through the headless runner: a document
// runs in a real morvel-run process (with the interpreter's run-end
// clean-up) and its --dump output is compared.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "common/process_output.h"

#ifdef MORVEL_RUN_PATH
namespace fs = std::filesystem;

namespace {

struct DocCase {
  const char* name;
  const char* start;    // start process body
  const char* cyclic;   // body of a cyclic process (may be empty)
  const char* dump;
  const char* expected;
  int status = 0;
  const char* error = "";
};

class SpectrumRun : public ::testing::TestWithParam<DocCase> {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/morvel-dsprun-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override { fs::remove_all(dir_); }

  static void lines(std::string& d, const std::string& body) {
    std::istringstream in(body);
    for (std::string line; std::getline(in, line);) d += line + "\r\n";
  }

  static std::string slurp(const fs::path& p) { return morvel::test::slurp(p); }

  fs::path dir_;
};

TEST_P(SpectrumRun, DumpAfterTheRun) {
  const DocCase& c = GetParam();
  std::string d = "WindowPlc:0 0 100 100 0 0\r\nProgram:\r\n$Prozess:\r\n*Start\r\n";
  lines(d, c.start);
  if (*c.cyclic == 0) d += "exit()\r\n";
  d += "$ProzessEnde:\r\n";
  if (*c.cyclic != 0) {
    d += "$Prozess:\r\n*P1\r\n";
    lines(d, c.cyclic);
    d += "$ProzessEnde:\r\n";
  }
  d += "$Prozess:\r\n*End\r\n$ProzessEnde:\r\nEnd:\r\nLayout:\r\nName:L\r\nEnd:\r\n";
  std::ofstream(dir_ / "doc.mvl", std::ios::binary) << d;
  const std::string cmd = "cd '" + dir_.string() + "' && MORVEL_SETTINGS='" + (dir_ / "settings.conf").string() +
                          "' timeout 20 '" MORVEL_RUN_PATH "' --dump '" + c.dump + "' doc.mvl >out 2>err";
  const int rc = std::system(cmd.c_str());
  const std::string out = slurp(dir_ / "out"), err = slurp(dir_ / "err");
  EXPECT_EQ(WIFEXITED(rc) ? WEXITSTATUS(rc) : -1, c.status) << err;
  EXPECT_EQ(out, c.expected);
  EXPECT_EQ(err.rfind(c.error, 0), 0u) << err;
}

const DocCase kCases[] = {
    {"FftOfAnEmptyArray", "a1 = fft(a2, 16, 0)", "", "a1", "a1 = [len=0 kind=0 xdist=1 xoff=0]\n", 3,
     "Runtime error 9 (process 0, line 1)"},
    {"RevspecOfASpectrum",
     "setlen(a2, 16)\nfill(a2, 0, 16, 0)\na1 = fft(a2, 16, 2)\nsetxdist(a1, 10)\na3 = revspec(a1)\n"
     "v1 = getoffset(a3)\nv2 = getlen(a3)",
     "", "v1,v2", "v1 = -70\nv2 = 32\n"},
    {"MavgSpan4",
     "a2 = 1\na2 &= 2\na2 &= 3\na2 &= 4\na2 &= 5\na2 &= 6\na1 = mavg(a2, 4)", "", "a1",
     "a1 = [len=6 kind=0 xdist=1 xoff=0] 2 2.5 3.5 4.5 5 5.5\n"},
    {"Pid", "setpid(0,2,0,0)\nv1 = pid(0,10,7)\nsetpid(1,0,1,0)\nv2 = pid(1,1,0)\nv2 = pid(1,1,0)", "", "v1,v2",
     "v1 = 6\nv2 = 2\n"},
    {"AvgOfThreeBlocks", "a2 = 1\na1 = avg(a2)\na2 = 2\na1 = avg(a2)\na2 = 3\na1 = avg(a2)", "", "a1",
     "a1 = [len=1 kind=0 xdist=1 xoff=0] 2\n"},
    // The filter bank lives through the cycles of a process; the run ends
    // with the stop after the cycles and its clean-up frees the records.
    {"FilterAcrossCycles", "setfilter(0, 0, 0, 10)\nsetfilter(1, 1, 4, 10)\na2 = 1.5\na2 &= -2",
     "a1 = filter(0, a2)\na3 = filter(1, a2)\nexit()", "a1", "a1 = [len=2 kind=0 xdist=1 xoff=0] 1.5 -2\n"},
    {"FilterNotSet", "a2 = 1\na1 = filter(3, a2)", "", "a1", "a1 = [len=0 kind=0 xdist=1 xoff=0]\n", 3,
     "Runtime error 54 (process 0, line 2)"},
    {"ComplexRows", "a2 = 3\na2 &= 4\na3 = 1\na3 &= 2\na1 = complex(a2, a3)\na4 = betr(a1)\na5 = konjc(a1)", "",
     "a4,a5", "a4 = [len=2 kind=0 xdist=1 xoff=0] 3.1622776601683795 4.4721359549995796\n"
              "a5 = [len=4 kind=1 xdist=1 xoff=0] 3 -1 4 -2\n"},
};

INSTANTIATE_TEST_SUITE_P(Documents, SpectrumRun, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<DocCase>& info) { return std::string(info.param.name); });

}  // namespace
#endif
