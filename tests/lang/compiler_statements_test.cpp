// What the compiler produces: routines, operands, slots, control words.
#include <cstring>
#include <string>

#include "compiler_test_util.h"
#include "lang/builtin_table.h"
#include "lang/statements.h"

namespace morvel::lang::testing {
namespace {

const Instruction& first(const CompiledProgram& p) { return p.instruction(0, 0); }

struct RoutineCase {
  const char* text;
  RunRoutine routine;
  int count;
};

class RoutineChoice : public CompilerTest, public ::testing::WithParamInterface<RoutineCase> {};

TEST_P(RoutineChoice, PicksRoutineAndOperandCount) {
  const RoutineCase& c = GetParam();
  auto p = compileOk(c.text);
  ASSERT_TRUE(p);
  ASSERT_EQ(p->process(0).statements, 1) << c.text;
  EXPECT_EQ(first(*p).routine, c.routine) << c.text;
  EXPECT_EQ(first(*p).count, c.count) << c.text;
}

INSTANTIATE_TEST_SUITE_P(
    Statements, RoutineChoice,
    ::testing::Values(RoutineCase{"v1 = v2", assignFloat, 2}, RoutineCase{"v1 = i2", assignFloat, 2},
                      RoutineCase{"v1 = a2", assignFloat, 2}, RoutineCase{"v1 = v2 + v3", floatArithmetic, 4},
                      RoutineCase{"v2 = -v1", floatArithmetic, 4}, RoutineCase{"i1 = s1", assignInteger, 2},
                      RoutineCase{"i1 = i2 / 2", integerArithmetic, 4}, RoutineCase{"i1 = i2 and i3", integerBitAnd, 3},
                      RoutineCase{"i1 = i2 OR i3", integerBitOr, 3}, RoutineCase{"i1 = i2 Xor 3", integerBitXor, 3},
                      RoutineCase{"a1 = a2", assignArray, 2}, RoutineCase{"a1 = f3", assignArray, 2},
                      RoutineCase{"a1 = a2 + 3", arrayScalarArithmetic, 4},
                      RoutineCase{"a1 = 3 * a2", arrayScalarArithmetic, 4},
                      RoutineCase{"a1 = v1 + v2", arrayScalarArithmetic, 4},
                      RoutineCase{"a1 = a2 + a3", arrayArrayArithmetic, 4},
                      RoutineCase{"a1 = -a2", arrayScalarArithmetic, 4}, RoutineCase{"s1 = s2", assignString, 2},
                      RoutineCase{"s1 = 65", assignString, 2}, RoutineCase{"s1 &= s1", assignString, 2},
                      RoutineCase{"s1 = s2 + s3", assignString, 4}, RoutineCase{"f3 = a1", assignFileArray, 2},
                      RoutineCase{"f3 %= a1", assignFileArray, 2}, RoutineCase{"w1 = a1", assignWindow, 2},
                      RoutineCase{"w1 = a1, a2", assignWindow, 3}, RoutineCase{"v1 = v2, v3", assignFloat, 3},
                      RoutineCase{"v[i3] = 1", assignFloat, 2}, RoutineCase{"a[i_k] = a1", assignArray, 2},
                      RoutineCase{"stop(*)", findBuiltin("stop")->run, 1}, RoutineCase{"fill(a1,0,10,1)", findBuiltin("fill")->run, 4},
                      RoutineCase{"waittime(1)", findBuiltin("waittime")->run, 1}, RoutineCase{"exit()", findBuiltin("exit")->run, 0},
                      RoutineCase{"copy(a1 a2)", pendingBuiltin, 2}, RoutineCase{"copy(a1,a2)", pendingBuiltin, 2},
                      RoutineCase{"copy( a1 , a2 )", pendingBuiltin, 2},
                      RoutineCase{"i1 = copy(s1,s2)", pendingBuiltin, 3}, RoutineCase{"mvexit(0)", findBuiltin("mvexit")->run, 1},
                      RoutineCase{"winexit(i1)", findBuiltin("winexit")->run, 1}, RoutineCase{"gmean()", findBuiltin("gmean")->run, 0},
                      RoutineCase{"return", returnFromCall, 0}, RoutineCase{"restart", restartRun, 0},
                      RoutineCase{"onmouse w3,2", armMouse, 2}, RoutineCase{"onkey F2,\"Messen\",4", armFunctionKey, 3},
                      RoutineCase{"ONKEY f8, \"x\", v1", armFunctionKey, 3}));

TEST_F(CompilerTest, NamesAndLiteralsTakeFloatSlotsFromTheTop) {
  auto p = compileOk("v_a = 1\nv_b = 2.5");
  ASSERT_TRUE(p);
  const Instruction& a = p->instruction(0, 0);
  const Instruction& b = p->instruction(0, 1);
  EXPECT_EQ(a.operands[0].slot(), 3999);
  EXPECT_EQ(a.operands[1].slot(), 3998);
  EXPECT_EQ(b.operands[0].slot(), 3997);
  EXPECT_EQ(b.operands[1].slot(), 3996);
  EXPECT_EQ(values_->floatSlot(3998), 1.0);
  EXPECT_EQ(values_->floatSlot(3996), 2.5);
  EXPECT_EQ(a.operands[1].target, &values_->floatTwin(3998));
  EXPECT_EQ(p->symbols(SymbolKind::Float).find("a"), 3999);
  EXPECT_EQ(p->symbols(SymbolKind::Float).find("b"), 3997);
  EXPECT_EQ(p->symbols(SymbolKind::Float).find("c"), -2);
}

TEST_F(CompilerTest, NamesBindOncePerKindAndAreCaseSensitive) {
  auto p = compileOk("i_n = 1\ni_n = i_N\ns_n = s_n\na_n = a1\nw_n = a_n");
  ASSERT_TRUE(p);
  EXPECT_EQ(p->instruction(0, 0).operands[0].slot(), 1199);
  EXPECT_EQ(p->instruction(0, 1).operands[0].slot(), 1199);
  EXPECT_EQ(p->instruction(0, 1).operands[1].slot(), 1198);
  EXPECT_EQ(p->instruction(0, 2).operands[0].slot(), 199);
  EXPECT_EQ(p->instruction(0, 2).operands[1].slot(), 199);
  EXPECT_EQ(p->instruction(0, 3).operands[0].slot(), 499);
  EXPECT_EQ(p->instruction(0, 4).operands[0].slot(), 199);
  EXPECT_EQ(p->instruction(0, 4).operands[0].kind(), KindWindow);
  EXPECT_EQ(p->symbols(SymbolKind::Integer).size(), 2);
}

TEST_F(CompilerTest, LiteralForms) {
  auto p = compileOk("v1 = 'A\nv1 = *\nv1 = 1e3\nv1 = -2.5\nv1 = +4\nv1 = 'a + 1\nv1 = 0x10");
  ASSERT_TRUE(p);
  auto value = [&](int k, int op) { return values_->floatSlot(p->instruction(0, k).operands[op].slot()); };
  EXPECT_EQ(value(0, 1), 65.0);
  EXPECT_EQ(value(1, 1), -1.0);
  EXPECT_EQ(value(2, 1), 1000.0);
  EXPECT_EQ(value(3, 1), -2.5);
  EXPECT_EQ(value(4, 1), 4.0);
  EXPECT_EQ(value(5, 1), 97.0);
  EXPECT_EQ(value(5, 3), 1.0);
  EXPECT_EQ(value(6, 1), 16.0);  // read as strtod reads it
}

TEST_F(CompilerTest, CharacterLiteralIsASignedByte) {
  auto p = compileOk("v1 = '\xE4");
  ASSERT_TRUE(p);
  EXPECT_EQ(values_->floatSlot(p->instruction(0, 0).operands[1].slot()), static_cast<double>(static_cast<signed char>('\xE4')));
}

TEST_F(CompilerTest, SignWithoutNumberIsZeroBeforeTheOperator) {
  auto p = compileOk("v2 = -v1");
  ASSERT_TRUE(p);
  const Operand* ops = first(*p).operands;
  EXPECT_EQ(ops[1].kind(), KindFloat);
  EXPECT_EQ(values_->floatSlot(ops[1].slot()), 0.0);
  EXPECT_EQ(ops[2].kind(), KindNone);
  EXPECT_EQ(ops[2].slot(), '-');
  EXPECT_EQ(ops[3].slot(), 1);
}

TEST_F(CompilerTest, OperandTargetsPointIntoTheValueStore) {
  auto p = compileOk("v7 = a4\ns5 = s6\nw1 = v1\ni2 = i3");
  ASSERT_TRUE(p);
  EXPECT_EQ(p->instruction(0, 0).operands[0].target, &values_->floatTwin(7));
  EXPECT_EQ(p->instruction(0, 0).operands[1].target, &values_->arrayRecord(4));
  EXPECT_EQ(p->instruction(0, 1).operands[0].target, values_->stringSlot(5));
  EXPECT_EQ(p->instruction(0, 2).operands[0].target, nullptr);
  EXPECT_EQ(p->instruction(0, 3).operands[0].target, nullptr);
}

TEST_F(CompilerTest, IndirectOperands) {
  auto p = compileOk("v1 = a[i3]\ns[ i_k ] = s1\nw[i4] = a1");
  ASSERT_TRUE(p);
  const Operand& a = p->instruction(0, 0).operands[1];
  EXPECT_TRUE(a.indirect());
  EXPECT_EQ(a.kind(), KindArray);
  EXPECT_EQ(a.slot(), 3);
  EXPECT_EQ(a.target, nullptr);
  const Operand& s = p->instruction(0, 1).operands[0];
  EXPECT_TRUE(s.indirect());
  EXPECT_EQ(s.kind(), KindString);
  EXPECT_EQ(s.slot(), 1199);
  EXPECT_EQ(p->instruction(0, 2).operands[0].kind(), KindWindow);
}

TEST_F(CompilerTest, SubIndex) {
  auto p = compileOk("w_x.2 = v1\nw3.7 = a1.4\nv1.4 = v2\nw[i1].3 = a1");
  ASSERT_TRUE(p);
  EXPECT_EQ(p->instruction(0, 0).operands[0].subIndex, 2u);
  EXPECT_EQ(p->instruction(0, 1).operands[0].subIndex, 7u);
  EXPECT_EQ(p->instruction(0, 1).operands[1].subIndex, 4u);
  EXPECT_EQ(p->instruction(0, 2).operands[0].subIndex, 0u);  // only a window target keeps it
  EXPECT_EQ(p->instruction(0, 3).operands[0].subIndex, 3u);
}

TEST_F(CompilerTest, AppendFlag) {
  auto p = compileOk("a1 &= a1\ns1 %= s2\na2 = a3");
  ASSERT_TRUE(p);
  EXPECT_TRUE(p->instruction(0, 0).operands[0].append());
  EXPECT_TRUE(p->instruction(0, 1).operands[0].append());
  EXPECT_FALSE(p->instruction(0, 2).operands[0].append());
}

TEST_F(CompilerTest, BuiltinNamesIgnoreCase) {
  auto p = compileOk("v2 = abs(v1)\nv2 = ABS(v1)\nv2 = Abs(v1)");
  ASSERT_TRUE(p);
  const BuiltinEntry* abs = findBuiltin("abs");
  for (int k = 0; k < 3; ++k) {
    EXPECT_EQ(p->instruction(0, k).routine, abs->run);
    EXPECT_EQ(p->instruction(0, k).count, 2);
  }
}

TEST_F(CompilerTest, IfElseEndifControlWords) {
  auto p = compileOk(
      "if v1 > 0\n"              // 0
      "v2 = 1\n"                 // 1
      "else\n"                   // 2
      "v2 = 2\n"                 // 3
      "endif\n"                  // 4
      ":lab\n"
      "if v1 == 2 goto :lab\n"   // 5
      "if i1 and 4 call :lab\n"  // 6
      "goto :lab\n"              // 7
      "call :lab\n"              // 8
      "if v1 < 1\n"              // 9
      "endif\n"                  // 10
      "if s1 == \"abc\" goto :lab");  // 11
  ASSERT_TRUE(p);
  EXPECT_EQ(p->instruction(0, 0).routine, compareGreater);
  EXPECT_EQ(p->instruction(0, 0).count, 3);
  EXPECT_EQ(p->instruction(0, 0).operands[2].word, 3u | kControlBlockBit);
  EXPECT_EQ(p->instruction(0, 2).routine, jump);
  EXPECT_EQ(p->instruction(0, 2).operands[0].word & kControlTargetMask, 5u);
  EXPECT_EQ(p->instruction(0, 4).routine, endIf);
  EXPECT_EQ(p->instruction(0, 4).count, 0);
  EXPECT_EQ(p->instruction(0, 5).routine, compareEqual);
  EXPECT_EQ(p->instruction(0, 5).operands[2].word, 5u);
  EXPECT_EQ(p->instruction(0, 6).routine, compareAnd);
  EXPECT_EQ(p->instruction(0, 6).operands[2].word, 5u | kControlCallBit);
  EXPECT_EQ(p->instruction(0, 7).routine, jump);
  EXPECT_EQ(p->instruction(0, 7).operands[0].word, 5u);
  EXPECT_EQ(p->instruction(0, 8).routine, callLabel);
  EXPECT_EQ(p->instruction(0, 8).operands[0].word, 5u);
  EXPECT_EQ(p->instruction(0, 9).routine, compareLess);
  EXPECT_EQ(p->instruction(0, 9).operands[2].word, 11u | kControlBlockBit);
  EXPECT_EQ(p->instruction(0, 11).routine, compareEqual);
}

TEST_F(CompilerTest, ComparisonOperators) {
  struct Case {
    const char* op;
    RunRoutine routine;
  };
  const Case cases[] = {{"==", compareEqual},         {"!=", compareNotEqual}, {">=", compareGreaterEqual},
                        {"<=", compareLessEqual},     {"AND", compareAnd},     {"nand", compareNand},
                        {"<", compareLess},           {">", compareGreater}};
  for (const Case& c : cases) {
    auto p = compileOk(std::string(":x\nif i1 ") + c.op + " 2 goto :x");
    ASSERT_TRUE(p) << c.op;
    EXPECT_EQ(p->instruction(0, 0).routine, c.routine) << c.op;
  }
}

TEST_F(CompilerTest, ForAndNext) {
  auto p = compileOk(
      "for i1 = 1 to 10\n"              // 0
      "for v1 = 0 to 1 step 0.25\n"     // 1
      "v2 = v1\n"                       // 2
      "next v1\n"                       // 3
      "NEXT\n");                        // 4
  ASSERT_TRUE(p);
  const Instruction& outer = p->instruction(0, 0);
  EXPECT_EQ(outer.routine, forInit);
  ASSERT_EQ(outer.count, 4);
  EXPECT_EQ(values_->floatSlot(outer.operands[3].slot()), 1.0);  // implicit step
  const Instruction& inner = p->instruction(0, 1);
  EXPECT_EQ(values_->floatSlot(inner.operands[3].slot()), 0.25);
  const Instruction& innerNext = p->instruction(0, 3);
  EXPECT_EQ(innerNext.routine, forStep);
  ASSERT_EQ(innerNext.count, 5);
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(innerNext.operands[i].word, inner.operands[i].word);
    EXPECT_EQ(innerNext.operands[i].target, inner.operands[i].target);
  }
  EXPECT_EQ(innerNext.operands[4].word, 2u);
  EXPECT_EQ(p->instruction(0, 4).operands[4].word, 1u);
  EXPECT_EQ(p->instruction(0, 4).operands[0].slot(), 1);
  EXPECT_EQ(p->instruction(0, 4).operands[0].kind(), KindInteger);
}

TEST_F(CompilerTest, ForAcceptsIndirectLoopVariable) {
  auto p = compileOk("for v[i3] = 1 to 2 STEP 1\nnext");
  ASSERT_TRUE(p);
  EXPECT_TRUE(p->instruction(0, 0).operands[0].indirect());
}

TEST_F(CompilerTest, LabelsNameTheNextStatement) {
  auto p = compileOk(
      "v1 = 1\n"          // 0
      "; comment\n"
      "\n"
      "   \t\n"
      "* another comment\n"
      ":loop v1 = 2\n"    // label only: nothing compiled from this line
      "  :two\t; x\n"
      "v1 = 3\n"          // 1
      "goto :loop\n"      // 2
      "goto :two\n"       // 3
      ":gpibonerror\n"
      "v1 = 4");          // 4
  ASSERT_TRUE(p);
  EXPECT_EQ(p->process(0).statements, 5);
  EXPECT_EQ(p->instruction(0, 2).operands[0].word, 1u);
  EXPECT_EQ(p->instruction(0, 3).operands[0].word, 1u);
  EXPECT_EQ(p->process(0).gpibOnError, 4);
  EXPECT_EQ(p->instruction(0, 1).line, 8);
}

TEST_F(CompilerTest, ProcessWithoutGpibLabel) {
  auto p = compileOk("v1 = 1");
  ASSERT_TRUE(p);
  EXPECT_EQ(p->process(0).gpibOnError, -1);
}

TEST_F(CompilerTest, LineHandling) {
  auto p = compileOk("s1 = \"a;b\"\ns2 = \"a\" ; comment\n\tv1 = 1   \t\nv2 = 2\r\nv3 = 3\r\n");
  ASSERT_TRUE(p);
  EXPECT_STREQ(static_cast<const char*>(p->instruction(0, 0).operands[1].target), "a;b");
  EXPECT_STREQ(static_cast<const char*>(p->instruction(0, 1).operands[1].target), "a");
  EXPECT_EQ(p->process(0).statements, 5);
  EXPECT_EQ(p->instruction(0, 4).line, 5);
}

TEST_F(CompilerTest, OverlongLineIsCut) {
  // The part beyond 1023 characters is dropped; here only blanks and an x.
  auto p = compileOk("v1 = 1" + std::string(1500, ' ') + "x\nv2 = 2");
  ASSERT_TRUE(p);
  EXPECT_EQ(p->process(0).statements, 2);
  // A literal running past the cut is unterminated.
  CompileResult r = compileBody("s1 = \"" + std::string(2000, 'y') + "\"");
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error.number, 15);
}

