#include "shell/settings.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "platform/cnumber.h"

namespace morvel::shell {
namespace {

std::string encodeSection(const std::string& s) {
  std::string out;
  for (char c : s) {
    if (c == ' ')
      out += "%20";
    else
      out += c;
  }
  return out;
}

std::string decodeSection(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s.compare(i, 3, "%20") == 0) {
      out += ' ';
      i += 2;
    } else {
      out += s[i];
    }
  }
  return out;
}

}  // namespace

int SettingsStore::integer(const std::string& section, const std::string& key, int fallback) const {
  std::string t = text(section, key);
  if (t.empty()) return fallback;
  return platform::atoiC(t.c_str());
}

void SettingsStore::setInteger(const std::string& section, const std::string& key, int value) {
  setText(section, key, std::to_string(value));
}

IniSettings::IniSettings(std::string path) : path_(std::move(path)) {
  std::ifstream in(path_, std::ios::binary);
  std::string line, section;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == ';' || line[0] == '#') continue;
    if (line.front() == '[' && line.back() == ']') {
      section = decodeSection(line.substr(1, line.size() - 2));
      continue;
    }
    auto eq = line.find('=');
    if (eq == std::string::npos) continue;
    values_[section][line.substr(0, eq)] = line.substr(eq + 1);
  }
}

std::string IniSettings::text(const std::string& section, const std::string& key,
                              const std::string& fallback) const {
  auto s = values_.find(section);
  if (s == values_.end()) return fallback;
  auto k = s->second.find(key);
  return k == s->second.end() ? fallback : k->second;
}

void IniSettings::setText(const std::string& section, const std::string& key, const std::string& value) {
  values_[section][key] = value;
}

bool IniSettings::save() const {
  if (path_.empty()) return true;
  std::string tmp = path_ + ".tmp";
  {
    std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    for (const auto& [section, keys] : values_) {
      out << '[' << encodeSection(section) << "]\n";
      for (const auto& [k, v] : keys) out << k << '=' << v << '\n';
      out << '\n';
    }
    if (!out.flush()) return false;
  }
  return std::rename(tmp.c_str(), path_.c_str()) == 0;
}

std::string defaultSettingsPath() {
  if (const char* p = std::getenv("MORVEL_SETTINGS"); p && *p) return p;
  std::string base;
  if (const char* x = std::getenv("XDG_CONFIG_HOME"); x && *x)
    base = x;
  else if (const char* h = std::getenv("HOME"); h && *h)
    base = std::string(h) + "/.config";
  else
    base = ".";
  return base + "/Orvak/Morvel.conf";
}

int documentKey(const SettingsStore& settings) {
  if (const char* k = std::getenv("MORVEL_DOCUMENT_KEY"); k && *k) return platform::atoiC(k);
  return settings.integer("Einstellungen", "DocumentKey", 0);
}

}  // namespace morvel::shell
