// fft with window 2 (Hann) at N = 1024, 16384 and 262144, run as the
// interpreter runs the statement `a1 = fft(a2, N, 2)`, against FFTW
// (FFTW_MEASURE plan, complex transform of the already windowed data) in the
// same program. BM_FftwWindowed adds the windowing and the scaled,
// interleaved output to FFTW's transform, the work the statement does too.
//
//   bench_spectrum --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "builtins/fourier.h"
#include "lang/builtin_state.h"
#include "lang/compiler.h"
#include "lang/value_store.h"

#ifdef MORVEL_HAVE_FFTW
#include <fftw3.h>
#endif

namespace {

using namespace morvel::lang;

std::vector<double> randomSignal(int n) {
  std::mt19937_64 rng(1);
  std::uniform_real_distribution<double> d(-10.0, 10.0);
  std::vector<double> x(n);
  for (auto& v : x) v = d(rng);
  return x;
}

class FftStatement {
 public:
  explicit FftStatement(int n) : values_(std::make_unique<ValueStore>()) {
    values_->resetForStart();
    CompileResult r =
        Compiler(*values_).compile({"*Start\na1 = fft(a2, " + std::to_string(n) + ", 2)\n", "*End\n"});
    if (!r.ok()) std::abort();
    program_ = std::move(r.program);
    std::string message;
    if (!values_->allocateArrays(message)) std::abort();
    const auto x = randomSignal(n);
    ValueArray& a = values_->arrayRecord(2);
    values_->Grow(a, n);
    for (int k = 0; k < n; ++k) a.data[k] = x[k];
    a.length = n;
    a.xDistance = 0.001f;
    state_.resetForRun();
    ctx_ = std::make_unique<RunContext>(RunContext{*values_, program_.get(), nullptr, &state_});
  }
  void run() {
    const Instruction& ins = program_->instruction(0, 0);
    ins.routine(*ctx_, ins.operands, ins.count);
  }
  const double* result() { return values_->arrayRecord(1).data; }

 private:
  std::unique_ptr<ValueStore> values_;
  std::unique_ptr<CompiledProgram> program_;
  BuiltinState state_;
  std::unique_ptr<RunContext> ctx_;
};

void BM_MorvelFft(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  FftStatement s(n);
  s.run();  // plan, window weights and the destination made before timing
  for (auto _ : state) {
    s.run();
    benchmark::DoNotOptimize(s.result()[1]);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * n);
  state.SetLabel(morvel::builtins::spectrum::kernelName());
}

void BM_MorvelFftScalar(benchmark::State& state) {
  morvel::builtins::spectrum::forceScalarKernel(true);
  BM_MorvelFft(state);
  morvel::builtins::spectrum::forceScalarKernel(false);
}

#ifdef MORVEL_HAVE_FFTW
struct FftwCase {
  int n;
  fftw_complex* in;
  fftw_complex* out;
  fftw_plan plan;
  std::vector<double> x, w;
  explicit FftwCase(int points) : n(points) {
    in = fftw_alloc_complex(n);
    out = fftw_alloc_complex(n);
    plan = fftw_plan_dft_1d(n, in, out, FFTW_FORWARD, FFTW_MEASURE);
    x = randomSignal(n);
    w.resize(n);
    for (int k = 0; k < n; ++k) w[k] = morvel::builtins::spectrum::windowWeight(2, k, n);
    window();
  }
  void window() {
    for (int k = 0; k < n; ++k) {
      in[k][0] = x[k] * w[k];
      in[k][1] = 0.0;
    }
  }
  ~FftwCase() {
    fftw_destroy_plan(plan);
    fftw_free(in);
    fftw_free(out);
  }
};

void BM_Fftw(benchmark::State& state) {
  FftwCase c(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    fftw_execute(c.plan);
    benchmark::DoNotOptimize(c.out[1][0]);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * c.n);
}

void BM_FftwWindowed(benchmark::State& state) {
  FftwCase c(static_cast<int>(state.range(0)));
  std::vector<double> result(2 * static_cast<size_t>(c.n));
  const double scale = 4.0 / c.n;
  for (auto _ : state) {
    c.window();
    fftw_execute(c.plan);
    for (int k = 0; k < c.n; ++k) {
      result[2 * k] = c.out[k][0] * scale;
      result[2 * k + 1] = c.out[k][1] * scale;
    }
    benchmark::DoNotOptimize(result[1]);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * c.n);
}
#endif

void sizes(benchmark::internal::Benchmark* b) {
  for (int n : {1024, 16384, 262144}) b->Arg(n);
  b->Unit(benchmark::kMicrosecond)->MinTime(0.5);
}

BENCHMARK(BM_MorvelFft)->Apply(sizes);
BENCHMARK(BM_MorvelFftScalar)->Apply(sizes);
#ifdef MORVEL_HAVE_FFTW
BENCHMARK(BM_Fftw)->Apply(sizes);
BENCHMARK(BM_FftwWindowed)->Apply(sizes);
#endif

}  // namespace

BENCHMARK_MAIN();
