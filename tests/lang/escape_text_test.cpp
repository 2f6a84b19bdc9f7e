// Text macros and backslash escapes of string literals.
#include <gtest/gtest.h>

#include <string>

#include "lang/escape_text.h"

namespace morvel::lang {
namespace {

struct EscapeCase {
  std::string in;
  bool macros;
  std::string out;
};

class EscapeTable : public ::testing::TestWithParam<EscapeCase> {};

TEST_P(EscapeTable, Rewrites) {
  const EscapeCase& c = GetParam();
  EXPECT_EQ(EscapeText(c.in, c.macros), c.out) << c.in;
}

const std::string k255(255, 'x');

INSTANTIATE_TEST_SUITE_P(
    Cases, EscapeTable,
    ::testing::Values(
        EscapeCase{"\\x65\\x66", false, "AB"}, EscapeCase{"\\x99", false, "c"},
        EscapeCase{"\\x00z", false, std::string("\0z", 2)},
        EscapeCase{"CRASH", true, "\rASH"}, EscapeCase{"CRASH", false, "CRASH"},
        EscapeCase{"CR LF FF ESC ETX STX", true, "\r \n \f \x1B \x03 \x02"},
        EscapeCase{"cr", true, "cr"},
        EscapeCase{"a\\nb", false, "a\nb"},
        EscapeCase{"\\a\\b\\f\\n\\r\\t\\v", false, "\a\b\f\n\r\t\v"},
        EscapeCase{"say \\\"hi\\\"", false, "say \"hi\""},
        EscapeCase{"\\\\n", false, "\\n"},          // the kept backslash does not start an escape
        EscapeCase{"c:\\\\data", false, "c:\\data"},
        EscapeCase{"\\q", false, "\\q"},
        // a byte 255 in the text is kept
        EscapeCase{"\xFF\\\\\xFF", false, "\xFF\\\xFF"},
        EscapeCase{"\xFF", true, "\xFF"},
        // \x without two digits stays, at the end too
        EscapeCase{"\\x", false, "\\x"}, EscapeCase{"abc\\x6", false, "abc\\x6"},
        EscapeCase{"\\x6A", false, "\\x6A"}, EscapeCase{"\\", false, "\\"},
        // 256-character rule for macros and escapes, not for \x
        EscapeCase{k255 + "\\n", false, k255 + "\n"},
        EscapeCase{k255 + "x\\n", false, k255 + "x\\n"},
        EscapeCase{k255 + "xCR", true, k255 + "xCR"},
        EscapeCase{k255 + "CR", true, k255 + "\r"},
        EscapeCase{k255 + "xy\\x65", false, k255 + "xyA"}));

TEST(EscapeText, InPlaceWithTerminator) {
  char buf[16] = "a\\tb\\x65zzzz";
  size_t n = EscapeText(buf, 8, sizeof buf, false);
  EXPECT_EQ(n, 4u);
  EXPECT_STREQ(buf, "a\tbA");
}

TEST(EscapeText, LongTextsDoNotOverrun) {
  std::string big(5000, 'C');
  big += "\\x65";
  std::string out = EscapeText(big, true);
  EXPECT_EQ(out.size(), 5001u);
  EXPECT_EQ(out.back(), 'A');
}

}  // namespace
}  // namespace morvel::lang
