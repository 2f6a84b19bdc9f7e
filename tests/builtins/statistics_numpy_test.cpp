// Cross-check of the statistics rows against independent references on
// random data: math.fsum sums and means, numpy's standard deviation,
// central moments, scipy's geometric mean, numpy's extremes and classes
// (statistics_reference.py, run with /usr/bin/python3).
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "builtin_test_util.h"

namespace morvel::builtins::testing {
namespace {

namespace fs = std::filesystem;

constexpr double kUnit = 0x1p-53;  // unit roundoff of double

// Reference script beside this file.
const fs::path kScript = fs::path(__FILE__).parent_path() / "statistics_reference.py";

double sumOf(const std::vector<double>& x, double (*term)(double)) {
  double s = 0.0;
  for (double v : x) s += std::fabs(term(v));
  return s;
}

using StatisticsCrossCheck = BuiltinTest;

TEST_F(StatisticsCrossCheck, AgreesWithFsumNumpyAndScipy) {
  if (access("/usr/bin/python3", X_OK) != 0 ||
      std::system("/usr/bin/python3 -c 'import numpy, scipy.stats' >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "python3-numpy or python3-scipy not installed";
  constexpr int n = 100003;
  std::mt19937_64 rng(20261211);
  std::uniform_real_distribution<double> uniform(-10.0, 10.0);
  std::normal_distribution<double> normal(1000.0, 1.5);
  std::vector<double> x(n), y(n);
  for (int k = 0; k < n; ++k) {
    x[k] = uniform(rng);
    y[k] = normal(rng);
  }

  char dir[] = "/tmp/morvel-stats-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const fs::path in = fs::path(dir) / "in.f8", out = fs::path(dir) / "out.f8";
  {
    std::ofstream f(in, std::ios::binary);
    f.write(reinterpret_cast<const char*>(x.data()), n * 8);
    f.write(reinterpret_cast<const char*>(y.data()), n * 8);
  }
  const std::string cmd = "/usr/bin/python3 '" + kScript.string() + "' '" + in.string() + "' '" + out.string() + "'";
  const int rc = std::system(cmd.c_str());
  constexpr int kValues = 17, kClasses = 13;
  std::vector<double> ref(kValues + kClasses);
  {
    std::ifstream f(out, std::ios::binary);
    f.read(reinterpret_cast<char*>(ref.data()), static_cast<std::streamsize>(ref.size() * 8));
    EXPECT_EQ(f.gcount(), static_cast<std::streamsize>(ref.size() * 8));
  }
  fs::remove_all(dir);
  ASSERT_EQ(rc, 0) << cmd;

  beforeRun_ = [&] {
    setSamples(1, x);
    setSamples(2, y);
  };
  ASSERT_EQ(run("v1 = sum(a1)\nv2 = mean(a1)\nv3 = stddev(a1)\nv4 = eff(a1)\nv5 = moment(a1, 3)\n"
                "v6 = zmoment(a1, 3)\nv7 = zmoment(a1, 2)\nv8 = gmean(a1)\nv9 = max(a1)\nv10 = min(a1)\n"
                "v11 = amp(a1)\nmaxiy(a1, i1, v12)\nminiy(a1, i2, v13)\nv14 = stddev(a2)\nv15 = mean(a2)\n"
                "v16 = moment(a2, 2.5)\nv17 = gmean(a2)\na3 = quant(a1, -7.5, 8.25, 13)"),
            0);

  // Bounds of summation in index order: |error| <= n u Σ|term| (terms
  // themselves within one rounding of the exact value).
  const double sx = sumOf(x, [](double v) { return v; });
  const double sy = sumOf(y, [](double v) { return v; });
  const double sx2 = sumOf(x, [](double v) { return v * v; });
  const double sx3 = sumOf(x, [](double v) { return v * v * v; });
  const double sy25 = sumOf(y, [](double v) { return std::pow(v, 2.5); });
  const double bound = 2.0 * n * kUnit;
  EXPECT_NEAR(v(1), ref[0], bound * sx);
  EXPECT_NEAR(v(2), ref[1], bound * sx / n);
  EXPECT_NEAR(v(3), ref[2], bound * ref[2]);
  EXPECT_NEAR(v(4), ref[3], bound * ref[3]);
  EXPECT_NEAR(v(5), ref[4], bound * sx3 / (n - 1));
  // The central moments also carry the mean's error (derivative k Σ(x−m)^(k−1)).
  EXPECT_NEAR(v(6), ref[5], bound * (sx3 + 8 * sx2 + 3 * sx2 * sx / n) / (n - 1));
  EXPECT_NEAR(v(7), ref[6], bound * (sx2 + 2 * sx) / (n - 1));
  EXPECT_NEAR(v(8), ref[7], 1e-10 * ref[7]);
  EXPECT_EQ(v(9), ref[8]);
  EXPECT_EQ(v(10), ref[9]);
  EXPECT_EQ(v(11), ref[10]);
  EXPECT_EQ(i(1), static_cast<int>(ref[11]));
  EXPECT_EQ(v(12), ref[8]);
  EXPECT_EQ(i(2), static_cast<int>(ref[12]));
  EXPECT_EQ(v(13), ref[9]);
  EXPECT_NEAR(v(14), ref[13], 1e-9 * ref[13]);
  EXPECT_NEAR(v(15), ref[14], bound * sy / n);
  EXPECT_NEAR(v(16), ref[15], bound * sy25 / (n - 1));
  EXPECT_NEAR(v(17), ref[16], 1e-10 * ref[16]);
  const ValueArray& classes = array(3);
  ASSERT_EQ(classes.length, kClasses);
  for (int k = 0; k < kClasses; ++k) EXPECT_EQ(classes.data[k], ref[kValues + k]) << "class " << k;
}

}  // namespace
}  // namespace morvel::builtins::testing
