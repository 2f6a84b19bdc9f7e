// Statistics statements on 10^7 samples, run as the interpreter runs them
// (the compiled instruction's routine on its operands). a1 holds uniform
// random samples in [-10, 10), or in [10, 30) for the cases whose sum does
// not wander around zero.
// bench/bench_statistics_numpy.py runs this program and numpy on the same
// work, round after round in one go, and prints the ratios.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <memory>
#include <random>
#include <string>

#include "lang/builtin_state.h"
#include "lang/compiler.h"
#include "lang/value_store.h"

namespace {

using namespace morvel::lang;

constexpr int kSamples = 10'000'000;

struct Case {
  const char* name;
  const char* statement;
  double offset = 0.0;  // added to every sample
};

// Names are the keys the numpy script uses.
const Case kCases[] = {
    {"sum", "v1 = sum(a1)"},
    {"mean", "v1 = mean(a1)"},
    {"sum_offset", "v1 = sum(a1)", 20.0},
    {"mean_offset", "v1 = mean(a1)", 20.0},
    {"max", "v1 = max(a1)"},
    {"min", "v1 = min(a1)"},
    {"amp", "v1 = amp(a1)"},
    {"eff", "v1 = eff(a1)"},
    {"stddev", "v1 = stddev(a1)"},
    {"moment2", "v1 = moment(a1, 2)"},
    {"moment3", "v1 = moment(a1, 3)"},
    {"zmoment3", "v1 = zmoment(a1, 3)"},
    {"gmean", "v1 = gmean(a1)"},
    {"maxiy", "maxiy(a1, i1, v1)"},
    {"maxxy", "maxxy(a1, v1, v2)"},
    {"quant", "a2 = quant(a1, -10, 10, 100)"},
    {"trigger", "a2 = trigger(a1, 9)"},
    {"delminmax", "a2 = delminmax(a1, 1, 1)"},
};

class Statement {
 public:
  Statement(const std::string& text, double offset) : values_(std::make_unique<ValueStore>()) {
    values_->resetForStart();
    CompileResult r = Compiler(*values_).compile({"*Start\n" + text + "\n", "*End\n"});
    if (!r.ok()) std::abort();
    program_ = std::move(r.program);
    std::string message;
    if (!values_->allocateArrays(message)) std::abort();
    std::mt19937_64 rng(1);
    std::uniform_real_distribution<double> d(-10.0, 10.0);
    ValueArray& a = values_->arrayRecord(1);
    values_->Grow(a, kSamples);
    for (int k = 0; k < kSamples; ++k) a.data[k] = d(rng) + offset;
    a.length = kSamples;
    state_.resetForRun();
    ctx_ = std::make_unique<RunContext>(RunContext{*values_, program_.get(), nullptr, &state_});
  }

  void run() {
    const Instruction& ins = program_->instruction(0, 0);
    ins.routine(*ctx_, ins.operands, ins.count);
  }
  double result() { return values_->floatSlot(1) + values_->arrayRecord(2).length; }

 private:
  std::unique_ptr<ValueStore> values_;
  std::unique_ptr<CompiledProgram> program_;
  BuiltinState state_;
  std::unique_ptr<RunContext> ctx_;
};

void runStatement(benchmark::State& state, const Case* c) {
  Statement s(c->statement, c->offset);
  s.run();  // results have grown before timing starts
  for (auto _ : state) {
    s.run();
    benchmark::DoNotOptimize(s.result());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kSamples);
}

}  // namespace

int main(int argc, char** argv) {
  for (const Case& c : kCases)
    benchmark::RegisterBenchmark((std::string("Stat/") + c.name).c_str(), runStatement, &c)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
