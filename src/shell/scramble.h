#pragma once
// Scrambling of process texts in documents: a keystream XOR with a fixed
// 272-byte table, started from the document key and the process number.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace morvel::shell {

inline constexpr int kScrambleTableSize = 272;

// XORs `text` in place with the keystream of (key, process). Applying it
// twice restores the text.
void scrambleText(std::string& text, int32_t key, int process);

// Lowercase hexadecimal, two digits per byte.
std::string toHex(std::string_view bytes);
// Decodes pairs of hexadecimal digits; nullopt for an odd length or a
// character that is no hexadecimal digit.
std::optional<std::string> fromHex(std::string_view hex);

}  // namespace morvel::shell
