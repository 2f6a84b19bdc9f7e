// The channel exchange library: both shared areas, attach/detach counting and
// every exported function. No function takes a lock or makes a system call
// after attach, except the window messages of the EX_ requests.
#include "channels/dvdll.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "wndmsg/wndmsg.h"

using namespace dvdll;

static_assert(sizeof(ChannelRecord) == 456);
static_assert(offsetof(ChannelRecord, Mstnr) == 0);
static_assert(offsetof(ChannelRecord, Name) == 10);
static_assert(offsetof(ChannelRecord, Unit) == 266);
static_assert(offsetof(ChannelRecord, Polarity) == 286);
static_assert(offsetof(ChannelRecord, PChan) == 368);
static_assert(offsetof(ChannelRecord, reserved1) == 372);
static_assert(offsetof(ChannelRecord, RangeLow) == 376);
static_assert(offsetof(ChannelRecord, RangeHigh) == 384);
static_assert(offsetof(ChannelRecord, RangeLow2) == 392);
static_assert(offsetof(ChannelRecord, RangeHigh2) == 400);
static_assert(offsetof(ChannelRecord, Clkrate) == 408);
static_assert(offsetof(ChannelRecord, DigMsk) == 416);
static_assert(offsetof(ChannelRecord, BufOffset) == 420);
static_assert(offsetof(ChannelRecord, reserved2) == 424);
static_assert(offsetof(ChannelRecord, WritePos) == 432);
static_assert(offsetof(ChannelRecord, ReadPos) == 436);
static_assert(offsetof(ChannelRecord, FrozenWritePos) == 440);
static_assert(offsetof(ChannelRecord, FrozenReadPos) == 444);
static_assert(offsetof(ChannelRecord, BufLen) == 448);
static_assert(offsetof(ChannelRecord, reserved3) == 452);

static_assert(sizeof(Header) == kHeaderSize);
static_assert(offsetof(Header, NrOfChan) == 0);
static_assert(offsetof(Header, ViewFlag) == 4);
static_assert(offsetof(Header, reserved1) == 5);
static_assert(offsetof(Header, ClientWnd) == 8);
static_assert(offsetof(Header, Command) == 28);
static_assert(offsetof(Header, CommandText) == 32);
static_assert(offsetof(Header, RunFlag) == 288);
static_assert(offsetof(Header, reserved2) == 289);
static_assert(offsetof(Header, XUnit) == 296);
static_assert(offsetof(Header, AnalogoutValue) == 328);
static_assert(offsetof(Header, AnalogoutNew) == 584);
static_assert(offsetof(Header, State) == 616);
static_assert(sizeof(HWND) == 4 && sizeof(DVCLIENT) == 4 && sizeof(ECOMMAND) == 4);
static_assert(RingLength(1) == 16776760 && RingLength(5) == 3354896 && RingLength(16) == 1048013 &&
              RingLength(256) == 64966 && RingLength(kMaxChannels) == 1 && RingLength(kMaxChannels + 1) == 0);
static_assert(RingOffset(5, 0) == 12272);
static_assert(std::atomic_ref<int32_t>::is_always_lock_free && std::atomic_ref<uint32_t>::is_always_lock_free &&
              std::atomic_ref<uint8_t>::is_always_lock_free && std::atomic_ref<double>::is_always_lock_free);

DVDLL_API int nDVDLL = 0;

CDVDLL::CDVDLL() {}
CDVDLL& CDVDLL::operator=(const CDVDLL&) { return *this; }

