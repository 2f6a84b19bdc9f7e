#pragma once
// Helpers for tests that run one of the programs as a real process and read
// what it wrote.
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace morvel::test {

// Exit status and the two output streams of a finished program.
struct Outcome {
  int status = -1;
  std::string out, err;
};

// The whole file as bytes ("" when it cannot be read).
inline std::string slurp(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

}  // namespace morvel::test
