#include "wndmsg/wndmsg.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <time.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>

#include "child_process.h"

namespace {

std::string peer_path() { return WNDMSG_PEER; }

struct Ready {
  wm_handle h = 0;
  uint32_t msg = 0;
};

Ready parse_ready(const std::string& line) {
  Ready r;
  std::istringstream in(line);
  std::string word;
  in >> word >> r.h >> r.msg;
  if (word != "ready") r.h = 0;
  return r;
}

struct Received {
  int count = 0;
  uint32_t msg = 0;
  uintptr_t wparam = 0;
  intptr_t lparam = 0;
};

intptr_t record(void* user, wm_handle, uint32_t msg, uintptr_t wparam, intptr_t lparam) {
  auto* r = static_cast<Received*>(user);
  ++r->count;
  r->msg = msg;
  r->wparam = wparam;
  r->lparam = lparam;
  return static_cast<intptr_t>(wparam * 1000 + static_cast<uintptr_t>(lparam));
}

class WndmsgTest : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_NE(getenv("MORVEL_WNDMSG_DIR"), nullptr) << "run through ctest (isolate.sh)";
    ASSERT_NE(wm_directory(), nullptr);
    msg_ = wm_register_message("TestMsg");
    ASSERT_GE(msg_, static_cast<uint32_t>(WNDMSG_FIRST_REGISTERED));
  }

  std::unique_ptr<ChildProcess> start_peer(const std::string& cls, const std::string& title, Ready* ready) {
    auto p = std::make_unique<ChildProcess>(std::vector<std::string>{peer_path(), "serve", cls, title});
    *ready = parse_ready(p->line());
    return p;
  }

  uint32_t msg_ = 0;
};

TEST_F(WndmsgTest, RegisteredMessagesAgreeAcrossProcessesAndIgnoreCase) {
  Ready r;
  auto peer = start_peer("PeerClass", "Peer", &r);
  ASSERT_NE(r.h, 0u);
  EXPECT_EQ(r.msg, msg_);
  EXPECT_EQ(wm_register_message("testmsg"), msg_);
  uint32_t other = wm_register_message("AnotherMessage");
  EXPECT_NE(other, 0u);
  EXPECT_NE(other, msg_);
  EXPECT_EQ(wm_register_message(""), 0u);
  EXPECT_EQ(wm_register_message(nullptr), 0u);
  EXPECT_EQ(wm_register_message("zwei\nZeilen"), 0u);
}

TEST_F(WndmsgTest, SendsBetweenTwoProcessesReturnResults) {
  Received got;
  wm_handle mine = wm_create("TestClass", "Test", record, &got);
  ASSERT_NE(mine, 0u);
  Ready r;
  auto peer = start_peer("PeerClass", "Peer", &r);
  ASSERT_NE(r.h, 0u);
  ASSERT_NE(r.h, mine);

  int status = -1;
  EXPECT_EQ(wm_send(r.h, msg_, 3, 4, 5000, &status), 3004);
  EXPECT_EQ(status, WNDMSG_OK);
  EXPECT_EQ(peer->line(), "got 3 4");
  // Repeated sends reuse the connection.
  for (int i = 0; i < 50; ++i) ASSERT_EQ(wm_send(r.h, msg_, static_cast<uintptr_t>(i), 1, 5000, nullptr), i * 1000 + 1);

  // The peer sends back to us while we wait for our own send: served, no
  // deadlock, and its result travels into ours.
  EXPECT_EQ(wm_send(r.h, msg_, 999, static_cast<intptr_t>(mine), 5000, &status), 5007);
  EXPECT_EQ(status, WNDMSG_OK);
  EXPECT_EQ(got.count, 1);
  EXPECT_EQ(got.wparam, 5u);
  EXPECT_EQ(got.lparam, 6);

  // A send to our own endpoint from its thread calls the handler directly.
  EXPECT_EQ(wm_send(mine, msg_, 2, 2, 100, &status), 2002);
  wm_destroy(mine);
}

