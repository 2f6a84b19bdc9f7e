// Endpoints are SOCK_SEQPACKET listening sockets "<handle>.sock" in the
// directory, each with an info file "<handle>.ep" (class, title, pid) that the
// owner keeps flock()ed shared; a checker that can lock it exclusively knows
// the owner is dead and removes both names. A sending thread keeps one
// connection per receiver and reuses it; the receiver watches its listening
// socket and all accepted connections through one epoll descriptor.
#include "wndmsg/wndmsg.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <strings.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

enum : uint32_t { kPost = 1, kSend = 2, kReply = 3 };

struct Wire {
  uint32_t kind;
  uint32_t msg;
  uint32_t to;
  uint32_t pad;
  uint64_t seq;
  uint64_t wparam;
  int64_t lparam;
};
static_assert(sizeof(Wire) == 40);

constexpr size_t kTextSize = 256;
struct InfoRecord {
  uint32_t magic;
  int32_t pid;
  char cls[kTextSize];
  char title[kTextSize];
};
constexpr uint32_t kInfoMagic = 0x4D574E44;

void copy_text(char* dst, size_t size, const char* src) {
  size_t n = src ? strnlen(src, size - 1) : 0;
  if (n) memcpy(dst, src, n);
  memset(dst + n, 0, size - n);
}

// ---- directory -------------------------------------------------------------

struct Dir {
  std::string path;
  bool ok = false;
};

