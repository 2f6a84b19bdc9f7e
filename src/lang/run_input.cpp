#include "lang/run_input.h"

namespace morvel::lang {

void InputQueue::updatePending() {
  pending_.store(!clicks_.empty() || !keyCodes_.empty() || !typed_.empty(), std::memory_order_release);
}

void InputQueue::pushKeyCode(int code) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (keyCodes_.size() < kMaxPending) keyCodes_.push_back(code);
  updatePending();
}

void InputQueue::typeText(std::string_view text) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (char c : text) {
    if (typed_.size() >= kMaxPending) break;
    typed_.push_back(static_cast<unsigned char>(c));
  }
  updatePending();
}

void InputQueue::click(int window, int process) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (clicks_.size() < kMaxPending) clicks_.push_back(MouseClick{window, process});
  updatePending();
}

void InputQueue::clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  clicks_.clear();
  keyCodes_.clear();
  typed_.clear();
  updatePending();
}

InputQueue::Events InputQueue::take() {
  Events e;
  std::lock_guard<std::mutex> lock(mutex_);
  if (!clicks_.empty()) {
    e.hasClick = true;
    e.click = clicks_.front();
    clicks_.pop_front();
  }
  if (!keyCodes_.empty()) {
    e.keyCode = keyCodes_.front();
    keyCodes_.pop_front();
  }
  if (!typed_.empty()) {
    e.character = typed_.front();
    typed_.pop_front();
  }
  updatePending();
  return e;
}

}  // namespace morvel::lang