TEST_F(WndmsgTest, PostArrivingDuringASendWaitsWithoutSpinning) {
  Received got;
  wm_handle mine = wm_create("TestClass", "Test", record, &got);
  ASSERT_NE(mine, 0u);
  Ready r;
  auto peer = start_peer("PeerClass", "Peer", &r);
  ASSERT_NE(r.h, 0u);
  timespec c0, c1;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &c0);
  int status;
  EXPECT_EQ(wm_send(r.h, msg_, 998, static_cast<intptr_t>(mine), 5000, &status), 42);
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &c1);
  double cpu = static_cast<double>(c1.tv_sec - c0.tv_sec) + 1e-9 * static_cast<double>(c1.tv_nsec - c0.tv_nsec);
  EXPECT_LT(cpu, 0.1) << "the 300 ms wait burnt CPU";
  EXPECT_EQ(got.count, 0) << "posts wait until the thread dispatches";
  EXPECT_EQ(wm_dispatch(mine, 0), 1);
  EXPECT_EQ(got.count, 1);
  EXPECT_EQ(got.wparam, 77u);
  EXPECT_EQ(wm_dispatch(mine, 0), 0);
  wm_destroy(mine);
}

TEST_F(WndmsgTest, BroadcastReachesEveryEndpointIncludingOurOwn) {
  Received got;
  wm_handle mine = wm_create("TestClass", "Test", record, &got);
  ASSERT_NE(mine, 0u);
  Ready a, b;
  auto pa = start_peer("PeerClass", "A", &a);
  auto pb = start_peer("PeerClass", "B", &b);
  ASSERT_NE(a.h, 0u);
  ASSERT_NE(b.h, 0u);
  EXPECT_EQ(wm_broadcast(msg_, 7, 8), 3);
  EXPECT_EQ(pa->line(), "got 7 8");
  EXPECT_EQ(pb->line(), "got 7 8");
  EXPECT_EQ(wm_dispatch(mine, 5000), 1);
  EXPECT_EQ(got.count, 1);
  EXPECT_EQ(got.msg, msg_);
  EXPECT_EQ(got.wparam, 7u);
  EXPECT_EQ(wm_dispatch(mine, 0), 0);  // nothing else waiting
  wm_destroy(mine);
}

TEST_F(WndmsgTest, FindByClassAndTitle) {
  Ready a, b;
  auto pa = start_peer("PeerClass", "Erster", &a);
  auto pb = start_peer("OtherClass", "Zweiter", &b);
  ASSERT_NE(a.h, 0u);
  ASSERT_NE(b.h, 0u);
  struct Case {
    const char* cls;
    const char* title;
    wm_handle want;
  } cases[] = {
      {"PeerClass", nullptr, a.h}, {"peerclass", nullptr, a.h},     {nullptr, "Zweiter", b.h},
      {"OtherClass", "Zweiter", b.h}, {"OtherClass", "Erster", 0}, {"NoSuchClass", nullptr, 0},
  };
  for (const Case& c : cases)
    EXPECT_EQ(wm_find(c.cls, c.title), c.want) << (c.cls ? c.cls : "-") << " / " << (c.title ? c.title : "-");
}

TEST_F(WndmsgTest, DeadEndpointAnswersZeroQuicklyAndIsRemoved) {
  Ready r;
  auto peer = start_peer("DoomedClass", "Doomed", &r);
  ASSERT_NE(r.h, 0u);
  EXPECT_EQ(wm_send(r.h, msg_, 1, 1, 5000, nullptr), 1001);  // connection now cached
  peer->signal(SIGKILL);
  peer->wait();
  auto t0 = std::chrono::steady_clock::now();
  int status = -1;
  EXPECT_EQ(wm_send(r.h, msg_, 1, 1, 5000, &status), 0);
  EXPECT_EQ(status, WNDMSG_DEAD);
  EXPECT_EQ(wm_send(r.h, msg_, 1, 1, 5000, &status), 0);  // fresh connect this time
  EXPECT_EQ(status, WNDMSG_DEAD);
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(1));
  EXPECT_EQ(wm_is_alive(r.h), 0);
  EXPECT_EQ(wm_find("DoomedClass", nullptr), 0u);
  EXPECT_EQ(wm_post(r.h, msg_, 0, 0), 0);
  char name[64];
  snprintf(name, sizeof name, "/%08x.ep", r.h);
  struct stat st;
  EXPECT_NE(stat((std::string(wm_directory()) + name).c_str(), &st), 0) << "stale endpoint left behind";
  EXPECT_EQ(wm_send(0, msg_, 0, 0, 100, &status), 0);
  EXPECT_EQ(status, WNDMSG_DEAD);
}

