// The channel library in one process: byte layout checked on the raw shared
// memory, ring arithmetic at its edges, and arguments out of range.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cmath>
#include <numeric>
#include <thread>
#include <vector>

#include "dvdll_test.h"
#include "wndmsg/wndmsg.h"

namespace {

using dvdll::RingLength;

class DvdllTest : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_NE(getenv("DVDLL_NAMESPACE"), nullptr) << "run through ctest (isolate.sh)";
    ASSERT_TRUE(DV_IsAttached());
    ASSERT_TRUE(raw.ok());
    DV_QuitCommand();
  }

  // Lays out n channels and returns L.
  int32_t layout(int n) {
    DV_SetNrOfChan(n);
    return RingLength(n);
  }

  // Raw position fields of a record.
  int32_t field(int n, int k, int i, size_t f) { return raw.i32(RawArea::record(n, k, i) + f); }
  void set_field(int n, int k, int i, size_t f, int32_t v) { raw.put<int32_t>(RawArea::record(n, k, i) + f, v); }
  float sample(int n, int i, int32_t pos) {
    return raw.get<float>(static_cast<size_t>(dvdll::RingOffset(n, i)) + 4 * static_cast<size_t>(pos));
  }

  static std::vector<float> iota_floats(int count, float first) {
    std::vector<float> v(static_cast<size_t>(count));
    std::iota(v.begin(), v.end(), first);
    return v;
  }

  RawArea raw;
};

TEST_F(DvdllTest, FiveChannelsLayout) {
  const int32_t L = layout(5);
  EXPECT_EQ(L, 3354896);
  EXPECT_EQ(raw.i32(0), 5);
  for (int k = 0; k < 5; ++k)
    for (int i = 0; i < 5; ++i) {
      SCOPED_TRACE(testing::Message() << "client " << k << " channel " << i);
      EXPECT_EQ(field(5, k, i, kBufLen), L);
      EXPECT_EQ(field(5, k, i, kBufOffset), 12272 + 4 * L * i);
      EXPECT_EQ(field(5, k, i, kWritePos), 0);
      EXPECT_EQ(field(5, k, i, kReadPos), 0);
    }

  // The definition goes to the master record only, field by field.
  DV_SetChanDef(2, 17, "3", "Druck", "bar", "+", 0.001, -1.5, 2.5, -3.5, 4.5, 0x0F);
  size_t r = RawArea::record(5, 0, 2);
  EXPECT_EQ(raw.text(r + kMstnr), "3");
  EXPECT_EQ(raw.text(r + kName), "Druck");
  EXPECT_EQ(raw.text(r + kUnit), "bar");
  EXPECT_EQ(raw.text(r + kPolarity), "+");
  EXPECT_EQ(raw.i32(r + kPChan), 17);
  EXPECT_EQ(raw.get<double>(r + kRangeLow), -1.5);
  EXPECT_EQ(raw.get<double>(r + kRangeHigh), 2.5);
  EXPECT_EQ(raw.get<double>(r + kRangeLow2), -3.5);
  EXPECT_EQ(raw.get<double>(r + kRangeHigh2), 4.5);
  EXPECT_EQ(raw.get<double>(r + kClkrate), 0.001);
  EXPECT_EQ(raw.i32(r + kDigMsk), 0x0F);
  EXPECT_EQ(raw.text(RawArea::record(5, 3, 2) + kName), "") << "client copies carry no definition";

  // Samples land at BufOffset; each client's read position in its own copy.
  auto v = iota_floats(10, 1.0f);
  DV_WriteChanFloat(2, v.data(), 10);
  EXPECT_EQ(field(5, 0, 2, kWritePos), 10);
  for (int j = 0; j < 10; ++j) EXPECT_EQ(sample(5, 2, j), 1.0f + j);
  float out[4];
  for (int k = 0; k < 5; ++k) {
    EXPECT_EQ(DV_ReadChanEx(static_cast<DVCLIENT>(k), 2, reinterpret_cast<unsigned char*>(out), 4, 0), 4);
    EXPECT_EQ(field(5, k, 2, kReadPos), 4);
    EXPECT_EQ(DV_CheckChanEx(static_cast<DVCLIENT>(k), 2), 6);
  }
  EXPECT_EQ(out[3], 4.0f);
}

