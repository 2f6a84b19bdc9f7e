#pragma once
// State that builtin families keep for the length of one run (random
// generator, averaging counters, filter delay lines, ...). The interpreter
// owns one object, resets it at every run start and releases it at run end;
// run routines reach it through RunContext::state.
#include <cstdint>

namespace morvel::lang {

struct BuiltinState {
  // rand(): 32-bit linear congruential generator, seeded with 1 at run start.
  uint32_t randomState = 1;

  // Called at every run start, before the start process runs.
  void resetForRun() { randomState = 1; }
};

}  // namespace morvel::lang
