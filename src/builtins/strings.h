#pragma once
// Strings and conversions: tolower, trimleft, trimright, replace, atoi, atof,
// htoi. Texts are Windows-1252 bytes; nothing here depends on the process
// locale.
#include <cstdint>

#include "lang/routine.h"

namespace morvel::builtins {

using lang::CheckContext;
using lang::Operand;
using lang::RunContext;

void runTolower(RunContext&, Operand*, int);
void runTrimleft(RunContext&, Operand*, int);
void runTrimright(RunContext&, Operand*, int);
void runReplace(RunContext&, Operand*, int);
void runAtoi(RunContext&, Operand*, int);
void runAtof(RunContext&, Operand*, int);
void runHtoi(RunContext&, Operand*, int);

// trimleft, trimright: a string variable and a character set.
int checkTrim(CheckContext&, const Operand*, int);
// replace: a string variable, the text to find and its replacement.
int checkReplace(CheckContext&, const Operand*, int);

// The text read as a hexadecimal number: optional blanks, optional sign,
// optional 0x prefix, hexadecimal digits up to the first other character; 0
// when none. Saturates at the 32-bit range.
int32_t hexToInt(const char* text);

// Every occurrence of `find` in `text` replaced by `with`, left to right
// without overlaps, the result cut at `capacity - 1` bytes and terminated.
// An empty `find` copies the text. Returns the result length.
size_t replaceAll(const char* text, const char* find, const char* with, char* out, size_t capacity);

}  // namespace morvel::builtins
