// filter with 8 sections over 10^6 samples, run as the interpreter runs the
// statement `a3 = filter(0, a2)`. bench/bench_filter_scipy.py runs this
// program and scipy.signal.sosfilt on the same work side by side.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <memory>
#include <random>
#include <string>

#include "builtins/filter.h"
#include "lang/builtin_state.h"
#include "lang/compiler.h"
#include "lang/value_store.h"

namespace {

using namespace morvel::lang;

constexpr int kSamples = 1'000'000;

// setfilter(0, type, 16, fc1, fc2) runs once; then each run() filters the
// block again (the delay lines carry on, as in a live run).
class FilterStatement {
 public:
  explicit FilterStatement(const std::string& setfilter) : values_(std::make_unique<ValueStore>()) {
    values_->resetForStart();
    CompileResult r = Compiler(*values_).compile({"*Start\n" + setfilter + "\na3 = filter(0, a2)\n", "*End\n"});
    if (!r.ok()) std::abort();
    program_ = std::move(r.program);
    std::string message;
    if (!values_->allocateArrays(message)) std::abort();
    std::mt19937_64 rng(1);
    std::uniform_real_distribution<double> d(-10.0, 10.0);
    ValueArray& a = values_->arrayRecord(2);
    values_->Grow(a, kSamples);
    for (int k = 0; k < kSamples; ++k) a.data[k] = d(rng);
    a.length = kSamples;
    a.xDistance = 0.0001f;
    state_.resetForRun();
    ctx_ = std::make_unique<RunContext>(RunContext{*values_, program_.get(), nullptr, &state_});
    step(0);
  }
  void step(int k) {
    const Instruction& ins = program_->instruction(0, k);
    ins.routine(*ctx_, ins.operands, ins.count);
  }
  const double* result() { return values_->arrayRecord(3).data; }

 private:
  std::unique_ptr<ValueStore> values_;
  std::unique_ptr<CompiledProgram> program_;
  BuiltinState state_;
  std::unique_ptr<RunContext> ctx_;
};

void runFilter(benchmark::State& state, const char* setfilter) {
  FilterStatement s(setfilter);
  s.step(1);  // coefficients and the destination made before timing
  for (auto _ : state) {
    s.step(1);
    benchmark::DoNotOptimize(s.result()[kSamples - 1]);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kSamples);
  state.SetLabel(morvel::builtins::filters::kernelName());
}

void BM_FilterLow8(benchmark::State& state) { runFilter(state, "setfilter(0, 0, 16, 500)"); }
void BM_FilterHigh8(benchmark::State& state) { runFilter(state, "setfilter(0, 1, 16, 500)"); }
void BM_FilterBand8(benchmark::State& state) { runFilter(state, "setfilter(0, 2, 16, 300, 900)"); }
void BM_FilterLow8Avx2(benchmark::State& state) {
  morvel::builtins::filters::limitKernel(1);
  runFilter(state, "setfilter(0, 0, 16, 500)");
  morvel::builtins::filters::limitKernel(0);
}
void BM_FilterLow8Scalar(benchmark::State& state) {
  morvel::builtins::filters::limitKernel(2);
  runFilter(state, "setfilter(0, 0, 16, 500)");
  morvel::builtins::filters::limitKernel(0);
}

BENCHMARK(BM_FilterLow8)->Unit(benchmark::kMillisecond)->MinTime(0.5);
BENCHMARK(BM_FilterHigh8)->Unit(benchmark::kMillisecond)->MinTime(0.5);
BENCHMARK(BM_FilterBand8)->Unit(benchmark::kMillisecond)->MinTime(0.5);
BENCHMARK(BM_FilterLow8Avx2)->Unit(benchmark::kMillisecond)->MinTime(0.5);
BENCHMARK(BM_FilterLow8Scalar)->Unit(benchmark::kMillisecond)->MinTime(0.5);

}  // namespace

BENCHMARK_MAIN();
