// Aggregates (sum, mean, gmean, max, min, amp, stddev, eff, moment, zmoment)
// and the positions of the extremes (maxxy, minxy, maxiy, miniy).
//
// The sums give exactly the result of a plain loop over the samples that
// adds each sample to the running sum in turn (`orderedSum`). Terms such as
// quotients, squares, powers and logarithms are computed a block at a time
// ahead of the sum so they can be vectorised. The extremes, whose result
// does not depend on the order, are searched in several lanes at once.
#include "builtins/statistics.h"

#include <immintrin.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>

#include "builtins/math_vector.h"
#include "builtins/operands.h"

namespace morvel::builtins {

namespace stats {

namespace {

// Terms computed ahead of the sum, a few grid blocks at a time.
constexpr int64_t kBlock = 2048;

int64_t firstNumber(const double* x, int64_t n) {
  int64_t i = 0;
  while (i < n && std::isnan(x[i])) ++i;
  return i;
}

template <bool kMax>
inline bool beats(double a, double b) {
  return kMax ? a > b : a < b;
}

// The extreme of `start` (a number) and x[0..n). NaN samples never win a
// comparison, so every lane holds a number throughout.
template <bool kMax>
double extremeOf(const double* x, int64_t n, double start) {
  constexpr int kLanes = 8;
  double acc[kLanes];
  for (double& a : acc) a = start;
  int64_t i = 0;
  for (; i + kLanes <= n; i += kLanes) {
    for (int j = 0; j < kLanes; ++j) {
      const double v = x[i + j];
      acc[j] = beats<kMax>(v, acc[j]) ? v : acc[j];
    }
  }
  for (; i < n; ++i) acc[0] = beats<kMax>(x[i], acc[0]) ? x[i] : acc[0];
  double m = acc[0];
  for (int j = 1; j < kLanes; ++j) m = beats<kMax>(acc[j], m) ? acc[j] : m;
  return m;
}

// Both extremes of x[0..n) in one pass, under the same conditions.
void bothExtremesOf(const double* x, int64_t n, double& largest, double& smallest) {
  constexpr int kLanes = 8;
  double hi[kLanes], lo[kLanes];
  for (int j = 0; j < kLanes; ++j) hi[j] = lo[j] = x[0];
  int64_t i = 0;
  for (; i + kLanes <= n; i += kLanes) {
    for (int j = 0; j < kLanes; ++j) {
      const double v = x[i + j];
      hi[j] = v > hi[j] ? v : hi[j];
      lo[j] = v < lo[j] ? v : lo[j];
    }
  }
  for (; i < n; ++i) {
    hi[0] = x[i] > hi[0] ? x[i] : hi[0];
    lo[0] = x[i] < lo[0] ? x[i] : lo[0];
  }
  largest = hi[0];
  smallest = lo[0];
  for (int j = 1; j < kLanes; ++j) {
    largest = hi[j] > largest ? hi[j] : largest;
    smallest = lo[j] < smallest ? lo[j] : smallest;
  }
}

int64_t firstEqual(const double* x, int64_t from, int64_t n, double value) {
  for (int64_t i = from; i < n; ++i)
    if (x[i] == value) return i;
  return -1;  // not reached for a value taken from the samples
}

// The scan in index order keeps the first sample of the extreme value. The
// extreme is searched block by block; the first block that holds it is the
// one whose extreme last beat the running one, and only that block is
// searched for the sample.
template <bool kMax>
int64_t extremeIndex(const double* x, int64_t n) {
  constexpr int64_t kSearchBlock = 4096;
  const int64_t f = firstNumber(x, n);
  if (f == n) return -1;
  double m = x[f];
  int64_t from = f, to = f + 1;
  for (int64_t b = f + 1; b < n; b += kSearchBlock) {
    const int64_t e = n - b < kSearchBlock ? n : b + kSearchBlock;
    const double bm = extremeOf<kMax>(x + b, e - b, m);
    if (beats<kMax>(bm, m)) {
      m = bm;
      from = b;
      to = e;
    }
  }
  return firstEqual(x, from, to, m);
}

template <bool kMax>
double extremeValue(const double* x, int64_t n) {
  const int64_t k = extremeIndex<kMax>(x, n);
  if (k < 0) return kMax ? kMaxStart : kMinStart;
  return x[k];
}

// --- sums in index order ---------------------------------------------------
//
// While the running sum s stays inside one binade [2^E, 2^(E+1)), every
// rounded sum lies on the grid of its unit u = 2^(E-52), and adding a term t
// rounds to s + round(t / u) * u. So terms can be added as integers in units
// of u: scale every term by 1/u, round it to an integer, and add the
// integers in any order. This gives the bit-exact result of the
// one-after-the-other loop when
//   - every scaled term is below 2^51 in magnitude and a number,
//   - every running sum stays at least one unit inside the binade, and
//   - a scaled term exactly halfway between two integers (a tie) is rounded
//     the way the loop would: to the even running sum. After a tie the sum
//     is even, so whether the next tie rounds up depends only on the terms
//     since the last tie (and on the sum before the first): the parities of
//     the rounded terms between ties decide.
// The terms are scaled and rounded in blocks of 512 with the sums of every
// 16 of them (a group). With AVX-512 the lean scan (addLean512) bounds the
// running sums by the sums after each group and the largest term, and marks
// the groups with ties; it covers all blocks but those with a bad term or
// a sum so small that its terms are 2^49 units or more. Those, and every
// block without AVX-512, take the careful path (gridSums512 or
// gridSumsGeneric): per group the sums of the positive and the negative
// terms bound its running sums, and a flag per term marks ties and bad
// terms. A group with ties takes the corrections their parities give
// (tieCorrection). A group that may come too close to the edge is added
// one term after the other in floating point (as fast as the integers would
// be there, and exact by definition). After a block whose sum left its
// binade, the next block is half as long: sums that reach an edge tend to
// cross it again, and each crossing discards the rest of a block's sums.

constexpr int kGroup = 16;
constexpr int kGroups = 32;
constexpr int64_t kGridBlock = kGroup * kGroups;
constexpr double kRoundingConstant = 6755399441055744.0;  // 1.5 * 2^52
constexpr double kScaledLimit = 2251799813685248.0;       // 2^51
constexpr int64_t kBinadeLow = int64_t{1} << 52;
constexpr int64_t kBinadeHigh = int64_t{1} << 53;

// Per group of 16 terms, with r = the scaled term rounded to the nearest
// integer: Σ r, Σ |r|, and a bit mask (bit j for term j) of the terms that
// are not a number, too large, or a tie.
struct GridGroups {
  int64_t total[kGroups];
  int64_t magnitude[kGroups];
  uint16_t flagged[kGroups];
};

// The terms of a sum, computed from the samples the same way in the vector
// kernel and one at a time (the operations are correctly rounded in both).
struct Plain {
  double operator()(double v) const { return v; }
  [[gnu::target("avx512f")]] __m512d operator()(__m512d v) const { return v; }
};
struct Square {
  double operator()(double v) const { return v * v; }
  [[gnu::target("avx512f")]] __m512d operator()(__m512d v) const { return _mm512_mul_pd(v, v); }
};
struct Quotient {
  double d;
  double operator()(double v) const { return v / d; }
  [[gnu::target("avx512f")]] __m512d operator()(__m512d v) const {
    return _mm512_div_pd(v, _mm512_set1_pd(d));
  }
};
struct SquaredDeviation {
  double m;
  double operator()(double v) const { return (v - m) * (v - m); }
  [[gnu::target("avx512f")]] __m512d operator()(__m512d v) const {
    const __m512d d = _mm512_sub_pd(v, _mm512_set1_pd(m));
    return _mm512_mul_pd(d, d);
  }
};

template <typename Term>
void gridSumsGeneric(const double* x, int groups, double scale, GridGroups& g, const Term& term) {
  // Unsigned: the patterns of flagged terms are no integers and may wrap;
  // their groups are not used.
  const auto constantBits = std::bit_cast<uint64_t>(kRoundingConstant);
  for (int k = 0; k < groups; ++k) {
    const double* v = x + k * kGroup;
    uint64_t sumRounded = 0, sumMagnitude = 0;
    uint32_t flagged = 0;
    for (int j = 0; j < kGroup; ++j) {
      const double y = term(v[j]) * scale;
      const double a = std::fabs(y);
      // Adding the constant rounds to an integer (to even on a tie); the
      // integer is then the difference of the bit patterns.
      const double ry = y + kRoundingConstant;
      const double ra = a + kRoundingConstant;
      const bool flag = !(a < kScaledLimit) || std::fabs(y - (ry - kRoundingConstant)) == 0.5;
      flagged |= static_cast<uint32_t>(flag) << j;
      sumRounded += std::bit_cast<uint64_t>(ry) - constantBits;
      sumMagnitude += std::bit_cast<uint64_t>(ra) - constantBits;
    }
    g.total[k] = static_cast<int64_t>(sumRounded);
    g.magnitude[k] = static_cast<int64_t>(sumMagnitude);
    g.flagged[k] = static_cast<uint16_t>(flagged);
  }
}

// The same with AVX-512: eight groups at a time, their sums gathered into
// one vector by a transposing reduction: lane k of laneSums is the sum of
// the lanes of v[k], as integers or (AddDoubles) as doubles.
struct AddIntegers {
  [[gnu::target("avx512f")]] __m512i operator()(__m512i a, __m512i b) const { return _mm512_add_epi64(a, b); }
};
struct AddDoubles {
  [[gnu::target("avx512f")]] __m512i operator()(__m512i a, __m512i b) const {
    return _mm512_castpd_si512(_mm512_add_pd(_mm512_castsi512_pd(a), _mm512_castsi512_pd(b)));
  }
};
template <typename Add>
[[gnu::target("avx512f")]] inline __m512i sumPairs(__m512i a, __m512i b, const Add& add) {
  return add(_mm512_maskz_unpacklo_epi64(0xFF, a, b), _mm512_maskz_unpackhi_epi64(0xFF, a, b));
}
template <typename Add>
[[gnu::target("avx512f")]] inline __m512i sumChunks(__m512i a, __m512i b, const Add& add) {
  return add(_mm512_maskz_shuffle_i64x2(0xFF, a, b, _MM_SHUFFLE(2, 0, 2, 0)),
             _mm512_maskz_shuffle_i64x2(0xFF, a, b, _MM_SHUFFLE(3, 1, 3, 1)));
}
template <typename Add = AddIntegers>
[[gnu::target("avx512f")]] inline __m512i laneSums(const __m512i* v, const Add& add = {}) {
  const __m512i q0 = sumChunks(sumPairs(v[0], v[1], add), sumPairs(v[2], v[3], add), add);
  const __m512i q1 = sumChunks(sumPairs(v[4], v[5], add), sumPairs(v[6], v[7], add), add);
  return sumChunks(q0, q1, add);
}

template <typename Term>
[[gnu::target("avx512f")]] void gridSums512(const double* x, int groups, double scale, GridGroups& g,
                                            const Term& term) {
  const __m512d vscale = _mm512_set1_pd(scale);
  const __m512d constant = _mm512_set1_pd(kRoundingConstant);
  const __m512d limit = _mm512_set1_pd(kScaledLimit);
  const __m512d half = _mm512_set1_pd(0.5);
  const __m512i twiceBits =
      _mm512_set1_epi64(static_cast<int64_t>(2 * std::bit_cast<uint64_t>(kRoundingConstant)));
  for (int half8 = 0; half8 < groups; half8 += 8) {
    __m512i totals[8], magnitudes[8];
    for (int k = 0; k < 8; ++k) {
      const double* v = x + (half8 + k) * kGroup;
      const __m512d y0 = _mm512_mul_pd(term(_mm512_loadu_pd(v)), vscale);
      const __m512d y1 = _mm512_mul_pd(term(_mm512_loadu_pd(v + 8)), vscale);
      const __m512d a0 = _mm512_abs_pd(y0), a1 = _mm512_abs_pd(y1);
      const __m512d ry0 = _mm512_add_pd(y0, constant), ry1 = _mm512_add_pd(y1, constant);
      const __m512d ra0 = _mm512_add_pd(a0, constant), ra1 = _mm512_add_pd(a1, constant);
      const __m512d f0 = _mm512_abs_pd(_mm512_sub_pd(a0, _mm512_sub_pd(ra0, constant)));
      const __m512d f1 = _mm512_abs_pd(_mm512_sub_pd(a1, _mm512_sub_pd(ra1, constant)));
      const __mmask8 flag0 =
          _mm512_cmp_pd_mask(a0, limit, _CMP_NLT_UQ) | _mm512_cmp_pd_mask(f0, half, _CMP_EQ_OQ);
      const __mmask8 flag1 =
          _mm512_cmp_pd_mask(a1, limit, _CMP_NLT_UQ) | _mm512_cmp_pd_mask(f1, half, _CMP_EQ_OQ);
      g.flagged[half8 + k] = static_cast<uint16_t>(flag0 | (flag1 << 8));
      totals[k] =
          _mm512_sub_epi64(_mm512_add_epi64(_mm512_castpd_si512(ry0), _mm512_castpd_si512(ry1)), twiceBits);
      magnitudes[k] =
          _mm512_sub_epi64(_mm512_add_epi64(_mm512_castpd_si512(ra0), _mm512_castpd_si512(ra1)), twiceBits);
    }
    _mm512_storeu_si512(g.total + half8, laneSums(totals));
    _mm512_storeu_si512(g.magnitude + half8, laneSums(magnitudes));
  }
}

// The lean scan of a block: per group Σ r and whether it holds a tie
// (|y - r| one half exactly); for the block the largest |y|, the
// sum and the lowest and highest of the sums after each group (with 0 for
// the start). Without the magnitudes and the flags per term it costs about
// 60 % of gridSums512; the bounds come from the group totals instead
// (addLean512). The block's figures stay in registers until the end: the
// common case reads nothing back that was just stored.
struct LeanScan {
  int64_t total[kGroups];
  int64_t before[kGroups];  // Σ r of the groups before
  uint32_t tieGroups;  // bit k: group k holds a tie
  double largest;  // max |y| (from max |t|); NaN when a term is not a number
  int64_t sum, lowest, highest;
};

// Below this largest |y| the scan's group sums (16 terms) are exact.
constexpr double kLeanLimit = 0x1p49;

constexpr double kNotANumber = std::numeric_limits<double>::quiet_NaN();

// The range instruction's absolute maximum (it does not pass NaNs on).
constexpr int kAbsoluteMaximum = 0x0B;

// Inclusive prefix sums of the eight lanes.
[[gnu::target("avx512f")]] inline __m512i prefixSums8(__m512i p) {
  const __m512i zero = _mm512_setzero_si512();
  p = _mm512_add_epi64(p, _mm512_maskz_alignr_epi64(0xFF, p, zero, 7));
  p = _mm512_add_epi64(p, _mm512_maskz_alignr_epi64(0xFF, p, zero, 6));
  return _mm512_add_epi64(p, _mm512_maskz_alignr_epi64(0xFF, p, zero, 4));
}
// The smallest (largest) lane, in every lane.
[[gnu::target("avx512f")]] inline __m512i smallestLane(__m512i v) {
  v = _mm512_maskz_min_epi64(0xFF, v, _mm512_maskz_shuffle_i64x2(0xFF, v, v, _MM_SHUFFLE(1, 0, 3, 2)));
  v = _mm512_maskz_min_epi64(0xFF, v, _mm512_maskz_shuffle_i64x2(0xFF, v, v, _MM_SHUFFLE(2, 3, 0, 1)));
  return _mm512_maskz_min_epi64(0xFF, v, _mm512_maskz_shuffle_epi32(0xFFFF, v, _MM_PERM_BADC));
}
[[gnu::target("avx512f")]] inline __m512i largestLane(__m512i v) {
  v = _mm512_maskz_max_epi64(0xFF, v, _mm512_maskz_shuffle_i64x2(0xFF, v, v, _MM_SHUFFLE(1, 0, 3, 2)));
  v = _mm512_maskz_max_epi64(0xFF, v, _mm512_maskz_shuffle_i64x2(0xFF, v, v, _MM_SHUFFLE(2, 3, 0, 1)));
  return _mm512_maskz_max_epi64(0xFF, v, _mm512_maskz_shuffle_epi32(0xFFFF, v, _MM_PERM_BADC));
}
[[gnu::target("avx512f")]] inline double largestLane(__m512d v) {
  v = _mm512_maskz_max_pd(0xFF, v, _mm512_maskz_shuffle_f64x2(0xFF, v, v, _MM_SHUFFLE(1, 0, 3, 2)));
  v = _mm512_maskz_max_pd(0xFF, v, _mm512_maskz_shuffle_f64x2(0xFF, v, v, _MM_SHUFFLE(2, 3, 0, 1)));
  return _mm512_cvtsd_f64(_mm512_maskz_max_pd(0xFF, v, _mm512_maskz_permute_pd(0xFF, v, 0x55)));
}
[[gnu::target("avx512f")]] inline int64_t firstLane(__m512i v) {
  return _mm_cvtsi128_si64(_mm512_maskz_extracti32x4_epi32(0xF, v, 0));
}

template <typename Term>
[[gnu::target("avx512f,avx512dq")]] void leanScan512(const double* x, int groups, double scale, const Term& term,
                                                     LeanScan& scan) {
  const __m512d vscale = _mm512_set1_pd(scale);
  const __m512d constant = _mm512_set1_pd(kRoundingConstant);
  const __m512d half = _mm512_set1_pd(0.5);
  __m512d largest0 = _mm512_setzero_pd(), largest1 = _mm512_setzero_pd(), all = _mm512_setzero_pd();
  __m512i carry = _mm512_setzero_si512(), lowest = carry, highest = carry;
  uint32_t tieGroups = 0;
  for (int half8 = 0; half8 < groups; half8 += 8) {
    __m512i totals[8];
#pragma GCC unroll 8
    for (int k = 0; k < 8; ++k) {
      const double* v = x + (half8 + k) * kGroup;
      // t * scale is exact (a power of two), so the fused forms round as
      // y + C and y - q would; they spread the work over more ports.
      const __m512d t0 = term(_mm512_loadu_pd(v)), t1 = term(_mm512_loadu_pd(v + 8));
      const __m512d q0 = _mm512_sub_pd(_mm512_fmadd_pd(t0, vscale, constant), constant);
      const __m512d q1 = _mm512_sub_pd(_mm512_fmadd_pd(t1, vscale, constant), constant);
      const __m512d d0 = _mm512_fmsub_pd(t0, vscale, q0), d1 = _mm512_fmsub_pd(t1, vscale, q1);
      const __m512d deviation = _mm512_maskz_range_pd(0xFF, d0, d1, kAbsoluteMaximum);
      const __mmask8 tieLanes = _mm512_cmp_pd_mask(deviation, half, _CMP_EQ_OQ);
      tieGroups |= static_cast<uint32_t>(tieLanes != 0) << (half8 + k);
      largest0 = _mm512_maskz_range_pd(0xFF, largest0, t0, kAbsoluteMaximum);
      largest1 = _mm512_maskz_range_pd(0xFF, largest1, t1, kAbsoluteMaximum);
      totals[k] = _mm512_castpd_si512(_mm512_add_pd(q0, q1));
    }
    // In floating point: the terms are integers below 2^49 here, so every
    // group sum is exact, and a term that is not a number makes its group's
    // sum one.
    const __m512d sums = _mm512_castsi512_pd(laneSums(totals, AddDoubles{}));
    all = _mm512_add_pd(all, sums);
    const __m512i groupSums = _mm512_maskz_cvtpd_epi64(0xFF, sums);
    const __m512i after = _mm512_add_epi64(prefixSums8(groupSums), carry);
    _mm512_storeu_si512(scan.total + half8, groupSums);
    _mm512_storeu_si512(scan.before + half8, _mm512_sub_epi64(after, groupSums));
    lowest = _mm512_maskz_min_epi64(0xFF, lowest, after);
    highest = _mm512_maskz_max_epi64(0xFF, highest, after);
    carry = _mm512_maskz_permutexvar_epi64(0xFF, _mm512_set1_epi64(7), after);
  }
  scan.tieGroups = tieGroups;
  // A NaN term makes `all` one (an infinite one makes `largest` one).
  const double largest = largestLane(_mm512_maskz_range_pd(0xFF, largest0, largest1, kAbsoluteMaximum));
  scan.largest = _mm512_cmp_pd_mask(all, all, _CMP_UNORD_Q) == 0 ? largest * std::fabs(scale) : kNotANumber;
  scan.sum = firstLane(carry);
  scan.lowest = firstLane(smallestLane(lowest));
  scan.highest = firstLane(largestLane(highest));
}

// The lowest and highest of the running sums of a group's rounded terms
// (after each of its 16 terms, relative to the sum before it), for a group
// whose rough bounds come too close to the edge. Its ties may move these by
// one unit each (the caller's margin).
template <typename Term>
[[gnu::target("avx512f")]] void groupReach512(const double* v, double scale, const Term& term, int64_t& lowest,
                                              int64_t& highest) {
  const __m512d vscale = _mm512_set1_pd(scale);
  const __m512d constant = _mm512_set1_pd(kRoundingConstant);
  const __m512i constantBits = _mm512_set1_epi64(static_cast<int64_t>(std::bit_cast<uint64_t>(kRoundingConstant)));
  const __m512i r0 = _mm512_sub_epi64(
      _mm512_castpd_si512(_mm512_add_pd(_mm512_mul_pd(term(_mm512_loadu_pd(v)), vscale), constant)), constantBits);
  const __m512i r1 = _mm512_sub_epi64(
      _mm512_castpd_si512(_mm512_add_pd(_mm512_mul_pd(term(_mm512_loadu_pd(v + 8)), vscale), constant)),
      constantBits);
  const __m512i p0 = prefixSums8(r0);
  const __m512i p1 = _mm512_add_epi64(prefixSums8(r1), _mm512_maskz_permutexvar_epi64(0xFF, _mm512_set1_epi64(7), p0));
  lowest = firstLane(smallestLane(_mm512_maskz_min_epi64(0xFF, p0, p1)));
  highest = firstLane(largestLane(_mm512_maskz_max_epi64(0xFF, p0, p1)));
}

// A group's ties in detail, for the flagged groups only: bit j of `odd` is
// set when r_j is odd, of `ties` when term j is a tie, of `up` when the tie
// was rounded up (r = y + 1/2), and `bad` marks terms that are not a number
// or too large.
struct TieMasks {
  uint32_t odd = 0, ties = 0, up = 0, bad = 0;
};

template <typename Term>
TieMasks tieMasksGeneric(const double* v, double scale, const Term& term) {
  TieMasks m;
  for (int j = 0; j < kGroup; ++j) {
    const double y = term(v[j]) * scale;
    const double ry = y + kRoundingConstant;
    const double d = y - (ry - kRoundingConstant);
    // The low bit of the rounded integer is the low bit of ry's pattern.
    const uint64_t r = std::bit_cast<uint64_t>(ry);
    m.bad |= static_cast<uint32_t>(!(std::fabs(y) < kScaledLimit)) << j;
    m.odd |= static_cast<uint32_t>(r & 1) << j;
    m.ties |= static_cast<uint32_t>(d == 0.5 || d == -0.5) << j;
    m.up |= static_cast<uint32_t>(d == -0.5) << j;
  }
  return m;
}

template <typename Term>
[[gnu::target("avx512f")]] TieMasks tieMasks512(const double* v, double scale, const Term& term) {
  const __m512d vscale = _mm512_set1_pd(scale);
  const __m512d constant = _mm512_set1_pd(kRoundingConstant);
  const __m512d limit = _mm512_set1_pd(kScaledLimit);
  const __m512i one = _mm512_set1_epi64(1);
  TieMasks m;
  for (int h = 0; h < 2; ++h) {
    const __m512d y = _mm512_mul_pd(term(_mm512_loadu_pd(v + 8 * h)), vscale);
    const __m512d ry = _mm512_add_pd(y, constant);
    const __m512d d = _mm512_sub_pd(y, _mm512_sub_pd(ry, constant));
    // The low bit of the rounded integer is the low bit of ry's pattern.
    const uint32_t odd = _mm512_test_epi64_mask(_mm512_castpd_si512(ry), one);
    const uint32_t down = _mm512_cmp_pd_mask(d, _mm512_set1_pd(0.5), _CMP_EQ_OQ);
    const uint32_t up = _mm512_cmp_pd_mask(d, _mm512_set1_pd(-0.5), _CMP_EQ_OQ);
    const uint32_t bad = _mm512_cmp_pd_mask(_mm512_abs_pd(y), limit, _CMP_NLT_UQ);
    m.odd |= odd << (8 * h);
    m.ties |= (down | up) << (8 * h);
    m.up |= up << (8 * h);
    m.bad |= bad << (8 * h);
  }
  return m;
}

inline uint32_t parityOf(uint32_t x) {
  x ^= x >> 8;
  x ^= x >> 4;
  x ^= x >> 2;
  x ^= x >> 1;
  return x & 1u;
}

// How much the loop's rounding of the ties adds to Σ r: a tie goes to the
// even running sum, where r went to the even integer. After a tie the sum is
// even, so each tie is decided by the parities of the rounded terms since
// the previous tie (for the first, since the group's start sum `units`).
inline int64_t tieCorrection(const TieMasks& m, int64_t units) {
  int64_t correction = 0;
  uint32_t parity = static_cast<uint32_t>(units & 1);
  uint32_t from = 0;  // first term after the previous tie
  for (uint32_t ties = m.ties; ties != 0; ties &= ties - 1) {
    const auto j = static_cast<uint32_t>(std::countr_zero(ties));
    const uint32_t between = ((uint32_t{1} << j) - 1) & ~((uint32_t{1} << from) - 1);
    parity ^= parityOf(m.odd & between);
    // r = f + 1 when rounded up (then f is odd), r = f when rounded down
    // (f even); the loop takes f + 1 exactly when the sum before plus f is
    // odd.
    const uint32_t fOdd = (m.up >> j) & 1u;
    correction += static_cast<int64_t>(parity ^ fOdd) - static_cast<int64_t>(fOdd);
    parity = 0;
    from = j + 1;
  }
  return correction;
}

bool detectAvx512() {
  __builtin_cpu_init();  // may run before the library's own start-up code
  return __builtin_cpu_supports("avx512f") != 0 && __builtin_cpu_supports("avx512dq") != 0;
}
const bool kDetectedAvx512 = detectAvx512();
bool kHaveAvx512 = kDetectedAvx512;

// The grid of a running sum: its binade's scale 2^(52-E) (negative for a
// negative sum) and the sum in units of 2^(E-52). False when the sum is
// zero, too small for the scale to exist, or not finite.
struct Grid {
  int exponent;
  double scale;
  int64_t units;
};

bool gridOf(double s, Grid& g) {
  const auto bits = std::bit_cast<uint64_t>(s);
  const auto biased = static_cast<int>((bits >> 52) & 0x7ff);
  // Normal, not too small for the scale to exist (2^-960), finite.
  if (biased < 1023 - 960 || biased == 0x7ff) return false;
  g.exponent = biased - 1023;
  g.units = static_cast<int64_t>((bits & ((uint64_t{1} << 52) - 1)) | (uint64_t{1} << 52));
  const double scale = std::bit_cast<double>(static_cast<uint64_t>(1023 + 52 - g.exponent) << 52);
  g.scale = (bits >> 63) != 0 ? -scale : scale;
  return true;
}

double valueOf(const Grid& g) {
  const double unit = std::bit_cast<double>(static_cast<uint64_t>(1023 - 52 + g.exponent) << 52);
  const double r = static_cast<double>(g.units) * unit;
  return g.scale < 0 ? -r : r;
}

// The running sum of orderedSum: on a grid (in `grid`) while its blocks
// stay inside a binade, else in `value`. The grid, and with it the scale of
// the next block, stays as it is from one block to the next, so the next
// block's terms can be scaled and summed while the last block's bounds are
// still being checked: nothing in the next block waits for a conversion
// from the units to a double and back.
struct RunningSum {
  Grid grid;
  bool onGrid;
  double value;
  double get() const { return onGrid ? valueOf(grid) : value; }
  void leaveGrid() {
    if (onGrid) value = valueOf(grid);
    onGrid = false;
  }
};

// A group near the binade's edge, one term after the other in floating
// point. True when the sum is still in the binade the grid was made for (the
// grid goes on), false when it has left it (the sum is then in `value`).
template <typename Term>
bool addGroupInOrder(const double* v, RunningSum& sum, const Term& term) {
  Grid& grid = sum.grid;
  double s = valueOf(grid);
  for (int j = 0; j < kGroup; ++j) s += term(v[j]);
  Grid now;
  if (!gridOf(s, now) || now.exponent != grid.exponent || (now.scale < 0) != (grid.scale < 0)) {
    sum.onGrid = false;
    sum.value = s;
    return false;
  }
  grid.units = now.units;
  return true;
}

// Walks the groups of a block: `onGrid(k)` adds group k on the grid and
// says true when its running sums stay inside the binade, else false; such
// a group goes one term after the other, and the block ends where the sum
// has left the binade. Returns the number of terms added; `gridded` tells
// whether the grid was worth it: at most one group in eight went one term
// after the other.
template <typename Term, typename OnGrid>
int64_t walkGroups(const double* x, int groups, RunningSum& sum, const Term& term, bool& gridded,
                   const OnGrid& onGrid) {
  int floatGroups = 0;
  for (int k = 0; k < groups; ++k) {
    if (onGrid(k)) continue;
    ++floatGroups;
    if (!addGroupInOrder(x + k * kGroup, sum, term)) {
      gridded = floatGroups * 8 < k + 1;
      return (k + 1) * kGroup;
    }
  }
  gridded = floatGroups * 8 < groups;
  return static_cast<int64_t>(groups) * kGroup;
}

// One block on the grid from the lean scan, for blocks without bad terms.
// The bounds: after group k the running sum is units + P_k (P_k the sum of
// the group totals before it); inside a group each rounded term moves it by
// at most L = largest + 1/2, so between P_k and P_k+1 it stays within 8 L of
// the nearer of the two (16 steps). A tie moves each later sum by at most one
// unit. When the bounds leave the binade, group by group: a group near the
// edge is checked on its exact running sums, else added one term after the
// other. Returns the number of terms added, or 0 when a term is bad (the
// careful path takes the block).
template <typename Term>
[[gnu::target("avx512f,avx512dq")]] int64_t addLean512(const double* x, int groups, RunningSum& sum, const Term& term,
                                              bool& gridded) {
  Grid& grid = sum.grid;
  LeanScan scan;
  leanScan512(x, groups, grid.scale, term, scan);
  if (!(scan.largest < kLeanLimit)) return 0;
  const int64_t terms = groups * kGroup;
  // Each tie moves the later sums by at most one unit.
  const int64_t reach = 8 * (static_cast<int64_t>(scan.largest) + 1) + (scan.tieGroups != 0 ? terms : 0);
  const int64_t lowest = scan.lowest, highest = scan.highest;
  // Adds group k on the grid, with its ties as the loop rounds them.
  const auto addGroup = [&](int k) {
    grid.units += ((scan.tieGroups >> k) & 1u) == 0
                      ? scan.total[k]
                      : scan.total[k] + tieCorrection(tieMasks512(x + k * kGroup, grid.scale, term), grid.units);
  };
  if (grid.units + lowest - reach > kBinadeLow && grid.units + highest + reach < kBinadeHigh) {
    // Only the groups with ties need a look at their terms; the parity of
    // the sum before each is the start's, the totals' and the corrections'.
    int64_t correction = 0;
    for (uint32_t rest = scan.tieGroups; rest != 0; rest &= rest - 1) {
      const int k = std::countr_zero(rest);
      correction +=
          tieCorrection(tieMasks512(x + k * kGroup, grid.scale, term), grid.units + scan.before[k] + correction);
    }
    grid.units += scan.sum + correction;
    gridded = true;
    return terms;
  }
  return walkGroups(x, groups, sum, term, gridded, [&](int k) {
    const int64_t total = scan.total[k];
    const int64_t groupTies = ((scan.tieGroups >> k) & 1u) == 0 ? 0 : kGroup;
    if (grid.units + (total < 0 ? total : 0) - reach - groupTies > kBinadeLow &&
        grid.units + (total > 0 ? total : 0) + reach + groupTies < kBinadeHigh) {
      addGroup(k);
      return true;
    }
    int64_t low, high;
    groupReach512(x + k * kGroup, grid.scale, term, low, high);
    if (grid.units + low - groupTies > kBinadeLow && grid.units + high + groupTies < kBinadeHigh) {
      addGroup(k);
      return true;
    }
    return false;
  });
}

// Adds the terms of one block (`groups` groups of 16, a multiple of 8) on
// the grid of the running sum: groups on the grid while they stay inside
// the binade; a group that may not is added one term after the other in
// floating point, and the grid goes on after it when the sum is still in
// the same binade. When it has left it, the block ends there. Returns the
// number of terms added; `gridded` tells whether the grid was worth it: at
// most one group in eight went one term after the other.
template <typename Term>
int64_t addBlock(const double* x, int groups, RunningSum& sum, const Term& term, bool& gridded) {
  const int64_t terms = groups * kGroup;
  gridded = false;
  if (!sum.onGrid) sum.onGrid = gridOf(sum.value, sum.grid);
  if (!sum.onGrid) {
    double s = sum.value;
    for (int64_t j = 0; j < terms; ++j) s += term(x[j]);
    sum.value = s;
    return terms;
  }
  if (kHaveAvx512) {
    const int64_t added = addLean512(x, groups, sum, term, gridded);
    if (added != 0) return added;
  }
  Grid& grid = sum.grid;
  GridGroups g;
  if (kHaveAvx512)
    gridSums512(x, groups, grid.scale, g, term);
  else
    gridSumsGeneric(x, groups, grid.scale, g, term);
  {
    // The whole block at once when no term is flagged and even its bounds
    // stay inside the binade.
    uint64_t sumTotals = 0, sumMagnitudes = 0;  // flagged groups may wrap
    uint32_t flagged = 0;
    for (int k = 0; k < groups; ++k) {
      sumTotals += static_cast<uint64_t>(g.total[k]);
      sumMagnitudes += static_cast<uint64_t>(g.magnitude[k]);
      flagged |= g.flagged[k];
    }
    const auto total = static_cast<int64_t>(sumTotals);
    const auto magnitude = static_cast<int64_t>(sumMagnitudes);
    if (flagged == 0 && grid.units + (total - magnitude) / 2 > kBinadeLow &&
        grid.units + (magnitude + total) / 2 < kBinadeHigh) {
      grid.units += total;
      gridded = true;
      return terms;
    }
  }
  return walkGroups(x, groups, sum, term, gridded, [&](int k) {
    // (wrapping: the sums of a group with a term too large are no numbers)
    const auto magnitude = static_cast<uint64_t>(g.magnitude[k]), total = static_cast<uint64_t>(g.total[k]);
    const int64_t positive = static_cast<int64_t>(magnitude + total) / 2;
    const int64_t negative = static_cast<int64_t>(total - magnitude) / 2;
    if (g.flagged[k] == 0) {
      if (grid.units + negative > kBinadeLow && grid.units + positive < kBinadeHigh) {
        grid.units += g.total[k];
        return true;
      }
      return false;
    }
    // Ties: each may move the sum by one unit more than r says.
    const TieMasks m = kHaveAvx512 ? tieMasks512(x + k * kGroup, grid.scale, term)
                                   : tieMasksGeneric(x + k * kGroup, grid.scale, term);
    if (m.bad == 0 && grid.units + negative - kGroup > kBinadeLow && grid.units + positive + kGroup < kBinadeHigh) {
      grid.units += g.total[k] + tieCorrection(m, grid.units);
      return true;
    }
    return false;  // near the binade's edge
  });
}

// s + term(x[0]) + term(x[1]) + ..., one after the other.
template <typename Term>
double orderedSumOf(const double* x, int64_t n, double s, const Term& term) {
  RunningSum sum{{}, false, s};
  int64_t i = 0;
  int skip = 0, backoff = 0;
  // After a block that ended early (its sum left the binade, and is likely
  // to cross back), half blocks, so fewer group sums go to waste.
  int groups = kGroups;
  while (n - i >= kGridBlock) {
    if (skip > 0) {
      // Sums that keep leaving their binade are tried less often: after
      // each block that took more than one group in eight one term after the
      // other, twice as many blocks that way, up to eight. (A sum wandering
      // around zero, where the binades are narrower than a group's reach,
      // spends a good part of its time there.)
      --skip;
      sum.leaveGrid();
      double v = sum.value;
      for (int64_t j = 0; j < kGridBlock; ++j) v += term(x[i + j]);
      sum.value = v;
      i += kGridBlock;
      continue;
    }
    bool gridded;
    const int64_t added = addBlock(x + i, groups, sum, term, gridded);
    groups = added == groups * kGroup ? kGroups : kGroups / 2;
    i += added;
    if (gridded) {
      backoff = 0;
    } else {
      backoff = backoff == 0 ? 1 : (backoff < 8 ? backoff * 2 : 8);
      skip = backoff;
    }
  }
  s = sum.get();
  for (; i < n; ++i) s += term(x[i]);
  return s;
}

}  // namespace

void forcePortableSums(bool on) {
  kHaveAvx512 = !on && kDetectedAvx512;
}

double orderedSum(const double* t, int64_t n, double s) {
  return orderedSumOf(t, n, s, Plain{});
}

namespace {

// Σ term(x[i]) in index order: the terms a block at a time, then their sum.
template <typename Terms>
double sumOfTerms(const double* x, int64_t n, Terms terms) {
  alignas(64) double q[kBlock];
  double s = 0.0;
  for (int64_t i = 0; i < n; i += kBlock) {
    const int64_t m = n - i < kBlock ? n - i : kBlock;
    terms(x + i, q, m);
    s = orderedSum(q, m, s);
  }
  return s;
}

}  // namespace

double sum(const double* x, int64_t n) {
  return orderedSumOf(x, n, 0.0, Plain{});
}

double sumOfSquares(const double* x, int64_t n) {
  return orderedSumOf(x, n, 0.0, Square{});
}

double sumOfQuotients(const double* x, int64_t n, double d) {
  return orderedSumOf(x, n, 0.0, Quotient{d});
}

double sumOfSquaredDeviations(const double* x, int64_t n, double m) {
  return orderedSumOf(x, n, 0.0, SquaredDeviation{m});
}

// The square is the one power whose exact value rounds in one multiplication.
double sumOfPowers(const double* x, int64_t n, double k) {
  if (k == 2.0) return sumOfSquares(x, n);
  return sumOfTerms(x, n, [k](const double* v, double* q, int64_t m) {
    for (int64_t j = 0; j < m; ++j) q[j] = std::pow(v[j], k);
  });
}

double sumOfDeviationPowers(const double* x, int64_t n, double m, double k) {
  if (k == 2.0) return sumOfSquaredDeviations(x, n, m);
  return sumOfTerms(x, n, [m, k](const double* v, double* q, int64_t c) {
    for (int64_t j = 0; j < c; ++j) q[j] = std::pow(v[j] - m, k);
  });
}

double sumOfLog10Magnitudes(const double* x, int64_t n) {
  return sumOfTerms(x, n, [](const double* v, double* q, int64_t m) {
    vec::apply(vec::Unary::Abs, v, q, m);
    vec::apply(vec::Unary::Log10, q, q, m);
  });
}

double range(const double* x, int64_t n) {
  const int64_t f = firstNumber(x, n);
  if (f == n) return kMaxStart - kMinStart;
  double largest, smallest;
  bothExtremesOf(x + f, n - f, largest, smallest);
  // Only zero has two samples that compare equal: the scan keeps the first.
  if (largest == 0.0) largest = x[firstEqual(x, f, n, largest)];
  if (smallest == 0.0) smallest = x[firstEqual(x, f, n, smallest)];
  return largest - smallest;
}

int64_t maxIndex(const double* x, int64_t n) {
  return extremeIndex<true>(x, n);
}
int64_t minIndex(const double* x, int64_t n) {
  return extremeIndex<false>(x, n);
}
double maxValue(const double* x, int64_t n) {
  return extremeValue<true>(x, n);
}
double minValue(const double* x, int64_t n) {
  return extremeValue<false>(x, n);
}

}  // namespace stats

namespace {

using lang::KindArray;
using lang::KindFloat;
using lang::KindInteger;

// An aggregate of `samples` samples with x distance `dx` into the result:
// an `i` takes the value converted, a `v` or `a` one sample whose x distance
// is the duration the source covered; its x offset stays.
void storeAggregate(ValueStore& values, const Operand& target, double value, int64_t samples, float dx) {
  switch (target.kind()) {
    case KindInteger:
      values.storeScalar(target, value);
      return;
    case KindFloat:
    case KindArray: {
      ValueArray& r = values.ArrayOf(target);
      values.Grow(r, 1);
      r.data[0] = value;
      r.length = 1;
      r.kind = 0;
      r.xDistance = static_cast<float>(static_cast<double>(samples) * static_cast<double>(dx));
      return;
    }
    default:
      lang::raiseRuntimeError(kErrOperandKind);
  }
}

// A plain value into a position operand: the first sample of a `v` (its
// length and axis stay) or an integer.
void storePlain(ValueStore& values, const Operand& target, double value) {
  switch (target.kind()) {
    case KindInteger:
      values.storeScalar(target, value);
      return;
    case KindFloat:
    case KindArray: {
      ValueArray& r = values.ArrayOf(target);
      values.Grow(r, 1);
      r.data[0] = value;
      return;
    }
    default:
      lang::raiseRuntimeError(kErrOperandKind);
  }
}

// The source of an aggregate with its length checked: fewer than `least`
// samples raise `error`.
const ValueArray& aggregateSource(ValueStore& values, Operand* ops, int count, int32_t least, int error) {
  const ValueArray& src = values.ArrayOf(required(ops, count, 1));
  if (src.length < least) lang::raiseRuntimeError(error);
  return src;
}

}  // namespace

// --- check routines -----------------------------------------------------------

int checkAggregate(CheckContext&, const Operand* ops, int count) {
  return kindAt(ops, count, 1) == KindArray ? 0 : -1;
}

int checkMoment(CheckContext&, const Operand* ops, int count) {
  return kindAt(ops, count, 1) == KindArray && kindAt(ops, count, 2) == KindFloat ? 0 : -1;
}

int checkExtremeXY(CheckContext&, const Operand* ops, int count) {
  return kindAt(ops, count, 0) == KindArray && kindAt(ops, count, 1) == KindFloat &&
                 kindAt(ops, count, 2) == KindFloat
             ? 0
             : -1;
}

int checkExtremeIY(CheckContext&, const Operand* ops, int count) {
  return kindAt(ops, count, 0) == KindArray && kindAt(ops, count, 1) == KindInteger &&
                 kindAt(ops, count, 2) == KindFloat
             ? 0
             : -1;
}

// --- aggregates ---------------------------------------------------------------

void runSum(RunContext& ctx, Operand* ops, int count) {
  const ValueArray& src = aggregateSource(ctx.values, ops, count, 1, kErrEmptyArray);
  const double s = stats::sum(src.data, src.length);
  storeAggregate(ctx.values, ops[0], s, src.length, src.xDistance);
}

void runMean(RunContext& ctx, Operand* ops, int count) {
  const ValueArray& src = aggregateSource(ctx.values, ops, count, 1, kErrEmptyArray);
  const int32_t n = src.length;
  const double m = stats::sum(src.data, n) / n;
  storeAggregate(ctx.values, ops[0], m, n, src.xDistance);
}

// 10^(Σ log10 |x| / n): the geometric mean of the magnitudes.
void runGmean(RunContext& ctx, Operand* ops, int count) {
  const ValueArray& src = aggregateSource(ctx.values, ops, count, 1, kErrEmptyArray);
  const int32_t n = src.length;
  const double g = std::pow(10.0, stats::sumOfLog10Magnitudes(src.data, n) / n);
  storeAggregate(ctx.values, ops[0], g, n, src.xDistance);
}

void runMax(RunContext& ctx, Operand* ops, int count) {
  const ValueArray& src = aggregateSource(ctx.values, ops, count, 1, kErrEmptyArray);
  storeAggregate(ctx.values, ops[0], stats::maxValue(src.data, src.length), src.length, src.xDistance);
}

void runMin(RunContext& ctx, Operand* ops, int count) {
  const ValueArray& src = aggregateSource(ctx.values, ops, count, 1, kErrEmptyArray);
  storeAggregate(ctx.values, ops[0], stats::minValue(src.data, src.length), src.length, src.xDistance);
}

// Peak to peak; an empty array gives the start values' difference, -2e37.
void runAmp(RunContext& ctx, Operand* ops, int count) {
  const ValueArray& src = aggregateSource(ctx.values, ops, count, 0, 0);
  const double p = stats::range(src.data, src.length);
  storeAggregate(ctx.values, ops[0], p, src.length, src.xDistance);
}

// sqrt(Σ (x − m)² / (n − 1)) with m = Σ (x / n).
void runStddev(RunContext& ctx, Operand* ops, int count) {
  const ValueArray& src = aggregateSource(ctx.values, ops, count, 2, kErrTooFewSamples);
  const int32_t n = src.length;
  const double m = stats::sumOfQuotients(src.data, n, n);
  const double s = std::sqrt(stats::sumOfSquaredDeviations(src.data, n, m) / (n - 1));
  storeAggregate(ctx.values, ops[0], s, n, src.xDistance);
}

// sqrt(Σ x² / (n − 1)).
void runEff(RunContext& ctx, Operand* ops, int count) {
  const ValueArray& src = aggregateSource(ctx.values, ops, count, 2, kErrTooFewSamples);
  const int32_t n = src.length;
  const double e = std::sqrt(stats::sumOfSquares(src.data, n) / (n - 1));
  storeAggregate(ctx.values, ops[0], e, n, src.xDistance);
}

// Σ x^k / (n − 1); one sample divides by zero (an infinity, or NaN for 0/0).
void runMoment(RunContext& ctx, Operand* ops, int count) {
  const ValueArray& src = aggregateSource(ctx.values, ops, count, 1, kErrEmptyArray);
  const double k = ctx.values.FloatValue(required(ops, count, 2));
  const int32_t n = src.length;
  const double r = stats::sumOfPowers(src.data, n, k) / (n - 1);
  storeAggregate(ctx.values, ops[0], r, n, src.xDistance);
}

// Σ (x − m)^k / (n − 1) with m = Σ (x / n).
void runZmoment(RunContext& ctx, Operand* ops, int count) {
  const ValueArray& src = aggregateSource(ctx.values, ops, count, 2, kErrTooFewSamples);
  const double k = ctx.values.FloatValue(required(ops, count, 2));
  const int32_t n = src.length;
  const double m = stats::sumOfQuotients(src.data, n, n);
  const double r = stats::sumOfDeviationPowers(src.data, n, m, k) / (n - 1);
  storeAggregate(ctx.values, ops[0], r, n, src.xDistance);
}

// --- extreme positions --------------------------------------------------------
// Without a sample that is a number the value operand gets the start value,
// an index -1 and an x position NaN.

namespace {

template <bool kMax, bool kIndex>
void runExtremePosition(RunContext& ctx, Operand* ops, int) {
  const ValueArray& src = ctx.values.ArrayOf(ops[0]);
  const int64_t k = kMax ? stats::maxIndex(src.data, src.length) : stats::minIndex(src.data, src.length);
  double position;
  double value;
  if (k < 0) {
    position = kIndex ? -1.0 : std::nan("");
    value = kMax ? kMaxStart : kMinStart;
  } else {
    position = kIndex ? static_cast<double>(k)
                      : static_cast<double>(k) * static_cast<double>(src.xDistance) +
                            static_cast<double>(src.xOffset);
    value = src.data[k];
  }
  storePlain(ctx.values, ops[1], position);
  storePlain(ctx.values, ops[2], value);
}

}  // namespace

void runMaxxy(RunContext& ctx, Operand* ops, int count) {
  runExtremePosition<true, false>(ctx, ops, count);
}
void runMinxy(RunContext& ctx, Operand* ops, int count) {
  runExtremePosition<false, false>(ctx, ops, count);
}
void runMaxiy(RunContext& ctx, Operand* ops, int count) {
  runExtremePosition<true, true>(ctx, ops, count);
}
void runMiniy(RunContext& ctx, Operand* ops, int count) {
  runExtremePosition<false, true>(ctx, ops, count);
}

}  // namespace morvel::builtins
