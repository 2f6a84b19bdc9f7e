#include "lang/error_text.h"

#include <cstdio>
#include <cstring>

namespace morvel::lang {

namespace {

constexpr int kHelpLineLength = 256;
constexpr const char* kInvalidNumber = "Ung\xFCltige Fehlernummer";

// Reads one line of at most kHelpLineLength characters into `buf`; the rest
// of a longer line is skipped. False at the end of the file.
bool readLine(std::FILE* f, char* buf) {
  int n = 0;
  int c = 0;
  bool any = false;
  while ((c = std::fgetc(f)) != EOF) {
    any = true;
    if (c == '\n') break;
    if (n < kHelpLineLength) buf[n++] = static_cast<char>(c);
  }
  buf[n] = '\0';
  return any;
}

}  // namespace

const char* defaultResourceDir() { return MORVEL_RESOURCE_DIR; }

std::string helpFileText(const std::string& path, int number) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return kInvalidNumber;
  char line[kHelpLineLength + 1];
  std::string text = kInvalidNumber;
  while (readLine(f, line)) {
    const char* slash = std::strchr(line, '/');
    if (!slash) continue;
    const char* p = line;
    while (*p == ' ' || *p == '\t') ++p;
    if (*p < '0' || *p > '9') continue;
    long value = 0;
    while (*p >= '0' && *p <= '9' && p < slash) {
      if (value < 100000000) value = value * 10 + (*p - '0');
      ++p;
    }
    while (p < slash && (*p == ' ' || *p == '\t')) ++p;
    if (p != slash || value != number) continue;
    const size_t length = std::strlen(line);
    const size_t start = static_cast<size_t>(slash - line) + 2;
    text.assign(start < length ? line + start : "");
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n')) text.pop_back();
    break;
  }
  std::fclose(f);
  return text;
}

std::string errorText(int number, bool runtime, const std::string& directory) {
  std::string dir = directory.empty() ? std::string(defaultResourceDir()) : directory;
  if (!dir.empty() && dir.back() != '/') dir += '/';
  if (runtime) return "Runtime:" + helpFileText(dir + "runerr.hlp", number);
  return helpFileText(dir + "pcompile.hlp", number);
}

}  // namespace morvel::lang