TEST_F(CompilerTest, StringLiteralEscapesAndMacros) {
  auto p = compileOk("s1 = \"\\x65\\x66\"\ns1 = \"CRASH\\n\"\ns1 = \"\"");
  ASSERT_TRUE(p);
  EXPECT_STREQ(static_cast<const char*>(p->instruction(0, 0).operands[1].target), "AB");
  EXPECT_STREQ(static_cast<const char*>(p->instruction(0, 1).operands[1].target), "CRASH\n");
  EXPECT_STREQ(static_cast<const char*>(p->instruction(0, 2).operands[1].target), "");
  p = compileOk("s1 = \"CRASH\"", /*textMacros=*/true);
  ASSERT_TRUE(p);
  EXPECT_STREQ(static_cast<const char*>(p->instruction(0, 0).operands[1].target), "\rASH");
  EXPECT_EQ(p->instruction(0, 0).operands[1].kind(), KindString);
}

TEST_F(CompilerTest, LiteralsKeepStableAddresses) {
  auto p = compileOk("s1 = \"one\"\ns1 = \"two\"\ns1 = \"one\"");
  ASSERT_TRUE(p);
  const char* a = static_cast<const char*>(p->instruction(0, 0).operands[1].target);
  const char* c = static_cast<const char*>(p->instruction(0, 2).operands[1].target);
  EXPECT_NE(a, c);  // stored once per occurrence
  EXPECT_EQ(a, p->literalPool());
  EXPECT_EQ(p->literalBytes(), 12);
  std::unique_ptr<CompiledProgram> moved = std::move(p);
  EXPECT_STREQ(static_cast<const char*>(moved->instruction(0, 1).operands[1].target), "two");
}

