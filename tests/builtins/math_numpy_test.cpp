// Cross-check of the elementwise rows against numpy on 10^5 random samples:
// abs, sqrt and pow within 1 ulp, the transcendental functions within 4.
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "builtin_test_util.h"

namespace morvel::builtins::testing {
namespace {

namespace fs = std::filesystem;

int64_t ulps(double a, double b) {
  if (a == b || (std::isnan(a) && std::isnan(b))) return 0;
  if (std::isnan(a) || std::isnan(b) || std::signbit(a) != std::signbit(b)) return INT64_MAX;
  int64_t ia, ib;
  std::memcpy(&ia, &a, 8);
  std::memcpy(&ib, &b, 8);
  return ia > ib ? ia - ib : ib - ia;
}

struct Row {
  const char* name;
  int slot;  // result array of the statement below
  const char* statement;
  int64_t maxUlps;
};

// In the order numpy_elementwise.py writes them. a1 = x, a2 = y, a3 = |x|,
// a4 = x / 25 clipped to [-1, 1].
const Row kRows[] = {
    {"abs", 10, "a10 = abs(a1)", 1},      {"sqrt", 11, "a11 = sqrt(a3)", 1},
    {"pow", 12, "a12 = pow(a3, 1.7)", 1}, {"sin", 13, "a13 = sin(a1)", 4},
    {"cos", 14, "a14 = cos(a1)", 4},      {"tan", 15, "a15 = tan(a1)", 4},
    {"asin", 16, "a16 = asin(a4)", 4},    {"acos", 17, "a17 = acos(a4)", 4},
    {"atan", 18, "a18 = atan(a1)", 4},    {"atan2", 19, "a19 = atan2(a1, a2)", 4},
    {"exp", 20, "a20 = exp(a1)", 4},      {"ln", 21, "a21 = ln(a3)", 4},
    {"log", 22, "a22 = log(a3)", 4},
};

using NumpyCrossCheck = BuiltinTest;

TEST_F(NumpyCrossCheck, ElementwiseRowsAgreeWithNumpy) {
  if (access("/usr/bin/python3", X_OK) != 0 ||
      std::system("/usr/bin/python3 -c 'import numpy' >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "python3-numpy not installed";
  constexpr int n = 100000;
  std::mt19937_64 rng(20261211);
  std::uniform_real_distribution<double> d(-25.0, 25.0);
  std::vector<double> x(n), y(n), ax(n), unit(n);
  for (int k = 0; k < n; ++k) {
    x[k] = d(rng);
    y[k] = d(rng);
    ax[k] = std::fabs(x[k]);
    unit[k] = std::fmin(std::fmax(x[k] / 25.0, -1.0), 1.0);
  }

  char dir[] = "/tmp/morvel-numpy-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const fs::path in = fs::path(dir) / "in.f8", out = fs::path(dir) / "out.f8";
  {
    std::ofstream f(in, std::ios::binary);
    f.write(reinterpret_cast<const char*>(x.data()), n * 8);
    f.write(reinterpret_cast<const char*>(y.data()), n * 8);
  }
  const std::string cmd =
      "/usr/bin/python3 '" MORVEL_NUMPY_CHECK "' '" + in.string() + "' '" + out.string() + "'";
  const int rc = std::system(cmd.c_str());
  std::vector<double> reference(static_cast<size_t>(n) * std::size(kRows));
  {
    std::ifstream f(out, std::ios::binary);
    f.read(reinterpret_cast<char*>(reference.data()), static_cast<std::streamsize>(reference.size() * 8));
    EXPECT_EQ(f.gcount(), static_cast<std::streamsize>(reference.size() * 8));
  }
  fs::remove_all(dir);
  ASSERT_EQ(rc, 0) << cmd;

  std::string program;
  for (const Row& r : kRows) program += std::string(r.statement) + "\n";
  beforeRun_ = [&] {
    setSamples(1, x);
    setSamples(2, y);
    setSamples(3, ax);
    setSamples(4, unit);
  };
  ASSERT_EQ(run(program), 0);
  for (size_t row = 0; row < std::size(kRows); ++row) {
    const Row& r = kRows[row];
    const ValueArray& a = array(r.slot);
    ASSERT_EQ(a.length, n) << r.name;
    int64_t worst = 0;
    int worstAt = 0;
    for (int k = 0; k < n; ++k) {
      const int64_t u = ulps(a.data[k], reference[row * n + k]);
      if (u > worst) worst = u, worstAt = k;
    }
    EXPECT_LE(worst, r.maxUlps) << r.name << " at sample " << worstAt << ": " << a.data[worstAt]
                                << " vs numpy " << reference[row * n + worstAt];
    RecordProperty(std::string("max_ulps_") + r.name, static_cast<int>(worst));
  }
}

}  // namespace
}  // namespace morvel::builtins::testing