const Dir& directory() {
  // Never destroyed: the exit-time clean-up below still needs it.
  static const Dir& dir = *[] {
    Dir* out = new Dir;
    Dir& d = *out;
    const char* env = getenv("MORVEL_WNDMSG_DIR");
    if (env && *env) {
      d.path = env;
    } else if (const char* run = getenv("XDG_RUNTIME_DIR"); run && *run) {
      d.path = std::string(run) + "/morvel-wndmsg";
    } else {
      d.path = "/tmp/morvel-wndmsg-" + std::to_string(getuid());
    }
    while (d.path.size() > 1 && d.path.back() == '/') d.path.pop_back();
    // Room for "/xxxxxxxx.sock" in a socket address.
    if (d.path.size() + 16 > sizeof(sockaddr_un{}.sun_path)) return out;
    if (mkdir(d.path.c_str(), 0700) != 0 && errno != EEXIST) return out;
    struct stat st;
    if (lstat(d.path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != getuid() ||
        (st.st_mode & 077) != 0)
      return out;
    d.ok = true;
    return out;
  }();
  return dir;
}

std::string name_of(wm_handle h, const char* suffix) {
  char buf[32];
  snprintf(buf, sizeof buf, "/%08x%s", h, suffix);
  return directory().path + buf;
}

bool sock_address(wm_handle h, sockaddr_un& addr) {
  std::string p = name_of(h, ".sock");
  if (p.size() >= sizeof addr.sun_path) return false;
  memset(&addr, 0, sizeof addr);
  addr.sun_family = AF_UNIX;
  memcpy(addr.sun_path, p.c_str(), p.size() + 1);
  return true;
}

int lock_file(const std::string& path) {
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return -1;
  while (flock(fd, LOCK_EX) != 0) {
    if (errno != EINTR) {
      close(fd);
      return -1;
    }
  }
  return fd;
}

// Reads the info record of h. Returns 1 alive, 0 dead or missing (removed).
int probe(wm_handle h, InfoRecord* rec) {
  std::string ep = name_of(h, ".ep");
  int fd = open(ep.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  int alive;
  if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
    // Nobody holds it: the owner is gone.
    unlink(name_of(h, ".sock").c_str());
    unlink(ep.c_str());
    alive = 0;
  } else {
    alive = 1;
    if (rec) {
      if (pread(fd, rec, sizeof *rec, 0) != static_cast<ssize_t>(sizeof *rec) || rec->magic != kInfoMagic)
        alive = 0;
      else {
        rec->cls[kTextSize - 1] = 0;
        rec->title[kTextSize - 1] = 0;
      }
    }
  }
  close(fd);
  return alive;
}

// Handles of all endpoint info files, sorted.
std::vector<wm_handle> list_endpoints() {
  std::vector<wm_handle> out;
  DIR* d = opendir(directory().path.c_str());
  if (!d) return out;
  while (dirent* e = readdir(d)) {
    const char* n = e->d_name;
    if (strlen(n) != 11 || strcmp(n + 8, ".ep") != 0) continue;
    char* end = nullptr;
    unsigned long v = strtoul(n, &end, 16);
    if (end != n + 8 || v == 0 || v > 0xFFFFFFFFul) continue;
    out.push_back(static_cast<wm_handle>(v));
  }
  closedir(d);
  std::sort(out.begin(), out.end());
  return out;
}

// ---- endpoints of this process ---------------------------------------------

struct Endpoint {
  wm_handle h = 0;
  pthread_t owner{};
  wm_handler handler = nullptr;
  void* user = nullptr;
  int listen_fd = -1;
  int epoll_fd = -1;
  int event_fd = -1;
  int info_fd = -1;
  std::vector<int> conns;
  std::deque<Wire> posted;   // posts that arrived while the owner waited in a send
  std::vector<int> busy;     // connections whose send is being handled
  std::vector<int> dropped;  // busy connections that hung up meanwhile
  InfoRecord info{};
};

std::mutex g_mutex;
std::vector<Endpoint*> g_endpoints;

Endpoint* find_local(wm_handle h) {
  for (Endpoint* e : g_endpoints)
    if (e->h == h) return e;
  return nullptr;
}

// Endpoint pointers stay valid while their owner thread uses them: only the
// owner destroys them.
Endpoint* own_endpoint(wm_handle h) {
  std::lock_guard<std::mutex> lk(g_mutex);
  Endpoint* e = find_local(h);
  if (e && !pthread_equal(e->owner, pthread_self())) return nullptr;
  return e;
}

void close_endpoint_fds(Endpoint* e) {
  for (int c : e->conns) close(c);
  e->conns.clear();
  if (e->listen_fd >= 0) close(e->listen_fd);
  if (e->epoll_fd >= 0) close(e->epoll_fd);
  if (e->event_fd >= 0) close(e->event_fd);
  if (e->info_fd >= 0) close(e->info_fd);
}

void remove_conn(Endpoint* e, int fd) {
  epoll_ctl(e->epoll_fd, EPOLL_CTL_DEL, fd, nullptr);
  auto it = std::find(e->conns.begin(), e->conns.end(), fd);
  if (it != e->conns.end()) e->conns.erase(it);
  close(fd);
}

intptr_t call_handler(Endpoint* e, const Wire& w) {
  if (!e->handler) return 0;
  return e->handler(e->user, e->h, w.msg, static_cast<uintptr_t>(w.wparam), static_cast<intptr_t>(w.lparam));
}

// Waits up to timeout_ms for one event of e and handles it. Returns 1 when a
// message was handled, 0 when none (time-out, connection event, or a post
// that was queued), -1 on error. With sends_only, posts are queued for later.
int serve_one(Endpoint* e, int timeout_ms, bool sends_only) {
  epoll_event ev;
  int n = epoll_wait(e->epoll_fd, &ev, 1, timeout_ms);
  if (n < 0) return errno == EINTR ? 0 : -1;
  if (n == 0) return 0;
  int fd = ev.data.fd;
  if (fd == e->listen_fd) {
    int c = accept4(e->listen_fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (c >= 0) {
      epoll_event cev{};
      cev.events = EPOLLIN;
      cev.data.fd = c;
      if (epoll_ctl(e->epoll_fd, EPOLL_CTL_ADD, c, &cev) == 0)
        e->conns.push_back(c);
      else
        close(c);
    }
    return 0;
  }
  if (fd == e->event_fd) {
    uint64_t v;
    if (read(e->event_fd, &v, sizeof v) < 0) { /* nothing pending */ }
    // While the owner waits in a send the signal stays consumed (or the wait
    // would spin); the send signals again when it ends.
    if (sends_only || e->posted.empty()) return 0;
    Wire w = e->posted.front();
    e->posted.pop_front();
    if (!e->posted.empty()) {
      uint64_t one = 1;
      if (write(e->event_fd, &one, sizeof one) < 0) { /* already signalled */ }
    }
    call_handler(e, w);
    return 1;
  }
  if (std::find(e->busy.begin(), e->busy.end(), fd) != e->busy.end()) {
    // The sender of a send being handled further up hung up; stop watching
    // and let the handler's frame close it.
    epoll_ctl(e->epoll_fd, EPOLL_CTL_DEL, fd, nullptr);
    e->dropped.push_back(fd);
    return 0;
  }
  Wire w;
  ssize_t r = recv(fd, &w, sizeof w, MSG_DONTWAIT);
  if (r < 0 && (errno == EAGAIN || errno == EINTR)) return 0;
  if (r <= 0) {
    remove_conn(e, fd);
    return 0;
  }
  if (r != static_cast<ssize_t>(sizeof w)) return 0;  // not ours
  if (w.kind == kPost) {
    if (sends_only) {
      e->posted.push_back(w);  // signalled when the send ends
      return 0;
    }
    call_handler(e, w);
    return 1;
  }
  if (w.kind != kSend) return 0;
  e->busy.push_back(fd);
  intptr_t res = call_handler(e, w);
  e->busy.pop_back();
  auto dropped = std::find(e->dropped.begin(), e->dropped.end(), fd);
  if (dropped != e->dropped.end()) {
    e->dropped.erase(dropped);
    auto it = std::find(e->conns.begin(), e->conns.end(), fd);
    if (it != e->conns.end()) e->conns.erase(it);
    close(fd);
    return 1;
  }
  Wire reply{kReply, w.msg, w.to, 0, w.seq, 0, static_cast<int64_t>(res)};
  if (send(fd, &reply, sizeof reply, MSG_NOSIGNAL | MSG_DONTWAIT) < 0 && errno != EAGAIN) remove_conn(e, fd);
  return 1;
}

// Handles one post that arrived during a send, if any.
int take_queued_post(Endpoint* e) {
  if (e->posted.empty()) return 0;
  Wire w = e->posted.front();
  e->posted.pop_front();
  call_handler(e, w);
  return 1;
}

// After a send: make the descriptor of every endpoint of this thread with
// queued posts readable again.
void signal_queued_posts() {
  std::lock_guard<std::mutex> lk(g_mutex);
  for (Endpoint* e : g_endpoints)
    if (pthread_equal(e->owner, pthread_self()) && !e->posted.empty()) {
      uint64_t one = 1;
      if (write(e->event_fd, &one, sizeof one) < 0) { /* counter full: already signalled */ }
    }
}

// ---- connections of this thread to receivers --------------------------------

// Counts forks: a child must not reuse the parent's connections, whose
// replies the parent may be waiting for.
std::atomic<unsigned> g_fork_generation{0};
const bool g_atfork_registered = [] {
  pthread_atfork(nullptr, nullptr, [] { g_fork_generation.fetch_add(1, std::memory_order_relaxed); });
  return true;
}();

struct ConnCache {
  struct Entry {
    wm_handle h;
    int fd;
    uint64_t used;
  };
  static constexpr int kSize = 16;
  Entry entries[kSize]{};
  int count = 0;
  uint64_t clock = 0;
  uint64_t seq = 0;
  ~ConnCache() {
    for (int i = 0; i < count; ++i) close(entries[i].fd);
  }
  unsigned generation = 0;
  int find(wm_handle h) {
    unsigned g = g_fork_generation.load(std::memory_order_relaxed);
    if (g != generation) {
      for (int i = 0; i < count; ++i) close(entries[i].fd);  // our copies only
      count = 0;
      generation = g;
    }
    for (int i = 0; i < count; ++i)
      if (entries[i].h == h) {
        entries[i].used = ++clock;
        return entries[i].fd;
      }
    return -1;
  }
  void drop(wm_handle h) {
    for (int i = 0; i < count; ++i)
      if (entries[i].h == h) {
        close(entries[i].fd);
        entries[i] = entries[--count];
        return;
      }
  }
  void add(wm_handle h, int fd) {
    if (count == kSize) {
      int oldest = 0;
      for (int i = 1; i < count; ++i)
        if (entries[i].used < entries[oldest].used) oldest = i;
      close(entries[oldest].fd);
      entries[oldest] = entries[--count];
    }
    entries[count++] = Entry{h, fd, ++clock};
  }
};

thread_local ConnCache t_conns;

// Connected socket to h, from the cache or new. -1 when h is not there.
int connection(wm_handle h, bool fresh) {
  if (fresh) t_conns.drop(h);
  int fd = t_conns.find(h);
  if (fd >= 0) return fd;
  if (!directory().ok) return -1;
  sockaddr_un addr;
  if (!sock_address(h, addr)) return -1;
  fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  while (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    if (errno == EINTR) continue;
    close(fd);
    probe(h, nullptr);  // removes the names when the owner is dead
    return -1;
  }
  t_conns.add(h, fd);
  return fd;
}

// Sends w over the cached connection, reconnecting once when the cached one
// has gone stale. Returns the descriptor used, or -1.
int deliver(wm_handle to, const Wire& w, int flags) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    int fd = connection(to, attempt > 0);
    if (fd < 0) return -1;
    ssize_t r;
    do r = send(fd, &w, sizeof w, MSG_NOSIGNAL | flags);
    while (r < 0 && errno == EINTR);
    if (r == static_cast<ssize_t>(sizeof w)) return fd;
    if (r < 0 && errno == EAGAIN) return -2;
  }
  t_conns.drop(to);
  return -1;
}

