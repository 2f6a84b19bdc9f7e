#pragma once
// Messages for the user from code that has no window of its own (data file
// readers, later other core parts). The desktop program installs a notifier
// that shows a message box; headless programs and tests write the text to
// standard error as "Message: TEXT".
#include <string_view>

namespace morvel {

class Notifier {
 public:
  virtual ~Notifier() = default;
  // `text` is Windows-1252 bytes, as all texts of the core.
  virtual void message(std::string_view text) = 0;
};

// Writes "Message: TEXT" (converted to UTF-8) and a line break to stderr.
class StderrNotifier final : public Notifier {
 public:
  void message(std::string_view text) override;
};

// The notifier used when a reader was given none; a StderrNotifier until a
// program installs its own. Passing nullptr restores the stderr one.
Notifier& defaultNotifier();
void setDefaultNotifier(Notifier* notifier);

}  // namespace morvel
