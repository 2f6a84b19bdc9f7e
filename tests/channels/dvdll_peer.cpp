// Second process for the channel-library tests; every mode prints result
// lines on standard output.
//   writer SEED TOTAL MAXBLOCK     lays out 256 channels, prints "ready", waits
//                                  for a line, then writes k mod 2^24 as floats
//                                  to channel 0 in random block sizes, never
//                                  more than client 1 has room for
//   reader SEED TOTAL MAXBLOCK     client 1 checks every sample in order
//   fill VALUE COUNT               defines one channel, writes COUNT samples of
//                                  VALUE and header fields; then waits for EOF
//   sees VALUE COUNT               checks what "fill" left
//   zero                           checks that both areas are all zero
//   noattach                       every call must be a harmless no-op
//   state                          prints the state text
#include <fcntl.h>
#include <sched.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "channels/dvdll.h"

namespace {

constexpr int kChannels = 256;

void wait_for_eof() {
  char buf[256];
  while (read(0, buf, sizeof buf) > 0) {}
}

int writer(unsigned seed, long total, int maxblock) {
  DV_SetNrOfChan(kChannels);
  DV_SetChanDef(0, 7, "1", "Folge", "-", "+", 0.001, 0, 1, 0, 1, 0);
  const int len = dvdll::RingLength(kChannels);
  if (maxblock >= len) return 2;
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> size(1, maxblock);
  std::vector<float> block(static_cast<size_t>(maxblock));
  printf("ready\n");
  fflush(stdout);
  char go[16];
  if (read(0, go, sizeof go) <= 0) return 3;
  uint32_t k = 0;
  for (long done = 0; done < total;) {
    int n = static_cast<int>(std::min<long>(size(rng), total - done));
    // The ring cannot tell full from empty: keep the backlog below L.
    while (DV_CheckChanEx(DVCLIENT_1, 0) + n >= len) sched_yield();
    for (int i = 0; i < n; ++i) {
      block[static_cast<size_t>(i)] = static_cast<float>(k);
      k = (k + 1) & 0xFFFFFF;
    }
    if (n & 1)
      DV_WriteChan(0, reinterpret_cast<unsigned char*>(block.data()), n);
    else
      DV_WriteChanFloat(0, block.data(), n);
    done += n;
  }
  printf("written %ld\n", total);
  return 0;
}

int reader(unsigned seed, long total, int maxblock) {
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> size(1, maxblock);
  std::vector<float> block(static_cast<size_t>(maxblock));
  DV_Register(DVCLIENT_1, 0);
  printf("ready\n");
  fflush(stdout);
  // Until the writer has laid out its channels there is nothing to read
  // (EX_GetDataAvailable reports its "no channels" count then).
  while (DV_GetNrOfChan() == 0) sched_yield();
  uint32_t k = 0;
  long wraps_seen = 0;
  for (long done = 0; done < total;) {
    int want = static_cast<int>(std::min<long>(size(rng), total - done));
    int n;
    if (rng() & 1) {
      int avail = DV_CheckChanEx(DVCLIENT_1, 0);
      n = std::min(avail, want);
      if (n == 0) {
        sched_yield();
        continue;
      }
      int after_wrap = DV_ReadChanEx(DVCLIENT_1, 0, reinterpret_cast<unsigned char*>(block.data()), n, 0);
      if (after_wrap != n) ++wraps_seen;
    } else {
      // The frozen path as an outside reader uses it.
      int avail = EX_GetDataAvailable(1);
      n = std::min(avail, want);
      if (n == 0) {
        sched_yield();
        continue;
      }
      EX_GetData(1, 0, reinterpret_cast<unsigned char*>(block.data()), n);
    }
    for (int i = 0; i < n; ++i) {
      if (block[static_cast<size_t>(i)] != static_cast<float>(k)) {
        printf("bad at %ld: got %.0f want %u\n", done + i, static_cast<double>(block[static_cast<size_t>(i)]), k);
        return 1;
      }
      k = (k + 1) & 0xFFFFFF;
    }
    done += n;
  }
  printf("ok %ld wraps %ld\n", total, wraps_seen);
  return 0;
}

int fill(float value, int count) {
  DV_SetNrOfChan(1);
  DV_SetChanDef(0, 42, "1", "gefuellt", "bar", "+", 0.5, -1, 1, -1, 1, 3);
  std::vector<float> v(static_cast<size_t>(count), value);
  DV_WriteChanFloat(0, v.data(), count);
  char text[] = "Zustand";
  DV_SetState(text);
  DV_Run(true);
  DV_DravonView(true);
  DV_Analogout(5, 1.25);
  DV_SetCommand(static_cast<ECOMMAND>(9));
  unsigned char blob[4] = {1, 2, 3, 4};
  DV_WriteBlob(blob, 999996, 4);
  printf("ready\n");
  fflush(stdout);
  wait_for_eof();
  return 0;
}

int sees(float value, int count) {
  std::string why;
  if (DV_GetNrOfChan() != 1) why += " channels";
  if (!DV_GetChanName(0) || strcmp(DV_GetChanName(0), "gefuellt") != 0) why += " name";
  if (DV_CheckChanEx(DVCLIENT_1, 0) != count) why += " count";
  std::vector<float> v(static_cast<size_t>(count));
  DV_ReadChanEx(DVCLIENT_1, 0, reinterpret_cast<unsigned char*>(v.data()), count, 0);
  if (std::any_of(v.begin(), v.end(), [&](float x) { return x != value; })) why += " samples";
  if (!DV_IsRunning() || !DV_IsDravonViewThere() || !DV_AnalogoutState(5) || DV_GetCommand() != 9) why += " flags";
  if (strcmp(DV_GetState(), "Zustand") != 0) why += " state";
  unsigned char blob[4] = {};
  DV_ReadBlob(blob, 999996, 4);
  if (blob[0] != 1 || blob[3] != 4) why += " blob";
  printf("%s\n", why.empty() ? "ok" : ("differs:" + why).c_str());
  return 0;
}

// Scans both areas byte by byte through a mapping of their names.
int zero() {
  const char* ns = getenv("DVDLL_NAMESPACE");
  if (!ns) return 2;
  struct Area {
    const char* suffix;
    size_t size;
  } areas[] = {{".dllmemfilemap", dvdll::kMainSize}, {".dllmemfilemapblob", dvdll::kBlobSize}};
  for (const Area& a : areas) {
    std::string name = std::string("/") + ns + a.suffix;
    int fd = shm_open(name.c_str(), O_RDONLY, 0);
    if (fd < 0) {
      printf("cannot open %s\n", name.c_str());
      return 1;
    }
    void* p = mmap(nullptr, a.size, PROT_READ, MAP_SHARED, fd, 0);
    close(fd);
    if (p == MAP_FAILED) return 1;
    const unsigned char* b = static_cast<const unsigned char*>(p);
    for (size_t i = 0; i < a.size; ++i)
      if (b[i]) {
        printf("%s not zero at %zu\n", a.suffix, i);
        return 0;
      }
    munmap(p, a.size);
  }
  printf("zero\n");
  return 0;
}

int noattach() {
  std::string bad;
  if (DV_IsAttached()) bad += " attached";
  DV_SetNrOfChan(3);
  DV_SetChanDef(0, 1, "a", "b", "c", "d", 1, 2, 3, 4, 5, 6);
  float f[4] = {1, 2, 3, 4};
  DV_WriteChanFloat(0, f, 4);
  char t[] = "x";
  DV_SetXUnit(t);
  DV_WriteCommand(t);
  DV_Analogout(1, 2.0);
  DV_Register(DVCLIENT_1, 5);
  unsigned char b[4];
  DV_WriteBlob(b, 0, 4);
  DV_ReadBlob(b, 0, 4);
  if (DV_GetNrOfChan() != 0 || DV_CheckChanEx(DVCLIENT_1, 0) != 0 ||
      DV_ReadChanEx(DVCLIENT_1, 0, b, 1, 0) != 0 || DV_GetChanName(0) || DV_GetXUnit() || DV_ReadCommand() ||
      DV_GetState() || DV_SetCommand(static_cast<ECOMMAND>(1)) || DV_IsRunning() || DV_AnalogoutGet(1) != 0.0 ||
      EX_GetDataAvailable(1) != 0 || EX_LoadConfig("x") || EX_Start(1))
    bad += " answers";
  printf("%s\n", bad.empty() ? "noop" : ("bad:" + bad).c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  std::string mode = argv[1];
  if (mode == "noattach") return noattach();
  if (!DV_IsAttached()) {
    printf("not attached\n");
    return 1;
  }
  if ((mode == "writer" || mode == "reader") && argc >= 5) {
    unsigned seed = static_cast<unsigned>(strtoul(argv[2], nullptr, 10));
    long total = strtol(argv[3], nullptr, 10);
    int maxblock = atoi(argv[4]);
    return mode == "writer" ? writer(seed, total, maxblock) : reader(seed, total, maxblock);
  }
  if (mode == "fill" && argc >= 4) return fill(static_cast<float>(atof(argv[2])), atoi(argv[3]));
  if (mode == "sees" && argc >= 4) return sees(static_cast<float>(atof(argv[2])), atoi(argv[3]));
  if (mode == "zero") return zero();
  if (mode == "state") {
    printf("%s\n", DV_GetState());
    return 0;
  }
  return 2;
}
