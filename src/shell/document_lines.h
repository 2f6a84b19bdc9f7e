#pragma once
// Line input and output for document-style text files: lines of any length,
// LF or CR LF on reading, CR LF on writing.
#include <cstdio>
#include <string>
#include <string_view>

namespace morvel::shell {

class LineReader {
 public:
  explicit LineReader(std::FILE* f) : f_(f) {}
  // Reads the next line without its line end. False at the end of the file.
  bool next(std::string& line);
  // Makes the next call of next() return `line` again.
  void unread(std::string line);

 private:
  std::FILE* f_;
  bool hasPending_ = false;
  std::string pending_;
};

class LineWriter {
 public:
  explicit LineWriter(std::FILE* f) : f_(f) {}
  void line(std::string_view text);  // text + CR LF
  bool ok() const { return ok_; }

 private:
  std::FILE* f_;
  bool ok_ = true;
};

// True when `line` begins with `key` (which includes its colon); then `value`
// receives the rest of the line.
bool matchKey(std::string_view line, std::string_view key, std::string_view* value = nullptr);

}  // namespace morvel::shell
