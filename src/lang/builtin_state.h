#pragma once
// State that builtin families keep for the length of one run (random
// generator, averaging counters, filter delay lines, ...). The interpreter
// owns one object, resets it at every run start and releases it at run end;
// run routines reach it through RunContext::state.
#include <cstdint>
#include <memory>

namespace morvel::lang {

// One filled slot of the filter bank (setfilter/filter): up to 8 second-order
// (low and high pass) or fourth-order (band pass) sections.
struct FilterRecord {
  static constexpr int kMaxSections = 8;
  int sections = 0;        // N = order / 2
  int type = 0;            // 0 low pass, 1 high pass, 2 band pass
  double cutoff1 = 0.0;    // Hz
  double cutoff2 = 0.0;    // Hz, band pass only
  double period = 0.0;     // sampling period the coefficients belong to
  bool ready = false;      // coefficients computed for `period`
  double coeff[kMaxSections][5] = {};  // b0, a1, a2 (, a3, a4)
  // Delay lines, newest first: line 0 holds the past inputs, line k the past
  // outputs of section k (and so the past inputs of section k + 1).
  double line[kMaxSections + 1][4] = {};
};

// One discrete PID controller (pid/setpid), 32-bit state as kept.
struct PidController {
  float kp = 0.0f, ki = 0.0f, kd = 0.0f;
  float integral = 0.0f;
  float previousError = 0.0f;
};

struct BuiltinState {
  // rand(): 32-bit linear congruential generator, seeded with 1 at run start.
  uint32_t randomState = 1;

  // Substitute-value mode (mathdefaulton/mathdefaultoff): log of 0 gives 0,
  // divisions by 0 divide by 1e-30. Off when the program starts; a run start
  // leaves it as it is.
  bool mathDefault = false;

  // Filter bank: 32 slots, empty until setfilter fills them; emptied at run
  // start and by the run-end clean-up.
  static constexpr int kFilterSlots = 32;
  std::unique_ptr<FilterRecord> filters[kFilterSlots];

  // PID controllers 0..15: all 0 when the program starts; a run start leaves
  // them as they are (the integral sum carries over to the next run).
  static constexpr int kPidControllers = 16;
  PidController pid[kPidControllers];

  // Called at every run start, before the start process runs.
  void resetForRun() {
    randomState = 1;
    for (auto& f : filters) f.reset();
  }
};

}  // namespace morvel::lang
