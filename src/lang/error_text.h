#pragma once
// Error texts of the script language, looked up by number in the help files
// pcompile.hlp (compile errors) and runerr.hlp (run-time errors).
#include <string>

namespace morvel::lang {

// Directory of the help files when the caller names none.
const char* defaultResourceDir();

// Text of line `number` of the help file at `path`: the first line whose
// leading decimal number equals `number` (3 does not match 13), starting two
// characters after its first '/'. "Ung\xFCltige Fehlernummer" when no line
// matches or the file cannot be read. Lines are read up to 256 characters.
std::string helpFileText(const std::string& path, int number);

// The text the message area shows for an error: compile errors from
// pcompile.hlp, run-time errors from runerr.hlp prefixed with "Runtime:".
// `directory` is the program's directory; empty means defaultResourceDir().
std::string errorText(int number, bool runtime, const std::string& directory = std::string());

}  // namespace morvel::lang
