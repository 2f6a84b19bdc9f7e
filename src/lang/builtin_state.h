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

  // Substitute-value mode (mathdefaulton/mathdefaultoff): log of 0 gives 0,
  // divisions by 0 divide by 1e-30. Off when the program starts; a run start
  // leaves it as it is.
  bool mathDefault = false;

  // Called at every run start, before the start process runs.
  void resetForRun() { randomState = 1; }
};

}  // namespace morvel::lang
