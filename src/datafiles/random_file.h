#pragma once
// A read-only file with 64-bit positions (pread), and a line reader over it.
#include <cstddef>
#include <cstdint>
#include <string>

namespace morvel::datafiles {

class RandomFile {
 public:
  RandomFile() = default;
  ~RandomFile() { close(); }
  RandomFile(const RandomFile&) = delete;
  RandomFile& operator=(const RandomFile&) = delete;

  // `hostPath` is a path on this machine (already mapped).
  bool open(const std::string& hostPath);
  void close();
  bool isOpen() const { return fd_ >= 0; }
  int64_t size() const { return size_; }
  const std::string& path() const { return path_; }

  // Reads up to `bytes` at `offset`; returns the bytes read (short at the end
  // of the file), -1 on an error.
  int64_t readAt(int64_t offset, void* dest, int64_t bytes) const;
  // True when exactly `bytes` could be read.
  bool readExact(int64_t offset, void* dest, int64_t bytes) const { return readAt(offset, dest, bytes) == bytes; }

 private:
  int fd_ = -1;
  int64_t size_ = 0;
  std::string path_;
};

// Reads text lines from a file region: a line ends at a line feed; carriage
// returns are dropped wherever they occur.
class LineReader {
 public:
  LineReader(const RandomFile& file, int64_t start, int64_t end);
  // False at the end of the region, or when a line exceeds `maxLine` bytes
  // (`tooLong()` then tells).
  bool next(std::string& line, size_t maxLine);
  bool tooLong() const { return tooLong_; }

 private:
  bool fill();
  const RandomFile& file_;
  int64_t pos_, end_;
  char buf_[65536];
  size_t have_ = 0, at_ = 0;
  bool tooLong_ = false;
};

}  // namespace morvel::datafiles
