#pragma once
// Fixture of the builtin tests: compiles a start process and runs its
// statements in order (straight-line code: assignments and builtin calls),
// with a fresh per-run builtin state, as a run of the interpreter would.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "../lang/compiler_test_util.h"
#include "lang/builtin_state.h"
#include "lang/routine.h"

namespace morvel::builtins::testing {

using lang::ValueArray;

class BuiltinTest : public lang::testing::CompilerTest {
 protected:
  // Compiles `body` as the start process and runs it. Returns the run-time
  // error number that stopped it, 0 when it ran to its end; -1 when it did
  // not compile.
  int run(const std::string& body) {
    program_ = compileOk(body);
    if (!program_) return -1;
    std::string message;
    if (!values_->allocateArrays(message)) {
      ADD_FAILURE() << message;
      return -1;
    }
    state_.resetForRun();
    if (beforeRun_) beforeRun_();
    lang::RunContext ctx{*values_, program_.get(), nullptr, &state_};
    for (int k = 0; k < program_->process(0).statements; ++k) {
      const lang::Instruction& ins = program_->instruction(0, k);
      try {
        ins.routine(ctx, ins.operands, ins.count);
      } catch (const lang::RuntimeError& e) {
        errorLine_ = ins.line;
        return e.number();
      }
    }
    return 0;
  }

  // Compile error number of `body`, 0 when it compiles.
  int compileError(const std::string& body) { return compileBody(body).error.number; }

  std::vector<double> samples(int slot) {
    const ValueArray& a = values_->arrayRecord(slot);
    return std::vector<double>(a.data, a.data + a.length);
  }
  std::vector<double> twinSamples(int slot) {
    const ValueArray& a = values_->floatTwin(slot);
    return std::vector<double>(a.data, a.data + a.length);
  }
  ValueArray& array(int slot) { return values_->arrayRecord(slot); }
  // Puts `values` into a<slot> (inside beforeRun_, when buffers exist).
  void setSamples(int slot, const std::vector<double>& values) {
    ValueArray& a = values_->arrayRecord(slot);
    values_->Grow(a, static_cast<int64_t>(values.size()));
    if (!values.empty()) std::memcpy(a.data, values.data(), values.size() * sizeof(double));
    a.length = static_cast<int32_t>(values.size());
  }
  double v(int slot) { return values_->floatSlot(slot); }
  int32_t i(int slot) { return values_->integerSlot(slot); }
  std::string s(int slot) { return values_->stringSlot(slot); }

  // "a2 = 1\na2 &= 2 ..." : statements that make a<slot> hold `values`.
  static std::string fill(int slot, const std::vector<double>& values) {
    std::string text;
    for (size_t k = 0; k < values.size(); ++k) {
      char number[64];
      std::snprintf(number, sizeof number, "%.17g", values[k]);
      text += "a" + std::to_string(slot) + (k == 0 ? " = " : " &= ") + number + "\n";
    }
    if (values.empty()) text += "setlen(a" + std::to_string(slot) + ", 0)\n";
    return text;
  }

  // Called after the arrays got their buffers, before the first statement.
  std::function<void()> beforeRun_;
  lang::BuiltinState state_;
  std::unique_ptr<lang::CompiledProgram> program_;
  int errorLine_ = -1;
};

// n samples uniform in [-range, range), the same for the same seed.
inline std::vector<double> randomSamples(size_t n, uint64_t seed, double range = 10.0) {
  std::mt19937_64 rng(seed);
  std::uniform_real_distribution<double> d(-range, range);
  std::vector<double> x(n);
  for (auto& v : x) v = d(rng);
  return x;
}

}  // namespace morvel::builtins::testing
