// Shared helpers of the channel-library tests: a second, independent mapping
// of the main area to look at its raw bytes.
#pragma once

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "channels/dvdll.h"

class RawArea {
public:
  RawArea() {
    const char* ns = getenv("DVDLL_NAMESPACE");
    if (!ns) return;
    int fd = shm_open((std::string("/") + ns + ".dllmemfilemap").c_str(), O_RDWR, 0);
    if (fd < 0) return;
    void* p = mmap(nullptr, dvdll::kMainSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    close(fd);
    if (p != MAP_FAILED) p_ = static_cast<unsigned char*>(p);
  }
  ~RawArea() {
    if (p_) munmap(p_, dvdll::kMainSize);
  }
  bool ok() const { return p_ != nullptr; }
  unsigned char* at(size_t off) { return p_ + off; }

  template <class T>
  T get(size_t off) const {
    T v;
    memcpy(&v, p_ + off, sizeof v);
    return v;
  }
  template <class T>
  void put(size_t off, T v) {
    memcpy(p_ + off, &v, sizeof v);
  }
  int32_t i32(size_t off) const { return get<int32_t>(off); }
  std::string text(size_t off) const { return reinterpret_cast<const char*>(p_ + off); }

  // Byte offset of the record of channel i for client k with n channels.
  static size_t record(int n, int k, int i) { return 872 + 456 * (static_cast<size_t>(k) * n + i); }

private:
  unsigned char* p_ = nullptr;
};

// Record field offsets.
enum : size_t {
  kMstnr = 0, kName = 10, kUnit = 266, kPolarity = 286, kPChan = 368, kRangeLow = 376, kRangeHigh = 384,
  kRangeLow2 = 392, kRangeHigh2 = 400, kClkrate = 408, kDigMsk = 416, kBufOffset = 420, kWritePos = 432,
  kReadPos = 436, kFrozenWritePos = 440, kFrozenReadPos = 444, kBufLen = 448
};
