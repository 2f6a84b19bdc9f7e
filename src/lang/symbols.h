#pragma once
// Symbol tables of the named variable kinds (`v_`, `i_`, `s_`, `a_`, `w_`).
#include <array>
#include <cstdint>
#include <string_view>

namespace morvel::lang {

enum class SymbolKind { Float = 0, Integer = 1, String = 2, Array = 3, Window = 4 };
inline constexpr int kSymbolKinds = 5;
inline constexpr int kMaxSymbols = 1999;
inline constexpr int kMaxNameLength = 32;

struct Symbol {
  char name[kMaxNameLength + 1];
  int16_t length;
  int16_t slot;  // -1: entered by the editor's name scanner, not bound
};

// One kind's table: at most kMaxSymbols names, exact case-sensitive lookup,
// first entry wins. A hash index keeps the lookup cheap for large programs.
class SymbolTable {
 public:
  SymbolTable();

  void clear();
  int size() const { return count_; }
  const Symbol& at(int i) const { return entries_[i]; }

  // Slot of `name` (>= -1), or -2 when the name is not in the table.
  int find(std::string_view name) const;
  // Adds a name (at most kMaxNameLength characters). False when the table is
  // full or the name too long.
  bool add(std::string_view name, int slot);

 private:
  static constexpr int kHashSize = 4096;  // power of two, > 2 * kMaxSymbols
  static uint32_t hashOf(std::string_view name);

  std::array<Symbol, kMaxSymbols> entries_;
  std::array<int16_t, kHashSize> hash_;  // entry index or -1
  int count_ = 0;
};

}  // namespace morvel::lang
