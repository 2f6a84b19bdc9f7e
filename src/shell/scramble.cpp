#include "shell/scramble.h"

#include <array>

namespace morvel::shell {
namespace {

// The keystream table is fixed for all time: documents scrambled with it can
// only be read with the same table. It is generated once at compile time
// from a fixed xorshift sequence.
constexpr std::array<uint8_t, kScrambleTableSize> makeTable() {
  std::array<uint8_t, kScrambleTableSize> t{};
  uint32_t s = 0x4D6F7276u;
  for (auto& b : t) {
    s ^= s << 13;
    s ^= s >> 17;
    s ^= s << 5;
    b = static_cast<uint8_t>(s >> 11);
  }
  return t;
}
constexpr auto kTable = makeTable();

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

void scrambleText(std::string& text, int32_t key, int process) {
  // The product is taken in 32 bits as the format always did; a large key
  // wraps to a negative state, which the index rule below keeps in range.
  auto state = static_cast<int32_t>(static_cast<uint32_t>(key) * static_cast<uint32_t>(process + 23));
  for (char& c : text) {
    int32_t p = ((state % kScrambleTableSize) + kScrambleTableSize) % kScrambleTableSize;
    c = static_cast<char>(static_cast<uint8_t>(c) ^ kTable[static_cast<size_t>(p)]);
    state = p + 1;
  }
}

std::string toHex(std::string_view bytes) {
  static constexpr char digits[] = "0123456789abcdef";
  std::string out;
  out.resize(bytes.size() * 2);
  for (size_t i = 0; i < bytes.size(); ++i) {
    auto b = static_cast<uint8_t>(bytes[i]);
    out[2 * i] = digits[b >> 4];
    out[2 * i + 1] = digits[b & 15];
  }
  return out;
}

std::optional<std::string> fromHex(std::string_view hex) {
  if (hex.size() % 2) return std::nullopt;
  std::string out(hex.size() / 2, '\0');
  for (size_t i = 0; i < out.size(); ++i) {
    int hi = hexDigit(hex[2 * i]), lo = hexDigit(hex[2 * i + 1]);
    if (hi < 0 || lo < 0) return std::nullopt;
    out[i] = static_cast<char>(hi * 16 + lo);
  }
  return out;
}

}  // namespace morvel::shell
