#pragma once
// Conversion between the 8-bit Windows code pages that scripts, documents and
// data-file headers are written in and UTF-8 (used only at the widget and
// terminal boundary; the core keeps bytes).
#include <string>
#include <string_view>

namespace platform {

enum class CodePage { Cp1252, Cp1251 };

// Every byte maps to one Unicode code point. Bytes that the code page leaves
// undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D in 1252; 0x98 in 1251) map to the C1
// control with the same number, so that a round trip keeps every byte.
char32_t codePointOf(unsigned char byte, CodePage cp = CodePage::Cp1252);

// Byte for a code point, or -1 when the code page has none.
int byteOf(char32_t cp, CodePage page = CodePage::Cp1252);

std::string toUtf8(std::string_view bytes, CodePage cp = CodePage::Cp1252);

// Characters the code page cannot hold become `replacement`; malformed UTF-8
// sequences count as one unrepresentable character each.
std::string fromUtf8(std::string_view utf8, CodePage cp = CodePage::Cp1252, char replacement = '?');

}  // namespace platform