TEST_F(CompilerTest, CodeLayoutAndTerminators) {
  CompileResult r = compileProcesses({"*Start\nv1 = 1\nv1 = 2\n", "*Prozess1\n", "*End\nreturn\n"});
  ASSERT_TRUE(r.ok());
  const CompiledProgram& p = *r.program;
  ASSERT_EQ(p.processCount(), 3);
  EXPECT_EQ(p.endProcess(), 2);
  EXPECT_EQ(p.process(0).statements, 2);
  EXPECT_EQ(p.process(1).statements, 0);
  EXPECT_EQ(p.process(2).statements, 1);
  EXPECT_EQ(p.totalStatements(), 3);
  for (int k = 0; k < 3; ++k) {
    EXPECT_EQ((p.code(k) - 1)->routine, nullptr) << k;           // zero record before
    EXPECT_EQ(p.code(k)[p.process(k).statements].routine, nullptr) << k;  // and after
  }
  EXPECT_EQ(p.code(1)->routine, nullptr);  // header only: nothing to run
  EXPECT_EQ(p.instruction(0, 1).line, 2);
  EXPECT_EQ(p.instruction(2, 0).line, 1);
  EXPECT_EQ(p.usedOperands(), 4);
  EXPECT_EQ(p.summary(), "3 Zeilen  19996 freie Par.bl\xF6" "cke");
}

