// Whole-array statements on 10^7 samples, run as the interpreter runs them
// (the compiled instruction's routine on its operands):
//   a3 = a1 * a2      memory-bound arithmetic
//   a2 = sin(a1)      transcendental function (vector math library)
//   a2 = sqrt(a1), a2 = exp(a1), a2 = abs(a1)
// bench/bench_array_math_numpy.py runs this program and numpy on the same
// work in one go and prints the ratios.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "builtins/math_vector.h"
#include "lang/builtin_state.h"
#include "lang/compiler.h"
#include "lang/value_store.h"

namespace {

using namespace morvel::lang;

constexpr int kSamples = 10'000'000;

// One compiled statement over three arrays of kSamples random samples in
// [-10, 10) (positive for sqrt).
class Statement {
 public:
  explicit Statement(const std::string& text) : values_(std::make_unique<ValueStore>()) {
    values_->resetForStart();
    CompileResult r = Compiler(*values_).compile({"*Start\n" + text + "\n", "*End\n"});
    if (!r.ok()) std::abort();
    program_ = std::move(r.program);
    std::string message;
    if (!values_->allocateArrays(message)) std::abort();
    std::mt19937_64 rng(1);
    std::uniform_real_distribution<double> d(text.find("sqrt") != std::string::npos ? 0.0 : -10.0, 10.0);
    for (int slot = 1; slot <= 3; ++slot) {
      ValueArray& a = values_->arrayRecord(slot);
      values_->Grow(a, kSamples);
      for (int k = 0; k < kSamples; ++k) a.data[k] = d(rng);
      a.length = kSamples;
    }
    state_.resetForRun();
    ctx_ = std::make_unique<RunContext>(RunContext{*values_, program_.get(), nullptr, &state_});
  }

  void run() {
    const Instruction& ins = program_->instruction(0, 0);
    ins.routine(*ctx_, ins.operands, ins.count);
  }
  const double* result(int slot) { return values_->arrayRecord(slot).data; }

 private:
  std::unique_ptr<ValueStore> values_;
  std::unique_ptr<CompiledProgram> program_;
  BuiltinState state_;
  std::unique_ptr<RunContext> ctx_;
};

void runStatement(benchmark::State& state, const char* text, int resultSlot) {
  Statement s(text);
  s.run();  // the destination has grown before timing starts
  for (auto _ : state) {
    s.run();
    benchmark::DoNotOptimize(s.result(resultSlot)[kSamples - 1]);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kSamples);
  state.SetLabel(morvel::builtins::vec::implementation());
}

void BM_Multiply(benchmark::State& state) {
  runStatement(state, "a3 = a1 * a2", 3);
}
void BM_Sin(benchmark::State& state) {
  runStatement(state, "a2 = sin(a1)", 2);
}
void BM_SinScalarLibm(benchmark::State& state) {
  morvel::builtins::vec::forceScalar(true);
  runStatement(state, "a2 = sin(a1)", 2);
  morvel::builtins::vec::forceScalar(false);
}
// The kernel alone on plain vectors, without the statement around it.
void BM_SinKernelOnly(benchmark::State& state) {
  std::vector<double> x(kSamples), y(kSamples);
  std::mt19937_64 rng(1);
  std::uniform_real_distribution<double> d(-10.0, 10.0);
  for (double& v : x) v = d(rng);
  for (auto _ : state) {
    morvel::builtins::vec::apply(morvel::builtins::vec::Unary::Sin, x.data(), y.data(), kSamples);
    benchmark::DoNotOptimize(y[kSamples - 1]);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kSamples);
}
void BM_Exp(benchmark::State& state) {
  runStatement(state, "a2 = exp(a1)", 2);
}
void BM_Sqrt(benchmark::State& state) {
  runStatement(state, "a2 = sqrt(a1)", 2);
}
void BM_Abs(benchmark::State& state) {
  runStatement(state, "a2 = abs(a1)", 2);
}

BENCHMARK(BM_Multiply)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_Sin)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_SinScalarLibm)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_SinKernelOnly)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_Exp)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_Sqrt)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_Abs)->Unit(benchmark::kMillisecond)->MinTime(1.0);

}  // namespace

BENCHMARK_MAIN();
