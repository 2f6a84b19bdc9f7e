// String rows and conversions, run statement by statement.
#include "builtins/strings.h"

#include <clocale>
#include <cstring>
#include <string>

#include "builtin_test_util.h"
#include "builtins/operands.h"
#include "lang/builtin_table.h"

namespace morvel::builtins::testing {
namespace {

using StringsTest = BuiltinTest;

TEST_F(StringsTest, TolowerChangesOnlyAsciiLetters) {
  ASSERT_EQ(run("s1 = \"\xC4"
                "BC xYZ 09 \xD6\"\ntolower(s1)"),
            0);
  EXPECT_EQ(s(1),
            "\xC4"
            "bc xyz 09 \xD6");
  EXPECT_EQ(run("tolower(\"ABC\")"), kErrOperandKind);
  EXPECT_EQ(run("tolower()"), kErrOperandKind);
}

TEST_F(StringsTest, TrimWithACharacterSet) {
  ASSERT_EQ(run("s1 = \"xxabcx\"\ns2 = s1\ntrimleft(s1, \"x\")\ntrimright(s2, \"x\")\n"
                "s3 = \" \\t-a- \"\ntrimleft(s3, \"- \\t- \")\ns4 = \"abc\"\ntrimright(s4, \"\")\n"
                "s5 = \"aaa\"\ntrimleft(s5, \"a\")\ns6 = \"\xE9\xE9z\"\ntrimleft(s6, \"\xE9\")"),
            0);
  EXPECT_EQ(s(1), "abcx");
  EXPECT_EQ(s(2), "xxabc");
  EXPECT_EQ(s(3), "a- ");
  EXPECT_EQ(s(4), "abc") << "empty set removes nothing";
  EXPECT_EQ(s(5), "");
  EXPECT_EQ(s(6), "z") << "bytes above 127";
  for (const char* text :
       {"trimleft(\"abc\", \"a\")", "trimleft(s1)", "trimleft(s1, v1)", "trimright(a1, s1)",
        "replace(s1, s2)", "replace(\"a\", s2, s3)", "replace(s1, s2, i1)", "s1 = tolower(s2)",
        "s1 = trimleft(s2, s3)", "s1 = trimright(s1, s3)", "s1 = replace(s1, s2, s3)"})
    EXPECT_EQ(compileError(text), 3) << text;
}

TEST_F(StringsTest, ReplaceLeftToRightWithoutOverlaps) {
  ASSERT_EQ(run("s1 = \"aaa\"\nreplace(s1, \"aa\", \"b\")\ns2 = \"gestern und gestern\"\n"
                "replace(s2, \"gestern\", \"heute\")\ns3 = \"abc\"\nreplace(s3, \"\", \"x\")\n"
                "s4 = \"aXa\"\nreplace(s4, \"a\", \"aa\")\ns5 = \"abab\"\nreplace(s5, s5, \"z\")\n"
                "s6 = \"xy\"\nreplace(s6, \"y\", s6)\ns7 = \"abc\"\nreplace(s7, \"b\", \"\")"),
            0);
  EXPECT_EQ(s(1), "ba");
  EXPECT_EQ(s(2), "heute und heute");
  EXPECT_EQ(s(3), "abc") << "empty search text";
  EXPECT_EQ(s(4), "aaXaa") << "replacement not scanned again";
  EXPECT_EQ(s(5), "z") << "search text is the target";
  EXPECT_EQ(s(6), "xxy") << "replacement is the target";
  EXPECT_EQ(s(7), "ac");
}

TEST_F(StringsTest, ReplaceCutsTheResultAt1023Characters) {
  beforeRun_ = [&] {
    std::memset(values_->stringSlot(1), 'a', 1000);
    values_->stringSlot(1)[1000] = '\0';
  };
  ASSERT_EQ(run("replace(s1, \"a\", \"bc\")"), 0);
  const std::string r = s(1);
  EXPECT_EQ(r.size(), 1023u);
  EXPECT_EQ(r.substr(0, 4), "bcbc");
  EXPECT_EQ(r.back(), 'b');
  char out[8];
  EXPECT_EQ(replaceAll("aaaa", "a", "xyz", out, sizeof out), 7u);
  EXPECT_STREQ(out, "xyzxyzx");
}

TEST_F(StringsTest, Atoi) {
  ASSERT_EQ(run("s1 = \"12abc\"\ni1 = atoi(s1)\ns2 = \"ab34\"\ni2 = atoi(2, s2)\ni3 = atoi(4, s2)\n"
                "i4 = atoi(-1, s2)\ni5 = atoi(\"  -42\")\nv1 = atoi(\"x\")\ni6 = atoi(\"99999999999\")\n"
                "i7 = 1\ni8 = atoi(i7, \"-77\")\ni9 = atoi(100, s2)"),
            0);
  EXPECT_EQ(i(1), 12);
  EXPECT_EQ(i(2), 34);
  EXPECT_EQ(i(3), 0) << "start at the end of the text";
  EXPECT_EQ(i(4), 0) << "start before the text";
  EXPECT_EQ(i(5), -42);
  EXPECT_EQ(v(1), 0.0);
  EXPECT_EQ(i(6), INT32_MAX);
  EXPECT_EQ(i(8), 77);
  EXPECT_EQ(i(9), 0);
  EXPECT_EQ(run("s1 = atoi(\"1\")"), kErrOperandKind);
  EXPECT_EQ(run("i1 = atoi(1)"), kErrOperandKind);
  EXPECT_EQ(run("i1 = atoi()"), kErrOperandKind);
}

TEST_F(StringsTest, HtoiIntoIntegerOrFloat) {
  ASSERT_EQ(run("i1 = htoi(\"1F\")\ni2 = htoi(\"0x1f\")\ni3 = htoi(\"G\")\nv1 = htoi(\"ff\")\n"
                "i4 = htoi(\" -0X10zz\")\ni5 = htoi(\"0x\")\ni6 = htoi(\"FFFFFFFFF\")"),
            0);
  EXPECT_EQ(i(1), 31);
  EXPECT_EQ(i(2), 31);
  EXPECT_EQ(i(3), 0);
  EXPECT_EQ(v(1), 255.0);
  EXPECT_EQ(i(4), -16);
  EXPECT_EQ(i(5), 0);
  EXPECT_EQ(i(6), INT32_MAX);
  EXPECT_EQ(hexToInt("-80000000"), INT32_MIN);
  EXPECT_EQ(run("s1 = htoi(\"1\")"), kErrOperandKind);
}

TEST_F(StringsTest, AtofSetsOnlyTheFirstSampleWhateverTheLocale) {
  const std::string saved = std::setlocale(LC_ALL, nullptr);
  const bool german = std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr;
  beforeRun_ = [&] {
    setSamples(1, {7, 8, 9});
    array(1).xDistance = 0.5f;
  };
  const int result =
      run("v1 = atof(\"1,5\")\nv2 = atof(\"  2.25e2x\")\na1 = atof(\"-0.5\")\ni1 = atof(\"3.9\")\n"
          "v3 = atof(\"abc\")");
  std::setlocale(LC_ALL, saved.c_str());
  ASSERT_EQ(result, 0);
  EXPECT_EQ(v(1), 1.0);
  EXPECT_EQ(v(2), 225.0);
  EXPECT_EQ(samples(1), (std::vector<double>{-0.5, 8, 9}));
  EXPECT_EQ(array(1).xDistance, 0.5f);
  EXPECT_EQ(i(1), 3);
  EXPECT_EQ(v(3), 0.0);
  if (!german) GTEST_SKIP() << "locale de_DE.UTF-8 not installed; ran in the C locale";
}

TEST(StringRows, AreImplemented) {
  for (const char* name : {"tolower", "trimleft", "trimright", "replace", "atoi", "atof", "htoi"}) {
    const lang::BuiltinEntry* e = lang::findBuiltin(name);
    ASSERT_NE(e, nullptr) << name;
    EXPECT_TRUE(lang::builtinImplemented(*e)) << name;
  }
}

}  // namespace
}  // namespace morvel::builtins::testing
