// The channel library between real processes, and the acquisition-program
// stand-in driven through the library and window messages.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/resource.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "../wndmsg/child_process.h"
#include "channels/acquisition.h"
#include "channels/dvdll.h"
#include "wndmsg/wndmsg.h"

namespace {

// A namespace of the test's own, next to (not shared with) the one this test
// process itself is attached to; removed afterwards.
class SubNamespace {
public:
  explicit SubNamespace(const std::string& suffix) : name_(std::string(getenv("DVDLL_NAMESPACE")) + "-" + suffix) {}
  ~SubNamespace() {
    shm_unlink(("/" + name_ + ".dllmemfilemap").c_str());
    shm_unlink(("/" + name_ + ".dllmemfilemapblob").c_str());
    shm_unlink(("/" + name_ + ".dllmemfilemap.lock").c_str());
  }
  ChildProcess::Env env() const { return {{"DVDLL_NAMESPACE", name_}}; }
  bool exists(const char* area) const {
    int fd = shm_open(("/" + name_ + area).c_str(), O_RDONLY, 0);
    if (fd >= 0) close(fd);
    return fd >= 0;
  }

private:
  std::string name_;
};

ChildProcess::Env env_of(const SubNamespace& ns) { return ns.env(); }

std::vector<std::string> peer(std::initializer_list<std::string> args) {
  std::vector<std::string> v{DVDLL_PEER};
  v.insert(v.end(), args);
  return v;
}

TEST(DvdllProcesses, ReaderGetsEverySampleInOrderAcrossManyWraps) {
  SubNamespace ns("wr");
  // 256 channels: L = 64,966, so 3,000,000 samples wrap the ring 46 times.
  const std::string total = "3000000";
  ChildProcess writer(peer({"writer", "11", total, "5000"}), env_of(ns));
  ASSERT_EQ(writer.line(), "ready");
  ChildProcess reader(peer({"reader", "23", total, "7000"}), env_of(ns));
  ASSERT_EQ(reader.line(), "ready");
  ASSERT_TRUE(writer.send("go"));
  std::string result = reader.line(120000);
  EXPECT_EQ(result.rfind("ok " + total + " wraps ", 0), 0u) << result;
  EXPECT_NE(result, "ok " + total + " wraps 0");
  EXPECT_EQ(writer.line(), "written " + total);
  writer.close_input();
  EXPECT_EQ(writer.wait(), 0);
  EXPECT_EQ(reader.wait(), 0);
  // Both gone: the areas went with the last one.
  EXPECT_FALSE(ns.exists(".dllmemfilemap"));
  EXPECT_FALSE(ns.exists(".dllmemfilemapblob"));
}

TEST(DvdllProcesses, SecondProcessSeesTheFirstAndAKilledLastOneLeavesNothing) {
  SubNamespace ns("kill");
  ChildProcess first(peer({"fill", "3.5", "1000"}), env_of(ns));
  ASSERT_EQ(first.line(), "ready");
  {
    ChildProcess second(peer({"sees", "3.5", "1000"}), env_of(ns));
    EXPECT_EQ(second.line(), "ok");
    EXPECT_EQ(second.wait(), 0);
  }
  EXPECT_TRUE(ns.exists(".dllmemfilemap")) << "the first process still has it";
  first.signal(SIGKILL);
  EXPECT_EQ(first.wait(), 128 + SIGKILL);
  // The killed process could not remove anything; the next attach must still
  // start from zeros.
  ChildProcess next(peer({"zero"}), env_of(ns));
  EXPECT_EQ(next.line(), "zero");
  EXPECT_EQ(next.wait(), 0);
  EXPECT_FALSE(ns.exists(".dllmemfilemap"));
}

TEST(DvdllProcesses, AttachFailureLeavesEveryFunctionHarmless) {
  for (const char* bad : {"a/b", "mit leerzeichen", ".versteckt"}) {
    ChildProcess p(peer({"noattach"}), {{"DVDLL_NAMESPACE", bad}});
    EXPECT_EQ(p.line(), "noop") << bad;
    EXPECT_EQ(p.wait(), 0);
  }
}

TEST(DvdllProcesses, TooLittleRoomForTheAreaIsACleanAttachFailure) {
  SubNamespace ns("full");
  // A file size limit below the area's size makes reserving it fail, as a
  // full /dev/shm would.
  ChildProcess p(peer({"noattach"}), env_of(ns), [] {
    signal(SIGXFSZ, SIG_IGN);
    rlimit lim{1 << 20, 1 << 20};
    setrlimit(RLIMIT_FSIZE, &lim);
  });
  EXPECT_EQ(p.line(), "noop");
  EXPECT_EQ(p.wait(), 0);
  EXPECT_FALSE(ns.exists(".dllmemfilemap"));
  EXPECT_FALSE(ns.exists(".dllmemfilemapblob"));
}

TEST(DvdllProcesses, ForkedChildLeavingDoesNotTakeTheAreasAlong) {
  char state[] = "vom Elternprozess";
  DV_SetState(state);
  pid_t pid = fork();
  if (pid == 0) exit(0);  // runs the library's detach in the child
  int st = -1;
  ASSERT_EQ(waitpid(pid, &st, 0), pid);
  ASSERT_TRUE(DV_IsAttached());
  ChildProcess other(peer({"state"}));
  EXPECT_EQ(other.line(), "vom Elternprozess");
  EXPECT_EQ(other.wait(), 0);
}

class StandinTest : public ::testing::Test {
protected:
  void SetUp() override {
    view_ = wm_register_message(acquisition::kMessageName);
    ASSERT_NE(view_, 0u);
    standin_ = std::make_unique<ChildProcess>(std::vector<std::string>{
        DRAVON_STANDIN, "--channels", "3:0.001,9:0.01", "--result18", "5", "--bits", "2=0xA5", "--bits-all", "1",
        "versuch.dvw"});
    ASSERT_EQ(standin_->line(), "config versuch.dvw");
    std::istringstream in(standin_->line());
    std::string word;
    in >> word >> wnd_;
    ASSERT_EQ(word, "ready");
    ASSERT_NE(wnd_, 0u);
  }
  void TearDown() override {
    if (standin_) {
      standin_->close_input();
      standin_->wait();
    }
    DV_Register(DVCLIENT_4, 0);
  }
  // Runs commands and waits until the stand-in has done them.
  void command(const std::string& text) {
    ASSERT_TRUE(standin_->send(text));
    ASSERT_TRUE(standin_->send("sync"));
    ASSERT_EQ(standin_->line(), "ok");
  }
  std::vector<float> read_all(int chan) {
    std::vector<float> v(static_cast<size_t>(DV_CheckChanEx(DVCLIENT_1, chan)));
    DV_ReadChanEx(DVCLIENT_1, chan, reinterpret_cast<unsigned char*>(v.data()), static_cast<int>(v.size()), 0);
    return v;
  }