TEST_F(DvdllTest, RingLengthFollowsChannelCount) {
  struct Case {
    int n;
    int32_t len;
  } cases[] = {{1, 16776760}, {5, 3354896}, {16, 1048013}, {256, 64966}, {29382, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.n);
    DV_SetNrOfChan(c.n);
    EXPECT_EQ(DV_GetNrOfChan(), c.n);
    EXPECT_EQ(field(c.n, 0, 0, kBufLen), c.len);
    EXPECT_EQ(field(c.n, 4, c.n - 1, kBufLen), c.len);
    int64_t last = field(c.n, 4, c.n - 1, kBufOffset);
    EXPECT_EQ(last, 872 + 2280LL * c.n + 4LL * c.len * (c.n - 1));
    EXPECT_LE(last + 4LL * c.len, static_cast<int64_t>(dvdll::kMainSize));
  }
  // One sample per channel still works at the largest count.
  int v = 0x3F800000;
  DV_WriteChanOneFloatValue(29381, &v);
  EXPECT_EQ(DV_CheckChanEx(DVCLIENT_2, 29381), 1);
}

TEST_F(DvdllTest, ChannelCountOutOfRangeIsIgnoredAndZeroMeansNone) {
  layout(5);
  for (int bad : {-1, -100, 29383, INT_MAX}) {
    DV_SetNrOfChan(bad);
    EXPECT_EQ(DV_GetNrOfChan(), 5) << bad;
  }
  DV_SetNrOfChan(0);
  EXPECT_EQ(DV_GetNrOfChan(), 0);
  EXPECT_EQ(DV_GetChanName(0), nullptr);
  EXPECT_EQ(DV_CheckChanEx(DVCLIENT_1, 0), 0);
  EXPECT_EQ(EX_GetDataAvailable(1), 1000000000);
  float f = 1;
  DV_WriteChanFloat(0, &f, 1);
  EXPECT_EQ(DV_CheckChanEx(DVCLIENT_1, 0), 0);
}

TEST_F(DvdllTest, RelayoutKeepsNamesFrozenPositionsAndSamples) {
  layout(5);
  DV_SetChanDef(1, 4, "2", "Drehzahl", "1/min", "+", 0.01, 0, 1, 0, 1, 0);
  auto v = iota_floats(100, 0.5f);
  DV_WriteChanFloat(1, v.data(), 100);
  std::vector<float> out(30);
  DV_ReadChanEx(DVCLIENT_2, 1, reinterpret_cast<unsigned char*>(out.data()), 30, 0);
  DV_FreezeBuffers(DVCLIENT_2);
  ASSERT_EQ(field(5, 2, 1, kFrozenWritePos), 100);
  ASSERT_EQ(field(5, 2, 1, kFrozenReadPos), 30);

  DV_SetNrOfChan(5);
  EXPECT_STREQ(DV_GetChanName(1), "Drehzahl");
  EXPECT_EQ(DV_GetChanPChan(1), 4);
  EXPECT_EQ(field(5, 2, 1, kFrozenWritePos), 100);
  EXPECT_EQ(field(5, 2, 1, kFrozenReadPos), 30);
  EXPECT_EQ(field(5, 0, 1, kWritePos), 0);
  EXPECT_EQ(field(5, 2, 1, kReadPos), 0);
  for (int j = 0; j < 100; ++j) ASSERT_EQ(sample(5, 1, j), 0.5f + j);
}

