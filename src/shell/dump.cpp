#include "shell/dump.h"

#include <cstring>

#include "lang/program.h"
#include "lang/value_store.h"
#include "platform/cnumber.h"

namespace morvel::shell {

using lang::SymbolKind;
using platform::formatC;

std::vector<std::string> splitDumpList(const std::string& list) {
  std::vector<std::string> items;
  size_t start = 0;
  while (start <= list.size()) {
    size_t comma = list.find(',', start);
    if (comma == std::string::npos) comma = list.size();
    std::string item = list.substr(start, comma - start);
    while (!item.empty() && (item.front() == ' ' || item.front() == '\t')) item.erase(0, 1);
    while (!item.empty() && (item.back() == ' ' || item.back() == '\t')) item.pop_back();
    if (!item.empty()) items.push_back(item);
    start = comma + 1;
  }
  return items;
}

std::string quoteDumpString(const char* text) {
  std::string out = "\"";
  for (const char* p = text; *p; ++p) {
    auto c = static_cast<unsigned char>(*p);
    if (c == '\\' || c == '"') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 32 || c == 127) {
      out += formatC("\\x%02X", c);
    } else {
      out += static_cast<char>(c);
    }
  }
  out += '"';
  return out;
}

std::string dumpLine(const std::string& item, lang::ValueStore& values, const lang::CompiledProgram* program) {
  const std::string unknown = item + " = ?";
  if (item.size() < 2) return unknown;
  char letter = item[0];
  SymbolKind kind;
  int pool;
  switch (letter) {
    case 'v': kind = SymbolKind::Float; pool = lang::kFloatSlots; break;
    case 'i': kind = SymbolKind::Integer; pool = lang::kIntegerSlots; break;
    case 's': kind = SymbolKind::String; pool = lang::kStringSlots; break;
    case 'a': kind = SymbolKind::Array; pool = lang::kArraySlots; break;
    default: return unknown;
  }
  int slot = -1;
  if (item[1] == '_') {
    if (!program) return unknown;
    slot = program->symbols(kind).find(std::string_view(item).substr(2));
  } else {
    const char* end = nullptr;
    if (item[1] < '0' || item[1] > '9') return unknown;
    slot = platform::strtolC(item.c_str() + 1, &end);
    if (*end) return unknown;
  }
  if (slot < 0 || slot >= pool) return unknown;

  switch (kind) {
    case SymbolKind::Float: return formatC("%s = %.17g", item.c_str(), values.floatSlot(slot));
    case SymbolKind::Integer: return formatC("%s = %d", item.c_str(), values.integerSlot(slot));
    case SymbolKind::String: return item + " = " + quoteDumpString(values.stringSlot(slot));
    default: break;
  }
  const lang::ValueArray& a = values.arrayRecord(slot);
  std::string out = formatC("%s = [len=%d kind=%u xdist=%.17g xoff=%.17g]", item.c_str(), a.length, a.kind & 3u,
                            static_cast<double>(a.xDistance), static_cast<double>(a.xOffset));
  for (int k = 0; k < a.length && a.data; ++k) out += formatC(" %.17g", a.data[k]);
  return out;
}

}  // namespace morvel::shell