TEST_F(WndmsgTest, HungReceiverTimesOut) {
  ChildProcess peer({peer_path(), "hang", "HungClass"});
  Ready r = parse_ready(peer.line());
  ASSERT_NE(r.h, 0u);
  auto t0 = std::chrono::steady_clock::now();
  int status = -1;
  EXPECT_EQ(wm_send(r.h, msg_, 1, 1, 200, &status), 0);
  auto took = std::chrono::steady_clock::now() - t0;
  EXPECT_EQ(status, WNDMSG_TIMEOUT);
  EXPECT_GE(took, std::chrono::milliseconds(190));
  EXPECT_LT(took, std::chrono::seconds(3));
  EXPECT_EQ(wm_is_alive(r.h), 1);
  // Fill its queue: posts start failing, and a send still keeps its time-out
  // instead of blocking on the full queue.
  int posted = 0;
  while (posted < 100000 && wm_post(r.h, msg_, 0, 0)) ++posted;
  EXPECT_LT(posted, 100000);
  t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(wm_send(r.h, msg_, 1, 1, 200, &status), 0);
  EXPECT_EQ(status, WNDMSG_TIMEOUT);
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(3));
}

TEST_F(WndmsgTest, ActivateAndQuitRequests) {
  Ready r;
  auto peer = start_peer("PeerClass", "Peer", &r);
  ASSERT_NE(r.h, 0u);
  EXPECT_EQ(wm_activate(r.h), 1);
  EXPECT_EQ(peer->line(), "activate");
  EXPECT_EQ(wm_request_quit(r.h), 1);
  EXPECT_EQ(peer->line(), "quit");
  EXPECT_EQ(peer->wait(), 0);
}

TEST_F(WndmsgTest, SimultaneousSingleInstanceStartsLeaveExactlyOne) {
  for (int round = 0; round < 5; ++round) {
    std::string cls = "SingleClass" + std::to_string(round);
    ChildProcess a({peer_path(), "single", cls});
    ChildProcess b({peer_path(), "single", cls});
    a.send("go");
    b.send("go");
    std::string la = a.line(), lb = b.line();
    ASSERT_TRUE((la == "single 1" && lb == "single 0") || (la == "single 0" && lb == "single 1")) << la << " / " << lb;
    // The guard goes with its holder's death, even an unclean one.
    ChildProcess& holder = la == "single 1" ? a : b;
    holder.signal(SIGKILL);
    holder.wait();
    ChildProcess c({peer_path(), "single", cls});
    c.send("go");
    EXPECT_EQ(c.line(), "single 1");
  }
  // Within one process the claim is idempotent.
  EXPECT_EQ(wm_single_instance("OwnClass"), 1);
  EXPECT_EQ(wm_single_instance("OwnClass"), 1);
  EXPECT_EQ(wm_single_instance(""), -1);
}

TEST_F(WndmsgTest, DirectoryOpenToOthersIsRefused) {
  std::string dir = std::string(wm_directory()) + "/open";
  ASSERT_EQ(mkdir(dir.c_str(), 0755), 0);
  ASSERT_EQ(chmod(dir.c_str(), 0755), 0);
  ChildProcess p({peer_path(), "dir"}, {{"MORVEL_WNDMSG_DIR", dir}});
  EXPECT_EQ(p.line(), "unusable");
  EXPECT_EQ(p.line(), "create 0");
  ChildProcess q({peer_path(), "dir"}, {{"MORVEL_WNDMSG_DIR", std::string(wm_directory()) + "/fresh"}});
  EXPECT_EQ(q.line(), "ok");
  EXPECT_NE(q.line(), "create 0");
}

TEST_F(WndmsgTest, TitleChangeIsVisibleToFind) {
  wm_handle h = wm_create("TitleClass", "Alt", nullptr, nullptr);
  ASSERT_NE(h, 0u);
  EXPECT_EQ(wm_find(nullptr, "Alt"), h);
  EXPECT_EQ(wm_set_title(h, "Neu"), 1);
  EXPECT_EQ(wm_find(nullptr, "Alt"), 0u);
  EXPECT_EQ(wm_find("TitleClass", "Neu"), h);
  wm_destroy(h);
  EXPECT_EQ(wm_find("TitleClass", nullptr), 0u);
  EXPECT_EQ(wm_fd(h), -1);
  EXPECT_EQ(wm_dispatch(h, 0), -1);
}

}  // namespace
