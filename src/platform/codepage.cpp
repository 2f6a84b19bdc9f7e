#include "platform/codepage.h"

#include <array>

namespace platform {
namespace {

// 0x80..0x9F of Windows-1252; 0 marks a byte the code page leaves undefined.
constexpr char16_t k1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

// 0x80..0xBF of Windows-1251; 0xC0..0xFF are U+0410..U+044F.
constexpr char16_t k1251High[64] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409,
    0x2039, 0x040A, 0x040C, 0x040B, 0x040F, 0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0,      0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, 0x00A0,
    0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7, 0x0401, 0x00A9, 0x0404, 0x00AB,
    0x00AC, 0x00AD, 0x00AE, 0x0407, 0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6,
    0x00B7, 0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457};

void appendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

// Decodes one UTF-8 sequence at s[i]; advances i. Returns U+FFFFFFFF for a
// malformed sequence (one byte consumed).
char32_t nextUtf8(std::string_view s, size_t& i) {
  constexpr char32_t bad = 0xFFFFFFFF;
  auto b0 = static_cast<unsigned char>(s[i]);
  if (b0 < 0x80) {
    ++i;
    return b0;
  }
  int extra;
  char32_t c;
  if ((b0 & 0xE0) == 0xC0) {
    extra = 1;
    c = b0 & 0x1F;
  } else if ((b0 & 0xF0) == 0xE0) {
    extra = 2;
    c = b0 & 0x0F;
  } else if ((b0 & 0xF8) == 0xF0) {
    extra = 3;
    c = b0 & 0x07;
  } else {
    ++i;
    return bad;
  }
  if (i + static_cast<size_t>(extra) >= s.size()) {
    ++i;
    return bad;
  }
  for (int k = 1; k <= extra; ++k) {
    auto b = static_cast<unsigned char>(s[i + k]);
    if ((b & 0xC0) != 0x80) {
      ++i;
      return bad;
    }
    c = (c << 6) | (b & 0x3F);
  }
  static constexpr char32_t minimum[4] = {0, 0x80, 0x800, 0x10000};
  if (c < minimum[extra] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
    ++i;
    return bad;
  }
  i += static_cast<size_t>(extra) + 1;
  return c;
}

}  // namespace

char32_t codePointOf(unsigned char b, CodePage cp) {
  if (b < 0x80) return b;
  if (cp == CodePage::Cp1252) {
    if (b >= 0xA0) return b;
    char16_t c = k1252High[b - 0x80];
    return c ? c : b;
  }
  if (b >= 0xC0) return 0x0410 + (b - 0xC0);
  char16_t c = k1251High[b - 0x80];
  return c ? c : b;
}

int byteOf(char32_t c, CodePage cp) {
  if (c < 0x80) return static_cast<int>(c);
  // The tables are small; a linear search over 256 entries is fine for the
  // widget boundary, which is the only caller.
  for (int b = 0x80; b < 0x100; ++b)
    if (codePointOf(static_cast<unsigned char>(b), cp) == c) return b;
  return -1;
}

std::string toUtf8(std::string_view bytes, CodePage cp) {
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 4);
  for (char ch : bytes) appendUtf8(out, codePointOf(static_cast<unsigned char>(ch), cp));
  return out;
}

std::string fromUtf8(std::string_view utf8, CodePage cp, char replacement) {
  std::string out;
  out.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size();) {
    char32_t c = nextUtf8(utf8, i);
    int b = c == 0xFFFFFFFF ? -1 : byteOf(c, cp);
    out.push_back(b < 0 ? replacement : static_cast<char>(b));
  }
  return out;
}

}  // namespace platform
