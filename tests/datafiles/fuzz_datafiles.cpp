// Fuzz entry for the data file reader: the first input byte chooses the
// format (".vdt" or ".dat"), the rest is the file. Every channel is read at a
// few positions, as values and as bits.
//
// With clang and libFuzzer (see tests/datafiles/CMakeLists.txt, MORVEL_FUZZ)
// this file is the fuzzer; otherwise fuzz_smoke.cpp drives it with seeds and
// deterministic mutations as a short test.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "datafiles/datafile.h"
#include "platform/notifier.h"

namespace {

struct QuietNotifier : morvel::Notifier {
  void message(std::string_view) override {}
};

std::string scratchDir() {
  const char* base = std::getenv("TMPDIR");
  std::string t = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : (base && *base ? base : "/tmp");
  t += "/morvel-fuzz-XXXXXX";
  if (!mkdtemp(t.data())) std::abort();
  return t;
}

struct Scratch {
  std::string dir = scratchDir();
  ~Scratch() {
    unlink((dir + "/f.vdt").c_str());
    unlink((dir + "/f.dat").c_str());
    rmdir(dir.c_str());
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  static Scratch scratch;
  std::string path = scratch.dir + ((data[0] & 1) ? "/f.dat" : "/f.vdt");
  int fd = open(path.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0600);
  if (fd < 0) std::abort();
  if (size > 1 && write(fd, data + 1, size - 1) != static_cast<ssize_t>(size - 1)) std::abort();
  close(fd);

  QuietNotifier quiet;
  morvel::datafiles::DataFileReader reader(&quiet);
  if (!reader.open(path)) return 0;
  double buf[300];
  const int channels = reader.channelCount() < 64 ? reader.channelCount() : 64;
  for (int c = 0; c < channels; ++c) {
    const int64_t frames = reader.frames(c);
    for (int64_t at : {int64_t{0}, frames / 2, frames > 5 ? frames - 5 : 0}) {
      reader.seek(c, at);
      reader.read(buf, c, 300, (c % 3 == 2) ? (c % 40) : -1);
    }
    (void)reader.clk(c);
  }
  return 0;
}

// Seed files that reach deep into both parsers.
std::vector<std::string> fuzzSeeds() {
  auto vdt = [](const std::string& data, const std::string& header) {
    std::string s(32, '\0');
    s.replace(0, 6, "VORK64");
    uint64_t off = 32 + data.size();
    for (int i = 0; i < 8; ++i) s[8 + i] = static_cast<char>(off >> (8 * i));
    return std::string(1, '\0') + s + data + header;
  };
  std::string data;
  for (int i = 0; i < 400; ++i) data += static_cast<char>(i * 7);
  std::vector<std::string> seeds;
  seeds.push_back(vdt(data,
                      "beginheader:\r\ntyp:int16\r\norg:block50\r\nframes:150\r\nPTBlocks:2\r\nPTReadPos:10\r\n"
                      "PTFrames:40\r\n$Takt:2\r\n$NewClkrate:0.1\r\n$Marke1:0.5:a\r\nweiter\r\nDCT:\r\nx\ty\tz\t1;2;3\r\n"
                      "DCTend:\r\nendheader:\r\nbeginchannel:\r\nchannel_offset:32\r\nampli:0.5\r\nendchannel:\r\n"
                      "beginchannel:\r\nchannel_offset:132\r\ntyp:digital\r\nendchannel:\r\nbeginchannel:\r\n"
                      "channel_offset:132\r\ntyp:digital16.0ff0\r\n$Pol.:-+\r\n$ModulIdx:1\r\nendchannel:\r\n"));
  seeds.push_back(vdt(data,
                      "beginheader:\r\ntyp:real\r\norg:linear\r\nframes:50\r\nendheader:\r\nbeginchannel:\r\n"
                      "channel_offset:32\r\ntyp:real64\r\nname:1 a\r\nendchannel:\r\nbeginchannel:\r\n"
                      "channel_offset:40\r\ntyp:uint32\r\nendchannel:\r\n"));
  std::string dat = "\x01";
  auto put = [&](uint64_t v, int n) {
    for (int i = 0; i < n; ++i) dat += static_cast<char>(v >> (8 * i));
  };
  put(33, 2), put(0x11, 2), put(2, 2), put(60, 4), put(0x3A83126F, 4), dat.append("s\0", 2), put(5, 4), put(40, 4);
  put(0, 2), put(0, 4), put(0, 4);
  for (int c = 0; c < 2; ++c) {
    std::string rec(70, '\0');
    rec.replace(0, 4, "Kan1");
    rec[37] = 0x3F, rec[36] = static_cast<char>(0x80);  // scale 1.0f
    dat += rec;
  }
  dat += data.substr(0, 200);
  seeds.push_back(dat);
  return seeds;
}
