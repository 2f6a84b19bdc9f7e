// Spectral analysis rows: fft, ifft, revspec, the complex-array rows, fftdev,
// noisesup and transf.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>

#include "builtins/operands.h"
#include "builtins/fourier.h"
#include "lang/program.h"
#include "lang/value_store.h"

namespace morvel::builtins {

namespace {

using lang::KindArray;
using lang::KindFloat;
using lang::KindInteger;
using lang::ValueArray;

inline constexpr int kErrNoPointCount = 171;  // revspec without a point count (no fft/ifft)

bool isComplexArray(const ValueArray& a) { return (a.kind & 3u) == 1u; }
void setComplexFlag(ValueArray& a, bool on) { a.kind = (a.kind & ~3u) | (on ? 1u : 0u); }

// A result must be an array (a `v` variable's twin takes one like any array).
ValueArray& resultArray(ValueStore& values, const Operand& op) {
  if (!isArrayOrFloat(op.kind())) lang::raiseRuntimeError(kErrOperandKind);
  return values.ArrayOf(op);
}

// The compilation's point count; a program compiled without fft/ifft has none.
int fftPoints(const RunContext& ctx) {
  const int n = ctx.program != nullptr ? ctx.program->settings().fftPoints : 0;
  if (n < spectrum::kMinPoints) lang::raiseRuntimeError(kErrNoPointCount);
  return n;
}

// Work buffer of the calling thread for transf (kept between calls).
double* transfBuffer(int64_t doubles) {
  thread_local std::unique_ptr<double[]> buffer;
  thread_local int64_t size = 0;
  if (size < doubles) {
    buffer.reset(new (std::nothrow) double[doubles]);
    if (!buffer) {
      size = 0;
      lang::raiseRuntimeError(lang::kErrArrayMemory);
    }
    size = doubles;
  }
  return buffer.get();
}

// Shared by fft and ifft: the transform of the source's first n values.
spectrum::Transform transformSource(const ValueArray& src, int n, int window, bool conjugate) {
  const bool complexSource = isComplexArray(src);
  const int64_t need = complexSource ? 2 * static_cast<int64_t>(n) : n;
  if (src.length < need) lang::raiseRuntimeError(kErrSourceTooShort);
  return spectrum::spectrumCore(src.data, complexSource, conjugate, n, window);
}

void finishSpectrum(ValueArray& dst, int n, float sourceXDistance) {
  dst.length = 2 * n;
  setComplexFlag(dst, true);
  dst.xDistance = static_cast<float>(1.0 / (static_cast<double>(n) * static_cast<double>(sourceXDistance)));
}

int pointOperand(ValueStore& values, const Operand& op) {
  return op.kind() == KindInteger ? values.IntegerValue(op) : lang::toInteger(values.FloatValue(op));
}

// Accepts a point count for the compilation: a power of two in
// kMinPoints..maxPoints, equal to the count fixed by an earlier call.
bool acceptPoints(CheckContext& ctx, const Operand& op, int maxPoints) {
  if (!isNumber(op.kind())) return false;
  const int n = pointOperand(ctx.values, op);
  if (n < spectrum::kMinPoints || n > maxPoints || !spectrum::isPowerOfTwo(n)) return false;
  return ctx.settings.fftPoints == 0 || ctx.settings.fftPoints == n;
}

}  // namespace

// --- check routines -----------------------------------------------------------

int checkFft(CheckContext& ctx, const Operand* ops, int count) {
  if (count != 4 || ops[0].kind() != KindArray || ops[1].kind() != KindArray) return -1;
  if (!acceptPoints(ctx, ops[2], spectrum::kMaxPoints) || !isNumber(ops[3].kind())) return -1;
  const int window = pointOperand(ctx.values, ops[3]);
  if (window != 0 && window != 1 && window != 2 && window != 3 && window != 6) return -1;
  ctx.settings.fftPoints = pointOperand(ctx.values, ops[2]);
  return 0;
}

int checkIfft(CheckContext& ctx, const Operand* ops, int count) {
  if (count != 3 || ops[0].kind() != KindArray || ops[1].kind() != KindArray) return -1;
  if (!acceptPoints(ctx, ops[2], spectrum::kMaxInversePoints)) return -1;
  ctx.settings.fftPoints = pointOperand(ctx.values, ops[2]);
  return 0;
}

int checkComplexSource(CheckContext&, const Operand* ops, int count) {
  return count == 2 && isArrayOrFloat(ops[0].kind()) && ops[1].kind() == KindArray ? 0 : -1;
}

int checkComplex(CheckContext&, const Operand* ops, int count) {
  return count == 3 && ops[0].kind() == KindArray && ops[1].kind() == KindArray && ops[2].kind() == KindArray
             ? 0
             : -1;
}

// --- transforms ---------------------------------------------------------------

void runFft(RunContext& ctx, Operand* ops, int count) {
  const int n = fftPoints(ctx);
  const int window = lang::toInteger(ctx.values.FloatValue(required(ops, count, 3)));
  if (window < 0 || window >= spectrum::kWindowCount) lang::raiseRuntimeError(kErrWindowNumberRange);
  const ValueArray& src = ctx.values.ArrayOf(required(ops, count, 1));
  const float xDistance = src.xDistance;
  const spectrum::Transform t = transformSource(src, n, window, false);
  ValueArray& dst = resultArray(ctx.values, ops[0]);
  ctx.values.Grow(dst, 2 * static_cast<int64_t>(n));
  const double c = spectrum::windowScale(window, n);
  double* out = dst.data;
  for (int k = 0; k < n; ++k) {
    out[2 * k] = t.re[k] * c;
    out[2 * k + 1] = t.im[k] * c;
  }
  finishSpectrum(dst, n, xDistance);
}

void runIfft(RunContext& ctx, Operand* ops, int count) {
  const int n = fftPoints(ctx);
  const ValueArray& src = ctx.values.ArrayOf(required(ops, count, 1));
  const float xDistance = src.xDistance;
  const spectrum::Transform t = transformSource(src, n, 0, true);
  ValueArray& dst = resultArray(ctx.values, ops[0]);
  ctx.values.Grow(dst, 2 * static_cast<int64_t>(n));
  double* out = dst.data;
  for (int k = 0; k < n; ++k) {
    out[2 * k] = 0.5 * t.re[k];
    out[2 * k + 1] = -0.5 * t.im[k];
  }
  finishSpectrum(dst, n, xDistance);
}

void runRevspec(RunContext& ctx, Operand* ops, int count) {
  const int n = fftPoints(ctx);
  ValueArray& src = ctx.values.ArrayOf(required(ops, count, 1));
  ValueArray& dst = resultArray(ctx.values, ops[0]);
  if (&src == &dst) lang::raiseRuntimeError(kErrSameArray);
  const int64_t m = isComplexArray(src) ? 2 : 1;
  if (src.length < m * n) lang::raiseRuntimeError(kErrSourceTooShort);
  ctx.values.Grow(dst, src.length);
  const int64_t high = (n / 2 - 1) * m;  // values N/2+1 .. N-1
  const int64_t low = (n / 2 + 1) * m;   // values 0 .. N/2
  std::memcpy(dst.data, src.data + low, static_cast<size_t>(high) * sizeof(double));
  std::memcpy(dst.data + high, src.data, static_cast<size_t>(low) * sizeof(double));
  // Samples beyond the N values are carried over as they are.
  const int64_t rest = src.length - m * n;
  if (rest > 0) std::memcpy(dst.data + m * n, src.data + m * n, static_cast<size_t>(rest) * sizeof(double));
  dst.length = src.length;
  dst.kind = src.kind;
  dst.xDistance = src.xDistance;
  dst.xOffset = -static_cast<float>(n / 2 - 1) * src.xDistance;
}

// --- complex arrays -----------------------------------------------------------

namespace {

// betr, phase, real, im: one real value per pair of the source.
template <typename F>
void perPair(RunContext& ctx, Operand* ops, int count, bool needComplex, F f) {
  const ValueArray& src = ctx.values.ArrayOf(required(ops, count, 1));
  if (needComplex && !isComplexArray(src)) lang::raiseRuntimeError(kErrNotComplex);
  ValueArray& dst = resultArray(ctx.values, ops[0]);
  const int32_t pairs = src.length / 2;
  const float xDistance = src.xDistance, xOffset = src.xOffset;
  ctx.values.Grow(dst, pairs);  // never moves the source when it is the destination
  const double* in = src.data;
  double* out = dst.data;
  for (int32_t k = 0; k < pairs; ++k) out[k] = f(in[2 * k], in[2 * k + 1]);
  dst.length = pairs;
  setComplexFlag(dst, false);
  dst.xDistance = xDistance;
  dst.xOffset = xOffset;
}

}  // namespace

void runBetr(RunContext& ctx, Operand* ops, int count) {
  perPair(ctx, ops, count, false, [](double re, double im) { return std::sqrt(re * re + im * im); });
}

void runPhase(RunContext& ctx, Operand* ops, int count) {
  perPair(ctx, ops, count, false,
          [](double re, double im) { return re == 0.0 && im == 0.0 ? 0.0 : std::atan2(im, re); });
}

void runReal(RunContext& ctx, Operand* ops, int count) {
  perPair(ctx, ops, count, true, [](double re, double) { return re; });
}

void runIm(RunContext& ctx, Operand* ops, int count) {
  perPair(ctx, ops, count, true, [](double, double im) { return im; });
}

void runKonjc(RunContext& ctx, Operand* ops, int count) {
  const ValueArray& src = ctx.values.ArrayOf(required(ops, count, 1));
  if (!isComplexArray(src)) lang::raiseRuntimeError(kErrNotComplex);
  ValueArray& dst = resultArray(ctx.values, ops[0]);
  const int32_t pairs = src.length / 2;
  const int32_t length = src.length;
  const float xDistance = src.xDistance, xOffset = src.xOffset;
  ctx.values.Grow(dst, length);
  const double* in = src.data;
  double* out = dst.data;
  for (int32_t k = 0; k < pairs; ++k) {
    out[2 * k] = in[2 * k];
    out[2 * k + 1] = -in[2 * k + 1];
  }
  if (length & 1) out[length - 1] = in[length - 1];
  dst.length = length;
  setComplexFlag(dst, true);
  dst.xDistance = xDistance;
  dst.xOffset = xOffset;
}

void runComplex(RunContext& ctx, Operand* ops, int count) {
  ValueArray& re = ctx.values.ArrayOf(required(ops, count, 1));
  ValueArray& im = ctx.values.ArrayOf(required(ops, count, 2));
  if ((re.kind & 3u) != 0 || (im.kind & 3u) != 0) lang::raiseRuntimeError(kErrNotReal);
  const int32_t n = re.length;
  if (im.length < n) lang::raiseRuntimeError(kErrSourceTooShort);
  const float xDistance = re.xDistance, xOffset = re.xOffset;
  ValueArray& dst = resultArray(ctx.values, ops[0]);
  ctx.values.Grow(dst, 2 * static_cast<int64_t>(n));
  // Backwards, so that the destination may be one of the sources: pair k
  // lands at 2k and 2k+1, never below the values still to be read.
  const double* r = re.data;
  const double* i = im.data;
  double* out = dst.data;
  for (int32_t k = n - 1; k >= 0; --k) {
    const double a = r[k], b = i[k];
    out[2 * k] = a;
    out[2 * k + 1] = b;
  }
  dst.length = 2 * n;
  setComplexFlag(dst, true);
  dst.xDistance = xDistance;
  dst.xOffset = xOffset;
}

// --- frequency-domain rows ------------------------------------------------------

void runFftdev(RunContext& ctx, Operand* ops, int count) {
  const ValueArray& src = ctx.values.ArrayOf(required(ops, count, 1));
  ValueArray& dst = resultArray(ctx.values, ops[0]);
  const int32_t length = src.length;
  const uint32_t kind = src.kind;
  const float xDistance = src.xDistance, xOffset = src.xOffset;
  ctx.values.Grow(dst, length);
  const double* in = src.data;
  double* out = dst.data;
  const double dx = xDistance;
  if ((kind & 3u) == 1u) {
    for (int32_t k = 0; k < length / 2; ++k) {
      const double w = static_cast<double>(k) * dx * 6.283185308;
      out[2 * k] = in[2 * k] * w;
      out[2 * k + 1] = in[2 * k + 1] * w;
    }
    if (length & 1) out[length - 1] = in[length - 1] * (static_cast<double>(length / 2) * dx * 6.283185308);
  } else {
    for (int32_t k = 0; k < length; ++k) out[k] = in[k] * (static_cast<double>(k) * dx * 6.283185308);
  }
  dst.length = length;
  dst.kind = kind;
  dst.xDistance = xDistance;
  dst.xOffset = xOffset;
}

void runNoisesup(RunContext& ctx, Operand* ops, int count) {
  const ValueArray& src = ctx.values.ArrayOf(required(ops, count, 1));
  const double range = ctx.values.FloatValue(required(ops, count, 2));
  const double distance = ctx.values.FloatValue(required(ops, count, 3));
  const double threshold = range / std::pow(10.0, std::fabs(distance) * 0.05);
  ValueArray& dst = resultArray(ctx.values, ops[0]);
  const int32_t length = src.length;
  const uint32_t kind = src.kind;
  const float xDistance = src.xDistance, xOffset = src.xOffset;
  ctx.values.Grow(dst, length);
  const double* in = src.data;
  double* out = dst.data;
  for (int32_t k = 0; k < length; ++k) out[k] = std::fabs(in[k]) < threshold ? 0.0 : in[k];
  dst.length = length;
  dst.kind = kind;
  dst.xDistance = xDistance;
  dst.xOffset = xOffset;
}

void runTransf(RunContext& ctx, Operand* ops, int count) {
  const ValueArray& x = ctx.values.ArrayOf(required(ops, count, 1));
  const ValueArray& y = ctx.values.ArrayOf(required(ops, count, 2));
  if (x.length < 2) lang::raiseRuntimeError(kErrSourceTooShort);
  int n = 2;
  while (n <= x.length / 2) n *= 2;
  if (n > spectrum::kMaxTransformPoints) lang::raiseRuntimeError(lang::kErrArrayMemory);
  if (y.length < n) lang::raiseRuntimeError(kErrSourceTooShort);
  const float xDistance = x.xDistance;
  const double c = spectrum::windowScale(5, n);
  // X(k) into the work buffer, then Y(k) from the core's own arrays.
  double* X = transfBuffer(2 * static_cast<int64_t>(n));
  spectrum::Transform t = spectrum::spectrumCore(x.data, false, false, n, 5);
  for (int k = 0; k < n; ++k) {
    X[2 * k] = t.re[k] * c;
    X[2 * k + 1] = t.im[k] * c;
  }
  t = spectrum::spectrumCore(y.data, false, false, n, 5);
  ValueArray& dst = resultArray(ctx.values, ops[0]);
  ctx.values.Grow(dst, 2 * static_cast<int64_t>(n));
  double* out = dst.data;
  for (int k = 0; k < n; ++k) {
    const double xr = X[2 * k], xi = X[2 * k + 1];
    const double yr = t.re[k] * c, yi = t.im[k] * c;
    double d = xr * xr + xi * xi;
    if (d == 0.0) d = 1e-10;
    out[2 * k] = (yr * xr + yi * xi) / d;
    out[2 * k + 1] = (yi * xr - yr * xi) / d;
  }
  dst.length = 2 * n;
  setComplexFlag(dst, true);
  dst.xDistance = static_cast<float>(1.0 / (static_cast<double>(n) * static_cast<double>(xDistance)));
  dst.xOffset = 0.0f;
}

}  // namespace morvel::builtins
