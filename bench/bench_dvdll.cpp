// Channel library between two processes against a bare shared-memory
// single-producer ring doing the same two copies, side by side in one run:
//   Throughput/<lib>/<block>: the writer (this process) appends 32 Mi samples
//     in blocks of <block>; the reader process reads them in blocks of the
//     same size. Time per 32 Mi samples.
//   Latency/<lib>: one sample from this process to a busy-polling reader
//     process, which answers with one sample on a second channel (round trip).
// The ratios are printed at the end.
#include <benchmark/benchmark.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "channels/dvdll.h"

namespace {

constexpr long kTotal = 32L << 20;  // samples per throughput iteration
constexpr int kMaxBlock = 1 << 20;

// ---- the bare ring: positions on their own cache lines, then the samples ----

struct alignas(64) BareRing {
  alignas(64) uint32_t write_pos;
  alignas(64) uint32_t read_pos;
  alignas(64) float* data;
};

constexpr uint32_t kBareLen = static_cast<uint32_t>(dvdll::RingLength(1));
// Where the samples start in the bare ring's mapping (BENCH_BARE_OFFSET). By
// default at the channel ring's offset, so that both copy to and from
// addresses of the same alignment: memcpy speed depends on how source and
// destination lie relative to a cache line by up to 40 %.
size_t g_bare_offset = static_cast<size_t>(dvdll::RingOffset(1, 0));
constexpr size_t kBareBytes = 8192 + static_cast<size_t>(kBareLen) * 4;

BareRing* g_bare[2];

inline uint32_t bare_avail(const BareRing* r) {
  uint32_t w = std::atomic_ref<const uint32_t>(r->write_pos).load(std::memory_order_acquire);
  uint32_t rd = std::atomic_ref<const uint32_t>(r->read_pos).load(std::memory_order_acquire);
  return w >= rd ? w - rd : w + kBareLen - rd;
}

inline void bare_write(BareRing* r, const float* src, uint32_t n) {
  uint32_t w = std::atomic_ref<uint32_t>(r->write_pos).load(std::memory_order_relaxed);
  uint32_t room = kBareLen - w;
  if (n > room) {
    memcpy(r->data + w, src, room * 4ul);
    src += room;
    n -= room;
    w = 0;
  }
  memcpy(r->data + w, src, n * 4ul);
  std::atomic_ref<uint32_t>(r->write_pos).store(w + n, std::memory_order_release);
}

inline void bare_read(BareRing* r, float* dst, uint32_t n) {
  uint32_t rd = std::atomic_ref<uint32_t>(r->read_pos).load(std::memory_order_relaxed);
  uint32_t room = kBareLen - rd;
  if (n > room) {
    memcpy(dst, r->data + rd, room * 4ul);
    dst += room;
    n -= room;
    rd = 0;
  }
  memcpy(dst, r->data + rd, n * 4ul);
  std::atomic_ref<uint32_t>(r->read_pos).store(rd + n, std::memory_order_release);
}

// Sample buffers on a cache-line boundary, the same for every variant.
struct Buffer {
  explicit Buffer(size_t n) : p(static_cast<float*>(std::aligned_alloc(64, (n * 4 + 63) / 64 * 64))), size(n) {}
  ~Buffer() { std::free(p); }
  float* data() { return p; }
  float* p;
  size_t size;
};

// ---- the reader process ----------------------------------------------------

enum Kind : int { kQuit, kThroughputDvdll, kThroughputBare, kLatencyDvdll, kLatencyBare };
struct Command {
  int kind;
  int block;
  long count;
};

int g_cmd_pipe = -1, g_done_pipe = -1;
pid_t g_child = -1;

void child_loop(int cmd_fd, int done_fd) {
  Buffer buf(kMaxBlock);
  Command c;
  while (read(cmd_fd, &c, sizeof c) == static_cast<ssize_t>(sizeof c) && c.kind != kQuit) {
    auto* dst = reinterpret_cast<unsigned char*>(buf.data());
    switch (c.kind) {
      case kThroughputDvdll:
        for (long got = 0; got < c.count;) {
          int n = std::min(DV_CheckChanEx(DVCLIENT_1, 0), c.block);
          if (n == 0) continue;
          DV_ReadChanEx(DVCLIENT_1, 0, dst, n, 0);
          got += n;
        }
        break;
      case kThroughputBare:
        for (long got = 0; got < c.count;) {
          uint32_t n = std::min(bare_avail(g_bare[0]), static_cast<uint32_t>(c.block));
          if (n == 0) continue;
          bare_read(g_bare[0], buf.data(), n);
          got += n;
        }
        break;
      case kLatencyDvdll:
        for (long i = 0; i < c.count; ++i) {
          while (DV_CheckChanEx(DVCLIENT_1, 0) == 0) {}
          DV_ReadChanEx(DVCLIENT_1, 0, dst, 1, 0);
          DV_WriteChanFloat(1, buf.data(), 1);
        }
        break;
      case kLatencyBare:
        for (long i = 0; i < c.count; ++i) {
          while (bare_avail(g_bare[0]) == 0) {}
          bare_read(g_bare[0], buf.data(), 1);
          bare_write(g_bare[1], buf.data(), 1);
        }
        break;
    }
    char done = 1;
    if (write(done_fd, &done, 1) != 1) break;
  }
  _exit(0);
}

void order(int kind, int block, long count) {
  Command c{kind, block, count};
  if (write(g_cmd_pipe, &c, sizeof c) != static_cast<ssize_t>(sizeof c)) abort();
}

void await_done() {
  char d;
  if (read(g_done_pipe, &d, 1) != 1) abort();
}

// ---- benchmarks --------------------------------------------------------------

void Throughput(benchmark::State& state, bool bare) {
  const int block = static_cast<int>(state.range(0));
  Buffer src(static_cast<size_t>(block));
  for (size_t i = 0; i < src.size; ++i) src.p[i] = static_cast<float>(i);
  if (!bare) {
    DV_SetNrOfChan(1);
  } else {
    g_bare[0]->write_pos = g_bare[0]->read_pos = 0;
  }
  const int32_t len = bare ? static_cast<int32_t>(kBareLen) : dvdll::RingLength(1);
  for (auto _ : state) {
    order(bare ? kThroughputBare : kThroughputDvdll, block, kTotal);
    for (long done = 0; done < kTotal; done += block) {
      if (bare) {
        while (static_cast<int32_t>(bare_avail(g_bare[0])) + block >= len) {}
        bare_write(g_bare[0], src.data(), static_cast<uint32_t>(block));
      } else {
        while (DV_CheckChanEx(DVCLIENT_1, 0) + block >= len) {}
        DV_WriteChanFloat(0, src.data(), block);
      }
    }
    await_done();
  }
  state.SetBytesProcessed(state.iterations() * kTotal * 4);
}

void Latency(benchmark::State& state, bool bare) {
  if (!bare) {
    DV_SetNrOfChan(2);
  } else {
    g_bare[0]->write_pos = g_bare[0]->read_pos = 0;
    g_bare[1]->write_pos = g_bare[1]->read_pos = 0;
  }
  float one = 1.0f, back;
  order(bare ? kLatencyBare : kLatencyDvdll, 1, static_cast<long>(state.max_iterations));
  for (auto _ : state) {
    if (bare) {
      bare_write(g_bare[0], &one, 1);
      while (bare_avail(g_bare[1]) == 0) {}
      bare_read(g_bare[1], &back, 1);
    } else {
      DV_WriteChanFloat(0, &one, 1);
      while (DV_CheckChanEx(DVCLIENT_2, 1) == 0) {}
      DV_ReadChanEx(DVCLIENT_2, 1, reinterpret_cast<unsigned char*>(&back), 1, 0);
    }
  }
  await_done();
}

class Collect : public benchmark::ConsoleReporter {
public:
  std::map<std::string, double> times;  // name -> median real time per iteration
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs)
      if (!r.error_occurred && r.run_type == Run::RT_Aggregate && r.aggregate_name == "median")
        times[r.run_name.function_name + (r.run_name.args.empty() ? "" : "/" + r.run_name.args)] =
            r.GetAdjustedRealTime();
    ConsoleReporter::ReportRuns(runs);
  }
};

