#pragma once
// Per-user settings, grouped in sections ("Einstellungen", "Window size",
// ...). The desktop program stores them with QSettings; the core only sees
// this interface. IniSettings keeps them in a plain INI file for the headless
// runner and tests.
#include <map>
#include <string>

namespace morvel::shell {

class SettingsStore {
 public:
  virtual ~SettingsStore() = default;
  virtual std::string text(const std::string& section, const std::string& key,
                           const std::string& fallback = {}) const = 0;
  virtual void setText(const std::string& section, const std::string& key, const std::string& value) = 0;
  int integer(const std::string& section, const std::string& key, int fallback = 0) const;
  void setInteger(const std::string& section, const std::string& key, int value);
};

// Settings held in memory, optionally loaded from and saved to an INI file
// ("[section]" lines and "key=value" lines; a blank in a section name is
// written as "%20", as QSettings does).
class IniSettings : public SettingsStore {
 public:
  IniSettings() = default;
  explicit IniSettings(std::string path);
  std::string text(const std::string& section, const std::string& key,
                   const std::string& fallback = {}) const override;
  void setText(const std::string& section, const std::string& key, const std::string& value) override;
  bool save() const;  // writes the file when a path was given

 private:
  std::string path_;
  std::map<std::string, std::map<std::string, std::string>> values_;
};

// The settings file of the current user: $MORVEL_SETTINGS when set, else
// $XDG_CONFIG_HOME/Orvak/Morvel.conf (or ~/.config/Orvak/Morvel.conf).
std::string defaultSettingsPath();

// The document key of this installation: $MORVEL_DOCUMENT_KEY when set, else
// the setting Einstellungen/DocumentKey, else 0 (no scrambling).
int documentKey(const SettingsStore& settings);

}  // namespace morvel::shell
