// Reading int16 channels to doubles with the data file reader, against a
// plain fread + convert loop over the same file, side by side in one run.
//
//   bench_datafiles [DIR] [SAMPLES]   (default: $TMPDIR or /tmp, 10^7)
//
// Writes two text-header files of 8 channels (linear, and block organisation
// with block length 10000), reads each once to have it in the page cache, then
// times both readers (best of five) and prints the ratio.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "datafiles/datafile.h"

using morvel::datafiles::DataFileReader;

namespace {

constexpr int kChannels = 8;
constexpr int64_t kBlock = 10000;
constexpr double kAmpli = 0.001, kOffset = 2.5;

bool writeFile(const std::string& path, int64_t n, bool block) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  const int64_t dataBytes = int64_t{kChannels} * n * 2;
  char lead[32] = "VORK64";
  uint64_t headerAt = 32 + static_cast<uint64_t>(dataBytes);
  std::memcpy(lead + 8, &headerAt, 8);
  std::fwrite(lead, 1, 32, f);
  std::vector<int16_t> buf(static_cast<size_t>(block ? kBlock : n));
  if (block) {
    for (int64_t b = 0; b < n / kBlock; ++b)
      for (int c = 0; c < kChannels; ++c) {
        for (int64_t i = 0; i < kBlock; ++i) buf[static_cast<size_t>(i)] = static_cast<int16_t>((b * kBlock + i) * (c + 1));
        std::fwrite(buf.data(), 2, buf.size(), f);
      }
  } else {
    for (int c = 0; c < kChannels; ++c) {
      for (int64_t i = 0; i < n; ++i) buf[static_cast<size_t>(i)] = static_cast<int16_t>(i * (c + 1));
      std::fwrite(buf.data(), 2, buf.size(), f);
    }
  }
  std::string h = "beginheader:\r\ntyp:int16\r\norg:" + std::string(block ? "block10000" : "linear") +
                  "\r\nframes:" + std::to_string(n) + "\r\nendheader:\r\n";
  for (int c = 0; c < kChannels; ++c) {
    int64_t offset = block ? 32 + c * kBlock * 2 : 32 + c * n * 2;
    h += "beginchannel:\r\nchannel_offset:" + std::to_string(offset) + "\r\nampli:0.001\r\noffset:2.5\r\nendchannel:\r\n";
  }
  std::fwrite(h.data(), 1, h.size(), f);
  return std::fclose(f) == 0;
}

double now() { return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count(); }

// The reader: every channel in pieces of 2^20 samples.
double viaReader(const std::string& path, std::vector<double>& out, int64_t n, bool all = false) {
  DataFileReader r;
  if (!r.open(path)) std::exit(1);
  double sum = 0;
  for (int c = 0; c < kChannels; ++c) {
    r.seek(c, 0);
    for (int64_t done = 0; done < n;) {
      int64_t got = r.read(out.data(), c, std::min<int64_t>(n - done, static_cast<int64_t>(out.size())));
      if (got <= 0) std::exit(1);
      for (int64_t i = all ? 0 : got - 1; i < got; ++i) sum += out[static_cast<size_t>(i)];
      done += got;
    }
  }
  return sum;
}

// The peer: fread of the stored runs and a conversion loop.
double viaFread(const std::string& path, std::vector<double>& out, int64_t n, bool block, bool all = false) {
  FILE* f = std::fopen(path.c_str(), "rb");
  std::vector<int16_t> raw(out.size());
  double sum = 0;
  for (int c = 0; c < kChannels; ++c) {
    for (int64_t done = 0; done < n;) {
      int64_t want = std::min<int64_t>(n - done, static_cast<int64_t>(out.size()));
      int64_t at;
      if (block) {
        int64_t b = done / kBlock;
        want = std::min(want, kBlock - done % kBlock);
        at = 32 + b * kChannels * kBlock * 2 + c * kBlock * 2 + (done % kBlock) * 2;
      } else {
        at = 32 + (c * n + done) * 2;
      }
      fseeko(f, at, SEEK_SET);
      if (std::fread(raw.data(), 2, static_cast<size_t>(want), f) != static_cast<size_t>(want)) std::exit(1);
      for (int64_t i = 0; i < want; ++i) out[static_cast<size_t>(i)] = raw[static_cast<size_t>(i)] * kAmpli + kOffset;
      for (int64_t i = all ? 0 : want - 1; i < want; ++i) sum += out[static_cast<size_t>(i)];
      done += want;
    }
  }
  std::fclose(f);
  return sum;
}

}  // namespace

int main(int argc, char** argv) {
  const char* tmp = std::getenv("TMPDIR");
  std::string dir = argc > 1 ? argv[1] : (tmp && *tmp ? tmp : "/tmp");
  int64_t n = argc > 2 ? std::atoll(argv[2]) : 10000000;
  n -= n % kBlock;
  std::vector<double> out(1 << 20);
  for (bool block : {false, true}) {
    std::string path = dir + (block ? "/bench-block.vdt" : "/bench-linear.vdt");
    if (!writeFile(path, n, block)) return 1;
    // Same samples from both (and the file in the page cache).
    double a = viaReader(path, out, n, true), b = viaFread(path, out, n, block, true);
    if (a != b) {
      std::fprintf(stderr, "results differ: %.17g %.17g\n", a, b);
      return 1;
    }
    double best[2] = {1e9, 1e9};
    for (int round = 0; round < 5; ++round) {
      double t0 = now();
      viaReader(path, out, n);
      double t1 = now();
      viaFread(path, out, n, block);
      double t2 = now();
      best[0] = std::min(best[0], t1 - t0);
      best[1] = std::min(best[1], t2 - t1);
    }
    std::printf("%-6s %d x %lld int16: reader %.3f s, fread+convert %.3f s, ratio %.2f\n", block ? "block" : "linear",
                kChannels, static_cast<long long>(n), best[0], best[1], best[0] / best[1]);
    std::remove(path.c_str());
  }
  return 0;
}
