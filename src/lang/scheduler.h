#pragma once
// The process table of a run: per-process execution state, function keys,
// exclusive mode and the profiling counters of the process watch window.
// The cycle itself is a member of the Interpreter (scheduler.cpp).
#include <atomic>
#include <cstdint>

#include "lang/program.h"

namespace morvel::lang {

inline constexpr int kCallDepth = 10;          // return addresses per process
inline constexpr int kFunctionKeys = 8;        // F1..F8
inline constexpr int kKeyLabelLength = 80;
inline constexpr int kInstructionCounters = 10000;

// Process state bits.
inline constexpr uint8_t kStateWaitBit = 1u;   // set only by ifwait
inline constexpr uint8_t kStateStopped = 2u;   // stop, end, startw, onkey, onmouse
inline constexpr uint8_t kStateExclusive = 3u; // held by exclusive mode

struct ProcessRecord {
  int32_t pc = 0;          // index of the next statement
  uint8_t state = 0;       // 0 runnable
  uint8_t signals = 0;     // signal flags 1..8 in bits 0..7
  bool waiting = false;    // waittime deadline set
  int32_t caller = -1;     // process waiting for this one's end(*), -1 none
  int32_t depth = 0;       // call stack depth
  int64_t deadline = 0;    // waittime: clock value in ms at which the wait ends
  int32_t stack[kCallDepth] = {};
  int textColor = 0;       // colours of `color` / `backcolor` for key labels
  int backColor = 15;

  bool runnable() const { return state == 0; }
  // Start again at the first statement: no wait, no subroutine, no caller.
  void restart() {
    pc = 0;
    waiting = false;
    deadline = 0;
    depth = 0;
    caller = -1;
  }
};

struct FunctionKey {
  bool enabled = true;
  int process = 0;  // 0 none
  char label[kKeyLabelLength + 1] = {};
};

// Elapsed performance-counter ticks: per process (mode 0) or per instruction
// of one selected process (mode 1). Written by the interpreter thread and read
// by the process watch window while they change, hence relaxed atomics.
struct ProfileCounters {
  std::atomic<uint64_t> perProcess[kMaxProcesses] = {};
  std::atomic<uint64_t> perInstruction[kInstructionCounters] = {};
  std::atomic<uint64_t> frequency{0};
  std::atomic<int> mode{0};              // 0 per process, 1 per instruction
  std::atomic<int> selectedProcess{1};

  void clear() {
    for (auto& c : perProcess) c.store(0, std::memory_order_relaxed);
    for (auto& c : perInstruction) c.store(0, std::memory_order_relaxed);
  }
};

}  // namespace morvel::lang