TEST_F(DvdllTest, HeaderFieldsAtTheirOffsets) {
  char unit[] = "s";
  DV_SetXUnit(unit);
  EXPECT_EQ(raw.text(296), "s");
  char cmd[] = "C:\\daten\\lauf.vdt";
  DV_WriteCommand(cmd);
  EXPECT_EQ(raw.text(32), cmd);
  EXPECT_STREQ(DV_ReadCommand(), cmd);
  char state[] = "bereit";
  DV_SetState(state);
  EXPECT_EQ(raw.text(616), "bereit");
  DV_Run(true);
  EXPECT_EQ(*raw.at(288), 1);
  EXPECT_TRUE(DV_IsRunning());
  DV_Run(false);
  EXPECT_EQ(*raw.at(288), 0);
  DV_Analogout(3, 2.5);
  EXPECT_EQ(raw.get<double>(328 + 3 * 8), 2.5);
  EXPECT_EQ(*raw.at(584 + 3), 1);
  EXPECT_TRUE(DV_AnalogoutState(3));
  EXPECT_EQ(DV_AnalogoutGet(3), 2.5);
  EXPECT_EQ(*raw.at(584 + 3), 0);
  EXPECT_FALSE(DV_AnalogoutState(3));
  DV_Register(DVCLIENT_2, 0x12345678);
  EXPECT_EQ(raw.get<uint32_t>(8 + 2 * 4), 0x12345678u);
  EXPECT_TRUE(DV_SetCommand(static_cast<ECOMMAND>(7)));
  EXPECT_EQ(raw.i32(28), 7);
  DV_QuitCommand();
}

TEST_F(DvdllTest, ViewFlagFollowsRegisterAndDravonView) {
  DV_Register(DVCLIENT_0, 11);
  EXPECT_TRUE(DV_IsDravonViewThere());
  EXPECT_EQ(*raw.at(4), 1);
  DV_Register(DVCLIENT_1, 12);
  EXPECT_FALSE(DV_IsDravonViewThere());
  EXPECT_EQ(raw.get<uint32_t>(8), 11u);
  EXPECT_EQ(raw.get<uint32_t>(12), 12u);
  DV_DravonView(true);
  EXPECT_TRUE(DV_IsDravonViewThere());
  DV_DravonView(false);
  EXPECT_FALSE(DV_IsDravonViewThere());
  EX_Register(0, 13);
  EXPECT_TRUE(DV_IsDravonViewThere());
  EXPECT_EQ(raw.get<uint32_t>(8), 13u);
}

TEST_F(DvdllTest, CommandMailbox) {
  EXPECT_TRUE(DV_IsCommandDone());
  EXPECT_TRUE(DV_SetCommand(static_cast<ECOMMAND>(5)));
  EXPECT_EQ(DV_GetCommand(), 5);
  EXPECT_FALSE(DV_IsCommandDone());
  EXPECT_FALSE(DV_SetCommand(static_cast<ECOMMAND>(6)));
  EXPECT_EQ(DV_GetCommand(), 5);
  DV_QuitCommand();
  EXPECT_TRUE(DV_IsCommandDone());
  EXPECT_TRUE(DV_SetCommand(static_cast<ECOMMAND>(6)));
  EXPECT_EQ(DV_GetCommand(), 6);
  DV_QuitCommand();
}