TEST_F(CompilerTest, OperandsOfOneInstructionAreContiguous) {
  auto p = compileOk("v1 = v2 + v3\ncopy(a1,a2)");
  ASSERT_TRUE(p);
  EXPECT_EQ(p->instruction(0, 0).operands, p->operandPool());
  EXPECT_EQ(p->instruction(0, 1).operands, p->operandPool() + 4);
}

TEST_F(CompilerTest, AutoWatchListsDirectVariablesOnce) {
  auto p = compileOk("v1 = v2 + i3\ns1 = s1\na[i4] = a5\nv1 = 2\nv_x = v1\nclose(#3)\nw1 = a5");
  ASSERT_TRUE(p);
  const auto& w = p->autoWatch();
  ASSERT_EQ(w.size(), 6u);
  EXPECT_EQ(w[0].kind, KindFloat);
  EXPECT_EQ(w[0].slot, 1);
  EXPECT_EQ(w[1].slot, 2);
  EXPECT_EQ(w[2].kind, KindInteger);
  EXPECT_EQ(w[2].slot, 3);
  EXPECT_EQ(w[3].kind, KindString);
  EXPECT_EQ(w[4].kind, KindArray);
  EXPECT_EQ(w[4].slot, 5);
  EXPECT_EQ(w[5].kind, KindFloat);
  EXPECT_EQ(w[5].slot, 3998);  // v_x (3999 went to the literal 2)
}

