// Second process for the wndmsg tests.
//   wndmsg_peer serve CLASS TITLE   endpoint answering "TestMsg" sends
//   wndmsg_peer hang CLASS          endpoint that never reads its messages
//   wndmsg_peer single CLASS        claims the single-instance guard on "go"
//   wndmsg_peer dir                 prints whether the directory is usable
// Ends when standard input closes (or on a quit request).
#include <poll.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "wndmsg/wndmsg.h"

namespace {

uint32_t g_msg = 0;
bool g_quit = false;

intptr_t handler(void*, wm_handle, uint32_t msg, uintptr_t wparam, intptr_t lparam) {
  if (msg == WNDMSG_QUIT) {
    printf("quit\n");
    fflush(stdout);
    g_quit = true;
    return 0;
  }
  if (msg == WNDMSG_ACTIVATE) {
    printf("activate\n");
    fflush(stdout);
    return 0;
  }
  if (msg != g_msg) return -1;
  if (wparam == 999) {
    // Call back the sender while it waits for this very send.
    int status;
    intptr_t r = wm_send(static_cast<wm_handle>(lparam), g_msg, 5, 6, 5000, &status);
    return status == WNDMSG_OK ? r + 1 : -2;
  }
  if (wparam == 998) {
    // A post to the sender while it waits, then a slow answer.
    wm_post(static_cast<wm_handle>(lparam), g_msg, 77, 0);
    usleep(300000);
    return 42;
  }
  printf("got %lu %ld\n", static_cast<unsigned long>(wparam), static_cast<long>(lparam));
  fflush(stdout);
  return static_cast<intptr_t>(wparam * 1000 + static_cast<uintptr_t>(lparam));
}

bool stdin_closed() {
  char buf[256];
  return read(0, buf, sizeof buf) <= 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  std::string mode = argv[1];
  if (mode == "dir") {
    printf("%s\n", wm_directory() ? "ok" : "unusable");
    printf("create %u\n", wm_create("X", "Y", nullptr, nullptr));
    return 0;
  }
  if (mode == "single" && argc >= 3) {
    char buf[64];
    if (!fgets(buf, sizeof buf, stdin)) return 1;  // "go"
    printf("single %d\n", wm_single_instance(argv[2]));
    fflush(stdout);
    while (!stdin_closed()) {}
    return 0;
  }
  if ((mode == "serve" && argc >= 4) || (mode == "hang" && argc >= 3)) {
    g_msg = wm_register_message("TestMsg");
    wm_handle h = wm_create(argv[2], mode == "serve" ? argv[3] : "", handler, nullptr);
    printf("ready %u %u\n", h, g_msg);
    fflush(stdout);
    if (!h) return 1;
    if (mode == "hang") {
      while (!stdin_closed()) {}
      return 0;
    }
    while (!g_quit) {
      pollfd p[2] = {{0, POLLIN, 0}, {wm_fd(h), POLLIN, 0}};
      if (poll(p, 2, -1) < 0) continue;
      if (p[1].revents) wm_dispatch_pending(h);
      if (p[0].revents && stdin_closed()) break;
    }
    wm_destroy(h);
    return 0;
  }
  return 2;
}
