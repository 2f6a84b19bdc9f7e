// Every compile error number: program text -> error number, process, line.
#include <set>
#include <string>
#include <vector>

#include "compiler_test_util.h"

namespace morvel::lang::testing {
namespace {

std::string repeat(const std::string& line, int n) {
  std::string s;
  for (int i = 0; i < n; ++i) s += line + "\n";
  return s;
}

std::string numbered(const std::string& prefix, const std::string& suffix, int n) {
  std::string s;
  for (int i = 0; i < n; ++i) s += prefix + std::to_string(i) + suffix + "\n";
  return s;
}

struct ErrorCase {
  const char* name;
  std::string body;  // after the header line "*Start" (line 0)
  int number;
  int line;
};

class CompileErrorTable : public CompilerTest, public ::testing::WithParamInterface<ErrorCase> {};

TEST_P(CompileErrorTable, ReportsNumberProcessAndLine) {
  const ErrorCase& c = GetParam();
  CompileResult r = compileBody(c.body);
  ASSERT_FALSE(r.ok()) << c.name;
  EXPECT_EQ(r.error.number, c.number) << c.name << " (column " << r.error.column << ")";
  EXPECT_EQ(r.error.process, 0) << c.name;
  EXPECT_EQ(r.error.line, c.line) << c.name;
}

std::string hundredArguments() {
  std::string s = "exit(";
  for (int i = 0; i < 100; ++i) s += "v1,";
  return s + ")";
}
const std::string kHundredArguments = hundredArguments();  // 100 operands

const std::string kLongLiteral = "s1 = \"" + std::string(999, 'x') + "\"";  // 1000 bytes in the pool

INSTANTIATE_TEST_SUITE_P(
    AllNumbers, CompileErrorTable,
    ::testing::Values(
        ErrorCase{"missing close paren", "v1 = 2\nv1 = abs(v2", 2, 2},
        ErrorCase{"missing close paren after blank", "abs(v1 ", 2, 1},
        ErrorCase{"format is a for statement", "format(a1)", 3, 1},
        ErrorCase{"point without digit", "v1 = .5", 3, 1},
        ErrorCase{"p operand", "v1 = p3", 3, 1},
        ErrorCase{"p operand in call", "abs(p3)", 3, 1},
        ErrorCase{"sign without number in arguments", "abs(- 3)", 3, 1},
        ErrorCase{"sign alone in arguments", "stop(-)", 3, 1},
        ErrorCase{"operand cannot begin", "v1 = abs(%)", 3, 1},
        ErrorCase{"mvexit without argument", "mvexit()", 3, 1},
        ErrorCase{"winexit with a string", "winexit(s1)", 3, 1},
        ErrorCase{"string equals number", ":x\nif s1 == 1 goto :x", 3, 2},
        ErrorCase{"number differs from string", ":x\nif v1 != \"a\" goto :x", 3, 2},
        ErrorCase{"string greater", "if s1 > \"abc\"\nendif", 3, 1},
        ErrorCase{"array compared", "if a1 == a2\nendif", 3, 1},
        ErrorCase{"ifwait with target", "i1 = ifwait(1,2,3)", 3, 1},
        ErrorCase{"ifsignal with target", "i1 = ifsignal(1,2,3)", 3, 1},
        ErrorCase{"ifnotsignal with target", "i1 = ifnotsignal(1,2,3)", 3, 1},
        ErrorCase{"for over a string", "for s1 = 1 to 5\nnext", 3, 1},
        ErrorCase{"for over an array", "for a1 = 1 to 5\nnext", 3, 1},
        ErrorCase{"array and", "a1 = a2 and a3", 3, 1},
        ErrorCase{"float xor", "v1 = v2 xor v3", 3, 1},
        ErrorCase{"string or", "s1 = s2 or s3", 3, 1},
        ErrorCase{"string from array", "s1 = a1", 3, 1},
        ErrorCase{"float from string", "v1 = s1", 3, 1},
        ErrorCase{"float arithmetic with string", "v1 = v2 + s1", 3, 1},
        ErrorCase{"integer bit op with array", "i1 = a1 and i2", 3, 1},
        ErrorCase{"array arithmetic with string", "a1 = a2 * s1", 3, 1},
        ErrorCase{"file array from integer", "f1 = i1", 3, 1},
        ErrorCase{"window from file number", "w1 = #1", 3, 1},
        ErrorCase{"onkey text not a string", "onkey F2,3,4", 3, 1},
        ErrorCase{"quote at end of line", "v1 = '", 3, 1},
        ErrorCase{"if goto without colon", "if v1 > 0 goto loop\n:loop", 4, 1},
        ErrorCase{"goto unknown", "goto :nowhere", 4, 1},
        ErrorCase{"call unknown", "call :sub", 4, 1},
        ErrorCase{"label case-sensitive", ":Loop\ngoto :loop", 4, 2},
        ErrorCase{"label after END", "goto :after\nEND\n:after", 4, 1},
        ErrorCase{"for without next", "v1 = 1\nfor i1 = 1 to 5\nv2 = 1", 7, 2},
        ErrorCase{"for without equals", "for i1 1 to 5\nnext", 8, 1},
        ErrorCase{"for with t", "for i1 = 1 t 5\nnext", 9, 1},
        ErrorCase{"blank before paren", "abs (v1)", 9, 1},
        ErrorCase{"unknown function", "v1 = nosuch(v2)", 9, 1},
        ErrorCase{"name of 40 characters", std::string(40, 'a') + "(v1)", 9, 1},
        ErrorCase{"neither target nor call", "hello", 9, 1},
        ErrorCase{"blank inside target", "v 1 = 2", 9, 1},
        ErrorCase{"no equals after target", "v1 + 2", 10, 1},
        ErrorCase{"single equals in if", "if v1 = 2\nendif", 12, 1},
        ErrorCase{"word after comparison", ":a\nif v1 > 2 jump :a", 13, 2},
        ErrorCase{"onkey without F", "onkey 2,\"x\",1", 14, 1},
        ErrorCase{"onkey F without digit", "onkey Fx,\"x\",1", 14, 1},
        ErrorCase{"unterminated literal", "s1 = \"abc", 15, 1},
        ErrorCase{"escaped quote does not end", "s1 = \"abc\\\"", 15, 1},
        ErrorCase{"bracket without i", "v1 = a[v3]", 16, 1},
        ErrorCase{"bracket without integer", "v1 = a[ix]", 16, 1},
        ErrorCase{"bracket not closed", "v1 = a[i3", 17, 1},
        ErrorCase{"string names exhausted", numbered("s_n", " = s1", 101), 19, 101},
        ErrorCase{"float name table full", numbered("v_n", " = v1", 2000), 19, 2000},
        ErrorCase{"window names exhausted", numbered("w_n", " = a1", 101), 19, 101},
        ErrorCase{"next without for", "next", 20, 1},
        ErrorCase{"else without if", "v1 = 1\nelse", 21, 2},
        ErrorCase{"endif without if", "endif", 22, 1},
        ErrorCase{"ten nested if", repeat("if v1 > 0", 10) + repeat("endif", 10), 23, 10},
        ErrorCase{"ten nested for", numbered("for i", " = 1 to 2", 10) + repeat("next", 10), 24, 10},
        ErrorCase{"float slot outside pool", "v4000 = 1", 25, 1},
        ErrorCase{"integer slot outside pool", "i1200 = 1", 25, 1},
        ErrorCase{"string slot outside pool", "s200 = s1", 25, 1},
        ErrorCase{"array slot outside pool", "v1 = a500", 25, 1},
        ErrorCase{"file array slot outside pool", "f100 = a1", 25, 1},
        ErrorCase{"file number outside pool", "close(#100)", 25, 1},
        ErrorCase{"window slot outside pool", "w200 = a1", 25, 1},
        ErrorCase{"indirect integer outside pool", "v1 = a[i1200]", 25, 1},
        ErrorCase{"huge slot number", "v1 = a99999999999999999999", 25, 1},
        ErrorCase{"file array name", "f_x = a1", 25, 1},
        ErrorCase{"file number name", "close(#_x)", 25, 1},
        ErrorCase{"ifwait is an if statement", "ifwait(1)", 25, 1},
        ErrorCase{"letter without digits", "v1 = vx", 25, 1},
        ErrorCase{"empty name", "v_ = 1", 25, 1},
        ErrorCase{"if without endif", "if v1 > 0\nv1 = 1", 26, 1},
        ErrorCase{"literal pool full", repeat(kLongLiteral, 61), 27, 61},
        ErrorCase{"label twice", ":a\n:a\ngoto :a", 29, 3},
        ErrorCase{"append with call", "i1 &= abs(v1)", 30, 1},
        ErrorCase{"percent append with call", "a1 %= abs(a2)", 30, 1},
        ErrorCase{"closing quote after char literal", "v1 = 'A'", 31, 1},
        ErrorCase{"two operands", "v1 = v2 v3", 31, 1},
        ErrorCase{"text after call", "v1 = abs(v2) x", 31, 1},
        ErrorCase{"point after name in source", "w1 = a_x.4", 31, 1},
        ErrorCase{"operand pool full", repeat(kHundredArguments, 201), 33, 201},
        ErrorCase{"goto without colon", "goto loop", 34, 1},
        ErrorCase{"too many statements", repeat("return", 10001), 36, 10001},
        ErrorCase{"name of 33 characters", "v_" + std::string(33, 'n') + " = 1", 37, 1},
        ErrorCase{"indirect name of 33 characters", "v1 = a[i_" + std::string(33, 'n') + "]", 37, 1}),
    [](const ::testing::TestParamInfo<ErrorCase>& info) {
      std::string s = info.param.name;
      for (char& c : s)
        if (!isalnum(static_cast<unsigned char>(c))) c = '_';
      return s;
    });

TEST_F(CompilerTest, ErrorCarriesProcessOfTheFaultyText) {
  CompileResult r = compileProcesses({"*Start\nv1 = 1\n", "*Prozess1\nv1 = 2\n", "*Prozess2\n\n; note\nv1 = abs (v2)\n",
                                      "*End\n"});
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error.number, 9);
  EXPECT_EQ(r.error.process, 2);
  EXPECT_EQ(r.error.line, 3);
}

TEST_F(CompilerTest, ColumnIsTheReadPosition) {
  CompileResult r = compileBody("  v1 = v2 v3");
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error.number, 31);
  EXPECT_EQ(r.error.column, 10);  // at "v3"
}