using Clock = std::chrono::steady_clock;

int remaining_ms(Clock::time_point deadline, bool forever) {
  if (forever) return -1;
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left < 0 ? 0 : static_cast<int>(left);
}

struct ProcessCleanup {
  std::vector<int> single_fds;
  std::vector<std::string> single_classes;
  pid_t pid = getpid();
  ~ProcessCleanup() {
    if (getpid() != pid) return;  // a forked child: the endpoints are the parent's
    std::vector<Endpoint*> eps;
    {
      std::lock_guard<std::mutex> lk(g_mutex);
      eps.swap(g_endpoints);
    }
    for (Endpoint* e : eps) {
      unlink(name_of(e->h, ".sock").c_str());
      unlink(name_of(e->h, ".ep").c_str());
      close_endpoint_fds(e);
      delete e;
    }
  }
};
ProcessCleanup g_cleanup;

}  // namespace

extern "C" {

const char* wm_directory(void) {
  const Dir& d = directory();
  return d.ok ? d.path.c_str() : nullptr;
}

uint32_t wm_register_message(const char* name) {
  if (!name || !*name || strlen(name) > 255 || strchr(name, '\n') || !directory().ok) return 0;
  static std::mutex m;
  static std::vector<std::pair<std::string, uint32_t>> cache;
  std::lock_guard<std::mutex> lk(m);
  for (auto& [n, id] : cache)
    if (strcasecmp(n.c_str(), name) == 0) return id;
  int fd = lock_file(directory().path + "/messages");
  if (fd < 0) return 0;
  std::string all;
  char buf[4096];
  ssize_t r;
  while ((r = pread(fd, buf, sizeof buf, static_cast<off_t>(all.size()))) > 0) all.append(buf, static_cast<size_t>(r));
  uint32_t index = 0, id = 0;
  size_t pos = 0;
  while (pos < all.size()) {
    size_t nl = all.find('\n', pos);
    if (nl == std::string::npos) break;  // torn last line: ignore
    std::string line = all.substr(pos, nl - pos);
    if (strcasecmp(line.c_str(), name) == 0) {
      id = WNDMSG_FIRST_REGISTERED + index;
      break;
    }
    ++index;
    pos = nl + 1;
  }
  if (!id && WNDMSG_FIRST_REGISTERED + index <= WNDMSG_LAST_REGISTERED) {
    std::string line = std::string(name) + "\n";
    if (pwrite(fd, line.data(), line.size(), static_cast<off_t>(pos)) == static_cast<ssize_t>(line.size()))
      id = WNDMSG_FIRST_REGISTERED + index;
  }
  close(fd);
  if (id) cache.emplace_back(name, id);
  return id;
}

wm_handle wm_create(const char* class_name, const char* title, wm_handler handler, void* user) {
  if (!directory().ok) return 0;
  auto* e = new Endpoint;
  e->owner = pthread_self();
  e->handler = handler;
  e->user = user;
  e->info.magic = kInfoMagic;
  e->info.pid = getpid();
  copy_text(e->info.cls, kTextSize, class_name);
  copy_text(e->info.title, kTextSize, title);

  // A fresh handle under the directory lock.
  int lk = lock_file(directory().path + "/handles");
  if (lk < 0) {
    delete e;
    return 0;
  }
  uint32_t next = 0;
  if (pread(lk, &next, sizeof next, 0) != static_cast<ssize_t>(sizeof next)) next = 0x100;
  sockaddr_un addr;
  for (;;) {
    ++next;
    if (next == 0 || next > 0x7FFFFFFF) next = 0x100;
    struct stat st;
    if (stat(name_of(next, ".ep").c_str(), &st) == 0 || stat(name_of(next, ".sock").c_str(), &st) == 0) continue;
    break;
  }
  e->h = next;
  bool ok = pwrite(lk, &next, sizeof next, 0) == static_cast<ssize_t>(sizeof next) && sock_address(e->h, addr);

  if (ok) {
    e->listen_fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    ok = e->listen_fd >= 0 && bind(e->listen_fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
         listen(e->listen_fd, 64) == 0;
  }
  close(lk);
  if (ok) {
    e->epoll_fd = epoll_create1(EPOLL_CLOEXEC);
    e->event_fd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    ok = e->epoll_fd >= 0 && e->event_fd >= 0;
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.fd = e->listen_fd;
    ok = ok && epoll_ctl(e->epoll_fd, EPOLL_CTL_ADD, e->listen_fd, &ev) == 0;
    ev.data.fd = e->event_fd;
    ok = ok && epoll_ctl(e->epoll_fd, EPOLL_CTL_ADD, e->event_fd, &ev) == 0;
  }
  if (ok) {
    // Written under a temporary name and locked before it becomes visible, so
    // no checker ever sees it unlocked.
    std::string tmp = name_of(e->h, ".tmp");
    e->info_fd = open(tmp.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    ok = e->info_fd >= 0 && flock(e->info_fd, LOCK_SH) == 0 &&
         pwrite(e->info_fd, &e->info, sizeof e->info, 0) == static_cast<ssize_t>(sizeof e->info) &&
         rename(tmp.c_str(), name_of(e->h, ".ep").c_str()) == 0;
    if (!ok) unlink(tmp.c_str());
  }
  if (!ok) {
    if (e->h) unlink(name_of(e->h, ".sock").c_str());
    close_endpoint_fds(e);
    delete e;
    return 0;
  }
  std::lock_guard<std::mutex> g(g_mutex);
  g_endpoints.push_back(e);
  return e->h;
}

void wm_destroy(wm_handle h) {
  Endpoint* e;
  {
    std::lock_guard<std::mutex> lk(g_mutex);
    e = find_local(h);
    if (!e) return;
    g_endpoints.erase(std::find(g_endpoints.begin(), g_endpoints.end(), e));
  }
  unlink(name_of(h, ".sock").c_str());
  unlink(name_of(h, ".ep").c_str());
  close_endpoint_fds(e);
  delete e;
}

int wm_set_title(wm_handle h, const char* title) {
  std::lock_guard<std::mutex> lk(g_mutex);
  Endpoint* e = find_local(h);
  if (!e) return 0;
  copy_text(e->info.title, kTextSize, title);
  return pwrite(e->info_fd, &e->info, sizeof e->info, 0) == static_cast<ssize_t>(sizeof e->info);
}

int wm_fd(wm_handle h) {
  std::lock_guard<std::mutex> lk(g_mutex);
  Endpoint* e = find_local(h);
  return e ? e->epoll_fd : -1;
}

int wm_dispatch(wm_handle h, int timeout_ms) {
  Endpoint* e = own_endpoint(h);
  if (!e) return -1;
  bool forever = timeout_ms < 0;
  auto deadline = Clock::now() + std::chrono::milliseconds(forever ? 0 : timeout_ms);
  if (take_queued_post(e)) return 1;
  for (;;) {
    int r = serve_one(e, remaining_ms(deadline, forever), false);
    if (r != 0) return r;
    if (!forever && Clock::now() >= deadline) return 0;
  }
}

int wm_dispatch_pending(wm_handle h) {
  Endpoint* e = own_endpoint(h);
  if (!e) return -1;
  int handled = 0;
  while (take_queued_post(e)) ++handled;
  // Every round either handles a message or consumes an event; stop when the
  // descriptor has nothing left.
  for (int rounds = 0; rounds < 100000; ++rounds) {
    pollfd p{e->epoll_fd, POLLIN, 0};
    if (poll(&p, 1, 0) <= 0) break;
    int r = serve_one(e, 0, false);
    if (r < 0) break;
    handled += r;
  }
  return handled;
}

int wm_post(wm_handle to, uint32_t msg, uintptr_t wparam, intptr_t lparam) {
  if (!to) return 0;
  Wire w{kPost, msg, to, 0, 0, static_cast<uint64_t>(wparam), static_cast<int64_t>(lparam)};
  return deliver(to, w, MSG_DONTWAIT) >= 0 ? 1 : 0;
}

}  // extern "C"

namespace {
intptr_t send_and_wait(wm_handle to, uint32_t msg, uintptr_t wparam, intptr_t lparam, int timeout_ms, int* status) {
  int dummy;
  if (!status) status = &dummy;
  *status = WNDMSG_DEAD;
  if (!to) return 0;
  if (!directory().ok) {
    *status = WNDMSG_ERROR;
    return 0;
  }
  // A window of the calling thread: call it directly.
  if (Endpoint* self = own_endpoint(to)) {
    Wire w{kSend, msg, to, 0, 0, static_cast<uint64_t>(wparam), static_cast<int64_t>(lparam)};
    *status = WNDMSG_OK;
    return call_handler(self, w);
  }
  Wire w{kSend, msg, to, 0, ++t_conns.seq, static_cast<uint64_t>(wparam), static_cast<int64_t>(lparam)};
  // Never blocks: a receiver whose queue is full is not answering anyway.
  int fd = deliver(to, w, MSG_DONTWAIT);
  if (fd == -2) *status = WNDMSG_TIMEOUT;
  if (fd < 0) return 0;

  bool forever = timeout_ms < 0;
  auto deadline = Clock::now() + std::chrono::milliseconds(forever ? 0 : timeout_ms);
  constexpr int kMaxOwn = 15;
  pollfd pfds[1 + kMaxOwn];
  Endpoint* own[kMaxOwn];
  for (;;) {
    int nown = 0;
    {
      std::lock_guard<std::mutex> lk(g_mutex);
      for (Endpoint* e : g_endpoints)
        if (nown < kMaxOwn && pthread_equal(e->owner, pthread_self())) own[nown++] = e;
    }
    pfds[0] = pollfd{fd, POLLIN, 0};
    for (int i = 0; i < nown; ++i) pfds[1 + i] = pollfd{own[i]->epoll_fd, POLLIN, 0};
    int n = poll(pfds, static_cast<nfds_t>(1 + nown), remaining_ms(deadline, forever));
    if (n < 0 && errno != EINTR) break;
    if (n == 0) {
      t_conns.drop(to);  // a late reply must not be taken for the next one
      *status = WNDMSG_TIMEOUT;
      return 0;
    }
    if (n > 0 && pfds[0].revents) {
      Wire r;
      ssize_t got = recv(fd, &r, sizeof r, MSG_DONTWAIT);
      if (got == static_cast<ssize_t>(sizeof r) && r.kind == kReply && r.seq == w.seq) {
        *status = WNDMSG_OK;
        return static_cast<intptr_t>(r.lparam);
      }
      if (got < 0 && (errno == EAGAIN || errno == EINTR)) continue;
      if (got <= 0) break;  // receiver gone
      continue;             // stale reply of an earlier send: skip it
    }
    for (int i = 0; n > 0 && i < nown; ++i)
      if (pfds[1 + i].revents) serve_one(own[i], 0, true);
    if (!forever && Clock::now() >= deadline) {
      t_conns.drop(to);
      *status = WNDMSG_TIMEOUT;
      return 0;
    }
  }
  t_conns.drop(to);
  *status = WNDMSG_DEAD;
  return 0;
}
}  // namespace

extern "C" {

intptr_t wm_send(wm_handle to, uint32_t msg, uintptr_t wparam, intptr_t lparam, int timeout_ms, int* status) {
  intptr_t r = send_and_wait(to, msg, wparam, lparam, timeout_ms, status);
  signal_queued_posts();
  return r;
}

int wm_broadcast(uint32_t msg, uintptr_t wparam, intptr_t lparam) {
  if (!directory().ok) return 0;
  int reached = 0;
  for (wm_handle h : list_endpoints())
    if (probe(h, nullptr) && wm_post(h, msg, wparam, lparam)) ++reached;
  return reached;
}

wm_handle wm_find(const char* class_name, const char* title) {
  if (!directory().ok) return 0;
  for (wm_handle h : list_endpoints()) {
    InfoRecord rec;
    if (!probe(h, &rec)) continue;
    if (class_name && strcasecmp(rec.cls, class_name) != 0) continue;
    if (title && strcasecmp(rec.title, title) != 0) continue;
    return h;
  }
  return 0;
}

int wm_is_alive(wm_handle h) {
  if (!h || !directory().ok) return 0;
  return probe(h, nullptr);
}

int wm_activate(wm_handle h) { return wm_post(h, WNDMSG_ACTIVATE, 0, 0); }
int wm_request_quit(wm_handle h) { return wm_post(h, WNDMSG_QUIT, 0, 0); }

int wm_single_instance(const char* class_name) {
  if (!class_name || !*class_name || !directory().ok) return -1;
  std::string safe;
  for (const char* p = class_name; *p && safe.size() < 100; ++p) {
    unsigned char c = static_cast<unsigned char>(*p);
    safe += (isalnum(c) || c == '_' || c == '-' || c == '.') ? static_cast<char>(tolower(c)) : '_';
  }
  std::lock_guard<std::mutex> lk(g_mutex);
  for (const std::string& s : g_cleanup.single_classes)
    if (s == safe) return 1;
  std::string path = directory().path + "/single-" + safe + ".lock";
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return -1;
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    int err = errno;
    close(fd);
    return err == EWOULDBLOCK ? 0 : -1;
  }
  g_cleanup.single_fds.push_back(fd);
  g_cleanup.single_classes.push_back(safe);
  return 1;
}

}  // extern "C"
