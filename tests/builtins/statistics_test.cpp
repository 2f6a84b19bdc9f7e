// Statistics and classification rows, run statement by statement.
#include "builtins/statistics.h"

#include <bit>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "builtin_test_util.h"

namespace morvel::builtins::testing {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

using StatisticsTest = BuiltinTest;

// Test name from a statement: its builtin's name and the case number.
std::string caseName(const std::string& statement, size_t index) {
  const size_t eq = statement.find('=');
  size_t from = eq == std::string::npos ? 0 : eq + 1;
  while (from < statement.size() && statement[from] == ' ') ++from;
  std::string name;
  for (size_t k = from; k < statement.size() && std::isalpha(static_cast<unsigned char>(statement[k])); ++k)
    name += statement[k];
  return name + "_" + std::to_string(index);
}

// --- sums in index order --------------------------------------------------------

// orderedSum must give the bits of the plain loop for every kind of data:
// sums that stay in one binade (the integer path), that cross powers of two,
// wander around zero, meet ties, huge or tiny magnitudes, and non-numbers.
struct SumData {
  const char* name;
  double start;
  std::function<double(std::mt19937_64&, int)> term;
};

TEST(OrderedSum, EqualsTheOneAfterTheOtherLoopBitForBit) {
  const std::vector<SumData> data = {
      {"uniform -10..10", 0.0,
       [](auto& g, int) { return std::uniform_real_distribution<double>(-10, 10)(g); }},
      {"uniform 0..1", 0.0, [](auto& g, int) { return std::uniform_real_distribution<double>(0, 1)(g); }},
      {"drifting down", 5e4, [](auto& g, int) { return std::uniform_real_distribution<double>(-1, 0.5)(g); }},
      {"large start", 1e6, [](auto& g, int) { return std::uniform_real_distribution<double>(-1, 1)(g); }},
      // Terms of whole and half units of 1.5's grid: ties at every other step.
      {"half units", 1.5,
       [](auto& g, int) { return static_cast<double>(static_cast<int>(g() % 11) - 5) * 0x1p-53; }},
      // Now and then a tie, from an odd sum: the parities of the terms
      // between ties decide, across the 64-term words of the masks too.
      {"ties now and then", 1.25 + 0x1p-52,
       [](auto& g, int) {
         const double k = static_cast<double>(static_cast<int>(g() % 9) - 4);
         return (g() % 10 == 0 ? k + 0.5 : k) * 0x1p-52;
       }},
      {"half units at 2^52", 0x1p52 + 3,
       [](auto& g, int) { return static_cast<double>(static_cast<int>(g() % 7) - 3) * 0.5; }},
      // Sums walking along a power of two in eighths of the grid unit above it
      // (below 2, halfway values of the finer grid round differently).
      {"at the lower edge", 2.0,
       [](auto& g, int) { return static_cast<double>(static_cast<int>(g() % 27) - 13) * 0x1p-54; }},
      {"at the upper edge", 4.0 - 0x1p-50,
       [](auto& g, int) { return static_cast<double>(static_cast<int>(g() % 27) - 13) * 0x1p-54; }},
      // The first block reaches 2 exactly and then goes below it by less
      // than half a unit of the grid above 2 (rounds to 2 - 2^-52, not 2).
      {"onto the edge", 2.0 + 0x1p-51,
       [](auto&, int k) { return k == 0   ? -0x1p-51
                                 : k == 1 ? -0.3 * 0x1p-51
                                          : 0.0; }},
      {"alternating sign", 0.0, [](auto&, int k) { return (k % 2 != 0 ? -1.0 : 1.0) * (1.0 + k * 1e-9); }},
      {"magnitudes 1e-20..1e20", 0.0,
       [](auto& g, int) {
         std::uniform_real_distribution<double> e(-20, 20);
         return ((g() & 1) != 0 ? -1.0 : 1.0) * std::pow(10.0, e(g));
       }},
      {"small terms, few big", 1.0,
       [](auto& g, int k) {
         return k % 5000 == 4999 ? 1e9 : std::uniform_real_distribution<double>(0, 1e-6)(g);
       }},
      {"subnormal", 0x1p-1000,
       [](auto& g, int) { return std::uniform_real_distribution<double>(-1, 1)(g) * 0x1p-1060; }},
      {"near the scale limit", 0x1p-959,
       [](auto& g, int) { return std::uniform_real_distribution<double>(-1, 1)(g) * 0x1p-980; }},
      {"near the largest", 1e308,
       [](auto& g, int) { return std::uniform_real_distribution<double>(-1, 1.2)(g) * 1e292; }},
      {"a NaN", 3.0, [](auto&, int k) { return k == 70001 ? kNaN : 0.25; }},
      {"an infinity", 3.0, [](auto&, int k) { return k == 1000 ? -kInf : 0.25; }},
      {"negative zeros", -0.0, [](auto&, int) { return -0.0; }},
  };
  for (const bool portable : {false, true})
    for (const SumData& d : data) {
      stats::forcePortableSums(portable);
      std::mt19937_64 g(42);
      std::vector<double> t(200003);
      for (int k = 0; k < static_cast<int>(t.size()); ++k) t[k] = d.term(g, k);
      for (int64_t n :
           {int64_t{0}, int64_t{511}, int64_t{513}, int64_t{100000}, static_cast<int64_t>(t.size())}) {
        double loop = d.start;
        for (int64_t k = 0; k < n; ++k) loop += t[k];
        const double ordered = stats::orderedSum(t.data(), n, d.start);
        EXPECT_EQ(std::bit_cast<uint64_t>(ordered), std::bit_cast<uint64_t>(loop))
            << d.name << (portable ? " (portable)" : "") << ", n = " << n << ": " << ordered << " against "
            << loop;
      }
    }
  stats::forcePortableSums(false);
}

// Short sums that start a few units away from a power of two and hug it:
// terms of a few units in quarters (ties at every odd half, fractions that
// round one way below the edge and the other way above it), in blocks of
// one and two grid blocks of 512. Every sum must be the loop's, bit for bit; a
// bound or a tie margin that is one step too tight shows here.
TEST(OrderedSum, SumsHuggingAPowerOfTwoAreTheLoops) {
  std::mt19937_64 g(7);
  const double unit = 0x1p-52;  // the grid unit below 2
  const int quarters[] = {1, 2, 3, 5, 6, 10, 13, 15, 16, 31};
  int mismatches = 0;
  for (const bool portable : {false, true}) {
    stats::forcePortableSums(portable);
    for (int trial = 0; trial < 4000; ++trial) {
      const int n = trial % 2 == 0 ? 512 : 1024;
      const bool upper = trial % 3 == 0;  // start above the edge
      const auto away = static_cast<double>(g() % 48);
      double start = upper ? 2.0 + 2 * away * unit : 2.0 - away * unit;
      // Mostly a walk along the edge; in every fifth trial runs of eight
      // steps of the largest term (the farthest a group can go between its
      // ends), in every seventh the ties all go up: after an odd sum, half a
      // unit then one unit, so the loop climbs twice as fast as the rounded
      // terms say.
      std::vector<double> t(n);
      for (int k = 0; k < n; ++k) {
        const int q = quarters[g() % (trial % 5 == 0 ? 7 : std::size(quarters))];
        t[k] = ((g() & 1) != 0 ? -q : q) * 0.25 * unit;
        if (trial % 5 == 0 && k % 32 >= 24) t[k] = (k % 64 < 32 ? 1 : -1) * 3.9 * unit;
        if (trial % 7 == 0) t[k] = (k % 2 == 0 ? 0.5 : 1.0) * unit;
      }
      if (trial % 7 == 0) start = 2.0 - static_cast<double>(2 * (g() % 128) + 129) * unit;
      double loop = start;
      for (double v : t) loop += v;
      const double ordered = stats::orderedSum(t.data(), n, start);
      if (std::bit_cast<uint64_t>(ordered) != std::bit_cast<uint64_t>(loop) && ++mismatches <= 5)
        ADD_FAILURE() << (portable ? "portable, " : "") << "trial " << trial << ": " << ordered << " against "
                      << loop;
    }
  }
  stats::forcePortableSums(false);
  EXPECT_EQ(mismatches, 0);

  // The farthest a group goes between its ends: seven steps of 3.9 units and
  // one of 3.25 up (32 units, over the edge 2 by one), eight of 3.9 down.
  // Above 2 the step of 3.25 becomes 4 units, so the sum ends one unit
  // higher than on the grid below 2.
  std::vector<double> t(512, 0.0);
  for (int k = 0; k < 16; ++k) t[k] = (k < 7 ? 3.9 : k == 7 ? 3.25 : -3.9) * unit;
  double loop = 2.0 - 30 * unit;
  for (double v : t) loop += v;
  EXPECT_EQ(std::bit_cast<uint64_t>(stats::orderedSum(t.data(), 512, 2.0 - 30 * unit)),
            std::bit_cast<uint64_t>(loop));
}

// The aggregates built on the ordered sum, on a long array: the loops as
// written (moment of order 2 squares by multiplication).
TEST_F(StatisticsTest, LongArraySumsAreTheWrittenLoops) {
  std::mt19937_64 g(7);
  std::normal_distribution<double> d(3.0, 20.0);
  std::vector<double> x(123457);
  for (double& s : x) s = d(g);
  const double n = static_cast<double>(x.size());
  double sum = 0, squares = 0, quotients = 0, cubes = 0;
  for (double s : x) {
    sum += s;
    squares += s * s;
    quotients += s / n;
    cubes += std::pow(s, 3.0);
  }
  double deviations = 0;
  for (double s : x) deviations += (s - quotients) * (s - quotients);
  beforeRun_ = [&] { setSamples(1, x); };
  ASSERT_EQ(run("v1 = sum(a1)\nv2 = mean(a1)\nv3 = eff(a1)\nv4 = moment(a1, 2)\nv5 = stddev(a1)\n"
                "v6 = zmoment(a1, 2)\nv7 = moment(a1, 3)"),
            0);
  EXPECT_EQ(v(1), sum);
  EXPECT_EQ(v(2), sum / n);
  EXPECT_EQ(v(3), std::sqrt(squares / (n - 1)));
  EXPECT_EQ(v(4), squares / (n - 1));
  EXPECT_EQ(v(5), std::sqrt(deviations / (n - 1)));
  EXPECT_EQ(v(6), deviations / (n - 1));
  EXPECT_EQ(v(7), cubes / (n - 1));
}

// --- aggregates -----------------------------------------------------------------

struct AggregateCase {
  const char* statement;  // result into v1, source a1
  std::vector<double> samples;
  double expected;
};

class Aggregate : public BuiltinTest, public ::testing::WithParamInterface<AggregateCase> {};

TEST_P(Aggregate, GivesTheWrittenResult) {
  const AggregateCase& c = GetParam();
  beforeRun_ = [&] { setSamples(1, c.samples); };
  ASSERT_EQ(run(c.statement), 0);
  if (std::isnan(c.expected)) {
    EXPECT_TRUE(std::isnan(v(1))) << v(1);
  } else {
    EXPECT_EQ(v(1), c.expected);
    EXPECT_EQ(std::signbit(v(1)), std::signbit(c.expected));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Aggregate,
    ::testing::Values(
        AggregateCase{"v1 = eff(a1)", {1, 2, 3, 4}, std::sqrt(10.0)},
        AggregateCase{"v1 = moment(a1, 2)", {1, 2, 3}, 7.0}, AggregateCase{"v1 = gmean(a1)", {-2, 8}, 4.0},
        AggregateCase{"v1 = gmean(a1)", {3, 0, 5}, 0.0}, AggregateCase{"v1 = sum(a1)", {1, 2, 3.5}, 6.5},
        // Index order: 1e16 + 1 rounds back to 1e16 twice, so the ones vanish
        // (any pairwise or compensated sum gives 2).
        AggregateCase{"v1 = sum(a1)", {1e16, 1, 1, -1e16}, 0.0},
        AggregateCase{"v1 = mean(a1)", {1e16, 1, 1, -1e16}, 0.0},
        AggregateCase{"v1 = mean(a1)", {1, 2, 4}, 7.0 / 3.0},
        AggregateCase{"v1 = stddev(a1)", {2, 4, 4, 4, 5, 5, 7, 9}, std::sqrt(32.0 / 7.0)},
        AggregateCase{"v1 = zmoment(a1, 2)", {2, 4, 4, 4, 5, 5, 7, 9}, 32.0 / 7.0},
        AggregateCase{"v1 = zmoment(a1, 3)", {3, 6, 12}, 30.0},
        // A fractional power of a negative base is not a number.
        AggregateCase{"v1 = moment(a1, 0.5)", {4, -1}, kNaN},
        // One sample: the divisor n - 1 is 0.
        AggregateCase{"v1 = moment(a1, 2)", {3}, kInf}, AggregateCase{"v1 = moment(a1, 2)", {0}, kNaN},
        // max and min start from the first number.
        AggregateCase{"v1 = max(a1)", {-3e37, -2e37, -5e37}, -2e37},
        AggregateCase{"v1 = min(a1)", {3e37, 2e37, 5e37}, 2e37},
        AggregateCase{"v1 = max(a1)", {kNaN, -4, -2, kNaN, -3}, -2},
        AggregateCase{"v1 = min(a1)", {kNaN, 4, 2, kNaN, 3}, 2},
        AggregateCase{"v1 = max(a1)", {kNaN, kNaN}, -1e37}, AggregateCase{"v1 = min(a1)", {kNaN}, 1e37},
        // Equal maxima: the first one stays (it matters only for zeros).
        AggregateCase{"v1 = max(a1)", {-1, -0.0, 0.0, -5, 0.0, -0.0, -2, -3, -4, -6, -7}, -0.0},
        AggregateCase{"v1 = min(a1)", {1, 0.0, -0.0, 5, -0.0, 2, 3, 4, 6, 7}, 0.0},
        AggregateCase{"v1 = amp(a1)", {3, -1, 7, 2, kNaN, 0, 1, 1, 1, 1, 1, 1}, 8},
        AggregateCase{"v1 = amp(a1)", {}, -2e37}, AggregateCase{"v1 = amp(a1)", {kNaN}, -2e37}),
    [](const auto& info) { return caseName(info.param.statement, info.index); });

TEST_F(StatisticsTest, LongArraysFindTheExtremesInEveryLane) {
  // 37 samples: the extreme in each position of an eight-lane block and in
  // the remainder.
  for (int at = 0; at < 37; ++at) {
    std::vector<double> x(37);
    for (int k = 0; k < 37; ++k) x[k] = std::sin(k * 1.3);
    x[at] = 5.0;
    beforeRun_ = [&] { setSamples(1, x); };
    ASSERT_EQ(run("v1 = max(a1)\nmaxiy(a1, i1, v2)\nv3 = amp(a1)"), 0);
    EXPECT_EQ(v(1), 5.0);
    EXPECT_EQ(i(1), at);
    EXPECT_EQ(v(2), 5.0);
    x[at] = -5.0;
    ASSERT_EQ(run("v1 = min(a1)\nminiy(a1, i1, v2)"), 0);
    EXPECT_EQ(v(1), -5.0);
    EXPECT_EQ(i(1), at);
  }
}

TEST_F(StatisticsTest, LongArraysTakeTheFirstOfEqualExtremes) {
  // Several search blocks; the extreme occurs twice, the first time at `at`.
  const int n = 20000;
  for (int at : {1, 4095, 4096, 4097, 8200, 12289, 19998}) {
    std::vector<double> x(n);
    for (int k = 0; k < n; ++k) x[k] = std::sin(k * 0.7);
    x[0] = kNaN;
    x[at] = 3.0;
    x[19999] = 3.0;
    if (at > 2) x[at / 2] = 2.0;
    double smallest = 1e300;
    for (int k = 1; k < n; ++k) smallest = std::fmin(smallest, x[k]);
    beforeRun_ = [&] { setSamples(1, x); };
    ASSERT_EQ(run("maxiy(a1, i1, v1)\nv2 = max(a1)\nv3 = amp(a1)"), 0);
    EXPECT_EQ(i(1), at);
    EXPECT_EQ(v(1), 3.0);
    EXPECT_EQ(v(2), 3.0);
    EXPECT_EQ(v(3), 3.0 - smallest);
    for (double& v : x) v = -v;
    ASSERT_EQ(run("miniy(a1, i1, v1)\nv2 = min(a1)\nv3 = amp(a1)"), 0);
    EXPECT_EQ(i(1), at);
    EXPECT_EQ(v(2), -3.0);
    EXPECT_EQ(v(3), 3.0 - smallest);
  }
}

TEST_F(StatisticsTest, AggregateResultCoversTheSourceDuration) {
  beforeRun_ = [&] {
    setSamples(1, {1, 2, 3, 4, 5, 6, 7, 8});
    array(1).xDistance = 0.25f;
    array(1).xOffset = 9.0f;
    values_->floatTwin(1).xOffset = 3.0f;
    array(2).xOffset = 4.0f;
    array(2).kind = 1;
  };
  ASSERT_EQ(run("v1 = mean(a1)\na2 = sum(a1)\ni1 = mean(a1)\na1 = max(a1)"), 0);
  const ValueArray& twin = values_->floatTwin(1);
  EXPECT_EQ(v(1), 4.5);
  EXPECT_EQ(twin.length, 1);
  EXPECT_EQ(twin.xDistance, 2.0f);
  EXPECT_EQ(twin.xOffset, 3.0f);
  EXPECT_EQ(samples(2), std::vector<double>{36});
  EXPECT_EQ(array(2).xDistance, 2.0f);
  EXPECT_EQ(array(2).xOffset, 4.0f);
  EXPECT_EQ(array(2).kind, 0u);
  EXPECT_EQ(i(1), 4);
  // The source as its own result.
  EXPECT_EQ(samples(1), std::vector<double>{8});
  EXPECT_EQ(array(1).xDistance, 2.0f);
}

struct ErrorCase {
  const char* statement;
  std::vector<double> samples;
  int error;
};

class AggregateError : public BuiltinTest, public ::testing::WithParamInterface<ErrorCase> {};

TEST_P(AggregateError, StopsTheRun) {
  const ErrorCase& c = GetParam();
  beforeRun_ = [&] { setSamples(1, c.samples); };
  EXPECT_EQ(run(c.statement), c.error);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AggregateError,
    ::testing::Values(ErrorCase{"v1 = sum(a1)", {}, 43}, ErrorCase{"v1 = mean(a1)", {}, 43},
                      ErrorCase{"v1 = gmean(a1)", {}, 43}, ErrorCase{"v1 = max(a1)", {}, 43},
                      ErrorCase{"v1 = min(a1)", {}, 43}, ErrorCase{"v1 = moment(a1, 2)", {}, 43},
                      ErrorCase{"v1 = stddev(a1)", {1}, 8}, ErrorCase{"v1 = eff(a1)", {1}, 8},
                      ErrorCase{"v1 = zmoment(a1, 2)", {1}, 8}, ErrorCase{"v1 = stddev(a1)", {}, 8},
                      // gmean has no check routine: a missing source or a
                      // result it cannot write are run-time errors.
                      ErrorCase{"gmean(a1)", {1}, 160}, ErrorCase{"s1 = gmean(a1)", {1}, 160}),
    [](const auto& info) { return caseName(info.param.statement, info.index); });

TEST_F(StatisticsTest, CheckRoutinesTestTheKinds) {
  const struct {
    const char* statement;
    bool accepted;
  } cases[] = {
      {"v1 = sum(a1)", true},
      {"v1 = sum(v2)", false},
      {"v1 = sum()", false},
      {"i1 = mean(a1)", true},
      {"v1 = stddev(a1)", true},
      {"v1 = amp(v1)", false},
      {"v1 = moment(a1, v2)", true},
      {"v1 = moment(a1, i2)", false},
      {"v1 = zmoment(a1)", false},
      {"v1 = gmean(v2)", true},
      {"maxxy(a1, v1, v2)", true},
      {"maxxy(a1, i1, v2)", false},
      {"maxiy(a1, i1, v2)", true},
      {"miniy(a1, v1, v2)", false},
      {"minxy(v1, v2, v3)", false},
      {"a1 = quant(a2, 0, 1, i3)", true},
      {"v1 = quant(a2, 0, 1, 4)", false},
      {"a1 = quant(a2, 0, i1, 4)", false},
      {"a1 = trigger(a2, 1)", true},
      {"a1 = trigger(v2, 1)", false},
      {"levelcr(v1)", true},
      {"chklimit()", true},
      {"fifoin(a1, v1, 4)", true},
      {"delminmax(a1)", true},
  };
  for (const auto& c : cases) EXPECT_EQ(compileError(c.statement), c.accepted ? 0 : 3) << c.statement;
}

// --- extreme positions ------------------------------------------------------------

TEST_F(StatisticsTest, ExtremePositionsTakeTheFirstOfEqualSamples) {
  beforeRun_ = [&] {
    setSamples(1, {1, 5, 5, -2, 0, -2});
    array(1).xOffset = 10.0f;
    array(1).xDistance = 0.5f;
    values_->floatTwin(2).xDistance = 7.0f;
  };
  ASSERT_EQ(run("maxxy(a1, v1, v2)\nminxy(a1, v3, v4)\nmaxiy(a1, i1, v5)\nminiy(a1, i2, v6)"), 0);
  EXPECT_EQ(v(1), 10.5);
  EXPECT_EQ(v(2), 5.0);
  EXPECT_EQ(v(3), 11.5);
  EXPECT_EQ(v(4), -2.0);
  EXPECT_EQ(i(1), 1);
  EXPECT_EQ(v(5), 5.0);
  EXPECT_EQ(i(2), 3);
  EXPECT_EQ(v(6), -2.0);
  // Plain values: the axis of the value operand stays.
  EXPECT_EQ(values_->floatTwin(2).xDistance, 7.0f);
}

TEST_F(StatisticsTest, ExtremePositionsWithoutANumber) {
  for (const std::vector<double>& x : {std::vector<double>{}, std::vector<double>{kNaN, kNaN}}) {
    beforeRun_ = [&] { setSamples(1, x); };
    ASSERT_EQ(run("maxxy(a1, v1, v2)\nminxy(a1, v3, v4)\nmaxiy(a1, i1, v5)\nminiy(a1, i2, v6)"), 0);
    EXPECT_TRUE(std::isnan(v(1)));
    EXPECT_EQ(v(2), -1e37);
    EXPECT_TRUE(std::isnan(v(3)));
    EXPECT_EQ(v(4), 1e37);
    EXPECT_EQ(i(1), -1);
    EXPECT_EQ(v(5), -1e37);
    EXPECT_EQ(i(2), -1);
    EXPECT_EQ(v(6), 1e37);
  }
  beforeRun_ = [&] { setSamples(1, {kNaN, 3, kNaN, 1}); };
  ASSERT_EQ(run("maxiy(a1, i1, v1)\nminiy(a1, i2, v2)"), 0);
  EXPECT_EQ(i(1), 1);
  EXPECT_EQ(i(2), 3);
}

// --- quant ------------------------------------------------------------------------

TEST_F(StatisticsTest, QuantCountsFlooredClassesInPercent) {
  beforeRun_ = [&] {
    setSamples(1, {-3, -1, 0, 9.99, 10, kNaN});
    array(2).kind = 1;
  };
  ASSERT_EQ(run("a2 = quant(a1, 0, 10, 5)\na1 = quant(a1, 0, 10, 5)"), 0);
  // -1 lies below the first class (floor gives -1); 10 is the upper bound.
  EXPECT_EQ(samples(2), (std::vector<double>{50, 0, 0, 0, 50}));
  EXPECT_EQ(array(2).xDistance, 2.0f);
  EXPECT_EQ(array(2).xOffset, 0.0f);
  EXPECT_EQ(array(2).kind, 0u);
  EXPECT_EQ(samples(1), samples(2));  // the source as its own result
}

TEST_F(StatisticsTest, QuantShares) {
  beforeRun_ = [&] { setSamples(1, {0.5, 1.5, 1.7, 2.5, 2.6, 2.9, -0.25}); };
  EXPECT_EQ(run("a2 = quant(a1, -1, 3, 4)"), 0);
  EXPECT_EQ(samples(2), (std::vector<double>{100.0 / 7, 100.0 / 7, 200.0 / 7, 300.0 / 7}));
  EXPECT_EQ(array(2).xOffset, -1.0f);
}

TEST_F(StatisticsTest, QuantWithoutCountsGivesZeros) {
  beforeRun_ = [&] { setSamples(1, {20, -5, kNaN}); };
  ASSERT_EQ(run("a2 = quant(a1, 0, 10, 3)"), 0);
  EXPECT_EQ(samples(2), (std::vector<double>{0, 0, 0}));
  beforeRun_ = [&] { setSamples(1, {}); };
  ASSERT_EQ(run("a2 = quant(a1, 0, 10, 2)"), 0);
  EXPECT_EQ(samples(2), (std::vector<double>{0, 0}));
}

TEST_F(StatisticsTest, QuantRefusesUnusableClasses) {
  beforeRun_ = [&] { setSamples(1, {1, 2}); };
  for (const char* s : {"a2 = quant(a1, 5, 5, 3)", "a2 = quant(a1, 6, 5, 3)", "a2 = quant(a1, 0, 5, 0)",
                        "a2 = quant(a1, 0, 5, -2)", "v9 = 0\nv8 = v9 / v9\na2 = quant(a1, 0, v8, 2)"})
    EXPECT_EQ(run(s), 7) << s;
}

// --- levelcr ----------------------------------------------------------------------

struct LevelcrCase {
  const char* name;
  std::vector<double> samples;
  const char* arguments;  // after the source
  std::vector<double> expected;
};

class Levelcr : public BuiltinTest, public ::testing::WithParamInterface<LevelcrCase> {};

TEST_P(Levelcr, CountsCrossings) {
  const LevelcrCase& c = GetParam();
  beforeRun_ = [&] { setSamples(1, c.samples); };
  ASSERT_EQ(run(std::string("a2 = levelcr(a1, ") + c.arguments + ")\na1 = levelcr(a1, " + c.arguments + ")"),
            0);
  EXPECT_EQ(samples(2), c.expected);
  EXPECT_EQ(samples(1), c.expected) << "source as its own result";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Levelcr,
    ::testing::Values(
        LevelcrCase{"RiseAndFall", {0, 9, 0}, "0, 9, 10, 0.5, 0", {0, 1, 1, 1, 1, 1, 1, 1, 1, 0}},
        LevelcrCase{"NaNSkipped", {0, kNaN, 9, kNaN, 0}, "0, 9, 10, 0.5, 0", {0, 1, 1, 1, 1, 1, 1, 1, 1, 0}},
        // Far outside the classes: every class once, no counter outside.
        LevelcrCase{"Clamped", {-100, 100, -100}, "0, 9, 10, 0.5, 0", {1, 1, 1, 1, 1, 1, 1, 1, 1, 1}},
        LevelcrCase{"StartAbove", {100, -100}, "0, 9, 10, 0.5, 1000", {1, 1, 1, 1, 1, 0, 0, 0, 0, 0}},
        // Within the reset width nothing is counted twice.
        LevelcrCase{"Hysteresis", {0, 8, 7.8, 8, 7.8, 8}, "0, 9, 10, 0.5, 0", {0, 0, 0, 0, 0, 1, 1, 1, 0, 0}},
        LevelcrCase{"Twice", {0, 8, 6, 8}, "0, 9, 10, 0.5, 0", {0, 0, 0, 0, 0, 1, 1, 2, 0, 0}},
        LevelcrCase{"TwoClasses", {-1, 2, -1, 2}, "0, 1, 2, 0.5, 0", {1, 2}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(StatisticsTest, LevelcrAxisAndErrors) {
  beforeRun_ = [&] { setSamples(1, {0, 9, 0}); };
  ASSERT_EQ(run("a2 = levelcr(a1, -2, 7, 4, 0.5, 0)"), 0);
  EXPECT_EQ(array(2).length, 4);
  EXPECT_EQ(array(2).xDistance, 3.0f);
  EXPECT_EQ(array(2).xOffset, -2.0f);
  EXPECT_EQ(run("a2 = levelcr(a1, 0, 9, 1, 0.5, 0)"), 7);
  EXPECT_EQ(run("a2 = levelcr(a1, 0, 9, -3, 0.5, 0)"), 7);
  EXPECT_EQ(run("a2 = levelcr(a1, 3, 3, 5, 0.5, 0)"), 7);
  EXPECT_EQ(run("a2 = levelcr(a1, 0, 9, 10, 0.5)"), 160);
  EXPECT_EQ(run("i2 = levelcr(a1, 0, 9, 10, 0.5, 0)"), 160);
}

// --- delminmax --------------------------------------------------------------------

TEST_F(StatisticsTest, DelminmaxDropsTheExtremesOfTheSortedSamples) {
  beforeRun_ = [&] {
    setSamples(1, {3, 1, 2, 5});
    array(1).xDistance = 0.5f;
    array(1).xOffset = 2.0f;
    setSamples(3, {3, kNaN, 1, 2});
  };
  ASSERT_EQ(run("a2 = delminmax(a1, 1, 1)\na4 = delminmax(a3, 0, 1)\na5 = delminmax(a3, 1, 0)\n"
                "a1 = delminmax(a1, 0, 1)"),
            0);
  EXPECT_EQ(samples(2), (std::vector<double>{2, 3}));
  EXPECT_EQ(array(2).xDistance, 0.5f);
  EXPECT_EQ(array(2).xOffset, 2.0f);
  EXPECT_EQ(samples(4), (std::vector<double>{1, 2, 3}));  // NaN sorts above every number
  ASSERT_EQ(array(5).length, 3);
  EXPECT_EQ(array(5).data[0], 2.0);
  EXPECT_EQ(array(5).data[1], 3.0);
  EXPECT_TRUE(std::isnan(array(5).data[2]));
  EXPECT_EQ(samples(1), (std::vector<double>{1, 2, 3}));
}

TEST_F(StatisticsTest, DelminmaxCounts) {
  beforeRun_ = [&] { setSamples(1, {3, 1, 2}); };
  EXPECT_EQ(run("a2 = delminmax(a1, 2, 1)"), 0);
  EXPECT_EQ(array(2).length, 0);
  EXPECT_EQ(run("a2 = delminmax(a1, 2, 2)"), 102);
  EXPECT_EQ(run("a2 = delminmax(a1, -1, 1)"), 102);
  EXPECT_EQ(run("a2 = delminmax(a1, 1, -1)"), 102);
  EXPECT_EQ(run("a2 = delminmax(a1, 1)"), 160);
}

// --- fifoin -----------------------------------------------------------------------

TEST_F(StatisticsTest, FifoinKeepsTheNewestSamples) {
  beforeRun_ = [&] {
    setSamples(2, {1, 2, 3});
    setSamples(3, {4, 5, 6});
    setSamples(4, {1, 2, 3, 4, 5, 6, 7});
    array(1).xDistance = 0.5f;
    array(1).kind = 1;
  };
  ASSERT_EQ(run("setlen(a1, 0)\nfifoin(a1, a2, 4)\nfifoin(a1, a3, 4)"), 0);
  EXPECT_EQ(samples(1), (std::vector<double>{3, 4, 5, 6}));
  EXPECT_EQ(array(1).xDistance, 0.5f);
  EXPECT_EQ(array(1).kind, 1u);
  ASSERT_EQ(run("setlen(a1, 0)\nfifoin(a1, a2, 8)\nfifoin(a1, 9, 8)\nfifoin(a1, v1, 8)"), 0);
  EXPECT_EQ(samples(1), (std::vector<double>{1, 2, 3, 9, 0}));
  // A source longer than the fifo leaves its last samples.
  ASSERT_EQ(run("a1 = 8\nfifoin(a1, a4, 3)"), 0);
  EXPECT_EQ(samples(1), (std::vector<double>{5, 6, 7}));
  // A fifo that is longer than the limit keeps its newest samples.
  ASSERT_EQ(run("a1 = a4\nfifoin(a1, a2, 5)"), 0);
  EXPECT_EQ(samples(1), (std::vector<double>{6, 7, 1, 2, 3}));
  // The fifo as its own source.
  ASSERT_EQ(run("a1 = a2\nfifoin(a1, a1, 5)"), 0);
  EXPECT_EQ(samples(1), (std::vector<double>{2, 3, 1, 2, 3}));
  EXPECT_EQ(run("fifoin(a1, a2, -1)"), 4);
  EXPECT_EQ(run("fifoin(a1, a2)"), 160);
}

// --- chklimit ---------------------------------------------------------------------

TEST_F(StatisticsTest, ChklimitModes) {
  const struct {
    const char* call;
    int expected;
  } cases[] = {
      {"chklimit(5, -10, 10)", 1},     {"chklimit(-10, -10, 10)", 1},      {"chklimit(10, -10, 10)", 1},
      {"chklimit(10.5, -10, 10)", 0},  {"chklimit(-11, -10, 10, 0)", 0},   {"chklimit(-11, -10, 10, 1)", 1},
      {"chklimit(-9, -10, 10, 1)", 1}, {"chklimit(-11.5, -10, 10, 1)", 0}, {"chklimit(-8.5, -10, 10, 1)", 0},
      {"chklimit(100, 100, 0, 1)", 1}, {"chklimit(100.1, 100, 0, 1)", 0},  {"chklimit(5, -10, 10, 2)", 77},
  };
  for (const auto& c : cases) {
    ASSERT_EQ(run(std::string("i1 = 77\ni1 = ") + c.call), 0) << c.call;
    EXPECT_EQ(i(1), c.expected) << c.call;
  }
  ASSERT_EQ(run("v1 = chklimit(0.5, 0, 1)"), 0);
  EXPECT_EQ(v(1), 1.0);
  EXPECT_EQ(run("s1 = chklimit(0.5, 0, 1)"), 160);
  EXPECT_EQ(run("i1 = chklimit(0.5, 0)"), 160);
}

// --- trigger ----------------------------------------------------------------------

TEST_F(StatisticsTest, TriggerFindsRisesThroughTheLevel) {
  beforeRun_ = [&] {
    setSamples(1, {0, 2, 0, 2});
    setSamples(2, {2, 0, 2, 2, 1, kNaN, 0});
    setSamples(3, {0, 1, 1});
    array(4).xOffset = 5.0f;
    array(4).xDistance = 3.0f;
  };
  ASSERT_EQ(run("v1 = trigger(a1, 1)\na4 = trigger(a1, 1)\nv2 = trigger(a2, 1)\na5 = trigger(a2, 1)\n"
                "v3 = trigger(a3, 1)\na6 = trigger(a3, 1)\ni1 = 7\ni1 = trigger(a1, 1)\na2 = trigger(a2, 1)"),
            0);
  EXPECT_EQ(v(1), 1.0);
  EXPECT_EQ(samples(4), (std::vector<double>{1, 3}));
  EXPECT_EQ(array(4).xDistance, 1.0f);
  EXPECT_EQ(array(4).xOffset, 5.0f);
  // The first sample never counts; NaN counts as above the level.
  EXPECT_EQ(v(2), 2.0);
  EXPECT_EQ(samples(5), (std::vector<double>{2, 5}));
  EXPECT_EQ(v(3), -1.0);
  EXPECT_EQ(array(6).length, 0);
  EXPECT_EQ(i(1), 7);                                  // an integer result stays
  EXPECT_EQ(samples(2), (std::vector<double>{2, 5}));  // the source as its own result
}

}  // namespace
}  // namespace morvel::builtins::testing