TEST_F(CompilerTest, MoreThan2000LabelsFailTheCompilation) {
  std::string body = numbered(":l", "", 2000);
  ASSERT_TRUE(compileBody(body + "goto :l1999").ok());
  CompileResult r = compileBody(body + ":l2000\n");
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error.number, 0);
  EXPECT_EQ(r.error.message, "Mehr als 2000 Labels ...");
  EXPECT_EQ(r.error.line, 2001);
}

TEST_F(CompilerTest, MoreThan50ProcessesAreRefused) {
  std::vector<std::string> processes(51, "*Prozess\n");
  CompileResult r = compileProcesses(processes);
  ASSERT_FALSE(r.ok());
  EXPECT_FALSE(r.error.message.empty());
  processes.pop_back();
  EXPECT_TRUE(compileProcesses(processes).ok());
}

TEST_F(CompilerTest, LimitsAreInclusive) {
  // exactly 10000 statements, exactly 20000 operands, 100 string names
  EXPECT_TRUE(compileBody(repeat("return", 10000)).ok());
  EXPECT_TRUE(compileBody(repeat(kHundredArguments, 200)).ok());
  EXPECT_TRUE(compileBody(numbered("s_n", " = s1", 100)).ok());
  EXPECT_TRUE(compileBody(repeat(kLongLiteral, 60)).ok());  // 60000 bytes
  EXPECT_TRUE(compileBody(repeat("if v1 > 0", 9) + repeat("endif", 9)).ok());
  EXPECT_TRUE(compileBody(numbered("for i", " = 1 to 2", 9) + repeat("next", 9)).ok());
  EXPECT_TRUE(compileBody("v3999 = 1\ni1199 = 1\ns199 = s1\nv1 = a499\nf99 = a1\nclose(#99)\nw199 = a1").ok());
  EXPECT_TRUE(compileBody("v_" + std::string(32, 'n') + " = 1").ok());
}

