// Table tests through the headless runner: a document runs in a real
// morvel-run process and its --dump output is compared line by line.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
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

struct RunCase {
  const char* name;
  const char* program;   // start process body, lines separated by \n
  const char* dump;      // --dump list
  const char* expected;  // standard output
  int status = 0;
  const char* error = "";  // beginning of standard error
  const char* locale = nullptr;
};

class MathRun : public ::testing::TestWithParam<RunCase> {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/morvel-mathrun-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string document(const std::string& body) {
    std::string d = "WindowPlc:0 0 100 100 0 0\r\nProgram:\r\n$Prozess:\r\n*Start\r\n";
    std::istringstream lines(body);
    for (std::string line; std::getline(lines, line);) d += line + "\r\n";
    d += "exit()\r\n$ProzessEnde:\r\n$Prozess:\r\n*End\r\n$ProzessEnde:\r\nEnd:\r\nLayout:\r\nName:L\r\nEnd:"
         "\r\n";
    const fs::path p = dir_ / "doc.mvl";
    std::ofstream(p, std::ios::binary) << d;
    return p.string();
  }

  Outcome run(const std::string& doc, const std::string& dump, const char* locale) {
    std::string cmd = "cd '" + dir_.string() + "' && ";
    if (locale) cmd += std::string("LC_ALL=") + locale + " ";
    cmd += "MORVEL_SETTINGS='" + (dir_ / "settings.conf").string() +
           "' timeout 20 '" MORVEL_RUN_PATH "' --dump '" + dump + "' '" + doc + "' >'" +
           (dir_ / "out").string() + "' 2>'" + (dir_ / "err").string() + "'";
    const int rc = std::system(cmd.c_str());
    Outcome o;
    o.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    o.out = slurp(dir_ / "out");
    o.err = slurp(dir_ / "err");
    return o;
  }

  // An f file as the value store writes it: kind, x distance, x offset, samples.
  void writeFileArray(int slot, uint16_t kind, const std::vector<double>& samples) {
    char name[16];
    std::snprintf(name, sizeof name, "f%02d.tmp", slot);
    std::ofstream out(dir_ / name, std::ios::binary);
    const float xDistance = 1.0f, xOffset = 0.0f;
    out.write(reinterpret_cast<const char*>(&kind), 2);
    out.write(reinterpret_cast<const char*>(&xDistance), 4);
    out.write(reinterpret_cast<const char*>(&xOffset), 4);
    out.write(reinterpret_cast<const char*>(samples.data()),
              static_cast<std::streamsize>(samples.size() * 8));
  }

  fs::path dir_;
};

TEST_P(MathRun, DumpAfterTheRun) {
  const RunCase& c = GetParam();
  writeFileArray(1, 1, {1, 2, 3, 4});
  writeFileArray(2, 1, {5, 6, 7, 8});
  const Outcome o = run(document(c.program), c.dump, c.locale);
  EXPECT_EQ(o.status, c.status) << o.err;
  EXPECT_EQ(o.out, c.expected);
  EXPECT_EQ(o.err.rfind(c.error, 0), 0u) << o.err;
  if (c.status == 0) {
    EXPECT_EQ(o.err, "");
  }
}

