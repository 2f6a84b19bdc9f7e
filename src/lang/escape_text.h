#pragma once
// Rewriting of text macros and backslash escapes in string literals (and in
// `linput` formats).
#include <cstddef>
#include <string>
#include <string_view>

namespace morvel::lang {

// Rewrites `length` bytes at `text` in place and returns the new length (never
// longer). Writes a terminating zero after the result when `length` < `capacity`.
//  1. Only with `textMacros`: the words CR, LF, FF, ESC, ETX, STX become the
//     control characters 13, 10, 12, 27, 3, 2.
//  2. \\ (kept aside), \a \b \f \n \r \t \v \" become 7 8 12 10 13 9 11 ",
//     then the kept \\ become one backslash.
//  3. \x and two decimal digits become the character with that decimal code
//     (\x65 is 'A'); a \x without two digits stays as written.
// Each single replacement of steps 1 and 2 is made only when the text is at
// most 256 characters long after it; step 3 applies at any length. Every byte
// value, 255 included, may occur in the text.
size_t EscapeText(char* text, size_t length, size_t capacity, bool textMacros);

std::string EscapeText(std::string_view text, bool textMacros);

}  // namespace morvel::lang
