#pragma once
// Input events for a running application: function keys, typed characters
// and mouse clicks on armed diagrams. The layout windows (window thread) and
// tests push; the scheduler (interpreter thread) takes at most one event of
// each kind per cycle. A lock guards the queues; the scheduler looks at an
// atomic flag first, so a cycle without input takes no lock.
#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string_view>

namespace morvel::lang {

struct MouseClick {
  int window = -1;   // diagram (window number) that was clicked
  int process = 0;   // process to start
};

class InputQueue {
 public:
  // Keyboard scan code of F1, shifted left by 8 bits; F8 is 0x4200.
  static constexpr int kFunctionKeyFirst = 0x3B00;
  static constexpr int kFunctionKeyLast = 0x4200;
  static constexpr size_t kMaxPending = 256;  // per kind; more are dropped

  // --- producers (any thread) ---------------------------------------------
  // The key code as the layout hands it over (scan code << 8).
  void pushKeyCode(int code);
  // Function key 1..8.
  void pressFunctionKey(int key) { pushKeyCode(kFunctionKeyFirst + (key - 1) * 256); }
  void typeText(std::string_view text);
  void click(int window, int process);
  void clear();

  // --- consumer (interpreter thread) ------------------------------------------
  bool pending() const { return pending_.load(std::memory_order_acquire); }

  struct Events {
    bool hasClick = false;
    MouseClick click;
    int keyCode = 0;   // 0 when none
    int character = -1;  // -1 when none; else the byte 0..255
  };
  // Removes at most one click, one key code and one character.
  Events take();

 private:
  void updatePending();  // with the lock held

  mutable std::mutex mutex_;
  std::atomic<bool> pending_{false};
  std::deque<MouseClick> clicks_;
  std::deque<int> keyCodes_;
  std::deque<unsigned char> typed_;
};

}  // namespace morvel::lang