namespace {

unsigned char* g_main = nullptr;
unsigned char* g_blob = nullptr;
bool g_attached = false;
int g_lock_fd = -1;
pid_t g_attach_pid = 0;
std::string g_main_name, g_blob_name;

constexpr int kExTimeoutMs = 10000;

// Ring length by channel count, so the channel path divides nothing.
struct LengthTable {
  int32_t len[kMaxChannels + 1];
  constexpr LengthTable() : len() {
    for (int n = 0; n <= kMaxChannels; ++n) len[n] = RingLength(n);
  }
};
constexpr LengthTable kLengths;

inline Header* hdr() { return reinterpret_cast<Header*>(g_main); }
inline ChannelRecord* table() { return reinterpret_cast<ChannelRecord*>(g_main + kHeaderSize); }

template <class T>
inline T load(T& x) {
  return std::atomic_ref<T>(x).load(std::memory_order_acquire);
}
template <class T>
inline void store(T& x, T v) {
  std::atomic_ref<T>(x).store(v, std::memory_order_release);
}

void copy_text(char* dst, size_t size, const char* src) {
  size_t n = src ? strnlen(src, size - 1) : 0;
  if (n) memcpy(dst, src, n);
  dst[n] = 0;
}

// The channel count, or 0 when not attached or out of range.
inline int channel_count() {
  if (!g_attached) return 0;
  int n = load(hdr()->NrOfChan);
  return (n >= 1 && n <= kMaxChannels) ? n : 0;
}

// The master record of a defined channel, or null.
inline ChannelRecord* master(int chan) {
  int n = channel_count();
  return (chan >= 0 && chan < n) ? &table()[chan] : nullptr;
}

// One channel as seen by one client, after checking that the records agree
// with the geometry of the current channel count. A writer that relaid the
// rings meanwhile makes this fail, so no access can leave the area.
struct Ring {
  float* base;
  int32_t len;
  ChannelRecord* master;
  ChannelRecord* mine;
};

inline bool ring(int client, int chan, Ring& r) {
  if (client < 0 || client >= kClients || chan < 0) return false;
  int n = channel_count();
  if (chan >= n) return false;
  const int32_t len = kLengths.len[n];
  const int64_t off = static_cast<int64_t>(kHeaderSize) + 2280LL * n + 4LL * len * chan;
  ChannelRecord* m = &table()[chan];
  ChannelRecord* c = &table()[static_cast<int64_t>(client) * n + chan];
  // The writer lays out every copy before it publishes the count, so the
  // caller's own copy tells whether the layout is still the one of n. The
  // ring is addressed from n alone either way.
  if (load(c->BufLen) != len || load(c->BufOffset) != off) return false;
  r.base = reinterpret_cast<float*>(g_main + off);
  r.len = len;
  r.master = m;
  r.mine = c;
  return true;
}

inline bool valid_pos(int32_t p, int32_t len) { return p >= 0 && p <= len; }

inline int32_t distance(int32_t from, int32_t to, int32_t len) {
  int32_t d = to - from;
  return d < 0 ? d + len : d;
}

void append(int chan, const unsigned char* src, int count) {
  Ring r;
  if (!src || count <= 0 || !ring(0, chan, r)) return;
  const int32_t len = r.len;
  int32_t wp = load(r.master->WritePos);
  if (!valid_pos(wp, len)) wp = 0;
  // A block longer than the ring goes in chunks of at most one ring length.
  while (count > 0) {
    int32_t chunk = std::min(count, len);
    int32_t room = len - wp;
    if (chunk > room) {
      memcpy(r.base + wp, src, static_cast<size_t>(room) * 4);
      src += static_cast<size_t>(room) * 4;
      count -= room;
      chunk -= room;
      wp = 0;
      store(r.master->WritePos, wp);
    }
    memcpy(r.base + wp, src, static_cast<size_t>(chunk) * 4);
    src += static_cast<size_t>(chunk) * 4;
    count -= chunk;
    wp += chunk;
    store(r.master->WritePos, wp);
  }
}

// Copies count samples from position rp of the ring (wrapping once) and
// returns the new position; *after_wrap gets the count copied after the wrap
// (all of them when none).
int32_t copy_out(const Ring& r, int32_t rp, unsigned char* dst, int32_t count, int32_t* after_wrap) {
  int32_t room = r.len - rp;
  if (count > room) {
    memcpy(dst, r.base + rp, static_cast<size_t>(room) * 4);
    dst += static_cast<size_t>(room) * 4;
    count -= room;
    rp = 0;
  }
  memcpy(dst, r.base + rp, static_cast<size_t>(count) * 4);
  *after_wrap = count;
  return rp + count;
}

bool valid_client(int client) { return client >= 0 && client < kClients; }

void register_client(int client, HWND wnd) {
  if (!g_attached || !valid_client(client)) return;
  store(hdr()->ClientWnd[client], static_cast<uint32_t>(wnd));
  store(hdr()->ViewFlag, static_cast<uint8_t>(client == 0 ? 1 : 0));
}

bool ex_request(uintptr_t code, intptr_t lparam, const char* path) {
  if (!g_attached) return false;
  HWND wnd = load(hdr()->ClientWnd[4]);
  if (!wnd || !wm_is_alive(wnd)) return false;
  char saved[sizeof hdr()->CommandText];
  if (path) {
    memcpy(saved, hdr()->CommandText, sizeof saved);
    copy_text(hdr()->CommandText, sizeof hdr()->CommandText, path);
  }
  int status = WNDMSG_ERROR;
  wm_send(wnd, kExRequestMessage, code, lparam, kExTimeoutMs, &status);
  if (status == WNDMSG_OK) return true;
  // Not delivered: the text command stays as it was.
  if (path && status != WNDMSG_TIMEOUT) memcpy(hdr()->CommandText, saved, sizeof saved);
  return false;
}

// ---- attach and detach -------------------------------------------------------
//
// A lock object "<ns>.dllmemfilemap.lock" that is never removed carries two
// OFD byte locks: byte 0 is held exclusively while a process attaches or
// detaches, byte 1 is held shared by every attached process. A process that
// can take byte 1 exclusively is alone: on attach it starts new, zeroed areas
// (throwing away what a killed process left), on detach it removes the names.
// The kernel drops the locks of a process that dies.

int ofd_lock(int fd, short type, off_t byte, bool wait) {
  struct flock fl{};
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = byte;
  fl.l_len = 1;
  int r;
  do r = fcntl(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &fl);
  while (r != 0 && errno == EINTR);
  return r;
}

void report(const char* what, const std::string& name, int err) {
  fprintf(stderr, "DVDLL: %s %s: %s\n", what, name.c_str(), strerror(err));
}

unsigned char* map_area(const std::string& name, size_t size, bool create) {
  int fd = shm_open(name.c_str(), create ? (O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC) : (O_RDWR | O_CLOEXEC), 0600);
  if (fd < 0) {
    report("Gemeinsamer Speicher nicht verf\xC3\xBC" "gbar:", name, errno);
    return nullptr;
  }
  if (create) {
    // Reserve every page now: a full /dev/shm fails here, not later with SIGBUS.
    int err = posix_fallocate(fd, 0, static_cast<off_t>(size));
    if (err != 0) {
      report("Gemeinsamer Speicher zu klein f\xC3\xBCr", name, err);
      close(fd);
      return nullptr;
    }
  } else {
    struct stat st;
    if (fstat(fd, &st) != 0 || st.st_size != static_cast<off_t>(size)) {
      report("Gemeinsamer Speicher hat falsche Gr\xC3\xB6\xC3\x9F" "e:", name, EINVAL);
      close(fd);
      return nullptr;
    }
  }
  void* p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  int err = errno;
  close(fd);
  if (p == MAP_FAILED) {
    report("Gemeinsamer Speicher nicht einblendbar:", name, err);
    return nullptr;
  }
  return static_cast<unsigned char*>(p);
}

bool valid_namespace(const char* ns) {
  size_t n = strlen(ns);
  if (n == 0 || n > 200 || ns[0] == '.') return false;
  for (const char* p = ns; *p; ++p)
    if (*p == '/' || static_cast<unsigned char>(*p) < 0x21) return false;
  return true;
}

void attach() {
  std::string ns;
  const char* env = getenv("DVDLL_NAMESPACE");
  if (env && *env) {
    if (!valid_namespace(env)) {
      fprintf(stderr, "DVDLL: DVDLL_NAMESPACE \"%s\" ist ung\xC3\xBCltig (erlaubt sind 1 bis 200 sichtbare Zeichen "
              "ohne '/', nicht mit '.' am Anfang).\n", env);
      return;
    }
    ns = env;
  } else {
    char buf[32];
    snprintf(buf, sizeof buf, "morvel-%u", static_cast<unsigned>(getuid()));
    ns = buf;
  }
  g_main_name = "/" + ns + ".dllmemfilemap";
  g_blob_name = "/" + ns + ".dllmemfilemapblob";
  std::string lock_name = g_main_name + ".lock";

  g_lock_fd = shm_open(lock_name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (g_lock_fd < 0) {
    report("Sperrdatei nicht verf\xC3\xBC" "gbar:", lock_name, errno);
    return;
  }
  if (ofd_lock(g_lock_fd, F_WRLCK, 0, true) != 0) {
    report("Sperrdatei nicht sperrbar:", lock_name, errno);
    close(g_lock_fd);
    g_lock_fd = -1;
    return;
  }
  bool first = ofd_lock(g_lock_fd, F_WRLCK, 1, false) == 0;
  if (first) {
    shm_unlink(g_main_name.c_str());
    shm_unlink(g_blob_name.c_str());
  }
  g_main = map_area(g_main_name, kMainSize, first);
  if (g_main) g_blob = map_area(g_blob_name, kBlobSize, first);
  bool ok = g_main && g_blob && ofd_lock(g_lock_fd, F_RDLCK, 1, false) == 0;
  if (!ok) {
    if (g_main) munmap(g_main, kMainSize);
    if (g_blob) munmap(g_blob, kBlobSize);
    g_main = g_blob = nullptr;
    if (first) {
      shm_unlink(g_main_name.c_str());
      shm_unlink(g_blob_name.c_str());
    }
    close(g_lock_fd);  // drops both locks
    g_lock_fd = -1;
    return;
  }
  g_attached = true;
  g_attach_pid = getpid();
  ofd_lock(g_lock_fd, F_UNLCK, 0, false);
}

void detach() {
  if (!g_attached) return;
  if (getpid() != g_attach_pid) {
    // A forked child shares the parent's lock description: taking the locks
    // here would take the parent's, so only let go of the mappings.
    g_attached = false;
    munmap(g_main, kMainSize);
    munmap(g_blob, kBlobSize);
    return;
  }
  ofd_lock(g_lock_fd, F_WRLCK, 0, true);
  g_attached = false;
  munmap(g_main, kMainSize);
  munmap(g_blob, kBlobSize);
  g_main = g_blob = nullptr;
  if (ofd_lock(g_lock_fd, F_WRLCK, 1, false) == 0) {
    shm_unlink(g_main_name.c_str());
    shm_unlink(g_blob_name.c_str());
  }
  close(g_lock_fd);
  g_lock_fd = -1;
}

struct Attachment {
  Attachment() { attach(); }
  ~Attachment() { detach(); }
} g_attachment;

}  // namespace

// ---- writer -------------------------------------------------------------------

void DV_SetNrOfChan(int n) {
  if (!g_attached || n < 0 || n > kMaxChannels) return;
  if (n > 0) {
    const int32_t len = RingLength(n);
    ChannelRecord* t = table();
    for (int k = 0; k < kClients; ++k)
      for (int i = 0; i < n; ++i) {
        ChannelRecord& rec = t[static_cast<int64_t>(k) * n + i];
        store(rec.BufOffset, static_cast<int32_t>(RingOffset(n, i)));
        store(rec.BufLen, len);
        store(rec.WritePos, 0);
        store(rec.ReadPos, 0);
      }
  }
  store(hdr()->NrOfChan, static_cast<int32_t>(n));
}

void DV_SetChanDef(int chan, int pchan, const char* mstnr, const char* name, const char* unit, const char* polarity,
                   double clkrate, double rangeLow, double rangeHigh, double rangeLow2, double rangeHigh2,
                   int digmsk) {
  ChannelRecord* m = master(chan);
  if (!m) return;
  m->PChan = pchan;
  copy_text(m->Mstnr, sizeof m->Mstnr, mstnr);
  copy_text(m->Name, sizeof m->Name, name);
  copy_text(m->Unit, sizeof m->Unit, unit);
  copy_text(m->Polarity, sizeof m->Polarity, polarity);
  m->Clkrate = clkrate;
  m->RangeLow = rangeLow;
  m->RangeHigh = rangeHigh;
  m->RangeLow2 = rangeLow2;
  m->RangeHigh2 = rangeHigh2;
  m->DigMsk = digmsk;
}

void DV_SetChanName(int chan, char* text) {
  if (ChannelRecord* m = master(chan)) copy_text(m->Name, sizeof m->Name, text);
}
void DV_SetChanUnit(int chan, char* text) {
  if (ChannelRecord* m = master(chan)) copy_text(m->Unit, sizeof m->Unit, text);
}
void DV_SetChanPolarity(int chan, char* text) {
  if (ChannelRecord* m = master(chan)) copy_text(m->Polarity, sizeof m->Polarity, text);
}
void DV_SetChanClk(int chan, double clkrate) {
  if (ChannelRecord* m = master(chan)) m->Clkrate = clkrate;
}

void DV_WriteChan(int chan, unsigned char* samples, int count) { append(chan, samples, count); }

void DV_WriteChanFloat(int chan, float* samples, int count) {
  append(chan, reinterpret_cast<const unsigned char*>(samples), count);
}

void DV_WriteChanOneFloatValue(int chan, int* value) {
  append(chan, reinterpret_cast<const unsigned char*>(value), 1);
}

void DV_SetXUnit(char* text) {
  if (g_attached) copy_text(hdr()->XUnit, sizeof hdr()->XUnit, text);
}

void DV_Run(bool running) {
  if (g_attached) store(hdr()->RunFlag, static_cast<uint8_t>(running));
}

void DV_SetState(char* text) {
  if (g_attached) copy_text(hdr()->State, sizeof hdr()->State, text);
}

// ---- readers --------------------------------------------------------------------

void DV_SetMemPointer() {}

void DV_Register(DVCLIENT client, HWND wnd) { register_client(client, wnd); }

int DV_GetNrOfChan() { return g_attached ? load(hdr()->NrOfChan) : 0; }

const char* DV_GetChanName(int chan) {
  ChannelRecord* m = master(chan);
  return m ? m->Name : nullptr;
}
const char* DV_GetChanUnit(int chan) {
  ChannelRecord* m = master(chan);
  return m ? m->Unit : nullptr;
}
const char* DV_GetChanMstnr(int chan) {
  ChannelRecord* m = master(chan);
  return m ? m->Mstnr : nullptr;
}
int DV_GetChanPChan(int chan) {
  ChannelRecord* m = master(chan);
  return m ? m->PChan : 0;
}
double DV_GetChanClkrate(int chan) {
  ChannelRecord* m = master(chan);
  return m ? m->Clkrate : 0.0;
}
int DV_GetDigMsk(int chan) {
  ChannelRecord* m = master(chan);
  return m ? m->DigMsk : 0;
}

void DV_GetChanRange(int chan, double& rangeLow, double& rangeHigh, double& rangeLow2, double& rangeHigh2) {
  ChannelRecord* m = master(chan);
  if (!m) return;
  rangeLow = m->RangeLow;
  rangeHigh = m->RangeHigh;
  rangeLow2 = m->RangeLow2;
  rangeHigh2 = m->RangeHigh2;
}

void DV_GetChanDef(int chan, int* pchan, char* mstnr, char* name, char* unit, char* polarity, double* clkrate,
                   double* rangeLow, double* rangeHigh, int* digmsk) {
  ChannelRecord* m = master(chan);
  if (!m) return;
  if (pchan) *pchan = m->PChan;
  if (mstnr) copy_text(mstnr, sizeof m->Mstnr, m->Mstnr);
  if (name) copy_text(name, sizeof m->Name, m->Name);
  if (unit) copy_text(unit, sizeof m->Unit, m->Unit);
  if (polarity) copy_text(polarity, sizeof m->Polarity, m->Polarity);
  if (clkrate) *clkrate = m->Clkrate;
  if (rangeLow) *rangeLow = m->RangeLow;
  if (rangeHigh) *rangeHigh = m->RangeHigh;
  if (digmsk) *digmsk = m->DigMsk;
}

int DV_CheckChanEx(DVCLIENT client, int chan) {
  Ring r;
  if (!ring(client, chan, r)) return 0;
  int32_t wp = load(r.master->WritePos);
  int32_t rp = load(r.mine->ReadPos);
  if (!valid_pos(wp, r.len) || !valid_pos(rp, r.len)) return 0;
  return distance(rp, wp, r.len);
}

int DV_ReadChanEx(DVCLIENT client, int chan, unsigned char* dst, int count, int mode) {
  Ring r;
  if (!dst || count <= 0 || !ring(client, chan, r)) return 0;
  count = std::min(count, r.len);
  int32_t rp;
  if (mode == 1) {
    int32_t wp = load(r.master->WritePos);
    if (!valid_pos(wp, r.len)) return 0;
    rp = wp - count;
    if (rp < 0) rp += r.len;
  } else {
    rp = load(r.mine->ReadPos);
    if (!valid_pos(rp, r.len)) return 0;
  }
  int32_t after_wrap;
  store(r.mine->ReadPos, copy_out(r, rp, dst, count, &after_wrap));
  return after_wrap;
}

void DV_ResetBuffer(DVCLIENT client, int chan) {
  if (chan == -1) {
    int n = channel_count();
    for (int i = 0; i < n; ++i) DV_ResetBuffer(client, i);
    return;
  }
  Ring r;
  if (!ring(client, chan, r)) return;
  int32_t wp = load(r.master->WritePos);
  if (valid_pos(wp, r.len)) store(r.mine->ReadPos, wp);
}

void DV_FreezeBuffers(DVCLIENT client) {
  int n = channel_count();
  for (int i = 0; i < n; ++i) {
    Ring r;
    if (!ring(client, i, r)) continue;
    store(r.mine->FrozenWritePos, load(r.master->WritePos));
    store(r.mine->FrozenReadPos, load(r.mine->ReadPos));
  }
}

void DV_DefrostBuffers() {}

int DV_CheckChan(DVCLIENT client, int chan) {
  Ring r;
  if (!ring(client, chan, r)) return 0;
  int32_t fw = load(r.mine->FrozenWritePos);
  int32_t fr = load(r.mine->FrozenReadPos);
  if (!valid_pos(fw, r.len) || !valid_pos(fr, r.len)) return 0;
  return distance(fr, fw, r.len);
}

int DV_ReadChan(DVCLIENT client, int chan, unsigned char* dst, int count) {
  Ring r;
  if (!dst || count <= 0 || !ring(client, chan, r)) return 0;
  count = std::min(count, r.len);
  int32_t rp = load(r.mine->FrozenReadPos);
  if (!valid_pos(rp, r.len)) return 0;
  int32_t after_wrap;
  store(r.mine->ReadPos, copy_out(r, rp, dst, count, &after_wrap));
  return 0;
}

int DV_ReadChanFromEnd(DVCLIENT client, int chan, unsigned char* dst, int count) {
  Ring r;
  if (!dst || count <= 0 || !ring(client, chan, r)) return 0;
  count = std::min(count, r.len);
  int32_t fw = load(r.mine->FrozenWritePos);
  if (!valid_pos(fw, r.len)) return 0;
  int32_t start = fw - count;
  if (start < 0) {
    int32_t head = count - fw;  // taken from the end of the ring
    memcpy(dst, r.base + (r.len - head), static_cast<size_t>(head) * 4);
    memcpy(dst + static_cast<size_t>(head) * 4, r.base, static_cast<size_t>(fw) * 4);
  } else {
    memcpy(dst, r.base + start, static_cast<size_t>(count) * 4);
  }
  store(r.mine->ReadPos, fw);
  return 0;
}

char* DV_GetXUnit() { return g_attached ? hdr()->XUnit : nullptr; }

bool DV_IsRunning() { return g_attached && load(hdr()->RunFlag) != 0; }

char* DV_GetState() { return g_attached ? hdr()->State : nullptr; }

// ---- viewer flag -------------------------------------------------------------------

void DV_DravonView(bool present) {
  if (g_attached) store(hdr()->ViewFlag, static_cast<uint8_t>(present));
}

bool DV_IsDravonViewThere() { return g_attached && load(hdr()->ViewFlag) != 0; }

// ---- mailbox and text command ---------------------------------------------------------

bool DV_SetCommand(ECOMMAND cmd) {
  if (!g_attached) return false;
  int32_t expected = 0;
  return std::atomic_ref<int32_t>(hdr()->Command)
      .compare_exchange_strong(expected, static_cast<int32_t>(cmd), std::memory_order_acq_rel);
}

ECOMMAND DV_GetCommand() { return g_attached ? static_cast<ECOMMAND>(load(hdr()->Command)) : ECOMMAND_NONE; }

bool DV_IsCommandDone() { return !g_attached || load(hdr()->Command) == 0; }

void DV_QuitCommand() {
  if (g_attached) store(hdr()->Command, 0);
}

void DV_WriteCommand(char* text) {
  if (g_attached) copy_text(hdr()->CommandText, sizeof hdr()->CommandText, text);
}

char* DV_ReadCommand() { return g_attached ? hdr()->CommandText : nullptr; }

// ---- analogue outputs -------------------------------------------------------------------

void DV_Analogout(int index, double value) {
  if (!g_attached || index < 0 || index >= kAnalogOutputs) return;
  store(hdr()->AnalogoutValue[index], value);
  store(hdr()->AnalogoutNew[index], static_cast<uint8_t>(1));
}

bool DV_AnalogoutState(int index) {
  if (!g_attached || index < 0 || index >= kAnalogOutputs) return false;
  return load(hdr()->AnalogoutNew[index]) != 0;
}

double DV_AnalogoutGet(int index) {
  if (!g_attached || index < 0 || index >= kAnalogOutputs) return 0.0;
  std::atomic_ref<uint8_t>(hdr()->AnalogoutNew[index]).exchange(0, std::memory_order_acq_rel);
  return load(hdr()->AnalogoutValue[index]);
}

// ---- blob area ---------------------------------------------------------------------------

static bool blob_range(const void* p, int offset, int count) {
  return g_attached && p && offset >= 0 && count > 0 &&
         static_cast<int64_t>(offset) + static_cast<int64_t>(count) <= static_cast<int64_t>(kBlobSize);
}

void DV_WriteBlob(unsigned char* src, int offset, int count) {
  if (blob_range(src, offset, count)) memcpy(g_blob + offset, src, static_cast<size_t>(count));
}

void DV_ReadBlob(unsigned char* dst, int offset, int count) {
  if (blob_range(dst, offset, count)) memcpy(dst, g_blob + offset, static_cast<size_t>(count));
}

// ---- plain-named exports --------------------------------------------------------------------

bool DV_IsAttached() { return g_attached; }

void EX_Register(int client, HWND wnd) { register_client(client, wnd); }

bool EX_LoadConfig(const char* path) { return ex_request(1, 0, path ? path : ""); }
bool EX_SetDataPath(const char* path) { return ex_request(2, 0, path ? path : ""); }
bool EX_Start(int param) { return ex_request(3, param, nullptr); }
bool EX_Stop() { return ex_request(4, 0, nullptr); }

int EX_GetChannelCount() { return DV_GetNrOfChan(); }

void EX_GetChannelDef(int chan, int* pchan, char* mstnr, char* name, char* unit) {
  DV_GetChanDef(chan, pchan, mstnr, name, unit, nullptr, nullptr, nullptr, nullptr, nullptr);
}

int EX_GetDataAvailable(int client) {
  if (!g_attached || !valid_client(client)) return 0;
  int n = channel_count();
  if (n == 0) return 1000000000;
  DV_FreezeBuffers(static_cast<DVCLIENT>(client));
  int smallest = 1000000000;
  for (int i = 0; i < n; ++i) smallest = std::min(smallest, DV_CheckChan(static_cast<DVCLIENT>(client), i));
  return smallest;
}

int EX_GetData(int client, int chan, unsigned char* dst, int count) {
  if (!valid_client(client)) return 0;
  return DV_ReadChan(static_cast<DVCLIENT>(client), chan, dst, count);
}
