// The vectorised transcendental kernels against the scalar C library: every
// length around the vector width, in place, special values.
#include "builtins/math_vector.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

namespace morvel::builtins::vec {
namespace {

int64_t ulps(double a, double b) {
  if (a == b || (std::isnan(a) && std::isnan(b))) return 0;
  if (std::isnan(a) || std::isnan(b) || std::signbit(a) != std::signbit(b)) return INT64_MAX;
  int64_t ia, ib;
  std::memcpy(&ia, &a, 8);
  std::memcpy(&ib, &b, 8);
  return ia > ib ? ia - ib : ib - ia;
}

struct ScalarScope {
  ScalarScope() { forceScalar(true); }
  ~ScalarScope() { forceScalar(false); }
};

std::vector<double> inputs(Unary fn, size_t n, unsigned seed) {
  std::mt19937_64 rng(seed);
  double lo = -20, hi = 20;
  if (fn == Unary::Asin || fn == Unary::Acos) lo = -1, hi = 1;
  if (fn == Unary::Ln || fn == Unary::Log10) lo = 1e-3, hi = 1e6;
  if (fn == Unary::Sqrt) lo = 0, hi = 1e6;
  std::uniform_real_distribution<double> d(lo, hi);
  std::vector<double> x(n);
  for (double& v : x) v = d(rng);
  return x;
}

const Unary kAll[] = {Unary::Sin,  Unary::Cos,    Unary::Tan, Unary::Asin,  Unary::Acos,
                      Unary::Atan, Unary::Exp,    Unary::Ln,  Unary::Log10, Unary::Abs,
                      Unary::Sqrt, Unary::Signum, Unary::Pos, Unary::Neg};

// abs, sqrt, signum, pos and neg are exact.
int64_t tolerance(Unary fn) {
  return static_cast<int>(fn) >= static_cast<int>(Unary::Abs) ? 0 : 4;
}

TEST(MathVector, EveryLengthAndInPlaceWithin4Ulps) {
  for (Unary fn : kAll) {
    for (size_t n = 0; n <= 37; ++n) {
      const auto x = inputs(fn, n, static_cast<unsigned>(n) * 31u + static_cast<unsigned>(fn));
      std::vector<double> fast(n + 1, 42.0), slow(n + 1, 42.0), inPlace = x;
      apply(fn, x.data(), fast.data(), static_cast<int64_t>(n));
      apply(fn, inPlace.data(), inPlace.data(), static_cast<int64_t>(n));
      {
        ScalarScope scalar;
        apply(fn, x.data(), slow.data(), static_cast<int64_t>(n));
      }
      EXPECT_EQ(fast[n], 42.0) << "wrote past the end, n=" << n;
      for (size_t k = 0; k < n; ++k) {
        ASSERT_LE(ulps(fast[k], slow[k]), tolerance(fn))
            << implementation() << " fn " << static_cast<int>(fn) << " x=" << x[k];
        ASSERT_EQ(ulps(inPlace[k], fast[k]), 0);
      }
    }
  }
}

TEST(MathVector, SpecialValuesFollowTheCLibrary) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const std::vector<double> x = {0.0,    -0.0,  inf,    -inf, nan,  1e300, -1e300,
                                 5e-324, 710.0, -746.0, 1.0,  -1.0, 2.0};
  for (Unary fn : kAll) {
    std::vector<double> fast(x.size()), slow(x.size());
    apply(fn, x.data(), fast.data(), static_cast<int64_t>(x.size()));
    {
      ScalarScope scalar;
      apply(fn, x.data(), slow.data(), static_cast<int64_t>(x.size()));
    }
    for (size_t k = 0; k < x.size(); ++k)
      EXPECT_LE(ulps(fast[k], slow[k]), tolerance(fn))
          << "fn " << static_cast<int>(fn) << " x=" << x[k] << " " << fast[k] << " vs " << slow[k];
  }
}

// Large blocks go to memory with streaming stores from the destination's
// next 64-byte boundary on: every alignment, in place too.
TEST(MathVector, LargeBlocksAtEveryAlignment) {
  const int64_t n = (int64_t{1} << 21) + 13;
  std::vector<double> x(static_cast<size_t>(n) + 8), slow(static_cast<size_t>(n));
  std::mt19937_64 rng(3);
  std::uniform_real_distribution<double> d(-30, 30);
  for (double& v : x) v = d(rng);
  for (Unary fn : {Unary::Sin, Unary::Abs, Unary::Signum}) {
    {
      ScalarScope scalar;
      apply(fn, x.data(), slow.data(), n);
    }
    for (int shift : {0, 1, 3, 7}) {
      std::vector<double> out(static_cast<size_t>(n) + 16, 42.0);
      apply(fn, x.data(), out.data() + shift, n);
      for (int64_t k = 0; k < n; ++k) ASSERT_LE(ulps(out[k + shift], slow[k]), tolerance(fn)) << k;
      EXPECT_EQ(out[n + shift], 42.0);
      if (shift > 0) {
        EXPECT_EQ(out[shift - 1], 42.0);
      }
    }
    std::vector<double> inPlace(x.begin() + 1, x.begin() + 1 + n);
    apply(fn, inPlace.data(), inPlace.data(), n);
    std::vector<double> expected(static_cast<size_t>(n));
    apply(fn, x.data() + 1, expected.data(), n);
    EXPECT_EQ(std::memcmp(inPlace.data(), expected.data(), static_cast<size_t>(n) * 8), 0);
  }
}

// sin has its own reduction by pi: next to multiples of pi (where the
// reduced argument loses the most digits), on both sides of the largest
// argument it reduces itself, with large and small arguments in one vector,
// and with the sign of zero kept.
TEST(MathVector, SinReductionNextToMultiplesOfPi) {
  std::vector<double> x;
  for (double k : {1.0, 2.0, 3.0, 100.0, 1000.0, 12345.0, 318309.0, 318310.0, 1e7}) {
    const double m = k * 3.14159265358979323846;
    double v = m;
    for (int step = 0; step < 6; ++step) v = std::nextafter(v, 0.0);
    for (int step = 0; step < 12; ++step, v = std::nextafter(v, 1e300)) x.push_back(v), x.push_back(-v);
  }
  // The doubles below 1e6 closest to a multiple of pi (k = 204551, 263205,
  // 145897, 291794, 58285): |x - k*pi| is about 1e-16.
  for (double v : {642615.9188844458, 826882.8943881015, 458348.94338079006, 916697.8867615801, 183107.7278144811,
                   999999.9999999999, 1e6, 1000000.0000000001, 1.5707963267948966, 1e-310, -1e-310})
    x.push_back(v), x.push_back(-v);
  std::mt19937_64 rng(11);
  std::uniform_real_distribution<double> wide(-1.2e6, 1.2e6);
  for (int i = 0; i < 100000; ++i) x.push_back(wide(rng));
  std::vector<double> fast(x.size());
  apply(Unary::Sin, x.data(), fast.data(), static_cast<int64_t>(x.size()));
  for (size_t k = 0; k < x.size(); ++k) ASSERT_LE(ulps(fast[k], std::sin(x[k])), 3) << "x=" << x[k];

  const double zeros[] = {0.0, -0.0, 1e300, -0.0, 0.0, -0.0, 2.0, -0.0, -0.0};
  double z[9];
  for (int64_t n : {int64_t{9}, int64_t{2}}) {
    apply(Unary::Sin, zeros, z, n);
    for (int64_t k = 0; k < n; ++k) {
      if (zeros[k] == 0.0) {
        EXPECT_EQ(std::signbit(z[k]), std::signbit(zeros[k])) << k;
      }
    }
  }
}

TEST(MathVector, NegativeOrNaNDetection) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  for (int64_t n : {1, 7, 8, 9, 100}) {
    std::vector<double> x(static_cast<size_t>(n), 2.0);
    x.back() = -0.0;
    EXPECT_FALSE(anyNegativeOrNaN(x.data(), n)) << n;
    x.back() = -1e-300;
    EXPECT_TRUE(anyNegativeOrNaN(x.data(), n)) << n;
    x.back() = nan;
    EXPECT_TRUE(anyNegativeOrNaN(x.data(), n)) << n;
    EXPECT_FALSE(anyNegativeOrNaN(x.data(), n - 1)) << n;
  }
}

