// Filters, smoothing, interpolation and PID rows: scipy cross-checks, the
// written arithmetic bit for bit, exact cases and errors.
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "builtin_test_util.h"
#include "builtins/filter.h"

namespace morvel::builtins::testing {
namespace {

namespace fs = std::filesystem;
using FilterTest = BuiltinTest;

bool scipyAvailable() {
  return access("/usr/bin/python3", X_OK) == 0 &&
         std::system("/usr/bin/python3 -c 'import scipy.signal, scipy.interpolate' >/dev/null 2>&1") == 0;
}

// Runs a helper script of this folder on `x`; returns what it wrote.
std::vector<double> runScript(const char* script, const std::vector<double>& x, const std::string& args) {
  char dir[] = "/tmp/morvel-filter-XXXXXX";
  if (mkdtemp(dir) == nullptr) return {};
  const fs::path in = fs::path(dir) / "x.f8", out = fs::path(dir) / "y.f8";
  std::ofstream(in, std::ios::binary)
      .write(reinterpret_cast<const char*>(x.data()), static_cast<std::streamsize>(x.size() * 8));
  const fs::path path = fs::path(__FILE__).parent_path() / script;
  const std::string cmd =
      "/usr/bin/python3 '" + path.string() + "' '" + in.string() + "' '" + out.string() + "' " + args;
  std::vector<double> y;
  if (std::system(cmd.c_str()) == 0) {
    y.resize(fs::file_size(out) / 8);
    std::ifstream(out, std::ios::binary).read(reinterpret_cast<char*>(y.data()), static_cast<std::streamsize>(y.size() * 8));
  }
  fs::remove_all(dir);
  return y;
}

// --- Butterworth filters ---------------------------------------------------------------

struct FilterCase {
  int type, sections;
  double fc1, fc2;
};

TEST_F(FilterTest, SectionsAgreeWithScipyAcrossTwoBlocks) {
  if (!scipyAvailable()) GTEST_SKIP() << "python3-scipy not installed";
  constexpr double T = 0.001;
  std::vector<FilterCase> cases;
  for (int n = 1; n <= 8; ++n) {
    cases.push_back({0, n, 40.0 + 5 * n, 0});
    cases.push_back({1, n, 25.0 * n, 0});
    cases.push_back({2, n, 30.0 + 2 * n, 120.0 + 10 * n});
  }
  const auto x = randomSamples(2000, 21);
  std::string args;
  char buf[128];
  for (const auto& c : cases) {
    // The filter works with the array's 32-bit x distance; so does the reference.
    std::snprintf(buf, sizeof buf, " %d,%d,%.17g,%.17g,%.17g", c.type, c.sections, c.fc1, c.fc2,
                  static_cast<double>(static_cast<float>(T)));
    args += buf;
  }
  const auto reference = runScript("filter_scipy.py", x, args);
  ASSERT_EQ(reference.size(), cases.size() * 2000);
  for (size_t i = 0; i < cases.size(); ++i) {
    const FilterCase& c = cases[i];
    std::snprintf(buf, sizeof buf, "setfilter(3, %d, %d, %.17g, %.17g)\n", c.type, 2 * c.sections, c.fc1, c.fc2);
    beforeRun_ = [&] {
      setSamples(2, std::vector<double>(x.begin(), x.begin() + 1000));
      setSamples(3, std::vector<double>(x.begin() + 1000, x.end()));
      array(2).xDistance = array(3).xDistance = static_cast<float>(T);
    };
    ASSERT_EQ(run(std::string(buf) + "a4 = filter(3, a2)\na5 = filter(3, a3)"), 0);
    std::vector<double> y = samples(4);
    const auto second = samples(5);
    y.insert(y.end(), second.begin(), second.end());
    ASSERT_EQ(y.size(), 2000u);
    double peak = 0.0, worst = 0.0;
    for (size_t k = 0; k < 2000; ++k) {
      peak = std::max(peak, std::fabs(reference[i * 2000 + k]));
      worst = std::max(worst, std::fabs(y[k] - reference[i * 2000 + k]));
    }
    EXPECT_LE(worst, 1e-9 * peak) << "type " << c.type << " sections " << c.sections;
  }
}

TEST_F(FilterTest, OneBlockEqualsTwoHalvesBitForBit) {
  const auto x = randomSamples(1000, 22);
  for (int type = 0; type <= 2; ++type) {
    for (int order : {2, 7, 16}) {
      beforeRun_ = [&] {
        setSamples(2, x);
        setSamples(3, std::vector<double>(x.begin(), x.begin() + 500));
        setSamples(4, std::vector<double>(x.begin() + 500, x.end()));
        for (int s : {2, 3, 4}) array(s).xDistance = 0.0005f;
      };
      const std::string set = ", " + std::to_string(type) + ", " + std::to_string(order) + ", 50, 300)\n";
      ASSERT_EQ(run("setfilter(0" + set + "setfilter(1" + set +
                    "a5 = filter(0, a2)\na6 = filter(1, a3)\na7 = filter(1, a4)\na3 = filter(0, a3)"),
                0);
      auto halves = samples(6);
      const auto second = samples(7);
      halves.insert(halves.end(), second.begin(), second.end());
      const auto whole = samples(5);
      ASSERT_EQ(whole.size(), 1000u);
      EXPECT_EQ(std::memcmp(whole.data(), halves.data(), 8000), 0) << "type " << type << " order " << order;
    }
  }
}

TEST(FilterKernel, FastKernelsAreTheWrittenDifferenceEquations) {
  const auto x = randomSamples(777, 23);
  for (int level : {0, 1, 2})
  for (int type = 0; type <= 2; ++type) {
    filters::limitKernel(level);
    for (int sections = 0; sections <= lang::FilterRecord::kMaxSections; ++sections) {
      lang::FilterRecord fast;
      fast.sections = sections;
      fast.type = type;
      fast.cutoff1 = 60.0;
      fast.cutoff2 = 200.0;
      filters::design(fast, 0.001);
      lang::FilterRecord slow = fast;
      std::vector<double> a(x.size()), b(x.size());
      // Two calls each, so the kept delay lines matter too.
      filters::process(fast, x.data(), a.data(), 400);
      filters::process(fast, x.data() + 400, a.data() + 400, 377);
      filters::processReference(slow, x.data(), b.data(), 777);
      if (sections == 0) {
        EXPECT_EQ(a, x);
      }
      EXPECT_EQ(std::memcmp(a.data(), b.data(), a.size() * 8), 0)
          << "type " << type << " sections " << sections << " " << filters::kernelName();
      // Blocks shorter than the wavefront's lag, in place.
      std::vector<double> c(x.begin(), x.begin() + 20), d(c);
      lang::FilterRecord small = fast, smallRef = fast;
      for (int k = 0; k < 20; k += 3) filters::process(small, c.data() + k, c.data() + k, std::min(3, 20 - k));
      filters::processReference(smallRef, d.data(), d.data(), 20);
      EXPECT_EQ(std::memcmp(c.data(), d.data(), 20 * 8), 0) << "short blocks, type " << type << " sections " << sections;
    }
  }
  filters::limitKernel(0);
}

TEST_F(FilterTest, GainsAtZeroFrequencyAndOrderRounding) {
  beforeRun_ = [&] {
    setSamples(2, std::vector<double>(3000, 2.5));
    array(2).xDistance = 0.001f;
    setSamples(6, randomSamples(300, 24));
    array(6).xDistance = 0.001f;
  };
  ASSERT_EQ(run("setfilter(0, 0, 2, 10)\nsetfilter(1, 1, 2, 10)\na3 = filter(0, a2)\na4 = filter(1, a2)\n"
                "setfilter(2, 0, 5, 40)\nsetfilter(3, 0, 4, 40)\na7 = filter(2, a6)\na8 = filter(3, a6)\n"
                "setfilter(4, 1, 1, 40)\na9 = filter(4, a6)\nsetfilter(5, 2, 0, 40, 80)\na10 = filter(5, a6)"),
            0);
  EXPECT_NEAR(samples(3).back(), 2.5, 1e-9);
  EXPECT_NEAR(samples(4).back(), 0.0, 1e-9);
  EXPECT_EQ(samples(7), samples(8));   // order 5 gives two sections, as order 4
  EXPECT_EQ(samples(9), samples(6));   // order 1: no section, the signal passes
  EXPECT_EQ(samples(10), samples(6));
  EXPECT_EQ(array(3).xDistance, 0.001f);
}

TEST_F(FilterTest, NewXDistanceRestartsFromZeroStates) {
  const auto x = randomSamples(200, 25);
  for (int type = 0; type <= 2; ++type) {
    beforeRun_ = [&] {
      setSamples(2, x);
      array(2).xDistance = 0.001f;
      setSamples(3, x);
      array(3).xDistance = 0.002f;
    };
    const std::string set = ", " + std::to_string(type) + ", 6, 20, 90)\n";
    ASSERT_EQ(run("setfilter(0" + set + "setfilter(1" + set + "a4 = filter(0, a2)\na5 = filter(0, a3)\na6 = filter(1, a3)"), 0);
    EXPECT_EQ(samples(5), samples(6)) << "type " << type;
  }
}

TEST_F(FilterTest, SetfilterRefillsAndReleaseEmptiesTheBank) {
  const auto x = randomSamples(100, 26);
  beforeRun_ = [&] {
    setSamples(2, x);
    array(2).xDistance = 0.001f;
  };
  // A second setfilter of the same number starts afresh.
  ASSERT_EQ(run("setfilter(7, 0, 4, 50)\na3 = filter(7, a2)\nsetfilter(7, 0, 4, 50)\na4 = filter(7, a2)"), 0);
  EXPECT_EQ(samples(3), samples(4));
  ASSERT_NE(state_.filters[7], nullptr);
  lang::RunContext ctx{*values_, program_.get(), nullptr, &state_};
  filters::releaseFilters(ctx);
  for (const auto& f : state_.filters) EXPECT_EQ(f, nullptr);
}

struct ErrorCase {
  const char* body;
  int error;
};

class FilterErrors : public BuiltinTest, public ::testing::WithParamInterface<ErrorCase> {};

TEST_P(FilterErrors, Raise) {
  beforeRun_ = [this] { setSamples(2, std::vector<double>{1, 2, 3, 4, 5, 6}); };
  EXPECT_EQ(run(GetParam().body), GetParam().error) << GetParam().body;
}

INSTANTIATE_TEST_SUITE_P(
    Errors, FilterErrors,
    ::testing::Values(
        ErrorCase{"setfilter(32, 0, 2, 10)", 56}, ErrorCase{"setfilter(-1, 0, 2, 10)", 56},
        ErrorCase{"setfilter(0, 0, 18, 10)", 56}, ErrorCase{"setfilter(0, 0, 17, 10)", 0},
        ErrorCase{"setfilter(0, 0, -2, 10)", 56}, ErrorCase{"setfilter(0, 3, 2, 10)", 172},
        ErrorCase{"setfilter(0, 2, 2, 10)", 160}, ErrorCase{"setfilter(0, 0, 2)", 160},
        ErrorCase{"a1 = filter(4, a2)", 54}, ErrorCase{"a1 = filter(40, a2)", 56},
        ErrorCase{"setfilter(0, 0, 2, 10)\ni1 = filter(0, a2)", 160},
        // supp, avg, mavg, intpl, pid
        ErrorCase{"supp(v1, 0, 1, 1, 1)", 160}, ErrorCase{"supp(a2, 0, 1, 1)", 160},
        ErrorCase{"a1 = mavg(a2, 0)", 173}, ErrorCase{"a1 = mavg(a2, -3)", 173}, ErrorCase{"a2 = mavg(a2, 3)", 33},
        ErrorCase{"a1 = intpl(a2, 1)", 174}, ErrorCase{"setlen(a2, 1)\na1 = intpl(a2, 10)", 8},
        ErrorCase{"setpid(16, 1.0, 0.0, 0.0)", 175}, ErrorCase{"setpid(-1, 1.0, 0.0, 0.0)", 175},
        ErrorCase{"v1 = pid(16, v2, v3)", 175}));

// --- supp ------------------------------------------------------------------------------

struct SuppCase {
  const char* call;
  std::vector<double> in, out;
};

class Supp : public BuiltinTest, public ::testing::WithParamInterface<SuppCase> {};

TEST_P(Supp, ReplacesSpikesByLines) {
  const SuppCase& c = GetParam();
  beforeRun_ = [&] { setSamples(2, c.in); };
  ASSERT_EQ(run(c.call), 0);
  EXPECT_EQ(samples(2), c.out);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Supp,
    ::testing::Values(
        SuppCase{"supp(a2, 0, 1, 1, 1)", {0, 0, 5, 0, 0}, {0, 0, 0, 0, 0}},
        // The line runs between the span's end points; the scan goes on at hi + 2.
        SuppCase{"supp(a2, 0, 3, 1, 2)", {0, 2, 9, 4, 8, 0, 0}, {0, 2, 4, 6, 8, 0, 0}},
        // hi at the end is clipped; an empty span (hi <= lo) leaves the data.
        SuppCase{"supp(a2, 0, 1, 0, 0)", {0, 5, 0}, {0, 5, 0}},
        SuppCase{"supp(a2, 0, 1, 0, -4)", {0, 5, 0, 5}, {0, 5, 0, 5}},
        SuppCase{"supp(a2, 0, 1, 3, 3)", {0, 1, 9, 1, 0}, {0, 0, 0, 0, 0}},
        // Mode 1: threshold = weighting times the deviation of the differences.
        SuppCase{"supp(a2, 1, 1, 0, 2)", {0, 1, 2, 3, 20, 5, 6, 7, 8}, {0, 1, 2, 3, 4, 5, 6, 7, 8}},
        SuppCase{"supp(a2, 1, 100, 0, 2)", {0, 1, 2, 3, 20, 5, 6, 7, 8}, {0, 1, 2, 3, 20, 5, 6, 7, 8}},
        SuppCase{"supp(a2, 1, 0, 1, 1)", {1, 9}, {1, 9}}, SuppCase{"supp(a2, 0, 1, 1, 1)", {}, {}}));

// --- avg --------------------------------------------------------------------------------

TEST_F(FilterTest, AvgAveragesBlocksAndClrOrACompilationRestarts) {
  ASSERT_EQ(run("a2 = 1\na1 = avg(a2)\na2 = 2\na1 = avg(a2)\na2 = 3\na1 = avg(a2)\nv1 = a1"), 0);
  EXPECT_EQ(v(1), 2.0);
  EXPECT_EQ(values_->averagingCounter(1), 3.0);
  // The next compilation's check starts a new average.
  ASSERT_EQ(run("a2 = 5\na1 = avg(a2)\nv1 = a1\nclr(a1)\na2 = 7\na1 = avg(a2)\nv2 = a1"), 0);
  EXPECT_EQ(v(1), 5.0);
  EXPECT_EQ(v(2), 7.0);
}

TEST_F(FilterTest, AvgTakesTheSourceAxesAndGrowsFirst) {
  beforeRun_ = [&] {
    setSamples(2, {2, 4});
    setSamples(3, {4, 8, 6, 10});
    array(3).xDistance = 0.25f;
    array(3).xOffset = 9.0f;
    array(3).kind = 1;
  };
  ASSERT_EQ(run("a1 = avg(a2)\na1 = avg(a3)"), 0);
  EXPECT_EQ(samples(1), (std::vector<double>{3, 6, 6, 10}));
  EXPECT_EQ(array(1).xDistance, 0.25f);
  EXPECT_EQ(array(1).xOffset, 9.0f);
  EXPECT_EQ(array(1).kind & 3u, 1u);
}

// --- mavg -------------------------------------------------------------------------------

struct MavgCase {
  int span;
  std::vector<double> in, out;
};

class Mavg : public BuiltinTest, public ::testing::WithParamInterface<MavgCase> {};

TEST_P(Mavg, CentredMeans) {
  const MavgCase& c = GetParam();
  beforeRun_ = [&] {
    setSamples(2, c.in);
    array(2).xDistance = 0.5f;
    array(2).xOffset = 2.0f;
  };
  ASSERT_EQ(run("a1 = mavg(a2, " + std::to_string(c.span) + ")"), 0);
  EXPECT_EQ(samples(1), c.out);
  EXPECT_EQ(array(1).xDistance, 0.5f);
  EXPECT_EQ(array(1).xOffset, 2.0f);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Mavg,
    ::testing::Values(MavgCase{3, {3, 6, 9, 12}, {4.5, 6, 9, 10.5}},
                      MavgCase{4, {1, 2, 3, 4, 5, 6}, {2, 2.5, 3.5, 4.5, 5, 5.5}},
                      MavgCase{1, {1, 5, 2}, {1, 5, 2}}, MavgCase{2, {2, 4, 8}, {3, 6, 8}},
                      // A span beyond the length: windows clipped at both ends.
                      MavgCase{6, {1, 2, 3}, {2, 2, 2}}, MavgCase{5, {4, 8}, {6, 6}},
                      MavgCase{3, {}, {}}));

// The ring of b values as written: subtract the oldest, add the new sample,
// emit sum / b once b samples are in, sum / i from b/2 + 1 on, then the tail.
std::vector<double> ringMavg(const std::vector<double>& x, int b) {
  std::vector<long double> ring(b, 0.0L);
  long double sum = 0.0L;
  std::vector<double> out;
  int pos = 0;
  for (size_t i = 1; i <= x.size(); ++i) {
    sum -= ring[pos];
    sum += x[i - 1];
    ring[pos] = x[i - 1];
    pos = (pos + 1) % b;
    if (static_cast<int>(i) > b) out.push_back(static_cast<double>(sum / b));
    else if (static_cast<int>(i) >= b / 2 + 1) out.push_back(static_cast<double>(sum / static_cast<long double>(i)));
  }
  int e = b - 1;
  for (int t = 0; t < (b - 1) / 2 + (b % 2 == 0 ? 1 : 0); ++t, --e) {
    sum -= ring[pos];
    pos = (pos + 1) % b;
    out.push_back(static_cast<double>(sum / e));
  }
  return out;
}

TEST_F(FilterTest, MavgIsTheRingAlgorithmBitForBit) {
  const auto x = randomSamples(5000, 27, 1e6);
  for (int span : {1, 2, 3, 10, 11, 256, 4999, 5000}) {
    beforeRun_ = [&] { setSamples(2, x); };
    ASSERT_EQ(run("a1 = mavg(a2, " + std::to_string(span) + ")"), 0);
    const auto expected = ringMavg(x, span);
    ASSERT_EQ(expected.size(), x.size());
    const auto got = samples(1);
    EXPECT_EQ(std::memcmp(got.data(), expected.data(), x.size() * 8), 0) << "span " << span;
  }
}

// --- intpl ------------------------------------------------------------------------------

TEST_F(FilterTest, IntplOfALineAndTheNewSpacing) {
  beforeRun_ = [&] {
    setSamples(2, {1, 3, 5, 7});
    array(2).xDistance = 0.5f;
    array(2).xOffset = 4.0f;
  };
  ASSERT_EQ(run("a1 = intpl(a2, 7)\na2 = intpl(a2, 13)"), 0);
  const auto y = samples(1);
  ASSERT_EQ(y.size(), 7u);
  for (int i = 0; i < 7; ++i) EXPECT_NEAR(y[i], 1.0 + 2.0 * (i * 0.25 * 0.99999) / 0.5, 1e-12) << i;
  EXPECT_EQ(array(1).xDistance, 0.25f);
  EXPECT_EQ(array(1).xOffset, 4.0f);
  EXPECT_EQ(array(2).length, 13);  // into its own source
  EXPECT_NEAR(samples(2)[12], 7.0 - 2.0 * 1.5 * 1e-5 / 0.5, 1e-12);
}

TEST_F(FilterTest, IntplAgreesWithScipyAkimaInside) {
  if (!scipyAvailable()) GTEST_SKIP() << "python3-scipy not installed";
  const auto x = randomSamples(200, 28);
  constexpr double T = 0.25;  // exact as a 32-bit x distance
  constexpr int count = 1001;
  const auto reference = runScript("filter_akima.py", x, "0.25 " + std::to_string(count));
  ASSERT_EQ(reference.size(), static_cast<size_t>(count));
  beforeRun_ = [&] {
    setSamples(2, x);
    array(2).xDistance = static_cast<float>(T);
  };
  ASSERT_EQ(run("a1 = intpl(a2, " + std::to_string(count) + ")"), 0);
  const auto y = samples(1);
  ASSERT_EQ(y.size(), static_cast<size_t>(count));
  const double D = 199 * T / (count - 1);
  int compared = 0;
  for (int i = 0; i < count; ++i) {
    const double u = i * D * 0.99999;
    const int k = static_cast<int>(u / T);
    if (k < 2 || k > 200 - 4) continue;  // both derivatives away from the extension
    EXPECT_NEAR(y[i], reference[i], 1e-12) << i;
    ++compared;
  }
  EXPECT_GT(compared, 900);
}

// --- PID ------------------------------------------------------------------------------

TEST_F(FilterTest, PidSteps) {
  ASSERT_EQ(run("setpid(0, 2.0, 0.0, 0.0)\nv1 = pid(0, 10.0, 7.0)\n"
                "setpid(15, 0.0, 1.0, 0.0)\nv2 = pid(15, 1.0, 0.0)\nv3 = pid(15, 1.0, 0.0)\n"
                "setpid(3, 0.0, 0.0, 0.5)\nv4 = pid(3, 4.0, 0.0)\nv5 = pid(3, 1.0, 0.0)"),
            0);
  EXPECT_EQ(v(1), 6.0);
  EXPECT_EQ(v(2), 1.0);
  EXPECT_EQ(v(3), 2.0);
  EXPECT_EQ(v(4), 2.0);   // 0.5 * (4 - 0)
  EXPECT_EQ(v(5), -1.5);  // 0.5 * (1 - 4)
  // The integral sum stays for the next run; setpid changes only the gains.
  ASSERT_EQ(run("setpid(15, 0.0, 1.0, 0.0)\nv2 = pid(15, 1.0, 0.0)"), 0);
  EXPECT_EQ(v(2), 3.0);
  EXPECT_EQ(compileError("v1 = pid(0, 1.0)"), 3);
  EXPECT_EQ(compileError("a1 = pid(0, 1.0, 2.0)"), 3);
  EXPECT_EQ(compileError("setpid(0, 1.0, 2.0)"), 3);
}

}  // namespace
}  // namespace morvel::builtins::testing
