// The interpreter's statement loop on whole runs (prepare, start process,
// cycles, end process, release):
//   ForLoopAdd        a start process looping 10^7 times over v1 = v1 + v2
//   ThreeCounters     three cyclic processes each incrementing its counter
//   AppendFloat       a1 &= v1, 10^6 times
// Counters: `ns_per_iteration` (for the comparison with lua5.4 in
// bench_interp_lua.sh) and `ns_per_statement` / `statements_per_s`.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "lang/interpreter.h"
#include "lang/value_store.h"

namespace {

using namespace morvel::lang;

struct Run {
  std::unique_ptr<ValueStore> values = std::make_unique<ValueStore>();
  Interpreter interpreter{*values, Ports{}};

  void once(const std::vector<std::string>& processes, int64_t maxCycles = -1) {
    RunRequest request;
    request.processes = processes;
    request.maxCycles = maxCycles;
    if (!interpreter.prepareRun(request).started) std::abort();
    interpreter.runLoop();
  }
};

// Statements per iteration: the assignment and the `next`.
void ForLoopAdd(benchmark::State& state) {
  const int64_t n = 10000000;
  const std::vector<std::string> doc = {
      "*Start\nv2 = 1\nfor i1 = 1 to " + std::to_string(n) + "\nv1 = v1 + v2\nnext\nexit()\n", "*End\n"};
  Run run;
  for (auto _ : state) run.once(doc);
  state.counters["ns_per_iteration"] =
      benchmark::Counter(static_cast<double>(n) * 1e-9, benchmark::Counter::kIsIterationInvariantRate |
                                                             benchmark::Counter::kInvert);
  state.counters["ns_per_statement"] =
      benchmark::Counter(2.0 * static_cast<double>(n) * 1e-9, benchmark::Counter::kIsIterationInvariantRate |
                                                                   benchmark::Counter::kInvert);
  state.counters["statements_per_s"] =
      benchmark::Counter(2.0 * static_cast<double>(n), benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(ForLoopAdd)->Unit(benchmark::kMillisecond);

// Every statement is an increment, so the counters' sum is the number of
// statements run. Each process has eight statements and then spends one
// cycle going back to its first statement.
void ThreeCounters(benchmark::State& state) {
  const int64_t cycles = 3000000;
  std::string body;
  std::vector<std::string> doc = {"*Start\n"};
  for (int p = 1; p <= 3; ++p) {
    std::string text = "*Prozess" + std::to_string(p) + "\n";
    for (int k = 0; k < 8; ++k) text += "i" + std::to_string(p) + " = i" + std::to_string(p) + " + 1\n";
    doc.push_back(text);
  }
  doc.push_back("*End\ni4 = i1 + i2\ni4 = i4 + i3\n");
  Run run;
  double statements = 0;
  for (auto _ : state) {
    run.once(doc, cycles);
    state.PauseTiming();
    statements += run.values->integerSlot(1) + run.values->integerSlot(2) + run.values->integerSlot(3);
    state.ResumeTiming();
  }
  state.counters["statements_per_s"] = benchmark::Counter(statements, benchmark::Counter::kIsRate);
  state.counters["ns_per_statement"] =
      benchmark::Counter(statements * 1e-9, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(ThreeCounters)->Unit(benchmark::kMillisecond);

// Statements per iteration: the append and the `next`.
void AppendFloat(benchmark::State& state) {
  const int64_t n = 1000000;
  const std::vector<std::string> doc = {
      "*Start\nv1 = 0.5\nfor i1 = 1 to " + std::to_string(n) + "\na1 &= v1\nnext\nexit()\n", "*End\n"};
  Run run;
  for (auto _ : state) run.once(doc);
  state.counters["ns_per_statement"] =
      benchmark::Counter(2.0 * static_cast<double>(n) * 1e-9, benchmark::Counter::kIsIterationInvariantRate |
                                                                   benchmark::Counter::kInvert);
}
BENCHMARK(AppendFloat)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
