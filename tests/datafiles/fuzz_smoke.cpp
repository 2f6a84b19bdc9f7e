// Drives the fuzz entry without libFuzzer: the seeds, then deterministic
// mutations of them (byte changes, cuts, inserted header keys). A short run
// is part of the tests; `fuzz_datafiles_smoke N` runs N mutations,
// `fuzz_datafiles_smoke --seeds DIR` writes the seeds as a fuzzer corpus.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
std::vector<std::string> fuzzSeeds();

namespace {

uint64_t state = 0x9E3779B97F4A7C15ull;
uint64_t next() {
  state ^= state << 13;
  state ^= state >> 7;
  state ^= state << 17;
  return state;
}
size_t below(size_t n) { return n ? static_cast<size_t>(next() % n) : 0; }

const char* const kTokens[] = {
    "beginchannel:\n", "endchannel:\n", "beginheader:\n", "DCT:\n", "DCTend:\n", "org:block", "org:block0\n",
    "PTFrames:", "PTBlocks:", "PTReadPos:", "frames:", "channel_offset:", "typ:digital16.", "typ:digital\n",
    "typ:real64\n", "$Takt:", "$Marke1:", "-9223372036854775808", "9223372036854775807", "4294967295", "0\n",
    "-1\n", "\r\n", "\xFF\xFF\xFF\x7F", "\x00\x00\x00\x80"};

void mutate(std::string& s) {
  int steps = 1 + static_cast<int>(below(4));
  for (int i = 0; i < steps; ++i) {
    size_t at = below(s.size() + 1);
    switch (below(6)) {
      case 0:
        if (!s.empty()) s[below(s.size())] = static_cast<char>(next());
        break;
      case 1: s.insert(at, kTokens[below(sizeof kTokens / sizeof *kTokens)]); break;
      case 2: s.erase(at, below(16)); break;
      case 3: s.resize(below(s.size() + 1)); break;
      case 4:
        if (s.size() >= 8) {
          uint64_t v = next();
          std::memcpy(&s[below(s.size() - 7)], &v, below(2) ? 8 : 4);
        }
        break;
      default:
        if (!s.empty()) s[0] = static_cast<char>(next());
        break;
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> seeds = fuzzSeeds();
  if (argc == 3 && std::strcmp(argv[1], "--seeds") == 0) {
    for (size_t i = 0; i < seeds.size(); ++i)
      std::ofstream(std::string(argv[2]) + "/seed" + std::to_string(i), std::ios::binary) << seeds[i];
    return 0;
  }
  long runs = argc > 1 ? std::atol(argv[1]) : 2000;
  for (const auto& s : seeds) LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(s.data()), s.size());
  for (long i = 0; i < runs; ++i) {
    std::string s = seeds[below(seeds.size())];
    mutate(s);
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(s.data()), s.size());
  }
  std::printf("%ld inputs\n", runs + static_cast<long>(seeds.size()));
  return 0;
}
