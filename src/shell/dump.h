#pragma once
// The variable dump of the headless runner: "v1 = 2.5", "s_name = \"text\"".
#include <string>
#include <vector>

namespace morvel::lang {
class ValueStore;
class CompiledProgram;
}  // namespace morvel::lang

namespace morvel::shell {

// Splits "v1,i_count,s2" into its items (blanks around items are dropped).
std::vector<std::string> splitDumpList(const std::string& list);

// One dump line for `item` (without line end). Names are looked up in the
// program's symbol tables; an unknown variable gives "<item> = ?".
std::string dumpLine(const std::string& item, lang::ValueStore& values, const lang::CompiledProgram* program);

// A string as the dump writes it: in double quotes, `\` and `"` escaped,
// bytes below 32 and 127 as \xHH, other bytes as they are.
std::string quoteDumpString(const char* text);

}  // namespace morvel::shell
