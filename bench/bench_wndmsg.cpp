// A wndmsg send with result between two processes against a raw Unix-socket
// ping-pong of the same message size, side by side in one run:
//   Send/wndmsg        wm_send to an endpoint of a second process that
//                      answers from wm_dispatch
//   PingPong/seqpacket 40 bytes there and back over a connected
//                      SOCK_SEQPACKET pair
//   PingPong/stream    the same over a SOCK_STREAM pair
// The ratios are printed at the end.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "wndmsg/wndmsg.h"

namespace {

constexpr size_t kMsgSize = 40;  // the size of a wndmsg message on the wire

uint32_t g_msg = 0;
bool g_quit = false;

intptr_t echo(void*, wm_handle, uint32_t msg, uintptr_t wparam, intptr_t lparam) {
  if (msg == WNDMSG_QUIT) {
    g_quit = true;
    return 0;
  }
  return static_cast<intptr_t>(wparam) + lparam;
}

void pong(int fd) {
  char buf[kMsgSize];
  while (read(fd, buf, sizeof buf) == static_cast<ssize_t>(sizeof buf))
    if (write(fd, buf, sizeof buf) != static_cast<ssize_t>(sizeof buf)) break;
  _exit(0);
}

pid_t spawn_pong(int type, int* mine) {
  int sv[2];
  if (socketpair(AF_UNIX, type | SOCK_CLOEXEC, 0, sv) != 0) abort();
  pid_t pid = fork();
  if (pid == 0) {
    close(sv[0]);
    pong(sv[1]);
  }
  close(sv[1]);
  *mine = sv[0];
  return pid;
}

void PingPong(benchmark::State& state, int type) {
  int fd;
  pid_t pid = spawn_pong(type, &fd);
  char buf[kMsgSize] = {1};
  for (auto _ : state) {
    if (write(fd, buf, sizeof buf) != static_cast<ssize_t>(sizeof buf)) state.SkipWithError("write");
    size_t got = 0;
    while (got < sizeof buf) {
      ssize_t r = read(fd, buf + got, sizeof buf - got);
      if (r <= 0) {
        state.SkipWithError("read");
        break;
      }
      got += static_cast<size_t>(r);
    }
  }
  close(fd);
  waitpid(pid, nullptr, 0);
}

void Send(benchmark::State& state) {
  int ready[2];
  if (pipe(ready) != 0) abort();
  pid_t pid = fork();
  if (pid == 0) {
    close(ready[0]);
    wm_handle h = wm_create("BenchEcho", "Echo", echo, nullptr);
    if (write(ready[1], &h, sizeof h) != static_cast<ssize_t>(sizeof h)) _exit(1);
    while (!g_quit && wm_dispatch(h, -1) >= 0) {}
    wm_destroy(h);
    _exit(0);
  }
  close(ready[1]);
  wm_handle peer = 0;
  if (read(ready[0], &peer, sizeof peer) != static_cast<ssize_t>(sizeof peer) || !peer) abort();
  close(ready[0]);
  intptr_t i = 0;
  for (auto _ : state) {
    int status;
    intptr_t r = wm_send(peer, g_msg, 1, i, 5000, &status);
    if (status != WNDMSG_OK || r != i + 1) state.SkipWithError("wrong answer");
    ++i;
  }
  wm_request_quit(peer);
  waitpid(pid, nullptr, 0);
}

class Collect : public benchmark::ConsoleReporter {
public:
  std::map<std::string, double> times;
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs)
      if (!r.error_occurred && r.run_type == Run::RT_Aggregate && r.aggregate_name == "median")
        times[r.run_name.function_name] = r.GetAdjustedRealTime();
    ConsoleReporter::ReportRuns(runs);
  }
};

}  // namespace

int main(int argc, char** argv) {
  // A message directory of our own so a live system is never touched.
  std::string dir;
  if (!getenv("MORVEL_WNDMSG_DIR")) {
    char tmpl[] = "/tmp/mwm-bench.XXXXXX";
    if (!mkdtemp(tmpl)) return 1;
    dir = tmpl;
    setenv("MORVEL_WNDMSG_DIR", tmpl, 1);
  }
  g_msg = wm_register_message("BenchMessage");
  if (!g_msg) return 1;

  benchmark::RegisterBenchmark("PingPong/seqpacket", PingPong, SOCK_SEQPACKET)->UseRealTime();
  benchmark::RegisterBenchmark("Send/wndmsg", Send)->UseRealTime();
  benchmark::RegisterBenchmark("PingPong/stream", PingPong, SOCK_STREAM)->UseRealTime();
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

  double send = reporter.times["Send/wndmsg"], seq = reporter.times["PingPong/seqpacket"],
         stream = reporter.times["PingPong/stream"];
  printf("\nRatios (medians of the repetitions, same run):\n");
  if (send > 0 && seq > 0) printf("  wndmsg send / raw seqpacket ping-pong: %.2f (goal <= 1.5)\n", send / seq);
  if (send > 0 && stream > 0) printf("  wndmsg send / raw stream ping-pong:    %.2f\n", send / stream);
  if (!dir.empty()) {
    std::string cmd = "rm -rf '" + dir + "'";
    if (system(cmd.c_str()) != 0) fprintf(stderr, "could not remove %s\n", dir.c_str());
  }
  return 0;
}
