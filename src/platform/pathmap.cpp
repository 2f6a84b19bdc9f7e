#include "platform/pathmap.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <mutex>
#include <vector>

#include "platform/codepage.h"

namespace platform {
namespace {

int driveIndex(char letter) {
  if (letter >= 'a' && letter <= 'z') return letter - 'a';
  if (letter >= 'A' && letter <= 'Z') return letter - 'A';
  return -1;
}

bool isDriveLetter(char c) { return driveIndex(c) >= 0; }

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\r')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

// One "X=root" or "X:=root" entry; anything else is ignored.
void applyEntry(PathMap& map, std::string_view entry) {
  entry = trim(entry);
  if (entry.empty() || entry.front() == '#') return;
  size_t eq = entry.find('=');
  if (eq == std::string_view::npos) return;
  std::string_view key = trim(entry.substr(0, eq));
  if (key.size() == 2 && key[1] == ':') key.remove_suffix(1);
  if (key.size() != 1 || !isDriveLetter(key[0])) return;
  map.setDrive(key[0], std::string(trim(entry.substr(eq + 1))));
}

// Unicode code point -> lower case for the letters of ASCII and Windows-1252.
char32_t foldCase(char32_t c) {
  if (c >= 'A' && c <= 'Z') return c + 32;
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 32;
  switch (c) {
    case 0x160: return 0x161;  // S caron
    case 0x152: return 0x153;  // OE
    case 0x17D: return 0x17E;  // Z caron
    case 0x178: return 0xFF;   // Y diaeresis
    default: return c;
  }
}

// Next code point of UTF-8 text; a byte that starts no valid sequence counts
// as itself with 0x110000 added, so it only matches the same byte.
char32_t nextCodePoint(std::string_view s, size_t& i) {
  unsigned char b = static_cast<unsigned char>(s[i]);
  int len = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
  if (len == 1) {
    ++i;
    return b;
  }
  if (len == 0 || i + len > s.size()) {
    ++i;
    return 0x110000 + b;
  }
  char32_t cp = b & (0x7F >> len);
  for (int k = 1; k < len; ++k) {
    unsigned char c = static_cast<unsigned char>(s[i + k]);
    if ((c & 0xC0) != 0x80) {
      ++i;
      return 0x110000 + b;
    }
    cp = (cp << 6) | (c & 0x3F);
  }
  i += len;
  return cp;
}

std::string joinPath(const std::string& dir, const std::string& name) {
  if (dir.empty()) return name;
  if (dir.back() == '/') return dir + name;
  return dir + "/" + name;
}

// Shared part of translate(): `utf8` is the name with its bytes already in UTF-8.
std::string translateBytes(const PathMap& map, std::string name) {
  for (char& c : name)
    if (c == '\\') c = '/';
  // "//server/share" stays as it is; "X:" with a drive letter is replaced.
  if (name.size() >= 2 && name[1] == ':' && isDriveLetter(name[0])) {
    std::string root = map.drive(name[0]);
    if (root.empty()) root = "/";
    std::string rest = name.substr(2);
    while (!rest.empty() && rest.front() == '/') rest.erase(0, 1);
    if (rest.empty()) return root;
    return joinPath(root, rest);
  }
  return name;
}

}  // namespace

void PathMap::setDrive(char letter, std::string root) {
  int i = driveIndex(letter);
  if (i >= 0) roots_[static_cast<size_t>(i)] = std::move(root);
}

const std::string& PathMap::drive(char letter) const {
  static const std::string none;
  int i = driveIndex(letter);
  return i >= 0 ? roots_[static_cast<size_t>(i)] : none;
}

bool PathMap::loadFile(const std::string& path) {
  std::ifstream in(path);
  if (!in) return false;
  std::string line;
  while (std::getline(in, line)) applyEntry(*this, line);
  return true;
}

void PathMap::loadSpec(std::string_view spec) {
  while (!spec.empty()) {
    size_t end = spec.find_first_of(";\n");
    applyEntry(*this, spec.substr(0, end));
    if (end == std::string_view::npos) break;
    spec.remove_prefix(end + 1);
  }
}

void PathMap::loadDefaults() {
  std::string file;
  if (const char* f = std::getenv("MORVEL_DRIVES_FILE"); f && *f) {
    file = f;
  } else if (const char* x = std::getenv("XDG_CONFIG_HOME"); x && *x) {
    file = std::string(x) + "/Orvak/Morvel-drives.conf";
  } else if (const char* h = std::getenv("HOME"); h && *h) {
    file = std::string(h) + "/.config/Orvak/Morvel-drives.conf";
  }
  if (!file.empty()) loadFile(file);
  if (const char* spec = std::getenv("MORVEL_DRIVES")) loadSpec(spec);
}

std::string PathMap::translate(std::string_view name) const {
  return translateBytes(*this, toUtf8(name, CodePage::Cp1252));
}

std::string PathMap::translateUtf8(std::string_view name) const {
  return translateBytes(*this, std::string(name));
}

std::string PathMap::map(std::string_view name) const { return resolveCaseInsensitive(translate(name)); }

std::string PathMap::mapUtf8(std::string_view name) const { return resolveCaseInsensitive(translateUtf8(name)); }

PathMap& pathMap() {
  static PathMap map;
  static std::once_flag once;
  std::call_once(once, [] { map.loadDefaults(); });
  return map;
}

std::string mapPath(std::string_view name) { return pathMap().map(name); }

bool pathExists(const std::string& hostPath) {
  struct stat st;
  return !hostPath.empty() && ::stat(hostPath.c_str(), &st) == 0;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    if (foldCase(nextCodePoint(a, i)) != foldCase(nextCodePoint(b, j))) return false;
  }
  return i == a.size() && j == b.size();
}

std::string resolveCaseInsensitive(const std::string& hostPath) {
  if (hostPath.empty() || pathExists(hostPath)) return hostPath;
  std::vector<std::string> parts;
  size_t pos = 0;
  while (pos <= hostPath.size()) {
    size_t end = hostPath.find('/', pos);
    if (end == std::string::npos) end = hostPath.size();
    if (end > pos) parts.emplace_back(hostPath, pos, end - pos);
    pos = end + 1;
  }
  std::string dir = hostPath.front() == '/' ? "/" : "";
  for (const std::string& part : parts) {
    std::string exact = joinPath(dir, part);
    if (part == "." || part == ".." || pathExists(exact)) {
      dir = exact;
      continue;
    }
    DIR* d = ::opendir(dir.empty() ? "." : dir.c_str());
    if (!d) return hostPath;
    std::string best;
    bool found = false;
    while (dirent* e = ::readdir(d)) {
      std::string_view entry = e->d_name;
      if (entry == "." || entry == "..") continue;
      if (equalsIgnoringCase(entry, part) && (!found || entry < best)) {
        best = entry;
        found = true;
      }
    }
    ::closedir(d);
    if (!found) return hostPath;
    dir = joinPath(dir, best);
  }
  return dir;
}

}  // namespace platform
