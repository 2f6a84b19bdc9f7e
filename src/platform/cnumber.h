#pragma once
// Number formatting and parsing in the C locale, whatever the process locale
// says. Documents, `%g` output and `atof` of scripts must read and write a
// point as decimal separator even under LC_ALL=de_DE.UTF-8.
#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

// printf-style formatting in the C locale. Returns the number of characters
// the full text needs (like snprintf); the output is always terminated.
int formatC(char* buf, size_t size, const char* fmt, ...) __attribute__((format(printf, 3, 4)));
std::string formatC(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// "%g" of a double, as C's printf writes it.
std::string formatG(double v);

// strtod in the C locale. *end (if given) receives the first unread character.
double strtodC(const char* s, const char** end = nullptr);

// C `atof`: strtod of the text, 0 when no number begins it.
double atofC(const char* s);

// `atoi` with 32-bit results: optional blanks, optional sign, decimal digits,
// stopping at the first other character; 0 when no digit follows. A value
// beyond the 32-bit range saturates at INT32_MAX or INT32_MIN, as the 32-bit C
// library that the scripts were written against does.
int32_t atoiC(const char* s, const char** end = nullptr);

// strtol with base 10 and the same 32-bit saturation.
int32_t strtolC(const char* s, const char** end = nullptr);

}  // namespace platform
