// Compile time of an application of 10,000 statements in a mix of the usual
// statement forms: assignments, arithmetic, calls, if/else blocks, jumps,
// subroutine calls, loops, string literals, named variables.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "lang/compiler.h"
#include "lang/value_store.h"

namespace {

using morvel::lang::CompileResult;
using morvel::lang::Compiler;
using morvel::lang::ValueStore;

// 10 processes of 1000 statements: 100 blocks of 10 statements each.
// Within the pools: 19,500 operands, 3,000 numeric literals.
std::vector<std::string> application() {
  std::vector<std::string> processes;
  for (int p = 0; p < 10; ++p) {
    std::string text = p == 0 ? "*Start\n" : (p == 9 ? "*End\n" : "*Prozess" + std::to_string(p) + "\n");
    for (int b = 0; b < 100; ++b) {
      const std::string n = std::to_string(b);
      text += ":block" + n + "\n";
      if (b % 4 == 3) {
        text += "for i_k = 0 to i_n\n"
                "  a_sum &= a[i_k]\n"
                "next\n"
                "v_mean = mean(a_sum)\n";
      } else {
        text += "if i_count > 5\n"
                "  a1 = a2\n"
                "else\n"
                "  v_speed" + n + " = abs(v2)\n"
                "endif\n";
      }
      text += "waittime(0.01)\n"
              "s1 = \"Messwert\\t\"   ; comment\n"
              "i_count = i_count + 1\n"
              "w1 = a1\n";
      text += b % 4 == 3 ? "call :block0\n" : "";
      text += b % 2 ? "goto :block" + n + "\n" : "return\n";
    }
    processes.push_back(std::move(text));
  }
  return processes;
}

void BM_Compile10000Statements(benchmark::State& state) {
  const std::vector<std::string> processes = application();
  ValueStore values;
  values.resetForStart();
  Compiler compiler(values);
  int statements = 0;
  for (auto _ : state) {
    CompileResult r = compiler.compile(processes);
    if (!r.ok()) {
      state.SkipWithError(("compile error " + std::to_string(r.error.number) + " in process " +
                           std::to_string(r.error.process) + " line " + std::to_string(r.error.line))
                              .c_str());
      return;
    }
    statements = r.program->totalStatements();
    benchmark::DoNotOptimize(r.program.get());
  }
  state.counters["statements"] = statements;
  state.SetItemsProcessed(state.iterations() * statements);
}
BENCHMARK(BM_Compile10000Statements)->Unit(benchmark::kMillisecond);

// Baseline for the ratio: only copy every line of the same texts into a line
// buffer and find its first non-blank character, the least any line-oriented
// compiler must do.
void BM_CopyLinesBaseline(benchmark::State& state) {
  const std::vector<std::string> processes = application();
  char line[1024];
  for (auto _ : state) {
    long nonBlank = 0;
    for (const std::string& text : processes) {
      size_t p = 0;
      while (p < text.size()) {
        size_t e = text.find('\n', p);
        if (e == std::string::npos) e = text.size();
        const size_t n = std::min(e - p, sizeof line - 1);
        std::memcpy(line, text.data() + p, n);
        line[n] = '\0';
        const char* c = line;
        while (*c == ' ' || *c == '\t') ++c;
        nonBlank += *c != '\0';
        p = e + 1;
      }
    }
    benchmark::DoNotOptimize(nonBlank);
  }
}
BENCHMARK(BM_CopyLinesBaseline)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
