// Record-format files: general header, channel records, storage orders, ring.
#include <gtest/gtest.h>

#include <vector>

#include "datafiles/datafile.h"
#include "fixtures.h"

using namespace morvel::datafiles;
using fixtures::dat;
using fixtures::DatChannel;

namespace {

class Dat : public ::testing::Test {
 protected:
  bool openBytes(const std::string& bytes, const char* name = "t.dat") {
    std::string path = dir / name;
    fixtures::writeFile(path, bytes);
    return reader.open(path);
  }
  std::vector<double> readAll(int c, int bit = -1) {
    std::vector<double> v(static_cast<size_t>(reader.frames(c)) + 4, -999.0);
    reader.seek(c, 0);
    v.resize(static_cast<size_t>(reader.read(v.data(), c, reader.frames(c), bit)));
    return v;
  }
  fixtures::TempDir dir;
  DataFileReader reader;
};

std::vector<DatChannel> threeChannels() {
  std::vector<DatChannel> ch(3);
  for (int c = 0; c < 3; ++c) {
    ch[static_cast<size_t>(c)].name = "K" + std::to_string(c);
    ch[static_cast<size_t>(c)].pchan = static_cast<int16_t>(c + 4);
  }
  return ch;
}

// N = 3, frames = 4: sample 2 of channel 1 lies at byte 258 interleaved and
// at 256 channel after channel.
TEST_F(Dat, StorageOrders) {
  struct Case {
    uint16_t flags;
    size_t marked;
  } cases[] = {{1, 258}, {1 | 0x40, 256}};
  for (const auto& c : cases) {
    std::string data(24, '\0');
    for (int i = 0; i < 12; ++i) fixtures::putAt(data, static_cast<size_t>(2 * i), static_cast<int16_t>(i));
    std::string bytes = dat(33, c.flags, 4, 0.5f, threeChannels(), data);
    ASSERT_EQ(bytes.size(), 34u + 210u + 24u);
    fixtures::putAt(bytes, c.marked, int16_t{-777});
    ASSERT_TRUE(openBytes(bytes)) << c.flags;
    ASSERT_EQ(reader.channelCount(), 3);
    EXPECT_EQ(readAll(1).at(2), -777) << c.flags;
    // Every other sample keeps its place in the order.
    for (int ch = 0; ch < 3; ++ch) {
      std::vector<double> v = readAll(ch);
      ASSERT_EQ(v.size(), 4u);
      for (int k = 0; k < 4; ++k) {
        if (ch == 1 && k == 2) continue;
        int index = (c.flags & 0x40) ? ch * 4 + k : k * 3 + ch;
        EXPECT_EQ(v[static_cast<size_t>(k)], index) << ch << " " << k;
      }
    }
  }
}

TEST_F(Dat, HeaderFieldsAndScaling) {
  std::vector<DatChannel> ch(2);
  ch[0] = {"12 Temperatur", "\xB0" "C", 7, 0.5f, -3.0f, 120.0f, -40.0f, false};
  ch[1] = {"ABCDEFGHIJKLMNOPQRSTUVWXYZ", "0123456789XYZ", 8, 2.0f, 0.0f, 1.0f, 0.0f, true};
  std::string data = fixtures::samples<int16_t>({10, -1, -20, 3});
  ASSERT_TRUE(openBytes(dat(32, 1, 2, 0.001f, ch, data, 0, 0, INT32_MIN, 123456)));
  EXPECT_EQ(reader.clk(0), 0.001);  // float32 0.001 read back as 0.001
  EXPECT_EQ(reader.clk(1), 0.001);
  EXPECT_EQ(reader.startTime(), 123456);
  EXPECT_EQ(reader.info().xunit, "s");
  EXPECT_EQ(reader.info().version, 32);
  EXPECT_EQ(reader.name(0), "Temperatur");
  EXPECT_EQ(reader.channel(0).mnr, "12");
  EXPECT_EQ(reader.unit(0), "\xB0" "C");
  EXPECT_EQ(reader.pchan(0), 7);
  EXPECT_EQ(reader.ylow(0), -40.0);
  EXPECT_EQ(reader.yhigh(0), 120.0);
  EXPECT_EQ(reader.name(1), "ABCDEFGHIJKLMNOPQRST");  // at most 20 characters
  EXPECT_EQ(reader.unit(1), "0123456789");            // at most 10
  EXPECT_FALSE(reader.channel(0).digitalFlag);
  EXPECT_TRUE(reader.channel(1).digitalFlag);
  EXPECT_EQ(readAll(0), (std::vector<double>{10 * 0.5 - 3, -20 * 0.5 - 3}));
  EXPECT_EQ(readAll(1), (std::vector<double>{-2, 6}));
  EXPECT_EQ(readAll(1, 15), (std::vector<double>{1, 0}));
}

TEST_F(Dat, SampleTypes) {
  DatChannel c;
  c.scale = 2.0f;
  c.offset = 1.0f;
  struct Case {
    uint16_t flags;
    std::string data;
    std::vector<double> values;
  } cases[] = {
      {0, fixtures::samples<uint16_t>({0xF123, 0x0FFF}), {0x123 * 2 + 1, 4095 * 2 + 1}},  // 12 bits
      {2, fixtures::samples<uint16_t>({0x8001, 0x7000}), {3, 1}},
      {1, fixtures::samples<uint16_t>({0x8000, 0x7FFF}), {-65535, 65535}},
      {7, fixtures::samples<float>({-1.25f, 3e6f}), {-1.25, 3e6}},  // unscaled
  };
  for (const auto& t : cases) {
    ASSERT_TRUE(openBytes(dat(33, t.flags, 2, 1.0f, {c}, t.data))) << t.flags;
    EXPECT_EQ(readAll(0), t.values) << t.flags;
  }
  for (uint16_t flags : {3, 4, 5, 6}) EXPECT_FALSE(openBytes(dat(33, flags, 2, 1.0f, {c}, cases[0].data))) << flags;
}

TEST_F(Dat, HeaderChecks) {
  std::vector<DatChannel> two(2);
  std::string data(8, '\0');
  struct Case {
    const char* what;
    std::string bytes;
    bool opens;
  } cases[] = {
      {"25", dat(25, 1, 2, 1.0f, two, data), true},
      {"32", dat(32, 1, 2, 1.0f, two, data), true},
      {"34", dat(34, 1, 2, 1.0f, two, data), true},
      {"31", dat(31, 1, 2, 1.0f, two, data), false},
      {"35", dat(35, 1, 2, 1.0f, two, data), false},
      {"negative frames", dat(33, 1, -1, 1.0f, two, data), false},
      {"negative channels", dat(33, 1, 2, 1.0f, two, data, 0, 0, -5), false},
      {"4097 channels", dat(33, 1, 2, 1.0f, two, data, 0, 0, 4097), false},
      {"records incomplete", dat(33, 1, 2, 1.0f, two, data, 0, 0, 3), false},
      {"short header", dat(33, 1, 2, 1.0f, two, data).substr(0, 30), false},
      {"no channels", dat(33, 1, 2, 1.0f, {}, ""), true},
      {"ring of length 0", dat(33, 0x11, 2, 1.0f, two, data, 0, 0), false},
      {"oldest beyond the ring", dat(33, 0x11, 2, 1.0f, two, data, 2, 2), false},
      {"oldest negative", dat(33, 0x11, 2, 1.0f, two, data, -1, 2), false},
  };
  for (const auto& c : cases) EXPECT_EQ(openBytes(c.bytes), c.opens) << c.what;
}

TEST_F(Dat, Ring) {
  // Ring of 5 frames, oldest 3: logical frames 0..4 are stored frames 3, 4, 0, 1, 2.
  std::vector<DatChannel> two(2);
  std::string data;
  for (int k = 0; k < 5; ++k) data += fixtures::samples<int16_t>({static_cast<int16_t>(k), static_cast<int16_t>(100 + k)});
  ASSERT_TRUE(openBytes(dat(33, 0x11, 5, 1.0f, two, data, 3, 5)));
  EXPECT_EQ(readAll(0), (std::vector<double>{3, 4, 0, 1, 2}));
  EXPECT_EQ(readAll(1), (std::vector<double>{103, 104, 100, 101, 102}));
  // frames beyond the ring length stop at it.
  ASSERT_TRUE(openBytes(dat(33, 0x11, 9, 1.0f, two, data, 3, 5)));
  EXPECT_EQ(reader.frames(0), 5);
  EXPECT_EQ(readAll(0), (std::vector<double>{3, 4, 0, 1, 2}));
  // Channel after channel with a ring.
  std::string cac = fixtures::samples<int16_t>({0, 1, 2, 3, 10, 11, 12, 13});
  ASSERT_TRUE(openBytes(dat(33, 0x51, 4, 1.0f, two, cac, 1, 4)));
  EXPECT_EQ(readAll(1), (std::vector<double>{11, 12, 13, 10}));
  // Reading from the middle wraps as well.
  double v[3];
  reader.seek(0, 2);
  ASSERT_EQ(reader.read(v, 0, 3), 2);
  EXPECT_EQ(v[0], 3);
  EXPECT_EQ(v[1], 0);
}

TEST_F(Dat, FramesBeyondTheFileDeliverWhatIsThere) {
  std::vector<DatChannel> two(2);
  // 1000 frames claimed, 2.5 frames stored.
  std::string data = fixtures::samples<int16_t>({1, 2, 3, 4, 5});
  ASSERT_TRUE(openBytes(dat(33, 1, 1000, 1.0f, two, data)));
  EXPECT_EQ(reader.frames(0), 1000);
  EXPECT_EQ(readAll(0), (std::vector<double>{1, 3, 5}));
  EXPECT_EQ(readAll(1), (std::vector<double>{2, 4}));
}

}  // namespace