TEST_F(DvdllTest, RacingSendersNeverBothWinTheMailbox) {
  constexpr int kThreads = 4, kRounds = 300;
  for (int round = 0; round < kRounds; ++round) {
    DV_QuitCommand();
    std::atomic<bool> go{false};
    std::atomic<int> winners{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
      threads.emplace_back([&, t] {
        while (!go.load()) {}
        if (DV_SetCommand(static_cast<ECOMMAND>(t + 1))) winners.fetch_add(1);
      });
    go = true;
    for (auto& th : threads) th.join();
    ASSERT_EQ(winners.load(), 1) << "round " << round;
  }
  DV_QuitCommand();
}

class RingTest : public DvdllTest {
protected:
  static constexpr int kN = 256;
  static constexpr int kChan = 3;
  void SetUp() override {
    DvdllTest::SetUp();
    L = layout(kN);
  }
  // Known contents: ring[j] = j.
  void fill_ring() {
    auto v = iota_floats(L, 0.0f);
    memcpy(raw.at(static_cast<size_t>(dvdll::RingOffset(kN, kChan))), v.data(), v.size() * 4);
  }
  int32_t L = 0;
};

TEST_F(RingTest, AppendAcrossTheEnd) {
  set_field(kN, 0, kChan, kWritePos, L - 3);
  set_field(kN, 1, kChan, kReadPos, L - 3);
  auto v = iota_floats(10, 1.0f);
  DV_WriteChanFloat(kChan, v.data(), 10);
  EXPECT_EQ(field(kN, 0, kChan, kWritePos), 7);
  for (int j = 0; j < 3; ++j) EXPECT_EQ(sample(kN, kChan, L - 3 + j), 1.0f + j);
  for (int j = 0; j < 7; ++j) EXPECT_EQ(sample(kN, kChan, j), 4.0f + j);
  EXPECT_EQ(DV_CheckChanEx(DVCLIENT_1, kChan), 10);
  std::vector<float> out(10);
  EXPECT_EQ(DV_ReadChanEx(DVCLIENT_1, kChan, reinterpret_cast<unsigned char*>(out.data()), 10, 0), 7);
  EXPECT_EQ(out, v);
  EXPECT_EQ(field(kN, 1, kChan, kReadPos), 7);
}

TEST_F(RingTest, AppendExactlyToTheEnd) {
  set_field(kN, 0, kChan, kWritePos, L - 5);
  auto v = iota_floats(5, 1.0f);
  DV_WriteChanFloat(kChan, v.data(), 5);
  EXPECT_EQ(field(kN, 0, kChan, kWritePos), L);
  EXPECT_EQ(DV_CheckChanEx(DVCLIENT_1, kChan), L);  // reader at 0
  int one = 0x40000000;                              // 2.0f
  DV_WriteChanOneFloatValue(kChan, &one);
  EXPECT_EQ(field(kN, 0, kChan, kWritePos), 1);
  EXPECT_EQ(sample(kN, kChan, 0), 2.0f);
  // A reader at the end position continues at the start.
  set_field(kN, 2, kChan, kReadPos, L);
  float out = 0;
  EXPECT_EQ(DV_CheckChanEx(DVCLIENT_2, kChan), 1);
  DV_ReadChanEx(DVCLIENT_2, kChan, reinterpret_cast<unsigned char*>(&out), 1, 0);
  EXPECT_EQ(out, 2.0f);
}

TEST_F(RingTest, ModeOneReadsTheNewestAcrossTheWrap) {
  fill_ring();
  set_field(kN, 0, kChan, kWritePos, 50);
  std::vector<float> out(100);
  EXPECT_EQ(DV_ReadChanEx(DVCLIENT_1, kChan, reinterpret_cast<unsigned char*>(out.data()), 100, 1), 50);
  for (int j = 0; j < 50; ++j) EXPECT_EQ(out[static_cast<size_t>(j)], static_cast<float>(L - 50 + j));
  for (int j = 0; j < 50; ++j) EXPECT_EQ(out[static_cast<size_t>(50 + j)], static_cast<float>(j));
  EXPECT_EQ(field(kN, 1, kChan, kReadPos), 50);
}

TEST_F(RingTest, ReadFromEndAcrossTheWrap) {
  fill_ring();
  set_field(kN, 0, kChan, kWritePos, 10);
  DV_FreezeBuffers(DVCLIENT_3);
  EXPECT_EQ(field(kN, 3, kChan, kFrozenWritePos), 10);
  std::vector<float> out(20);
  DV_ReadChanFromEnd(DVCLIENT_3, kChan, reinterpret_cast<unsigned char*>(out.data()), 20);
  for (int j = 0; j < 10; ++j) EXPECT_EQ(out[static_cast<size_t>(j)], static_cast<float>(L - 10 + j));
  for (int j = 0; j < 10; ++j) EXPECT_EQ(out[static_cast<size_t>(10 + j)], static_cast<float>(j));
  EXPECT_EQ(field(kN, 3, kChan, kReadPos), 10);
}

TEST_F(RingTest, FrozenBlockReadsEveryChannelToTheSameInstant) {
  for (int c = 0; c < 3; ++c) {
    auto v = iota_floats(10 * (c + 1), 100.0f * c);
    DV_WriteChanFloat(c, v.data(), static_cast<int>(v.size()));
  }
  // Channels 3.. have nothing, so the common count is 0; with three channels
  // defined it is the smallest of 10, 20, 30.
  EXPECT_EQ(EX_GetDataAvailable(4), 0);
  DV_SetNrOfChan(3);
  for (int c = 0; c < 3; ++c) {
    auto v = iota_floats(10 * (c + 1), 100.0f * c);
    DV_WriteChanFloat(c, v.data(), static_cast<int>(v.size()));
  }
  EXPECT_EQ(EX_GetDataAvailable(4), 10);
  std::vector<float> out(10);
  for (int c = 0; c < 3; ++c) {
    EXPECT_EQ(DV_CheckChan(DVCLIENT_4, c), 10 * (c + 1));
    EXPECT_EQ(EX_GetData(4, c, reinterpret_cast<unsigned char*>(out.data()), 10), 0);
    EXPECT_EQ(out[0], 100.0f * c);
    EXPECT_EQ(out[9], 100.0f * c + 9);
    EXPECT_EQ(field(3, 4, c, kReadPos), 10);
  }
  // Reading the whole frozen count leaves ReadPos at FrozenWritePos.
  DV_FreezeBuffers(DVCLIENT_4);
  std::vector<float> rest(20);
  DV_ReadChan(DVCLIENT_4, 2, reinterpret_cast<unsigned char*>(rest.data()), DV_CheckChan(DVCLIENT_4, 2));
  EXPECT_EQ(field(3, 4, 2, kReadPos), field(3, 4, 2, kFrozenWritePos));
  EXPECT_EQ(rest[19], 229.0f);
  // Reset discards the rest, for one channel or all.
  DV_ResetBuffer(DVCLIENT_4, 1);
  EXPECT_EQ(DV_CheckChanEx(DVCLIENT_4, 1), 0);
  EXPECT_EQ(DV_CheckChanEx(DVCLIENT_4, 0), 0);
  DV_ResetBuffer(DVCLIENT_1, -1);
  for (int c = 0; c < 3; ++c) EXPECT_EQ(DV_CheckChanEx(DVCLIENT_1, c), 0);
}

TEST_F(RingTest, WriteLongerThanTheRingGoesInChunks) {
  auto v = iota_floats(L + 7, 0.0f);
  DV_WriteChanFloat(kChan, v.data(), L + 7);
  EXPECT_EQ(field(kN, 0, kChan, kWritePos), 7);
  for (int j : {0, 6}) EXPECT_EQ(sample(kN, kChan, j), static_cast<float>(L + j));
  for (int j : {7, L - 1}) EXPECT_EQ(sample(kN, kChan, j), static_cast<float>(j));
  // Nothing was written past the ring into the next channel's.
  EXPECT_EQ(sample(kN, kChan + 1, 0), 0.0f);
}

TEST_F(RingTest, ReadCountsAreCheckedAndClamped) {
  fill_ring();
  set_field(kN, 0, kChan, kWritePos, 100);
  std::vector<float> out(static_cast<size_t>(L) + 16, -1.0f);
  auto* dst = reinterpret_cast<unsigned char*>(out.data());
  for (int count : {0, -1, INT_MIN}) {
    EXPECT_EQ(DV_ReadChanEx(DVCLIENT_1, kChan, dst, count, 0), 0);
    EXPECT_EQ(DV_ReadChanEx(DVCLIENT_1, kChan, dst, count, 1), 0);
    EXPECT_EQ(DV_ReadChan(DVCLIENT_1, kChan, dst, count), 0);
    EXPECT_EQ(DV_ReadChanFromEnd(DVCLIENT_1, kChan, dst, count), 0);
    EXPECT_EQ(out[0], -1.0f);
    EXPECT_EQ(field(kN, 1, kChan, kReadPos), 0);
  }
  EXPECT_EQ(DV_ReadChanEx(DVCLIENT_1, kChan, dst, L + 16, 0), L);
  EXPECT_EQ(out[static_cast<size_t>(L) - 1], static_cast<float>(L - 1));
  for (size_t j = static_cast<size_t>(L); j < out.size(); ++j) ASSERT_EQ(out[j], -1.0f);
  DV_FreezeBuffers(DVCLIENT_1);
  std::fill(out.begin(), out.end(), -1.0f);
  DV_ReadChanFromEnd(DVCLIENT_1, kChan, dst, INT_MAX);
  EXPECT_EQ(out[0], 100.0f);  // the oldest of the last L samples
  EXPECT_EQ(out[static_cast<size_t>(L) - 1], 99.0f);
  for (size_t j = static_cast<size_t>(L); j < out.size(); ++j) ASSERT_EQ(out[j], -1.0f);
}

TEST_F(RingTest, ReadsCheckTheGeometryAgainstTheChannelCount) {
  auto v = iota_floats(10, 1.0f);
  DV_WriteChanFloat(kChan, v.data(), 10);
  ASSERT_EQ(DV_CheckChanEx(DVCLIENT_1, kChan), 10);
  std::vector<float> out(10, -1.0f);
  auto* dst = reinterpret_cast<unsigned char*>(out.data());
  // Which reads must refuse: the current position (mode 0) needs ReadPos,
  // the newest block (mode 1) needs WritePos, the count needs both.
  struct Case {
    const char* what;
    size_t offset;
    int32_t bad;
    bool mode0_refused, mode1_refused;
  } cases[] = {
      {"channel count changed", 0, 7, true, true},
      {"channel count beyond range", 0, 40000, true, true},
      {"client copy length", RawArea::record(kN, 1, kChan) + kBufLen, L + 1, true, true},
      {"client copy offset", RawArea::record(kN, 1, kChan) + kBufOffset, 60000000, true, true},
      {"write position past L", RawArea::record(kN, 0, kChan) + kWritePos, L + 5, false, true},
      {"negative read position", RawArea::record(kN, 1, kChan) + kReadPos, -3, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    int32_t saved = raw.i32(c.offset);
    int32_t saved_rp = field(kN, 1, kChan, kReadPos);
    raw.put<int32_t>(c.offset, c.bad);
    EXPECT_EQ(DV_CheckChanEx(DVCLIENT_1, kChan), 0);
    std::fill(out.begin(), out.end(), -1.0f);
    EXPECT_EQ(DV_ReadChanEx(DVCLIENT_1, kChan, dst, 10, 0) == 0, c.mode0_refused);
    EXPECT_EQ(out[0] == -1.0f, c.mode0_refused);
    std::fill(out.begin(), out.end(), -1.0f);
    EXPECT_EQ(DV_ReadChanEx(DVCLIENT_1, kChan, dst, 5, 1) == 0, c.mode1_refused);
    EXPECT_EQ(out[0] == -1.0f, c.mode1_refused);
    raw.put<int32_t>(c.offset, saved);
    set_field(kN, 1, kChan, kReadPos, saved_rp);
  }
  EXPECT_EQ(DV_CheckChanEx(DVCLIENT_1, kChan), 10);
}

TEST_F(RingTest, OutOfRangeArgumentsChangeNothing) {
  fill_ring();
  DV_Analogout(0, 1.0);
  std::vector<unsigned char> before(raw.at(0), raw.at(0) + dvdll::kMainSize);
  std::vector<unsigned char> blob_before(dvdll::kBlobSize);
  DV_ReadBlob(blob_before.data(), 0, static_cast<int>(blob_before.size()));
  float f[4] = {1, 2, 3, 4};
  char text[] = "x";
  unsigned char bytes[8] = {9, 9, 9, 9, 9, 9, 9, 9};
  for (int chan : {-1, -2, kN, INT_MAX, INT_MIN}) {
    DV_SetChanDef(chan, 1, "a", "b", "c", "d", 1, 2, 3, 4, 5, 6);
    DV_SetChanName(chan, text);
    DV_SetChanUnit(chan, text);
    DV_SetChanPolarity(chan, text);
    DV_SetChanClk(chan, 3.0);
    DV_WriteChanFloat(chan, f, 4);
    DV_WriteChan(chan, reinterpret_cast<unsigned char*>(f), 4);
    int one = 1;
    DV_WriteChanOneFloatValue(chan, &one);
    EXPECT_EQ(DV_ReadChanEx(DVCLIENT_1, chan, bytes, 1, 0), 0);
    DV_ResetBuffer(DVCLIENT_1, chan == -1 ? -2 : chan);
    EXPECT_EQ(DV_GetChanName(chan), nullptr);
    EXPECT_EQ(DV_GetChanClkrate(chan), 0.0);
    EXPECT_EQ(DV_GetChanPChan(chan), 0);
  }
  for (int client : {-1, 5, 100}) {
    auto c = static_cast<DVCLIENT>(client);
    EXPECT_EQ(DV_ReadChanEx(c, 0, bytes, 1, 0), 0);
    EXPECT_EQ(DV_CheckChanEx(c, 0), 0);
    EXPECT_EQ(DV_CheckChan(c, 0), 0);
    DV_ResetBuffer(c, 0);
    DV_ResetBuffer(c, -1);
    DV_FreezeBuffers(c);
    DV_Register(c, 77);
    EX_Register(client, 77);
    EXPECT_EQ(EX_GetDataAvailable(client), 0);
    EXPECT_EQ(EX_GetData(client, 0, bytes, 1), 0);
  }
  DV_WriteChanFloat(0, nullptr, 4);
  DV_WriteChanFloat(0, f, 0);
  DV_WriteChanFloat(0, f, -4);
  for (int index : {-1, 32, INT_MAX}) {
    DV_Analogout(index, 5.0);
    EXPECT_FALSE(DV_AnalogoutState(index));
    EXPECT_EQ(DV_AnalogoutGet(index), 0.0);
  }
  struct BlobCase {
    int offset, count;
  } blobs[] = {{-1, 4}, {999997, 4}, {1000000, 1}, {INT_MAX - 2, 8}, {0, -1}, {0, 1000001}};
  for (const BlobCase& b : blobs) {
    DV_WriteBlob(bytes, b.offset, b.count);
    DV_ReadBlob(bytes, b.offset, b.count);
  }
  EXPECT_EQ(bytes[0], 9);
  EXPECT_TRUE(std::equal(before.begin(), before.end(), raw.at(0))) << "main area changed";
  std::vector<unsigned char> blob_after(dvdll::kBlobSize);
  DV_ReadBlob(blob_after.data(), 0, static_cast<int>(blob_after.size()));
  EXPECT_EQ(blob_before, blob_after);
  // The last bytes of the blob area are still reachable.
  DV_WriteBlob(bytes, 999992, 8);
  unsigned char back[8] = {};
  DV_ReadBlob(back, 999992, 8);
  EXPECT_EQ(back[7], 9);
}

TEST_F(DvdllTest, TextsAreCutToTheirFields) {
  layout(5);
  DV_SetChanDef(0, 1, "1", "Name", "mm", "+", 1, 0, 1, 0, 1, 0);
  std::string long_text(300, 'x');
  DV_SetChanName(0, long_text.data());
  size_t r = RawArea::record(5, 0, 0);
  EXPECT_EQ(raw.text(r + kName), std::string(255, 'x'));
  EXPECT_EQ(raw.text(r + kUnit), "mm") << "the next field is intact";
  DV_SetChanUnit(0, long_text.data());
  EXPECT_EQ(raw.text(r + kUnit), std::string(19, 'x'));
  EXPECT_EQ(raw.text(r + kPolarity), "+");
  DV_SetChanPolarity(0, long_text.data());
  EXPECT_EQ(raw.text(r + kPolarity), std::string(81, 'x'));
  EXPECT_EQ(raw.i32(r + kPChan), 1);
  DV_SetChanDef(0, 2, long_text.c_str(), "n", "u", "p", 1, 0, 1, 0, 1, 0);
  EXPECT_EQ(raw.text(r + kMstnr), std::string(9, 'x'));
  EXPECT_EQ(raw.text(r + kName), "n");

  DV_Analogout(0, 1.75);
  DV_Run(true);
  std::string caller(40, 'u');
  std::string copy = caller;
  DV_SetXUnit(caller.data());
  EXPECT_EQ(caller, copy) << "the caller's text is left alone";
  EXPECT_EQ(std::string(DV_GetXUnit()), std::string(31, 'u'));
  EXPECT_EQ(raw.get<double>(328), 1.75) << "AnalogoutValue follows XUnit";
  DV_WriteCommand(long_text.data());
  EXPECT_EQ(std::string(DV_ReadCommand()), std::string(255, 'x'));
  EXPECT_EQ(*raw.at(288), 1) << "RunFlag follows CommandText";
  DV_Run(false);
  DV_SetState(long_text.data());
  EXPECT_EQ(std::string(DV_GetState()), std::string(255, 'x'));
  DV_SetChanName(0, nullptr);
  EXPECT_STREQ(DV_GetChanName(0), "");

  char mstnr[10], name[256], unit[20], polarity[82];
  int pchan = 0;
  double clk = 0, lo = 0, hi = 0;
  int dig = -1;
  DV_GetChanDef(0, &pchan, mstnr, name, unit, polarity, &clk, &lo, &hi, &dig);
  EXPECT_EQ(pchan, 2);
  EXPECT_STREQ(mstnr, std::string(9, 'x').c_str());
  EXPECT_STREQ(unit, "u");
  EXPECT_EQ(dig, 0);
  char ex_name[256];
  EX_GetChannelDef(0, &pchan, mstnr, ex_name, unit);
  EXPECT_STREQ(ex_name, "");
  EXPECT_EQ(EX_GetChannelCount(), 5);
}

TEST_F(DvdllTest, ExRequestsWithoutALiveSlotFourWindowFailAndKeepTheText) {
  char keep[] = "unveraendert";
  DV_WriteCommand(keep);
  DV_Register(DVCLIENT_4, 0);
  EXPECT_FALSE(EX_LoadConfig("neu.dvw"));
  EXPECT_FALSE(EX_SetDataPath("/daten"));
  EXPECT_FALSE(EX_Start(1));
  EXPECT_FALSE(EX_Stop());
  EXPECT_STREQ(DV_ReadCommand(), keep);
  // A handle whose window is gone.
  wm_handle gone = wm_create("Weg", "Weg", nullptr, nullptr);
  ASSERT_NE(gone, 0u);
  wm_destroy(gone);
  DV_Register(DVCLIENT_4, gone);
  EXPECT_FALSE(EX_LoadConfig("neu.dvw"));
  EXPECT_STREQ(DV_ReadCommand(), keep);
  DV_Register(DVCLIENT_4, 0);
}

// The exported symbols are the interface other programs bind to: compare
// them with the checked-in list.
TEST(DvdllAbi, ExportedSymbolsMatchTheList) {
  std::string cmd = std::string("nm -D --defined-only -C '") + DVDLL_LIBRARY + "'";
  FILE* p = popen(cmd.c_str(), "r");
  ASSERT_NE(p, nullptr);
  std::vector<std::string> got;
  char line[1024];
  while (fgets(line, sizeof line, p)) {
    std::string l(line);
    while (!l.empty() && (l.back() == '\n' || l.back() == '\r')) l.pop_back();
    // "address type name"
    size_t a = l.find(' ');
    if (a == std::string::npos || a + 3 > l.size()) continue;
    std::string name = l.substr(a + 3);
    if (name.rfind("__asan", 0) == 0 || name.rfind("__ubsan", 0) == 0 || name.rfind("__sanitizer", 0) == 0 ||
        name.rfind("___asan", 0) == 0 || name.rfind("__odr_asan", 0) == 0)
      continue;
    got.push_back(name);
  }
  ASSERT_EQ(pclose(p), 0) << cmd;
  std::sort(got.begin(), got.end());
  got.erase(std::unique(got.begin(), got.end()), got.end());

  std::vector<std::string> want;
  FILE* f = fopen(MORVEL_TEST_DATA_DIR "/dvdll_abi.txt", "r");
  ASSERT_NE(f, nullptr);
  while (fgets(line, sizeof line, f)) {
    std::string l(line);
    while (!l.empty() && (l.back() == '\n' || l.back() == '\r')) l.pop_back();
    if (!l.empty() && l[0] != '#') want.push_back(l);
  }
  fclose(f);
  std::sort(want.begin(), want.end());

  std::vector<std::string> missing, extra;
  std::set_difference(want.begin(), want.end(), got.begin(), got.end(), std::back_inserter(missing));
  std::set_difference(got.begin(), got.end(), want.begin(), want.end(), std::back_inserter(extra));
  std::string report;
  for (auto& s : missing) report += "  missing: " + s + "\n";
  for (auto& s : extra) report += "  extra:   " + s + "\n";
  EXPECT_TRUE(missing.empty() && extra.empty()) << report;
}

}  // namespace