const RunCase kCases[] = {
    {"Rand", "a1 = rand(3)", "a1",
     "a1 = [len=3 kind=0 xdist=0.0010000000474974513 xoff=0] -0.99749755859375 0.12713623046875 "
     "-0.6134033203125\n"},
    {"RandAfterOtherCalls", "v1 = rand(1)\na1 = rand(2)", "v1,a1",
     "v1 = -0.99749755859375\n"
     "a1 = [len=2 kind=0 xdist=0.0010000000474974513 xoff=0] 0.12713623046875 -0.6134033203125\n"},
    {"Mod", "i1 = mod(-7,3)\nv1 = mod(7.9,2)\ni2 = mod(5,0)", "i1,v1,i2", "i1 = -1\nv1 = 1\ni2 = 0\n"},
    {"And", "a2 = 5.7\na2 &= -1\na1 = and(a2,3)", "a1", "a1 = [len=2 kind=0 xdist=1 xoff=0] 1 3\n"},
    {"Poly", "a1 = 0\na1 &= 1\na1 &= 2\na2 = poly(a1,1,2,3)", "a2",
     "a2 = [len=3 kind=0 xdist=1 xoff=0] 3 5 7\n"},
    {"Int", "a2 = 1\na2 &= 1\na2 &= 1\nsetxdist(a2, 0.5)\na1 = int(a2)", "a1",
     "a1 = [len=3 kind=0 xdist=0.5 xoff=0] 0.5 1 1.5\n"},
    {"ComplexMultiply", "a1 = f1\na2 = f2\na3 = a1 * a2", "a3",
     "a3 = [len=4 kind=1 xdist=1 xoff=0] -7 16 -11 52\n"},
    {"SqrtOfMinusOne", "a2 = 4\na2 &= -1\na1 = 9\na1 = sqrt(a2)", "a1",
     "a1 = [len=1 kind=0 xdist=1 xoff=0] 9\n", 3, "Runtime error 10 (process 0, line 4)"},
    {"OffsetKeptBySinTakenByLog",
     "a2 = 10\na2 &= 100\nsetoffset(a2, 5)\nsetoffset(a1, 3)\nsetoffset(a3, 3)\na1 = sin(a2)\na3 = log(a2)\n"
     "a1 = a1 - a1",
     "a1,a3", "a1 = [len=2 kind=0 xdist=1 xoff=3] 0 0\na3 = [len=2 kind=0 xdist=1 xoff=5] 1 2\n"},
    {"LogOfZeroWithSubstitutes",
     "a2 = 0\na2 &= 1000\nmathdefaulton()\na1 = log(a2)\nmathdefaultoff()\na3 = log(a2)", "a1,a3",
     "a1 = [len=2 kind=0 xdist=1 xoff=0] 0 3\na3 = [len=2 kind=0 xdist=1 xoff=0] -inf 3\n"},
    {"ShiftNegative", "a2 = 1\na1 = shift(a2, -1)", "a1", "a1 = [len=0 kind=0 xdist=1 xoff=0]\n", 3,
     "Runtime error 1 "},
    {"FillNegativeCount", "fill(a1, 0, -1, 0)", "a1", "a1 = [len=0 kind=0 xdist=1 xoff=0]\n", 3,
     "Runtime error 4 "},
    {"Replace", "s1 = \"aaa\"\nreplace(s1, \"aa\", \"b\")", "s1", "s1 = \"ba\"\n"},
    {"AtofGerman", "v1 = atof(\"1,5\")\ns1 = \"2,75\"\nv2 = atof(s1)", "v1,v2", "v1 = 1\nv2 = 2\n", 0, "",
     "de_DE.UTF-8"},
    {"Tolower",
     "s1 = \"\xC4"
     "BC\"\ntolower(s1)",
     "s1",
     "s1 = \"\xC4"
     "bc\"\n"},
    {"Atoi", "s1 = \"ab34\"\ni1 = atoi(2, s1)\ni2 = atoi(9, s1)\ni3 = htoi(\"0x1f\")", "i1,i2,i3",
     "i1 = 34\ni2 = 0\ni3 = 31\n"},
};

INSTANTIATE_TEST_SUITE_P(Table, MathRun, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(MathRun, RandGivesTheSameSequenceInEveryRun) {
  const std::string doc = document("a1 = rand(5)");
  const Outcome first = run(doc, "a1", nullptr);
  const Outcome second = run(doc, "a1", nullptr);
  EXPECT_EQ(first.status, 0);
  EXPECT_EQ(first.out, second.out);
  EXPECT_NE(first.out.find("-0.99749755859375 0.12713623046875 -0.6134033203125"), std::string::npos);
}

}  // namespace
#endif  // MORVEL_RUN_PATH
