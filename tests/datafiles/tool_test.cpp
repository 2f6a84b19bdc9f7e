// The morvel-data program, run as a separate process.
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <fstream>
#include <sstream>
#include <vector>

#include "common/process_output.h"
#include "fixtures.h"

extern char** environ;

namespace {

using Result = morvel::test::Outcome;
using morvel::test::slurp;

Result run(const fixtures::TempDir& dir, std::vector<std::string> args) {
  args.insert(args.begin(), MORVEL_DATA_TOOL);
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::string out = dir / "stdout", err = dir / "stderr";
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&fa, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  Result r;
  pid_t pid;
  if (posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(), environ) == 0) {
    int st = 0;
    waitpid(pid, &st, 0);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  }
  posix_spawn_file_actions_destroy(&fa);
  r.out = slurp(out);
  r.err = slurp(err);
  return r;
}

std::string twoChannelFile() {
  std::string data = fixtures::samples<int16_t>({1, -2, 3, 0x55, 10, 20, 30, 0x2A});
  std::string h = fixtures::lines({"beginheader:", "typ:int16", "clk:0.001", "endheader:", "beginchannel:",
                                   "channel_offset:32", "frames:4", "name:7 Drehzahl", "unit:1/min", "pchan:3",
                                   "ampli:0.1", "offset:5", "endchannel:", "beginchannel:", "channel_offset:40",
                                   "frames:4", "name:Temperatur vorn", "unit:\xB0" "C", "pchan:12", "clk:0.1",
                                   "endchannel:"});
  return fixtures::vdt(data, h);
}

TEST(Tool, Info) {
  fixtures::TempDir dir;
  fixtures::writeFile(dir / "a.vdt", twoChannelFile());
  Result r = run(dir, {"info", dir / "a.vdt"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "channels\t2\n"
            "0\tDrehzahl\t1/min\t4\t0.001\t3\n"
            "1\tTemperatur vorn\t\xC2\xB0" "C\t4\t0.10000000000000001\t12\n");
  EXPECT_EQ(r.err, "");
}

TEST(Tool, Dump) {
  fixtures::TempDir dir;
  fixtures::writeFile(dir / "a.vdt", twoChannelFile());
  struct Case {
    std::vector<std::string> args;
    const char* out;
  } cases[] = {
      {{"0"}, "5.0999999999999996\n4.7999999999999998\n5.2999999999999998\n13.5\n"},
      {{"1", "--from", "1", "--count", "2"}, "20\n30\n"},
      {{"1", "--count", "0"}, ""},
      {{"1", "--from", "3", "--count", "10"}, "42\n"},
      {{"0", "--bit", "2"}, "0\n1\n0\n1\n"},
      {{"0", "--from", "9"}, ""},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args{"dump", dir / "a.vdt"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    Result r = run(dir, args);
    EXPECT_EQ(r.status, 0) << c.args[0] << r.err;
    EXPECT_EQ(r.out, c.out) << c.args.size();
  }
}

TEST(Tool, Failures) {
  fixtures::TempDir dir;
  fixtures::writeFile(dir / "a.vdt", twoChannelFile());
  std::string zero = twoChannelFile();
  fixtures::putAt(zero, 8, uint64_t{0});
  fixtures::writeFile(dir / "zero.vdt", zero);

  Result missing = run(dir, {"info", dir / "fehlt.vdt"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.out, "");
  EXPECT_NE(missing.err.find("fehlt.vdt"), std::string::npos);
  EXPECT_NE(missing.err.find("ge\xC3\xB6" "ffnet"), std::string::npos);

  Result headless = run(dir, {"info", dir / "zero.vdt"});
  EXPECT_EQ(headless.status, 1);
  EXPECT_EQ(headless.err.rfind("Message: Headeroffset == 0\n", 0), 0u) << headless.err;

  EXPECT_EQ(run(dir, {"dump", dir / "a.vdt", "2"}).status, 1);
  EXPECT_EQ(run(dir, {"dump", dir / "a.vdt", "-1"}).status, 1);
  for (std::vector<std::string> bad : {std::vector<std::string>{}, {"info"}, {"list", "x"}, {"dump", "x"},
                                       {"dump", "x", "a"}, {"dump", "x", "0", "--from"},
                                       {"dump", "x", "0", "--count", "1x"}, {"dump", "x", "0", "--bit", "64"},
                                       {"dump", "x", "0", "--step", "1"}}) {
    Result r = run(dir, bad);
    EXPECT_EQ(r.status, 2) << bad.size();
    EXPECT_NE(r.err.find("usage"), std::string::npos);
  }
}

}  // namespace
