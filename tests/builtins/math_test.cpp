// Array and elementwise mathematics, run statement by statement.
#include "builtins/math.h"

#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <limits>
#include <string>
#include <vector>

#include "builtin_test_util.h"
#include "builtins/operands.h"
#include "lang/builtin_table.h"

namespace morvel::builtins::testing {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// Distance in units in the last place between two doubles of the same sign.
int64_t ulps(double a, double b) {
  if (a == b) return 0;
  if (std::isnan(a) && std::isnan(b)) return 0;
  if (std::isnan(a) || std::isnan(b) || std::signbit(a) != std::signbit(b)) return INT64_MAX;
  int64_t ia, ib;
  std::memcpy(&ia, &a, 8);
  std::memcpy(&ib, &b, 8);
  return ia > ib ? ia - ib : ib - ia;
}

using MathTest = BuiltinTest;

// --- the elementwise family against the C library ------------------------------

struct ElementwiseCase {
  const char* name;
  double (*reference)(double);
  int64_t maxUlps;
};

class Elementwise : public BuiltinTest, public ::testing::WithParamInterface<ElementwiseCase> {};

TEST_P(Elementwise, MatchesTheLibraryAndKeepsTheConventions) {
  const ElementwiseCase& c = GetParam();
  // 19 samples: two vectors and a remainder, with zero, negatives, NaN.
  const std::vector<double> in = {0.0,  0.5,  -0.5, 1.0,  -1.0, 0.25,  2.5,  -3.75, 10.0, 0.001,
                                  -0.9, 0.75, 3.0,  -2.0, 1e-8, 0.125, kNaN, 7.5,   -6.25};
  beforeRun_ = [&] {
    setSamples(2, in);
    array(2).xDistance = 0.25f;
    array(2).xOffset = 7.0f;
    array(2).kind = 1;
    array(1).xOffset = -3.0f;
  };
  ASSERT_EQ(run(std::string("a1 = ") + c.name + "(a2)\nv1 = " + c.name + "(a2)\na3 = " + c.name + "(v7)"), 0);
  const ValueArray& r = array(1);
  ASSERT_EQ(r.length, static_cast<int32_t>(in.size()));
  for (size_t k = 0; k < in.size(); ++k)
    EXPECT_LE(ulps(r.data[k], c.reference(in[k])), c.maxUlps)
        << c.name << "(" << in[k] << ") = " << r.data[k];
  EXPECT_EQ(r.xDistance, 0.25f);
  EXPECT_EQ(r.xOffset, -3.0f) << "x offset of the destination stays";
  EXPECT_EQ(r.kind, 0u);
  // A float destination takes every sample in its twin.
  EXPECT_EQ(twinSamples(1).size(), in.size());
  EXPECT_LE(ulps(v(1), c.reference(in[0])), c.maxUlps);
  // A float argument is a one-sample array.
  EXPECT_EQ(array(3).length, 1);
  EXPECT_LE(ulps(array(3).data[0], c.reference(0.0)), c.maxUlps);
}

double fabsRef(double x) {
  return std::fabs(x);
}
double sinRef(double x) {
  return std::sin(x);
}
double cosRef(double x) {
  return std::cos(x);
}
double tanRef(double x) {
  return std::tan(x);
}
double asinRef(double x) {
  return std::asin(x);
}
double acosRef(double x) {
  return std::acos(x);
}
double atanRef(double x) {
  return std::atan(x);
}
double expRef(double x) {
  return std::exp(x);
}
double lnRef(double x) {
  return std::log(x);
}
double signumRef(double x) {
  return x > 0 ? 1.0 : (x < 0 ? -1.0 : 0.0);
}
double posRef(double x) {
  return x >= 0 ? x : 0.0;
}
double negRef(double x) {
  return x <= 0 ? x : 0.0;
}
double truncRef(double x) {
  return std::trunc(x);
}
double fractRef(double x) {
  return x - std::trunc(x);
}

INSTANTIATE_TEST_SUITE_P(
    Family, Elementwise,
    ::testing::Values(ElementwiseCase{"abs", fabsRef, 0}, ElementwiseCase{"sin", sinRef, 4},
                      ElementwiseCase{"cos", cosRef, 4}, ElementwiseCase{"tan", tanRef, 4},
                      ElementwiseCase{"asin", asinRef, 4}, ElementwiseCase{"acos", acosRef, 4},
                      ElementwiseCase{"atan", atanRef, 4}, ElementwiseCase{"exp", expRef, 4},
                      ElementwiseCase{"ln", lnRef, 4}, ElementwiseCase{"signum", signumRef, 0},
                      ElementwiseCase{"pos", posRef, 0}, ElementwiseCase{"neg", negRef, 0},
                      ElementwiseCase{"trunc", truncRef, 0}, ElementwiseCase{"fract", fractRef, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(MathTest, EmptyArgumentGivesEmptyResultWithItsXDistance) {
  beforeRun_ = [&] {
    setSamples(1, {1, 2, 3});
    array(2).xDistance = 0.125f;
  };
  ASSERT_EQ(run("a1 = sin(a2)"), 0);
  EXPECT_EQ(array(1).length, 0);
  EXPECT_EQ(array(1).xDistance, 0.125f);
}

TEST_F(MathTest, InPlaceOnALongArray) {
  std::vector<double> in(5000);
  for (size_t k = 0; k < in.size(); ++k) in[k] = 0.001 * static_cast<double>(k) - 2.0;
  beforeRun_ = [&] { setSamples(1, in); };
  ASSERT_EQ(run("a1 = cos(a1)\na2 = exp(a1)"), 0);
  ASSERT_EQ(array(1).length, 5000);
  for (size_t k = 0; k < in.size(); ++k) {
    ASSERT_LE(ulps(array(1).data[k], std::cos(in[k])), 4) << k;
    ASSERT_LE(ulps(array(2).data[k], std::exp(array(1).data[k])), 4) << k;
  }
}

TEST_F(MathTest, SqrtOfANegativeSampleIsError10AndChangesNothing) {
  beforeRun_ = [&] {
    setSamples(2, {4, 9, -1, 16});
    setSamples(1, {7});
  };
  EXPECT_EQ(run("a1 = sqrt(a2)"), kErrNegativeRoot);
  EXPECT_EQ(samples(1), std::vector<double>{7});
  beforeRun_ = [&] { setSamples(2, {4, kNaN}); };
  EXPECT_EQ(run("a1 = sqrt(a2)"), kErrNegativeRoot);
  beforeRun_ = [&] { setSamples(2, {4, 0, 2.25, -0.0}); };
  ASSERT_EQ(run("a2 = sqrt(a2)"), 0);
  EXPECT_EQ(samples(2), (std::vector<double>{2, 0, 1.5, -0.0}));
}

TEST_F(MathTest, LogTakesTheOffsetAndHandlesZeroAndComplex) {
  beforeRun_ = [&] {
    setSamples(2, {100, 0.001, 0, 1});
    array(2).xOffset = 2.5f;
    array(2).xDistance = 0.5f;
    array(1).xOffset = -1.0f;
  };
  ASSERT_EQ(run("a1 = log(a2)\na3 = sin(a2)"), 0);
  EXPECT_EQ(samples(1), (std::vector<double>{2, -3, -kInf, 0}));
  EXPECT_EQ(array(1).xOffset, 2.5f) << "log copies the x offset";
  EXPECT_EQ(array(1).xDistance, 0.5f);

  state_.mathDefault = true;
  beforeRun_ = [&] { setSamples(2, {0, -0.0, 10}); };
  // resetForRun keeps the substitute-value mode
  ASSERT_EQ(run("a1 = log(a2)"), 0);
  EXPECT_EQ(samples(1), (std::vector<double>{0, 0, 1}));
  state_.mathDefault = false;

  // complex: magnitude to its decimal logarithm, phase kept
  beforeRun_ = [&] {
    setSamples(2, {10, 0, 0, 100, -1000, 0});
    array(2).kind = 1;
  };
  ASSERT_EQ(run("a2 = log(a2)"), 0);
  const auto r = samples(2);
  ASSERT_EQ(r.size(), 6u);
  const double expected[] = {1, 0, 0, 2, -3, 0};
  for (int k = 0; k < 6; ++k) EXPECT_NEAR(r[k], expected[k], 1e-14) << k;
  EXPECT_EQ(array(2).kind, 1u);
}

TEST_F(MathTest, PowAtan2AndTheirArguments) {
  beforeRun_ = [&] {
    setSamples(2, {2, 3, -2, 0.5, 9});
    setSamples(3, {1, 0, -1, -1, 1, 5});
  };
  ASSERT_EQ(run("a1 = pow(a2, 2)\ni1 = 3\na4 = pow(a2, i1)\na5 = pow(a2, 0.5)\na6 = atan2(a2, a3)"), 0);
  EXPECT_EQ(samples(1), (std::vector<double>{4, 9, 4, 0.25, 81}));
  EXPECT_EQ(samples(4), (std::vector<double>{8, 27, -8, 0.125, 729}));
  const auto root = samples(5);
  EXPECT_TRUE(std::isnan(root[2])) << "negative base, fractional exponent";
  EXPECT_LE(ulps(root[4], 3.0), 1);
  const auto angle = samples(6);
  ASSERT_EQ(angle.size(), 5u);
  for (int k = 0; k < 5; ++k) EXPECT_LE(ulps(angle[k], std::atan2(samples(2)[k], samples(3)[k])), 4) << k;
  // the second argument must cover the first
  beforeRun_ = [&] {
    setSamples(2, {1, 2, 3});
    setSamples(3, {1, 2});
  };
  EXPECT_EQ(run("a1 = atan2(a2, a3)"), kErrBadOffset);
  EXPECT_EQ(run("v1 = 1\nv2 = -1\nv3 = atan2(v1, v2)"), 0);
  EXPECT_DOUBLE_EQ(v(3), 3 * std::atan(1.0));
}

TEST_F(MathTest, AndMasksTruncatedSamplesAndKeepsTheComplexFlag) {
  beforeRun_ = [&] {
    setSamples(2, {5.7, -1});
    array(1).kind = 1;
  };
  ASSERT_EQ(run("a1 = and(a2, 3)\ni1 = and(a2, 6)"), 0);
  EXPECT_EQ(samples(1), (std::vector<double>{1, 3}));
  EXPECT_EQ(array(1).kind, 1u);
  EXPECT_EQ(i(1), 4);
}

TEST_F(MathTest, TruncAndFractIntoAnIntegerAndOtherKinds) {
  beforeRun_ = [&] { setSamples(2, {-2.75, 3.5}); };
  ASSERT_EQ(run("i1 = trunc(a2)\nv1 = fract(a2)\ni2 = 7\nv2 = trunc(i2)"), 0);
  EXPECT_EQ(i(1), -2);
  EXPECT_EQ(twinSamples(1), (std::vector<double>{-0.75, 0.5}));
  EXPECT_EQ(v(2), 7.0);
  EXPECT_EQ(run("s1 = trunc(a2)"), kErrOperandKind);
  EXPECT_EQ(run("a1 = trunc(s1)"), kErrOperandKind);
  EXPECT_EQ(run("trunc(a1)"), kErrOperandKind);
}

TEST_F(MathTest, ResultKindsTheRoutinesCannotWriteAreCompileErrors) {
  for (const char* text :
       {"i1 = sin(a1)", "s1 = sqrt(a1)", "sin(a1)", "a1 = sin(i1)", "a1 = sin()", "i1 = getxdist(a1)",
        "i1 = getoffset(a1)", "a1 = pow(a2, a3)", "i1 = pow(a2, 2)", "a1 = atan2(a2, i1)", "i1 = int(a1)",
        "a1 = dev(v1)", "a1 = shift(a2, s1)", "v1 = shift(a2, 1)", "fill(v1, 0, 1, 2)", "fill(a1, 0, 1)",
        "s1 = copybuf(a1, 0, 1)", "s1 = copybuf(f1, 0, 1)", "copybuf(\"x\", s2, 0, 1)",
        "a1 = copybuf(#1, 0, 1)", "a1 = copybuf(a2, 0)", "clr(i1)", "clr(\"abc\")", "setxdist(a1, s1)",
        "a1 = poly(a2, 1, 2)", "a1 = poly(a2, 2, 1, 2)", "a1 = poly(a2, 1, i1, 2)", "a1 = poly(a2)",
        // rows without a result refuse one
        "a1 = fill(a2, 0, 1, 2)", "a1 = clr(a2)", "v1 = setlen(a1, 3)", "a1 = setxdist(a1, 1)",
        "a1 = setoffset(a1, 1)"})
    EXPECT_EQ(compileError(text), 3) << text;
  for (const char* text :
       {"v1 = sin(a1)", "a1 = sin(v1)", "v1 = getxdist(a1)", "a1 = getoffset(v1)", "a1 = poly(a2, 1, 2, 3)",
        "v1 = poly(v2, 0, 5)", "a1 = poly(a2, v9, 1)", "a1 = copybuf(f1, 0, 1)", "s1 = copybuf(s2, i1, 1)",
        "v1 = copybuf(s2, 0, 1)", "clr(w1)", "clr(f1)", "clr(s1)", "clr(a[i1])", "setxdist(v1, i1)"})
    EXPECT_EQ(compileError(text), 0) << text;
}

// --- further array rows ------------------------------------------------------

TEST_F(MathTest, IntegrateAndDifferentiate) {
  beforeRun_ = [&] {
    setSamples(2, {1, 1, 1});
    array(2).xDistance = 0.5f;
    setSamples(3, {4, 4, 4, 4});
    setSamples(4, {0, 1, 4, 9});
    array(4).xDistance = 0.5f;
    array(1).xOffset = 3.0f;
    array(1).kind = 1;
  };
  ASSERT_EQ(run("a1 = int(a2)\na5 = dev(a3)\na4 = dev(a4)"), 0);
  EXPECT_EQ(samples(1), (std::vector<double>{0.5, 1.0, 1.5}));
  EXPECT_EQ(array(1).xDistance, 0.5f);
  EXPECT_EQ(array(1).xOffset, 3.0f);
  EXPECT_EQ(array(1).kind, 1u) << "int leaves the complex flag";
  EXPECT_EQ(samples(5), (std::vector<double>{0, 0, 0, 0}));
  EXPECT_EQ(samples(4), (std::vector<double>{0, 2, 6, 10})) << "dev in place";
}

TEST_F(MathTest, PolyByHornersRule) {
  beforeRun_ = [&] { setSamples(1, {0, 1, 2}); };
  ASSERT_EQ(run("a2 = poly(a1, 1, 2, 3)\na3 = poly(a1, 0, 4.5)\nv1 = 2\na1 = poly(a1, 2, v1, -1, 0.5)"), 0);
  EXPECT_EQ(samples(2), (std::vector<double>{3, 5, 7}));
  EXPECT_EQ(samples(3), (std::vector<double>{4.5, 4.5, 4.5}));
  EXPECT_EQ(samples(1), (std::vector<double>{0.5, 1.5, 6.5})) << "in place";
}

TEST_F(MathTest, PolyWithAnIndirectOrderIsCheckedWhenItRuns) {
  // i1199 keeps its value across runs; at compile time it names no float.
  values_->integerSlot(1199) = 5000;
  EXPECT_EQ(compileError("a1 = poly(a2, v[i1199], 1)"), 0);
  values_->integerSlot(1199) = 7;
  EXPECT_EQ(run("v7 = 1\na1 = poly(a2, v[i1199], 1)"), kErrPolyOrder);
  values_->integerSlot(1199) = 5000;
  EXPECT_EQ(run("a1 = poly(a2, v[i1199], 1)"), lang::kErrIndirectSlotOutOfPool);
}

TEST_F(MathTest, PolyOrderBeyondTheCoefficientsOrAbove20IsError11) {
  // v9 is 0 when the statement compiles (one coefficient), 2 when it runs.
  EXPECT_EQ(run("v9 = 2\na1 = poly(a2, v9, 1)"), kErrPolyOrder);
  EXPECT_EQ(run("v9 = -1\na1 = poly(a2, v9, 1)"), kErrPolyOrder);
  std::string coefficients;
  for (int k = 0; k < 22; ++k) coefficients += ", 1";
  EXPECT_EQ(run("a1 = poly(a2, 21" + coefficients + ")"), kErrPolyOrder);
  beforeRun_ = [&] { setSamples(2, {1}); };
  EXPECT_EQ(run("a1 = poly(a2, 20" + coefficients + ")"), 0);
  EXPECT_EQ(samples(1), std::vector<double>{21});
}

TEST_F(MathTest, ShiftBounds) {
  beforeRun_ = [&] {
    setSamples(2, {1, 2, 3, 4});
    array(2).kind = 1;
    array(2).xDistance = 0.5f;
  };
  ASSERT_EQ(run("a1 = shift(a2, 1)\na3 = shift(a2, 0)\na4 = shift(a2, 4)\na2 = shift(a2, 2)"), 0);
  EXPECT_EQ(samples(1), (std::vector<double>{2, 3, 4}));
  EXPECT_EQ(array(1).kind, 1u);
  EXPECT_EQ(array(1).xDistance, 0.5f);
  EXPECT_EQ(samples(3), (std::vector<double>{1, 2, 3, 4}));
  EXPECT_EQ(array(4).length, 0);
  EXPECT_EQ(samples(2), (std::vector<double>{3, 4}));
  EXPECT_EQ(run("a1 = shift(a2, 5)"), kErrShiftTooFar);
  EXPECT_EQ(run("a1 = shift(a2, -1)"), kErrShiftTooFar);
}

TEST_F(MathTest, FillGrowsAndChecksItsBounds) {
  beforeRun_ = [&] { setSamples(1, {9, 9, 9}); };
  ASSERT_EQ(run("fill(a1, 10, 5, 1.5)\nfill(a2, 0, 2, i7)"), 0);
  EXPECT_EQ(array(1).length, 15);
  for (int k = 10; k < 15; ++k) EXPECT_EQ(array(1).data[k], 1.5);
  EXPECT_EQ(array(1).data[0], 9);
  ASSERT_EQ(run("fill(a1, 1, 1, 5)"), 0);
  EXPECT_EQ(samples(1), (std::vector<double>{9, 5, 9})) << "length stays when the end is inside";
  EXPECT_EQ(run("fill(a1, -1, 2, 0)"), kErrBadOffset);
  EXPECT_EQ(run("fill(a1, 0, -2, 0)"), kErrNegativeCount);
  EXPECT_EQ(run("fill(a1, 2000000000, 2000000000, 0)"), lang::kErrArrayMemory);
}

TEST_F(MathTest, CopybufFromArrays) {
  beforeRun_ = [&] {
    setSamples(2, {1, 2, 3, 4, 5});
    array(2).kind = 1;
    array(2).xDistance = 0.5f;
    array(2).xOffset = 8.0f;
  };
  ASSERT_EQ(run("a1 = copybuf(a2, 1, 3)\nv1 = copybuf(a2, 3, 2)\na2 = copybuf(a2, 2, 3)"), 0);
  EXPECT_EQ(samples(1), (std::vector<double>{2, 3, 4}));
  EXPECT_EQ(array(1).kind, 1u);
  EXPECT_EQ(array(1).xDistance, 0.5f);
  EXPECT_EQ(array(1).xOffset, 0.0f) << "x offset not taken";
  EXPECT_EQ(twinSamples(1), (std::vector<double>{4, 5}));
  EXPECT_EQ(samples(2), (std::vector<double>{3, 4, 5})) << "same array";
  EXPECT_EQ(run("a1 = copybuf(a2, 3, 3)"), kErrBadOffset);
  EXPECT_EQ(run("a1 = copybuf(a2, -1, 1)"), kErrBadOffset);
  EXPECT_EQ(run("a1 = copybuf(a2, 0, -1)"), kErrNegativeCount);
  beforeRun_ = [&] { setSamples(1, {7}); };
  ASSERT_EQ(run("a1 = copybuf(s1, 0, 1)"), 0);
  EXPECT_EQ(samples(1), std::vector<double>{7}) << "a string source copies nothing";
}

TEST_F(MathTest, CopybufBetweenStrings) {
  ASSERT_EQ(run("s2 = \"abcdef\"\ns1 = copybuf(s2, 2, 3)\ns3 = copybuf(s2, 4, 10)\ns4 = \"x\"\n"
                "s4 = copybuf(s2, 6, 2)\ns5 = \"y\"\ns5 = copybuf(s2, 100, 2)\ns2 = copybuf(s2, 1, 2)"),
            0);
  EXPECT_EQ(s(1), "cde");
  EXPECT_EQ(s(3), "ef");
  EXPECT_EQ(s(4), "");
  EXPECT_EQ(s(5), "") << "offset past the text";
  EXPECT_EQ(s(2), "bc");
  beforeRun_ = [&] {
    std::memset(values_->stringSlot(2), 'q', 1023);
    values_->stringSlot(2)[1023] = '\0';
  };
  ASSERT_EQ(run("s1 = copybuf(s2, 0, 5000)"), 0);
  EXPECT_EQ(s(1).size(), 1023u);
}

class CopybufFile : public BuiltinTest {
 protected:
  void SetUp() override {
    char dir[] = "/tmp/morvel-copybuf-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    dir_ = dir;
    ASSERT_EQ(getcwd(old_, sizeof old_), old_);
    ASSERT_EQ(chdir(dir_.c_str()), 0);
  }
  void TearDown() override {
    values_->closeAllFileArrays();
    unlink((dir_ + "/f03.tmp").c_str());
    unlink((dir_ + "/f04.tmp").c_str());
    EXPECT_EQ(chdir(old_), 0);
    rmdir(dir_.c_str());
  }
  std::string dir_;
  char old_[4096];
};

TEST_F(CopybufFile, ReadsAtTheSamplePositionWhateverTheHandleDid) {
  beforeRun_ = [&] {
    setSamples(1, {1, 2, 3});
    array(1).xDistance = 0.25f;
    array(1).xOffset = 4.0f;
    array(1).kind = 1;
  };
  // The writes leave the handle open; the copy still reads sample 2 onwards.
  ASSERT_EQ(run("f3 = a1\nf3 &= a1\na2 = copybuf(f3, 2, 3)\na3 = copybuf(f3, 5, 10)\nv1 = copybuf(f3, 0, 1)"),
            0);
  EXPECT_EQ(samples(2), (std::vector<double>{3, 1, 2}));
  EXPECT_EQ(array(2).xDistance, 0.25f);
  EXPECT_EQ(array(2).xOffset, 4.0f);
  EXPECT_EQ(array(2).kind, 1u);
  EXPECT_EQ(samples(3), std::vector<double>{3}) << "fewer when the file ends";
  EXPECT_EQ(v(1), 1.0);
  // A file that cannot be opened leaves an empty destination.
  beforeRun_ = [&] { setSamples(2, {5, 6}); };
  ASSERT_EQ(run("a2 = copybuf(f4, 0, 2)"), 0);
  EXPECT_EQ(array(2).length, 0);
}

TEST_F(CopybufFile, ClrOfAnFVariableDeletesItsFile) {
  beforeRun_ = [&] { setSamples(1, {1, 2}); };
  ASSERT_EQ(run("f3 = a1"), 0);
  ASSERT_EQ(access("f03.tmp", F_OK), 0);
  ASSERT_EQ(run("clr(f3)"), 0);
  EXPECT_NE(access("f03.tmp", F_OK), 0);
}

struct RecordingPort : lang::WindowPort {
  bool hasWindow(int number) const override { return number == 4; }
  void assign(int, const lang::Operand&, const lang::Operand*, int, lang::ValueStore&) override {}
  void clearWindow(int number) override { cleared.push_back(number); }
  std::vector<int> cleared;
};

TEST_F(MathTest, ClrOfEachKind) {
  RecordingPort port;
  values_->setWindowPort(&port);
  beforeRun_ = [&] {
    setSamples(7, {1, 2, 3});
    values_->averagingCounter(7) = 5;
  };
  ASSERT_EQ(run("s1 = \"abc\"\nclr(s1)\nclr(a7)\nclr(w4)"), 0);
  EXPECT_EQ(s(1), "");
  EXPECT_EQ(array(7).length, 0);
  EXPECT_EQ(values_->averagingCounter(7), 0.0);
  EXPECT_EQ(port.cleared, std::vector<int>{4});
  EXPECT_EQ(run("clr(w5)"), lang::kErrWindowNumber);
  values_->setWindowPort(nullptr);
  EXPECT_EQ(run("clr(w4)"), lang::kErrWindowNumber);
}

TEST_F(MathTest, SetlenOfArraysAndStrings) {
  beforeRun_ = [&] { setSamples(1, {1, 2}); };
  ASSERT_EQ(run("setlen(a1, 2000)\ns1 = \"ab\"\nsetlen(s1, 5)\ns2 = \"abcdefg\"\nsetlen(s2, 5)\n"
                "s3 = \"xy\"\nsetlen(s3, 1024)\nsetlen(a2, 0)"),
            0);
  EXPECT_EQ(array(1).length, 2000);
  EXPECT_GE(array(1).capacity, 2000);
  EXPECT_EQ(array(1).data[1], 2);
  EXPECT_EQ(s(1), "ab   ");
  EXPECT_EQ(s(2), "abcde");
  EXPECT_EQ(s(3), "xy");
  EXPECT_EQ(array(2).length, 0);
  EXPECT_EQ(run("setlen(a1, -1)"), kErrNegativeCount);
  EXPECT_EQ(run("setlen(s1, -1)"), kErrNegativeCount);
  EXPECT_EQ(run("setlen(\"ab\", 100)"), kErrOperandKind) << "a literal's text must not change";
  EXPECT_EQ(run("setlen(i1, 3)"), kErrOperandKind);
  EXPECT_EQ(run("setlen(a1)"), kErrOperandKind);
}

TEST_F(MathTest, LengthsAndAxes) {
  beforeRun_ = [&] { setSamples(1, {1, 2, 3, 4}); };
  ASSERT_EQ(run("v1 = getlen(a1)\ni1 = getlen(a1)\ns1 = \"hello\"\ni2 = getlen(s1)\nv2 = getlen(i5)\n"
                "v3 = sin(a1)\ni3 = getlen(v3)\nsetxdist(a1, 0.001)\nsetoffset(a1, i2)\nv4 = getxdist(a1)\n"
                "v5 = getoffset(a1)\nsetxdist(v6, 0.5)\nv7 = getxdist(v6)\nv8 = getxdist(v8)"),
            0);
  EXPECT_EQ(v(1), 4);
  EXPECT_EQ(i(1), 4);
  EXPECT_EQ(i(2), 5);
  EXPECT_EQ(v(2), 1);
  EXPECT_EQ(i(3), 1);
  EXPECT_EQ(array(1).xDistance, 0.001f);
  EXPECT_EQ(array(1).xOffset, 5.0f);
  EXPECT_EQ(v(4), static_cast<double>(0.001f));
  EXPECT_EQ(v(5), 5.0);
  EXPECT_EQ(v(7), 0.5);
  const ValueArray& twin = values_->floatTwin(4);
  EXPECT_EQ(twin.length, 1);
  EXPECT_EQ(twin.xDistance, 1.0f);
  EXPECT_EQ(twin.xOffset, 0.0f);
  EXPECT_EQ(v(8), 1.0) << "a fresh twin's x distance";
  EXPECT_EQ(run("s1 = getlen(a1)"), kErrOperandKind);
  EXPECT_EQ(run("v1 = getlen()"), kErrOperandKind);
}

TEST_F(MathTest, RandRestartsItsSequenceAtEveryRun) {
  for (int runNumber = 0; runNumber < 2; ++runNumber) {
    ASSERT_EQ(run("a1 = rand(3)\nv1 = rand(10)\na2 = rand(0)"), 0);
    const auto r = samples(1);
    ASSERT_EQ(r.size(), 3u);
    EXPECT_NEAR(r[0], -0.9974975586, 1e-10);
    EXPECT_NEAR(r[1], 0.1271362305, 1e-10);
    EXPECT_NEAR(r[2], -0.6134033203, 1e-10);
    EXPECT_EQ(array(1).xDistance, 0.001f);
    EXPECT_EQ(values_->floatTwin(1).length, 1) << "a float takes one value";
    EXPECT_EQ(array(2).length, 0);
  }
  // Every value is a multiple of 1/16384 in [-1, 1).
  ASSERT_EQ(run("a1 = rand(100000)"), 0);
  for (double x : samples(1)) {
    ASSERT_GE(x, -1.0);
    ASSERT_LT(x, 1.0);
    ASSERT_EQ(x * 16384, std::trunc(x * 16384));
  }
  EXPECT_EQ(run("a1 = rand(-1)"), kErrNegativeCount);
  EXPECT_EQ(run("i1 = rand(3)"), kErrOperandKind);
  EXPECT_EQ(run("rand(3)"), kErrOperandKind);
}

TEST_F(MathTest, ModKeepsTheSignOfTheDividendAndNeverTraps) {
  ASSERT_EQ(run("i1 = mod(-7, 3)\nv1 = mod(7.9, 2)\ni2 = mod(5, 0)\ni3 = -2147483648\ni4 = mod(i3, -1)\n"
                "i5 = mod(7, -3)\nv2 = mod(i3, 0)"),
            0);
  EXPECT_EQ(i(1), -1);
  EXPECT_EQ(v(1), 1.0);
  EXPECT_EQ(values_->floatTwin(1).xDistance, 1.0f);
  EXPECT_EQ(i(2), 0);
  EXPECT_EQ(i(3), INT32_MIN);
  EXPECT_EQ(i(4), 0);
  EXPECT_EQ(i(5), 1);
  EXPECT_EQ(v(2), 0.0);
  EXPECT_EQ(run("s1 = mod(1, 2)"), kErrOperandKind);
  EXPECT_EQ(run("i1 = mod(1)"), kErrOperandKind);
}

TEST(MathRows, AreImplementedWithTheirCheckRoutines) {
  for (const char* name :
       {"abs",    "sin",      "cos",       "tan",      "asin",      "acos", "atan",    "atan2", "sqrt",
        "exp",    "ln",       "log",       "pow",      "signum",    "pos",  "neg",     "trunc", "fract",
        "and",    "int",      "dev",       "poly",     "shift",     "fill", "copybuf", "clr",   "setlen",
        "getlen", "setxdist", "setoffset", "getxdist", "getoffset", "rand", "mod"}) {
    const lang::BuiltinEntry* e = lang::findBuiltin(name);
    ASSERT_NE(e, nullptr) << name;
    EXPECT_TRUE(lang::builtinImplemented(*e)) << name;
    EXPECT_NE(e->run, lang::pendingBuiltin) << name;
  }
}

}  // namespace
}  // namespace morvel::builtins::testing
