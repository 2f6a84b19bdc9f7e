#include "lang/symbols.h"

#include <cstring>

namespace morvel::lang {

SymbolTable::SymbolTable() { clear(); }

void SymbolTable::clear() {
  count_ = 0;
  hash_.fill(-1);
}

uint32_t SymbolTable::hashOf(std::string_view name) {
  uint32_t h = 2166136261u;
  for (unsigned char c : name) h = (h ^ c) * 16777619u;
  return h;
}

int SymbolTable::find(std::string_view name) const {
  for (uint32_t i = hashOf(name) & (kHashSize - 1);; i = (i + 1) & (kHashSize - 1)) {
    int e = hash_[i];
    if (e < 0) return -2;
    const Symbol& s = entries_[e];
    if (static_cast<size_t>(s.length) == name.size() && std::memcmp(s.name, name.data(), name.size()) == 0)
      return s.slot;
  }
}

bool SymbolTable::add(std::string_view name, int slot) {
  if (count_ >= kMaxSymbols || name.size() > static_cast<size_t>(kMaxNameLength)) return false;
  Symbol& s = entries_[count_];
  std::memcpy(s.name, name.data(), name.size());
  s.name[name.size()] = '\0';
  s.length = static_cast<int16_t>(name.size());
  s.slot = static_cast<int16_t>(slot);
  uint32_t i = hashOf(name) & (kHashSize - 1);
  while (true) {
    int e = hash_[i];
    if (e < 0) {
      hash_[i] = static_cast<int16_t>(count_);
      break;
    }
    // A duplicate name keeps the first entry in the index (first match wins).
    const Symbol& o = entries_[e];
    if (static_cast<size_t>(o.length) == name.size() && std::memcmp(o.name, name.data(), name.size()) == 0) break;
    i = (i + 1) & (kHashSize - 1);
  }
  ++count_;
  return true;
}

}  // namespace morvel::lang
