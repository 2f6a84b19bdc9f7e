#include <gtest/gtest.h>
#include <locale.h>

#include "platform/cnumber.h"
#include "platform/codepage.h"

using namespace platform;

TEST(Codepage, Cp1252RoundTripsEveryByte) {
  std::string all;
  for (int b = 1; b < 256; ++b) all.push_back(static_cast<char>(b));
  for (auto cp : {CodePage::Cp1252, CodePage::Cp1251}) {
    std::string utf8 = toUtf8(all, cp);
    EXPECT_EQ(fromUtf8(utf8, cp), all);
  }
}

TEST(Codepage, KnownCharacters) {
  struct Case {
    const char* bytes;
    const char* utf8;
    CodePage cp;
  } cases[] = {
      {"R52CANWortl\xE4nge:", "R52CANWortl\xC3\xA4nge:", CodePage::Cp1252},
      {"\x80", "\xE2\x82\xAC", CodePage::Cp1252},            // euro sign
      {"\xDF", "\xC3\x9F", CodePage::Cp1252},                // sharp s
      {"\x9F", "\xC5\xB8", CodePage::Cp1252},                // Y with diaeresis
      {"\xC0\xFF", "\xD0\x90\xD1\x8F", CodePage::Cp1251},    // Cyrillic A, ya
      {"\xA8", "\xD0\x81", CodePage::Cp1251},                // Cyrillic IO
  };
  for (const auto& c : cases) {
    EXPECT_EQ(toUtf8(c.bytes, c.cp), c.utf8) << c.bytes;
    EXPECT_EQ(fromUtf8(c.utf8, c.cp), c.bytes) << c.bytes;
  }
}

TEST(Codepage, UnrepresentableAndMalformedBecomeReplacement) {
  EXPECT_EQ(fromUtf8("a\xE4\xB8\xAD" "b"), "a?b");     // CJK character
  EXPECT_EQ(fromUtf8("a\xC3"), "a?");                  // truncated sequence
  EXPECT_EQ(fromUtf8("\xC0\x80x"), "??x");             // overlong NUL
  EXPECT_EQ(fromUtf8("\xED\xA0\x80", CodePage::Cp1252, '#'), "###");  // surrogate
}

TEST(CNumber, AtoiTable) {
  struct Case {
    const char* text;
    int32_t value;
  } cases[] = {
      {"12abc", 12},        {"  -7", -7},        {"+5", 5},     {"abc", 0},
      {"", 0},              {"- 3", 0},          {"\t42 ", 42}, {"2147483647", 2147483647},
      {"2147483648", INT32_MAX}, {"-2147483648", INT32_MIN}, {"-99999999999999999999", INT32_MIN},
      {"99999999999999999999", INT32_MAX},
  };
  for (const auto& c : cases) EXPECT_EQ(atoiC(c.text), c.value) << c.text;
  const char* end = nullptr;
  EXPECT_EQ(strtolC("  -12,5", &end), -12);
  EXPECT_STREQ(end, ",5");
  EXPECT_EQ(strtolC("x", &end), 0);
  EXPECT_STREQ(end, "x");
}

// Formatting and parsing must ignore a German process locale.
TEST(CNumber, IndependentOfProcessLocale) {
  const char* german = nullptr;
  for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "de_DE"})
    if (setlocale(LC_ALL, name)) {
      german = name;
      break;
    }
  EXPECT_EQ(formatG(1.5), "1.5");
  EXPECT_EQ(formatG(1e37), "1e+37");
  EXPECT_EQ(formatC("%.3f|%d", 2.25, 7), "2.250|7");
  char buf[8];
  EXPECT_EQ(formatC(buf, sizeof buf, "%f", 123456.5), 13);
  EXPECT_STREQ(buf, "123456.");  // cut to the buffer, still terminated
  const char* end = nullptr;
  EXPECT_DOUBLE_EQ(strtodC("3.25e2x", &end), 325.0);
  EXPECT_STREQ(end, "x");
  EXPECT_DOUBLE_EQ(atofC("1,5"), 1.0);
  EXPECT_DOUBLE_EQ(atofC("-.5"), -0.5);
  setlocale(LC_ALL, "C");
  if (!german) GTEST_SKIP() << "no German locale installed; checked under C only";
}

TEST(CNumber, LongFormattedText) {
  std::string s = formatC("%0300d", 1);
  EXPECT_EQ(s.size(), 300u);
  EXPECT_EQ(s.back(), '1');
}