double find(const std::map<std::string, double>& m, const std::string& name) {
  auto it = m.find(name);
  return it != m.end() ? it->second : 0;
}

}  // namespace

int main(int argc, char** argv) {
  // A namespace of our own so a live system is never touched.
  if (!getenv("DVDLL_NAMESPACE")) {
    std::string ns = "morvel-bench-" + std::to_string(getpid());
    setenv("DVDLL_NAMESPACE", ns.c_str(), 1);
    execv("/proc/self/exe", argv);
    perror("execv");
    return 1;
  }
  if (!DV_IsAttached()) {
    fprintf(stderr, "channel library not attached\n");
    return 1;
  }
  if (const char* off = getenv("BENCH_BARE_OFFSET")) g_bare_offset = static_cast<size_t>(atoi(off)) & ~size_t{3};
  if (g_bare_offset < 192 || g_bare_offset > 8192) g_bare_offset = static_cast<size_t>(dvdll::RingOffset(1, 0));
  for (auto& b : g_bare) {
    void* p = mmap(nullptr, kBareBytes, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
    if (p == MAP_FAILED) return 1;
    b = static_cast<BareRing*>(p);
    b->data = reinterpret_cast<float*>(static_cast<char*>(p) + g_bare_offset);
  }
  int cmd[2], done[2];
  if (pipe(cmd) != 0 || pipe(done) != 0) return 1;
  g_child = fork();
  if (g_child == 0) {
    close(cmd[1]);
    close(done[0]);
    child_loop(cmd[0], done[1]);
  }
  close(cmd[0]);
  close(done[1]);
  g_cmd_pipe = cmd[1];
  g_done_pipe = done[0];

  const int sizes[] = {256, 4096, 65536, 1048576};
  for (int s : sizes) {
    benchmark::RegisterBenchmark("Throughput/bare", Throughput, true)->Arg(s)->UseRealTime()->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("Throughput/dvdll", Throughput, false)->Arg(s)->UseRealTime()->Unit(benchmark::kMillisecond);
  }
  benchmark::RegisterBenchmark("Latency/bare", Latency, true)->UseRealTime()->Unit(benchmark::kNanosecond);
  benchmark::RegisterBenchmark("Latency/dvdll", Latency, false)->UseRealTime()->Unit(benchmark::kNanosecond);

  // Medians of interleaved repetitions unless the command line says otherwise.
  std::vector<char*> args(argv, argv + argc);
  std::string reps = "--benchmark_repetitions=7", mix = "--benchmark_enable_random_interleaving=true";
  bool has_reps = false;
  for (char* a : args) has_reps = has_reps || std::string(a).rfind("--benchmark_repetitions", 0) == 0;
  if (!has_reps) {
    args.push_back(reps.data());
    args.push_back(mix.data());
  }
  int nargs = static_cast<int>(args.size());
  benchmark::Initialize(&nargs, args.data());
  Collect reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  order(kQuit, 0, 0);
  waitpid(g_child, nullptr, 0);
  // The namespace was ours alone: its lock object can go now (the areas go
  // when this process detaches).
  if (std::string(getenv("DVDLL_NAMESPACE")).rfind("morvel-bench-", 0) == 0)
    shm_unlink(("/" + std::string(getenv("DVDLL_NAMESPACE")) + ".dllmemfilemap.lock").c_str());

  printf("\nRatios (medians of the repetitions, same run):\n");
  for (int s : sizes) {
    std::string a = "/" + std::to_string(s);
    double bare = find(reporter.times, "Throughput/bare" + a), lib = find(reporter.times, "Throughput/dvdll" + a);
    if (bare > 0 && lib > 0)
      printf("  throughput, block %7d: dvdll reaches %.2f x the bare ring (goal >= %.1f)\n", s, bare / lib,
             s >= 4096 ? 0.9 : 0.8);
  }
  double bl = find(reporter.times, "Latency/bare"), ll = find(reporter.times, "Latency/dvdll");
  if (bl > 0 && ll > 0) printf("  latency round trip: dvdll %.0f ns, bare %.0f ns, %.2f x (goal <= 2)\n", ll, bl, ll / bl);
  return 0;
}