TEST(MathVector, Atan2AndPow) {
  std::mt19937_64 rng(7);
  std::uniform_real_distribution<double> d(-50, 50);
  for (size_t n : {0u, 1u, 3u, 4u, 7u, 8u, 9u, 17u, 1000u}) {
    std::vector<double> y(n), x(n), fast(n), slow(n), pf(n), ps(n);
    for (size_t k = 0; k < n; ++k) y[k] = d(rng), x[k] = d(rng);
    for (size_t k = 0; k < n; ++k) y[k] = k % 5 == 0 ? 0.0 : y[k];
    atan2(y.data(), x.data(), fast.data(), static_cast<int64_t>(n));
    std::vector<double> base(n);
    for (size_t k = 0; k < n; ++k) base[k] = std::fabs(x[k]);
    pow(base.data(), 2.5, pf.data(), static_cast<int64_t>(n));
    {
      ScalarScope scalar;
      atan2(y.data(), x.data(), slow.data(), static_cast<int64_t>(n));
      pow(base.data(), 2.5, ps.data(), static_cast<int64_t>(n));
    }
    for (size_t k = 0; k < n; ++k) {
      ASSERT_LE(ulps(fast[k], slow[k]), 4) << y[k] << "," << x[k];
      ASSERT_LE(ulps(pf[k], ps[k]), 1) << base[k];
    }
  }
  const double negative[] = {-2, -8, -0.5, 0, 3};
  double r[5];
  pow(negative, 3.0, r, 5);
  EXPECT_EQ(r[0], -8);
  EXPECT_EQ(r[1], -512);
  EXPECT_EQ(r[2], -0.125);
  EXPECT_EQ(r[3], 0);
  EXPECT_EQ(r[4], 27);
  pow(negative, 0.5, r, 5);
  EXPECT_TRUE(std::isnan(r[0]));
}

TEST(MathVector, UsesAVectorImplementationWhereThereIsOne) {
#if defined(__x86_64__)
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx2")) {
    EXPECT_STRNE(implementation(), "scalar");
  }
#endif
  ScalarScope scalar;
  EXPECT_STREQ(implementation(), "scalar");
}

}  // namespace
}  // namespace morvel::builtins::vec
