#include "platform/notifier.h"

#include <atomic>
#include <cstdio>
#include <string>

#include "platform/codepage.h"

namespace morvel {
namespace {
StderrNotifier stderrNotifier;
std::atomic<Notifier*> current{nullptr};
}  // namespace

void StderrNotifier::message(std::string_view text) {
  std::string line = "Message: " + platform::toUtf8(text) + "\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}

Notifier& defaultNotifier() {
  Notifier* n = current.load(std::memory_order_acquire);
  return n ? *n : stderrNotifier;
}

void setDefaultNotifier(Notifier* notifier) { current.store(notifier, std::memory_order_release); }

}  // namespace morvel
