#include "lang/escape_text.h"

#include <cstdint>
#include <cstring>
#include <memory>

namespace morvel::lang {

namespace {

constexpr size_t kReplaceLimit = 256;
constexpr uint16_t kKeptBackslash = 256;  // outside the byte range

// Replaces every occurrence of `pattern` by the single symbol `to`, left to
// right. With `limited`, an occurrence is replaced only when the text is at
// most kReplaceLimit symbols long after the replacement.
size_t replaceAll(uint16_t* s, size_t n, std::string_view pattern, uint16_t to, bool limited) {
  const size_t m = pattern.size();
  size_t out = 0;
  size_t i = 0;
  size_t length = n;
  while (i < n) {
    bool match = i + m <= n;
    for (size_t k = 0; match && k < m; ++k)
      match = s[i + k] == static_cast<unsigned char>(pattern[k]);
    if (match && (!limited || length - (m - 1) <= kReplaceLimit)) {
      s[out++] = to;
      i += m;
      length -= m - 1;
    } else if (match) {
      for (size_t k = 0; k < m; ++k) s[out++] = s[i++];
    } else {
      s[out++] = s[i++];
    }
  }
  return out;
}

bool isDigit(uint16_t c) { return c >= '0' && c <= '9'; }

}  // namespace

size_t EscapeText(char* text, size_t length, size_t capacity, bool textMacros) {
  uint16_t local[1024];
  std::unique_ptr<uint16_t[]> heap;
  uint16_t* s = local;
  if (length > sizeof(local) / sizeof(local[0])) {
    heap = std::make_unique<uint16_t[]>(length);
    s = heap.get();
  }
  for (size_t i = 0; i < length; ++i) s[i] = static_cast<unsigned char>(text[i]);
  size_t n = length;

  if (textMacros) {
    n = replaceAll(s, n, "CR", 13, true);
    n = replaceAll(s, n, "LF", 10, true);
    n = replaceAll(s, n, "FF", 12, true);
    n = replaceAll(s, n, "ESC", 27, true);
    n = replaceAll(s, n, "ETX", 3, true);
    n = replaceAll(s, n, "STX", 2, true);
  }
  n = replaceAll(s, n, "\\\\", kKeptBackslash, true);
  n = replaceAll(s, n, "\\a", 7, true);
  n = replaceAll(s, n, "\\b", 8, true);
  n = replaceAll(s, n, "\\f", 12, true);
  n = replaceAll(s, n, "\\n", 10, true);
  n = replaceAll(s, n, "\\r", 13, true);
  n = replaceAll(s, n, "\\t", 9, true);
  n = replaceAll(s, n, "\\v", 11, true);
  n = replaceAll(s, n, "\\\"", '"', true);
  for (size_t i = 0; i < n; ++i)
    if (s[i] == kKeptBackslash) s[i] = '\\';

  size_t out = 0;
  for (size_t i = 0; i < n;) {
    if (s[i] == '\\' && i + 3 < n && s[i + 1] == 'x' && isDigit(s[i + 2]) && isDigit(s[i + 3])) {
      s[out++] = static_cast<uint16_t>((s[i + 2] - '0') * 10 + (s[i + 3] - '0'));
      i += 4;
    } else {
      s[out++] = s[i++];
    }
  }
  n = out;

  for (size_t i = 0; i < n; ++i) text[i] = static_cast<char>(s[i]);
  if (n < capacity) text[n] = '\0';
  return n;
}

std::string EscapeText(std::string_view text, bool textMacros) {
  std::string s(text);
  s.resize(EscapeText(s.data(), s.size(), s.size(), textMacros));
  return s;
}

}  // namespace morvel::lang
