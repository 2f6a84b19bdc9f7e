// Spectral analysis rows: exact cases, the written algorithm bit for bit,
// numpy's FFT on random data, compile-time point counts and run-time errors.
#include <unistd.h>

#include <cmath>
#include <complex>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "builtin_test_util.h"
#include "builtins/fourier.h"
#include "lang/program.h"

namespace morvel::builtins::testing {
namespace {

namespace fs = std::filesystem;
using SpectrumTest = BuiltinTest;

bool sameBits(const double* a, const double* b, size_t n) { return std::memcmp(a, b, n * sizeof(double)) == 0; }

// --- exact cases ------------------------------------------------------------------

TEST_F(SpectrumTest, EightOnesGiveTheTruncatedWindowSums) {
  // Windows 4 and 5 only through a variable (the check accepts the
  // variable's compile-time value 0).
  const double expected[7] = {2.0, 2.0, 2.0000016015829, 1.9980013629470, 2.0017862518448, 2.0000016993453,
                              2.0000018644025};
  std::string body = fill(2, std::vector<double>(8, 1.0));
  for (int w = 0; w < 7; ++w)
    body += "i1 = " + std::to_string(w) + "\na" + std::to_string(10 + w) + " = fft(a2, 8, i1)\n";
  ASSERT_EQ(run(body), 0);
  for (int w = 0; w < 7; ++w) {
    const ValueArray& r = array(10 + w);
    ASSERT_EQ(r.length, 16);
    EXPECT_EQ(r.kind & 3u, 1u);
    EXPECT_NEAR(r.data[0], expected[w], 5e-13) << "window " << w;
    EXPECT_EQ(r.data[1], 0.0);
  }
  const ValueArray& hann = array(12);
  EXPECT_NEAR(hann.data[2], -0.99999966829, 1e-11);
  EXPECT_NEAR(hann.data[3], 2.6536e-6, 1e-10);
}

TEST_F(SpectrumTest, SineAtABinHasMagnitudeOneThereAndInverseRestores) {
  constexpr int n = 64, bin = 5;
  std::vector<double> x(n);
  for (int k = 0; k < n; ++k) x[k] = std::sin(2.0 * M_PI * bin * k / n);
  beforeRun_ = [&] {
    setSamples(2, x);
    array(2).xDistance = 0.001f;
    array(1).xOffset = 3.0f;
  };
  ASSERT_EQ(run("a1 = fft(a2, 64, 0)\na3 = betr(a1)\na4 = ifft(a1, 64)\na5 = real(a4)\na6 = im(a4)"), 0);
  const ValueArray& spectrum = array(1);
  EXPECT_FLOAT_EQ(spectrum.xDistance, static_cast<float>(1.0 / (64 * static_cast<double>(0.001f))));
  EXPECT_EQ(spectrum.xOffset, 3.0f);  // left as it was
  const auto mag = samples(3);
  ASSERT_EQ(mag.size(), 64u);
  for (int k = 0; k < n; ++k) EXPECT_NEAR(mag[k], k == bin || k == n - bin ? 1.0 : 0.0, 1e-9) << k;
  const auto re = samples(5), im = samples(6);
  for (int k = 0; k < n; ++k) {
    EXPECT_NEAR(re[k], x[k], 1e-9) << k;
    EXPECT_NEAR(im[k], 0.0, 1e-9) << k;
  }
}

TEST_F(SpectrumTest, RevspecReordersToAscendingFrequency) {
  std::vector<double> x(32);
  for (int k = 0; k < 32; ++k) x[k] = k;  // 16 complex values: value k = (2k, 2k+1)
  std::vector<double> real(20);
  for (int k = 0; k < 20; ++k) real[k] = 100 + k;
  beforeRun_ = [&] {
    setSamples(2, x);
    array(2).kind = 1;
    array(2).xDistance = 10.0f;
    setSamples(4, real);
    array(4).xDistance = 2.0f;
    array(1).length = 0;  // a1 has to grow to the source's length
  };
  ASSERT_EQ(run(fill(7, std::vector<double>(16, 0.0)) + "a8 = fft(a7, 16, 0)\na1 = revspec(a2)\na3 = revspec(a4)"), 0);
  const ValueArray& r = array(1);
  ASSERT_EQ(r.length, 32);
  EXPECT_EQ(r.kind & 3u, 1u);
  EXPECT_EQ(r.xOffset, -70.0f);
  EXPECT_EQ(r.xOffset + 15 * r.xDistance, 80.0f);
  for (int v = 0; v < 16; ++v) {
    const int from = v < 7 ? v + 9 : v - 7;  // values 9..15 first, then 0..8
    EXPECT_EQ(r.data[2 * v], 2.0 * from);
    EXPECT_EQ(r.data[2 * v + 1], 2.0 * from + 1);
  }
  // A real source: one double per value; what lies beyond the 16 values stays.
  const auto re = samples(3);
  ASSERT_EQ(re.size(), 20u);
  for (int v = 0; v < 16; ++v) EXPECT_EQ(re[v], 100.0 + (v < 7 ? v + 9 : v - 7));
  for (int v = 16; v < 20; ++v) EXPECT_EQ(re[v], 100.0 + v);
  EXPECT_EQ(array(3).xOffset, -14.0f);
}

TEST_F(SpectrumTest, ComplexArrayRows) {
  // (3, 4), (0, 0), (-1, 0), (0, -2)
  const std::vector<double> pairs = {3, 4, 0, 0, -1, 0, 0, -2};
  beforeRun_ = [&] {
    setSamples(2, pairs);
    array(2).kind = 1;
    array(2).xDistance = 0.5f;
    array(2).xOffset = -1.0f;
    setSamples(5, {1, 2, 3});
    setSamples(6, {4, 5, 6, 7});
  };
  ASSERT_EQ(run("a10 = betr(a2)\na11 = phase(a2)\na12 = real(a2)\na13 = im(a2)\na14 = konjc(a2)\n"
                "a15 = complex(a5, a6)\na5 = complex(a5, a6)\na16 = fftdev(a2)\na17 = noisesup(a2, 1, 20)"),
            0);
  EXPECT_EQ(samples(10), (std::vector<double>{5, 0, 1, 2}));
  EXPECT_EQ(samples(11), (std::vector<double>{std::atan2(4.0, 3.0), 0, M_PI, -M_PI / 2}));
  EXPECT_EQ(samples(12), (std::vector<double>{3, 0, -1, 0}));
  EXPECT_EQ(samples(13), (std::vector<double>{4, 0, 0, -2}));
  EXPECT_EQ(samples(14), (std::vector<double>{3, -4, 0, -0.0, -1, -0.0, 0, 2}));
  for (int slot : {10, 11, 12, 13}) {
    EXPECT_EQ(array(slot).kind & 3u, 0u);
    EXPECT_EQ(array(slot).xDistance, 0.5f);
    EXPECT_EQ(array(slot).xOffset, -1.0f);
  }
  EXPECT_EQ(array(14).kind & 3u, 1u);
  // complex(): pairs from two real arrays, also into one of its sources.
  EXPECT_EQ(samples(15), (std::vector<double>{1, 4, 2, 5, 3, 6}));
  EXPECT_EQ(samples(5), (std::vector<double>{1, 4, 2, 5, 3, 6}));
  EXPECT_EQ(array(15).kind & 3u, 1u);
  // fftdev: value k times k * 0.5 * 6.283185308, both parts alike.
  const auto d = samples(16);
  for (int k = 0; k < 4; ++k) {
    const double w = k * 0.5 * 6.283185308;
    EXPECT_EQ(d[2 * k], pairs[2 * k] * w);
    EXPECT_EQ(d[2 * k + 1], pairs[2 * k + 1] * w);
  }
  // noisesup(a, 1, 20): threshold 0.1 keeps everything here (all >= 0.1 or 0).
  EXPECT_EQ(samples(17), pairs);
}

TEST_F(SpectrumTest, NoisesupKeepsTheThresholdItself) {
  beforeRun_ = [&] { setSamples(2, {0.05, -0.0999, 0.1, -0.1, 0.2, -3}); };
  ASSERT_EQ(run("a1 = noisesup(a2, 1, 20)\na3 = noisesup(a2, 1, -20)"), 0);
  const std::vector<double> expected = {0, 0, 0.1, -0.1, 0.2, -3};
  EXPECT_EQ(samples(1), expected);
  EXPECT_EQ(samples(3), expected);
}

TEST_F(SpectrumTest, TransfOfEqualSignalsIsOneAndLeavesItsArguments) {
  const auto x = randomSamples(300, 7);  // n = 256
  beforeRun_ = [&] {
    setSamples(2, x);
    setSamples(3, x);
    array(2).xDistance = 0.01f;
  };
  ASSERT_EQ(run("a1 = transf(a2, a3)"), 0);
  const ValueArray& h = array(1);
  ASSERT_EQ(h.length, 512);
  EXPECT_EQ(h.kind & 3u, 1u);
  EXPECT_FLOAT_EQ(h.xDistance, static_cast<float>(1.0 / (256 * static_cast<double>(0.01f))));
  for (int k = 0; k < 256; ++k) {
    EXPECT_NEAR(h.data[2 * k], 1.0, 1e-12) << k;
    EXPECT_NEAR(h.data[2 * k + 1], 0.0, 1e-12) << k;
  }
  EXPECT_EQ(samples(2), x);
  EXPECT_EQ(samples(3), x);
}

TEST_F(SpectrumTest, TransfAgainstAQuotientOfSpectra) {
  const auto x = randomSamples(64, 8), y = randomSamples(64, 9);
  beforeRun_ = [&] {
    setSamples(2, x);
    setSamples(3, y);
  };
  // The result may be one of the arguments.
  ASSERT_EQ(run("a1 = transf(a2, a3)\na3 = transf(a2, a3)"), 0);
  std::vector<double> xr(x), xi(64, 0.0), yr(y), yi(64, 0.0);
  spectrum::spectrumCoreReference(xr.data(), xi.data(), 64, 5, true);
  spectrum::spectrumCoreReference(yr.data(), yi.data(), 64, 5, true);
  for (int k = 0; k < 64; ++k) {
    const std::complex<double> h = std::complex<double>(yr[k], yi[k]) / std::complex<double>(xr[k], xi[k]);
    EXPECT_NEAR(array(1).data[2 * k], h.real(), 1e-9 * std::abs(h) + 1e-12);
    EXPECT_NEAR(array(1).data[2 * k + 1], h.imag(), 1e-9 * std::abs(h) + 1e-12);
  }
  EXPECT_EQ(samples(3), samples(1));
}

// --- the fast core against the written steps ------------------------------------------

TEST(SpectrumCore, FastCoreIsBitForBitTheWrittenAlgorithm) {
  for (bool scalar : {false, true}) {
    spectrum::forceScalarKernel(scalar);
    for (int n = 2; n <= 65536; n *= 2) {
      const auto x = randomSamples(2 * static_cast<size_t>(n), static_cast<uint64_t>(n));
      for (int w = 0; w < spectrum::kWindowCount; ++w) {
        for (bool complexSource : {false, true}) {
          std::vector<double> re(n), im(n);
          for (int k = 0; k < n; ++k) {
            re[k] = complexSource ? x[2 * k] : x[k];
            im[k] = complexSource ? x[2 * k + 1] : 0.0;
          }
          spectrum::spectrumCoreReference(re.data(), im.data(), n, w, false);
          const spectrum::Transform t = spectrum::spectrumCore(x.data(), complexSource, false, n, w);
          ASSERT_TRUE(sameBits(t.re, re.data(), n) && sameBits(t.im, im.data(), n))
              << "n " << n << " window " << w << " complex " << complexSource << " " << spectrum::kernelName();
        }
      }
    }
  }
  spectrum::forceScalarKernel(false);
}

TEST(SpectrumCore, LargestPointCountMatchesTheWrittenAlgorithm) {
  constexpr int n = spectrum::kMaxPoints;
  const auto x = randomSamples(n, 11);
  std::vector<double> re(x), im(n, 0.0);
  spectrum::spectrumCoreReference(re.data(), im.data(), n, 2, false);
  const spectrum::Transform t = spectrum::spectrumCore(x.data(), false, false, n, 2);
  EXPECT_TRUE(sameBits(t.re, re.data(), n) && sameBits(t.im, im.data(), n));
}

TEST_F(SpectrumTest, FftAndIfftRowsEqualTheScaledCore) {
  const auto x = randomSamples(2048, 12);
  beforeRun_ = [&] {
    setSamples(2, x);
    setSamples(3, x);
    array(3).kind = 1;  // 1024 complex values
  };
  ASSERT_EQ(run("a1 = fft(a2, 1024, 3)\na4 = ifft(a3, 1024)\na5 = fft(a3, 1024, 6)\na2 = fft(a2, 1024, 1)"), 0);
  auto check = [&](int slot, bool complexSource, int window, bool inverse) {
    std::vector<double> re(1024), im(1024);
    for (int k = 0; k < 1024; ++k) {
      re[k] = complexSource ? x[2 * k] : x[k];
      im[k] = complexSource ? (inverse ? -x[2 * k + 1] : x[2 * k + 1]) : 0.0;
    }
    spectrum::spectrumCoreReference(re.data(), im.data(), 1024, window, !inverse);
    std::vector<double> expected(2048);
    for (int k = 0; k < 1024; ++k) {
      expected[2 * k] = inverse ? 0.5 * re[k] : re[k];
      expected[2 * k + 1] = inverse ? -0.5 * im[k] : im[k];
    }
    const auto got = samples(slot);
    ASSERT_EQ(got.size(), 2048u);
    EXPECT_TRUE(sameBits(got.data(), expected.data(), 2048)) << "a" << slot;
  };
  check(1, false, 3, false);
  check(4, true, 0, true);
  check(5, true, 6, false);
  check(2, false, 1, false);  // into its own source
}

// --- numpy ---------------------------------------------------------------------------

TEST_F(SpectrumTest, EveryWindowAndPointCountAgreesWithNumpy) {
  if (access("/usr/bin/python3", X_OK) != 0 ||
      std::system("/usr/bin/python3 -c 'import numpy' >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "python3-numpy not installed";
  constexpr int kMax = 65536;
  const auto x = randomSamples(kMax, 13);
  char dir[] = "/tmp/morvel-spectrum-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const fs::path in = fs::path(dir) / "x.f8", out = fs::path(dir) / "ref.f8";
  std::ofstream(in, std::ios::binary).write(reinterpret_cast<const char*>(x.data()), kMax * 8);
  const fs::path script = fs::path(__FILE__).parent_path() / "fourier_numpy.py";
  const std::string cmd = "/usr/bin/python3 '" + script.string() + "' '" + in.string() + "' '" + out.string() + "'";
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  std::ifstream ref(out, std::ios::binary);
  for (int n = 8; n <= kMax; n *= 2) {
    // One compilation per point count; the window through a variable.
    std::string body;
    for (int w = 0; w < 7; ++w)
      body += "i1 = " + std::to_string(w) + "\na" + std::to_string(10 + w) + " = fft(a2, " + std::to_string(n) +
              ", i1)\n";
    beforeRun_ = [&] { setSamples(2, x); };
    ASSERT_EQ(run(body), 0);
    for (int w = 0; w < 7; ++w) {
      std::vector<double> expected(2 * static_cast<size_t>(n));
      ref.read(reinterpret_cast<char*>(expected.data()), static_cast<std::streamsize>(expected.size() * 8));
      ASSERT_TRUE(ref.good());
      const ValueArray& got = array(10 + w);
      ASSERT_EQ(got.length, 2 * n);
      double peak = 0.0, worst = 0.0;
      for (int k = 0; k < n; ++k) peak = std::max(peak, std::hypot(expected[2 * k], expected[2 * k + 1]));
      for (int k = 0; k < 2 * n; ++k) worst = std::max(worst, std::fabs(got.data[k] - expected[k]));
      EXPECT_LE(worst, 2e-9 * peak) << "n " << n << " window " << w;
    }
  }
  fs::remove_all(dir);
}

// --- compile-time checks ---------------------------------------------------------------

struct CompileCase {
  const char* body;
  int error;  // 0 compiles, 3 rejected
};

class SpectrumCompile : public BuiltinTest, public ::testing::WithParamInterface<CompileCase> {};

TEST_P(SpectrumCompile, PointCountsAndWindows) { EXPECT_EQ(compileError(GetParam().body), GetParam().error) << GetParam().body; }

INSTANTIATE_TEST_SUITE_P(
    Checks, SpectrumCompile,
    ::testing::Values(CompileCase{"a1 = fft(a2, 1024, 0)\na3 = fft(a2, 1024, 2)", 0},
                      CompileCase{"a1 = fft(a2, 1024, 0)\na3 = fft(a2, 2048, 0)", 3},
                      CompileCase{"a1 = fft(a2, 1024, 0)\na3 = ifft(a1, 1024)", 0},
                      CompileCase{"a1 = ifft(a2, 512)\na3 = fft(a2, 1024, 0)", 3},
                      CompileCase{"a1 = fft(a2, 262144, 6)", 0}, CompileCase{"a1 = fft(a2, 524288, 0)", 3},
                      CompileCase{"a1 = fft(a2, 4, 0)", 3}, CompileCase{"a1 = fft(a2, 1000, 0)", 3},
                      CompileCase{"a1 = fft(a2, 16384, 0)\na3 = ifft(a1, 16384)", 3},
                      CompileCase{"a1 = ifft(a2, 8192)", 0}, CompileCase{"a1 = fft(a2, 64, 4)", 3},
                      CompileCase{"a1 = fft(a2, 64, 5)", 3}, CompileCase{"a1 = fft(a2, 64, 7)", 3},
                      CompileCase{"a1 = fft(a2, 64, i4)", 0}, CompileCase{"a1 = fft(a2, i4, 0)", 3},
                      CompileCase{"a1 = fft(a2, 64)", 3}, CompileCase{"v1 = fft(a2, 64, 0)", 3},
                      CompileCase{"a1 = betr(v2)", 3}, CompileCase{"v1 = betr(a2)", 0},
                      CompileCase{"i1 = real(a2)", 3}, CompileCase{"a1 = complex(a2, v3)", 3},
                      CompileCase{"a1 = revspec(a2)", 0}));

TEST_F(SpectrumTest, PointCountBelongsToEachCompilation) {
  ASSERT_EQ(compileError("a1 = fft(a2, 1024, 0)"), 0);
  EXPECT_EQ(compileError("a1 = fft(a2, 2048, 0)"), 0);
  auto p = compileOk("a1 = fft(a2, 4096, 0)");
  ASSERT_TRUE(p);
  EXPECT_EQ(p->settings().fftPoints, 4096);
}

// --- run-time errors -------------------------------------------------------------------

struct ErrorCase {
  const char* body;
  int error;
};

class SpectrumErrors : public BuiltinTest, public ::testing::WithParamInterface<ErrorCase> {};

TEST_P(SpectrumErrors, Raise) {
  beforeRun_ = [this] {
    setSamples(2, std::vector<double>(1000, 1.0));
    setSamples(3, std::vector<double>(2000, 1.0));
    array(3).kind = 1;  // 1000 complex values
    setSamples(4, std::vector<double>(1024, 1.0));
  };
  EXPECT_EQ(run(GetParam().body), GetParam().error) << GetParam().body;
}

INSTANTIATE_TEST_SUITE_P(
    Errors, SpectrumErrors,
    ::testing::Values(ErrorCase{"a1 = fft(a2, 1024, 0)", 9}, ErrorCase{"a1 = fft(a3, 1024, 0)", 9},
                      ErrorCase{"a1 = fft(a4, 1024, 0)", 0}, ErrorCase{"a1 = ifft(a2, 1024)", 9},
                      ErrorCase{"i1 = 7\na1 = fft(a4, 1024, i1)", 170},
                      ErrorCase{"i1 = -1\na1 = fft(a4, 1024, i1)", 170},
                      ErrorCase{"a1 = fft(a4, 1024, 0)\na1 = revspec(a1)", 33},
                      ErrorCase{"a1 = fft(a4, 1024, 0)\na5 = revspec(a2)", 9},
                      ErrorCase{"a5 = revspec(a4)", 171}, ErrorCase{"a1 = real(a2)", 32},
                      ErrorCase{"a1 = im(a2)", 32}, ErrorCase{"a1 = konjc(a2)", 32},
                      ErrorCase{"a1 = betr(a2)", 0}, ErrorCase{"a1 = complex(a3, a2)", 31},
                      ErrorCase{"a1 = complex(a4, a2)", 9}, ErrorCase{"a1 = transf(a4, a2)", 9},
                      ErrorCase{"setlen(a5, 1)\na1 = transf(a5, a4)", 9}, ErrorCase{"a1 = transf(a2, a4)", 0},
                      ErrorCase{"i1 = noisesup(a2, 1, 1)", 160}, ErrorCase{"a1 = noisesup(a2, 1)", 160}));

}  // namespace
}  // namespace morvel::builtins::testing