TEST_F(CompilerTest, StatementLimitCountsTheWholeApplication) {
  CompileResult r = compileProcesses({"*Start\n" + repeat("return", 6000), "*End\n" + repeat("return", 4001)});
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error.number, 36);
  EXPECT_EQ(r.error.process, 1);
  EXPECT_EQ(r.error.line, 4001);
}

TEST_F(CompilerTest, FloatSlotsRunOutForLiterals) {
  // 3900 slots v3999..v100 for names and literals together.
  CompileResult r = compileBody(repeat("v1 = 1", 3901));
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error.number, 19);
  EXPECT_EQ(r.error.line, 3901);
  EXPECT_TRUE(compileBody(repeat("v1 = 1", 3900)).ok());
}

TEST_F(CompilerTest, ForFallsBackWhenTheImplicitStepHasNoSlot) {
  CompileResult r = compileBody(repeat("v1 = 1", 3900) + "for i1 = v1 to v2\nnext");
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error.number, 9);
  EXPECT_EQ(r.error.line, 3901);
  EXPECT_TRUE(compileBody(repeat("v1 = 1", 3899) + "for i1 = v1 to v2\nnext").ok());
}

}  // namespace
}  // namespace morvel::lang::testing

namespace morvel::lang::testing {
namespace {

// Lines built from fragments of the language in random order: every one must
// either compile or stop with a known error number, never crash.
TEST_F(CompilerTest, RandomFragmentsGiveKnownErrorsOnly) {
  const char* fragments[] = {"v1", "i_x", "s[i3]", "a[i_k", "w3.2", "f2", "#4", "=", "&=", "%=", "(", ")", ",", " ",
                             "\"", "\\x6", "\\", "'", "*", "-", "+", "3.5", ".", "and", "or", "xor", "==", "<",
                             "if ", "for ", " to ", " step ", "next", "goto ", ":l", "call ", "else", "endif",
                             "onkey F", "onmouse ", "abs", "copy", "mvexit", ";", "\t", "p3", "[", "]", "_",
                             "\xFF", "v_" };
  const std::set<int> known = {2, 3, 4, 7, 8, 9, 10, 12, 13, 14, 15, 16, 17, 19, 20,
                               21, 22, 23, 24, 25, 26, 27, 29, 30, 31, 33, 34, 36, 37};
  uint32_t seed = 12345;
  auto next = [&seed]() {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 16) & 0x7FFF;
  };
  int compiled = 0;
  for (int round = 0; round < 2000; ++round) {
    std::string line;
    const int parts = 1 + static_cast<int>(next() % 8);
    for (int k = 0; k < parts; ++k) line += fragments[next() % (sizeof fragments / sizeof fragments[0])];
    CompileResult r = compileBody(":l\n" + line);
    if (r.ok()) {
      ++compiled;
      continue;
    }
    EXPECT_TRUE(known.count(r.error.number)) << "'" << line << "' gave " << r.error.number;
    EXPECT_GE(r.error.column, 0);
    EXPECT_LE(r.error.column, static_cast<int>(line.size()) + 1);
  }
  EXPECT_GT(compiled, 0);
}

}  // namespace
}  // namespace morvel::lang::testing
