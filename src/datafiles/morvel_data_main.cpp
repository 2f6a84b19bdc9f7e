// morvel-data: shows the channels and samples of a measurement data file.
//
//   morvel-data info FILE
//   morvel-data dump FILE CHANNEL [--from P] [--count N] [--bit B]
//
// Exit status 0 on success, 1 when the file or channel cannot be read, 2 for
// a wrong command line.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "datafiles/datafile.h"
#include "platform/cnumber.h"
#include "platform/codepage.h"

using morvel::datafiles::DataFileReader;

namespace {

int usage() {
  std::fputs(
      "usage: morvel-data info FILE\n"
      "       morvel-data dump FILE CHANNEL [--from P] [--count N] [--bit B]\n",
      stderr);
  return 2;
}

// Texts of the core are Windows-1252; the terminal gets UTF-8.
std::string out(const std::string& cp1252) { return platform::toUtf8(cp1252); }

bool parseInt(const char* s, int64_t& v) {
  if (!s || !*s) return false;
  errno = 0;
  char* end = nullptr;
  long long x = std::strtoll(s, &end, 10);
  if (errno != 0 || *end != '\0') return false;
  v = x;
  return true;
}

bool openFile(DataFileReader& reader, const char* file) {
  // Command lines are UTF-8; names of the core are Windows-1252.
  if (reader.open(platform::fromUtf8(file))) return true;
  std::fprintf(stderr, "morvel-data: %s: %s\n", file, out("Datei kann nicht ge\xF6" "ffnet werden").c_str());
  return false;
}

int info(const char* file) {
  DataFileReader reader;
  if (!openFile(reader, file)) return 1;
  std::string text = platform::formatC("channels\t%d\n", reader.channelCount());
  for (int c = 0; c < reader.channelCount(); ++c) {
    text += platform::formatC("%d\t", c) + out(reader.name(c)) + "\t" + out(reader.unit(c)) +
            platform::formatC("\t%lld\t%.17g\t%d\n", static_cast<long long>(reader.frames(c)), reader.clk(c),
                              reader.pchan(c));
  }
  std::fwrite(text.data(), 1, text.size(), stdout);
  return 0;
}

int dump(int argc, char** argv) {
  if (argc < 4) return usage();
  int64_t channel = 0, from = 0, count = -1, bit = -1;
  if (!parseInt(argv[3], channel)) return usage();
  for (int i = 4; i < argc; i += 2) {
    int64_t* target = std::strcmp(argv[i], "--from") == 0    ? &from
                      : std::strcmp(argv[i], "--count") == 0 ? &count
                      : std::strcmp(argv[i], "--bit") == 0   ? &bit
                                                             : nullptr;
    if (!target || i + 1 >= argc || !parseInt(argv[i + 1], *target)) return usage();
  }
  if (from < 0 || bit < -1 || bit > 63) return usage();
  DataFileReader reader;
  if (!openFile(reader, argv[2])) return 1;
  if (channel < 0 || channel >= reader.channelCount()) {
    std::fprintf(stderr, "morvel-data: %s\n", out("Kanal " + std::to_string(channel) + " gibt es nicht").c_str());
    return 1;
  }
  const int c = static_cast<int>(channel);
  int64_t left = reader.frames(c) - from;
  if (count >= 0 && count < left) left = count;
  reader.seek(c, from);
  std::vector<double> buf(65536);
  std::string text;
  char line[64];
  while (left > 0) {
    int64_t want = left < static_cast<int64_t>(buf.size()) ? left : static_cast<int64_t>(buf.size());
    int64_t got = reader.read(buf.data(), c, want, static_cast<int>(bit));
    if (got <= 0) break;
    text.clear();
    for (int64_t i = 0; i < got; ++i) {
      int len = platform::formatC(line, sizeof line, "%.17g\n", buf[static_cast<size_t>(i)]);
      text.append(line, static_cast<size_t>(len));
    }
    std::fwrite(text.data(), 1, text.size(), stdout);
    left -= got;
  }
  return std::fflush(stdout) == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 3 && std::strcmp(argv[1], "info") == 0 && argc == 3) return info(argv[2]);
  if (argc >= 2 && std::strcmp(argv[1], "dump") == 0) return dump(argc, argv);
  return usage();
}
