#pragma once
// Small data files written byte for byte by the tests.
#include <fcntl.h>
#include <unistd.h>

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fixtures {

class TempDir {
 public:
  TempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string tmpl = std::string(base && *base ? base : "/tmp") + "/morvel-data-XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    if (::mkdtemp(buf.data())) path_ = buf.data();
  }
  ~TempDir() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

inline void writeFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

template <typename T>
void put(std::string& s, T v) {
  char b[sizeof(T)];
  std::memcpy(b, &v, sizeof v);
  s.append(b, sizeof b);
}

template <typename T>
void putAt(std::string& s, size_t at, T v) {
  if (s.size() < at + sizeof v) s.resize(at + sizeof v, '\0');
  std::memcpy(&s[at], &v, sizeof v);
}

// Text-header file: leading block, `data` from byte 32, then `header`.
inline std::string vdt(const std::string& data, const std::string& header, const char* magic = "VORK64") {
  std::string s(32, '\0');
  std::memcpy(&s[0], magic, std::strlen(magic));
  uint64_t offset = 32 + data.size();
  if (std::strlen(magic) == 4) {
    putAt(s, 8, static_cast<uint32_t>(offset));
    s[12] = '\x5A';  // bytes 12-15 carry no meaning in this form
    s[13] = '\x7F';
    s[14] = '\x01';
    s[15] = '\xEE';
  } else {
    putAt(s, 8, offset);
  }
  return s + data + header;
}

// Header text from lines; every line ends with CR LF as writers do.
inline std::string lines(std::initializer_list<std::string> l) {
  std::string s;
  for (const auto& x : l) s += x + "\r\n";
  return s;
}

struct DatChannel {
  std::string name = "Kanal";
  std::string unit = "V";
  int16_t pchan = 0;
  float scale = 1.0f, offset = 0.0f, max = 10.0f, min = -10.0f;
  bool digital = false;
};

// Record-format file: general header, channel records, then `data`.
inline std::string dat(int16_t version, uint16_t flags, int32_t frames, float clk,
                       const std::vector<DatChannel>& channels, const std::string& data, int32_t oldest = 0,
                       int32_t ringLength = 0, int32_t channelCount = INT32_MIN, int32_t start = 0) {
  std::string s;
  put(s, version);
  put(s, flags);
  put(s, static_cast<int16_t>(channelCount != INT32_MIN ? channelCount : static_cast<int32_t>(channels.size())));
  put(s, frames);
  put(s, clk);
  s.append("s\0", 2);  // x unit; bytes 16-19 hold the ring start
  put(s, oldest);
  put(s, ringLength);
  put(s, int16_t{0});
  put(s, start);
  put(s, int32_t{0});
  for (const auto& c : channels) {
    std::string r(70, '\0');
    std::memcpy(&r[0], c.name.data(), std::min<size_t>(c.name.size(), 21));
    std::memcpy(&r[21], c.unit.data(), std::min<size_t>(c.unit.size(), 11));
    putAt(r, 32, c.pchan);
    putAt(r, 34, c.scale);
    putAt(r, 38, c.offset);
    putAt(r, 42, c.max);
    putAt(r, 46, c.min);
    putAt(r, 60, static_cast<int16_t>(c.digital ? 0x4001 : 1));
    s += r;
  }
  return s + data;
}

template <typename T>
std::string samples(std::initializer_list<T> v) {
  std::string s;
  for (T x : v) put(s, x);
  return s;
}

}  // namespace fixtures
