#include "shell/document_lines.h"

namespace morvel::shell {

bool LineReader::next(std::string& line) {
  if (hasPending_) {
    hasPending_ = false;
    line = std::move(pending_);
    return true;
  }
  line.clear();
  int c;
  bool any = false;
  while ((c = std::getc(f_)) != EOF) {
    any = true;
    if (c == '\n') break;
    line.push_back(static_cast<char>(c));
  }
  if (!any) return false;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return true;
}

void LineReader::unread(std::string line) {
  pending_ = std::move(line);
  hasPending_ = true;
}

void LineWriter::line(std::string_view text) {
  if (!text.empty() && std::fwrite(text.data(), 1, text.size(), f_) != text.size()) ok_ = false;
  if (std::fwrite("\r\n", 1, 2, f_) != 2) ok_ = false;
}

bool matchKey(std::string_view line, std::string_view key, std::string_view* value) {
  if (line.substr(0, key.size()) != key) return false;
  if (value) *value = line.substr(key.size());
  return true;
}

}  // namespace morvel::shell