TEST_F(CompilerTest, KeywordStatementsIgnoreTrailingText) {
  auto p = compileOk("for i1 = 1 to 3 whatever\nnext i1 and more\nreturn now\nif v1 > 0\nelse x\nendif y");
  ASSERT_TRUE(p);
  EXPECT_EQ(p->process(0).statements, 6);
}

TEST_F(CompilerTest, ChecksSeeAbsentOperandsAsCount) {
  auto p = compileOk("program(\"x\")\ni1 = program(s1)\ni1 = getonkey()");
  ASSERT_TRUE(p);
  EXPECT_EQ(p->instruction(0, 0).count, 1);
  EXPECT_FALSE(compileBody("program(v1)").ok());
  EXPECT_FALSE(compileBody("v1 = getonkey()").ok());
}

TEST_F(CompilerTest, EmptyProcessListAndEmptyTexts) {
  CompileResult r = compileProcesses({});
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(r.program->processCount(), 0);
  r = compileProcesses({"", "*End"});
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(r.program->process(1).statements, 0);
}

TEST_F(CompilerTest, CompilersShareNoState) {
  ValueStore other;
  CompileResult a = Compiler(*values_).compile({"*Start\nv_a = 1\n"});
  CompileResult b = Compiler(other).compile({"*Start\nv_b = 1\nv_a = 2\n"});
  ASSERT_TRUE(a.ok());
  ASSERT_TRUE(b.ok());
  EXPECT_EQ(a.program->symbols(SymbolKind::Float).find("a"), 3999);
  EXPECT_EQ(b.program->symbols(SymbolKind::Float).find("a"), 3997);
  EXPECT_EQ(values_->floatSlot(3998), 1.0);
  EXPECT_EQ(other.floatSlot(3996), 2.0);
}

}  // namespace
}  // namespace morvel::lang::testing
