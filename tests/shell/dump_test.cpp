#include "shell/dump.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "lang/compiler.h"
#include "lang/value_store.h"

using namespace morvel;

TEST(Dump, SplitList) {
  EXPECT_EQ(shell::splitDumpList("v1,i_count, s2 ,,a3"),
            (std::vector<std::string>{"v1", "i_count", "s2", "a3"}));
  EXPECT_TRUE(shell::splitDumpList("").empty());
}

TEST(Dump, QuotesStrings) {
  EXPECT_EQ(shell::quoteDumpString("a\"b\\c\x01\x7F\xE4"), "\"a\\\"b\\\\c\\x01\\x7F\xE4\"");
}

TEST(Dump, FormatsEveryKind) {
  auto values = std::make_unique<lang::ValueStore>();
  values->resetForStart();
  lang::Compiler compiler(*values);
  auto result = compiler.compile({"*Start\nv_wert = 1\ni_n = 2\n", "*End\n"});
  ASSERT_TRUE(result.ok());
  std::string msg;
  ASSERT_TRUE(values->allocateArrays(msg));
  values->floatSlot(3) = 0.1;
  values->integerSlot(4) = -7;
  std::strcpy(values->stringSlot(5), "x\ty");
  lang::ValueArray& a = values->arrayRecord(6);
  a.length = 2;
  a.kind = 1;
  a.xDistance = 0.5f;
  a.data[0] = 1.5;
  a.data[1] = -2;
  const lang::CompiledProgram* p = result.program.get();
  struct Case {
    const char* item;
    const char* line;
  } cases[] = {
      {"v3", "v3 = 0.10000000000000001"},
      {"i4", "i4 = -7"},
      {"s5", "s5 = \"x\\x09y\""},
      {"a6", "a6 = [len=2 kind=1 xdist=0.5 xoff=0] 1.5 -2"},
      {"v_wert", "v_wert = 0"},
      {"i_nix", "i_nix = ?"},
      {"v4000", "v4000 = ?"},
      {"w1", "w1 = ?"},
      {"v1x", "v1x = ?"},
  };
  for (const auto& c : cases) EXPECT_EQ(shell::dumpLine(c.item, *values, p), c.line) << c.item;
  values->releaseAtEnd();
}