  uint32_t view_ = 0;
  wm_handle wnd_ = 0;
  std::unique_ptr<ChildProcess> standin_;
};

TEST_F(StandinTest, DefinesChannelsAndWritesOnCommand) {
  ASSERT_EQ(DV_GetNrOfChan(), 2);
  EXPECT_EQ(DV_GetChanPChan(0), 3);
  EXPECT_EQ(DV_GetChanPChan(1), 9);
  EXPECT_EQ(DV_GetChanClkrate(1), 0.01);
  EXPECT_TRUE(DV_IsRunning());
  EXPECT_EQ(wm_find(acquisition::kWindowClass, nullptr), wnd_);

  command("counter 0 100");
  auto c = read_all(0);
  ASSERT_EQ(c.size(), 100u);
  for (size_t i = 0; i < c.size(); ++i) ASSERT_EQ(c[i], static_cast<float>(i));
  command("counter 0 5");
  EXPECT_EQ(read_all(0)[0], 100.0f) << "the counter continues";

  command("sine 1 40 2 20");
  auto s = read_all(1);
  ASSERT_EQ(s.size(), 40u);
  EXPECT_NEAR(s[0], 0.0f, 1e-6);
  EXPECT_NEAR(s[5], 2.0f, 1e-6);
  EXPECT_NEAR(s[15], -2.0f, 1e-6);

  std::string path = std::string(getenv("MORVEL_WNDMSG_DIR")) + "/werte.txt";
  std::ofstream(path) << "1.5 2.5\n-3\n";
  command("file 0 " + path);
  EXPECT_EQ(read_all(0), (std::vector<float>{1.5f, 2.5f, -3.0f}));
}

TEST_F(StandinTest, AnswersCodesAndLogsThem) {
  char file[] = "C:\\daten\\messung.vdt";
  DV_WriteCommand(file);
  int status = -1;
  EXPECT_EQ(wm_send(wnd_, view_, acquisition::kStoreStart, 0, 5000, &status), 5);
  EXPECT_EQ(status, WNDMSG_OK);
  EXPECT_EQ(standin_->line(), "code 18 lparam 0 text C:\\daten\\messung.vdt");
  EXPECT_EQ(wm_send(wnd_, view_, acquisition::DigitalInCode(2), 0, 5000, nullptr), 0xA5);
  EXPECT_EQ(standin_->line(), "code 100 lparam 0 text C:\\daten\\messung.vdt");
  EXPECT_EQ(wm_send(wnd_, view_, acquisition::DigitalInCode(3), 0, 5000, nullptr), 1);
  standin_->line();
  command("result18 0");
  EXPECT_EQ(wm_send(wnd_, view_, acquisition::kStoreStart, 0, 5000, nullptr), 0);
  standin_->line();

  EXPECT_GE(wm_broadcast(view_, acquisition::DigitalOutCode(1), 0x0F), 1);
  EXPECT_EQ(standin_->line(), "code 67 lparam 15 text C:\\daten\\messung.vdt");
  EXPECT_EQ(wm_activate(wnd_), 1);
  EXPECT_EQ(standin_->line(), "activate");
}

TEST_F(StandinTest, ExRequestsReachTheSlotFourWindow) {
  EXPECT_TRUE(EX_LoadConfig("pruefstand.dvw"));
  EXPECT_EQ(standin_->line(), "request 1 lparam 0 text pruefstand.dvw");
  EXPECT_TRUE(EX_SetDataPath("/daten/heute"));
  EXPECT_EQ(standin_->line(), "request 2 lparam 0 text /daten/heute");
  EXPECT_TRUE(EX_Start(7));
  EXPECT_EQ(standin_->line(), "request 3 lparam 7 text /daten/heute");
  EXPECT_TRUE(EX_Stop());
  EXPECT_EQ(standin_->line(), "request 4 lparam 0 text /daten/heute");

  // Once the window is gone the requests fail and leave the text alone.
  EXPECT_EQ(wm_request_quit(wnd_), 1);
  EXPECT_EQ(standin_->line(), "quit");
  EXPECT_EQ(standin_->wait(), 0);
  EXPECT_FALSE(EX_LoadConfig("anders.dvw"));
  EXPECT_FALSE(EX_Stop());
  EXPECT_STREQ(DV_ReadCommand(), "/daten/heute");
  EXPECT_EQ(wm_send(wnd_, view_, acquisition::kStoreStart, 0, 5000, nullptr), 0);
}

}  // namespace
