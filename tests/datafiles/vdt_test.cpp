// Text-header files: leading block, header grammar, keys, sample types,
// addressing (linear, block, pre-trigger ring).
#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <vector>

#include "datafiles/datafile.h"
#include "platform/notifier.h"
#include "fixtures.h"
#include "platform/cnumber.h"

using namespace morvel::datafiles;
using fixtures::lines;
using fixtures::vdt;

namespace {

struct RecordingNotifier : morvel::Notifier {
  std::vector<std::string> texts;
  void message(std::string_view t) override { texts.emplace_back(t); }
};

// A header with one int16 channel of `frames` samples at byte 32.
std::string oneChannelHeader(int frames, std::initializer_list<std::string> channelLines = {},
                             std::initializer_list<std::string> headerLines = {}) {
  std::string h = lines({"beginheader:", "typ:int16", "org:linear"});
  for (const auto& l : headerLines) h += l + "\r\n";
  h += lines({"endheader:", "beginchannel:", "channel_offset:32", "frames:" + std::to_string(frames)});
  for (const auto& l : channelLines) h += l + "\r\n";
  return h + lines({"endchannel:"});
}

class Vdt : public ::testing::Test {
 protected:
  // Writes the file and opens it; the reader keeps it open.
  bool openBytes(const std::string& bytes, const char* name = "t.vdt") {
    std::string path = dir / name;
    fixtures::writeFile(path, bytes);
    return reader.open(path);
  }
  std::vector<double> readAll(int c, int bit = -1) {
    std::vector<double> v(static_cast<size_t>(reader.frames(c)) + 4, -999.0);
    reader.seek(c, 0);
    int64_t n = reader.read(v.data(), c, reader.frames(c), bit);
    v.resize(static_cast<size_t>(n));
    return v;
  }
  fixtures::TempDir dir;
  RecordingNotifier notes;
  DataFileReader reader{&notes};
};

TEST_F(Vdt, LeadingBlockForms) {
  std::string data = fixtures::samples<int16_t>({7, -3});
  struct Case {
    const char* magic;
    bool opens;
  } cases[] = {{"VORK64", true}, {"vork64", true}, {"VORK", true}, {"vOrK", true}, {"WORK64", false}, {"", false}};
  for (const auto& c : cases) {
    EXPECT_EQ(openBytes(vdt(data, oneChannelHeader(2), c.magic)), c.opens) << c.magic;
    if (c.opens) {
      EXPECT_EQ(readAll(0), (std::vector<double>{7, -3})) << c.magic;
    }
  }
  EXPECT_FALSE(openBytes("VORK64"));  // shorter than the leading block
  EXPECT_TRUE(notes.texts.empty());
}

TEST_F(Vdt, HeaderOffsetOutsideTheFileFails) {
  std::string good = vdt("", oneChannelHeader(0));
  struct Case {
    uint64_t offset;
    bool opens;
    bool message;
  } cases[] = {{0, false, true}, {16, false, false}, {31, false, false}, {good.size() + 1, false, false},
               {1ull << 40, false, false}, {good.size(), true, false}, {32, true, false}};
  for (const auto& c : cases) {
    std::string bytes = good;
    fixtures::putAt(bytes, 8, c.offset);
    notes.texts.clear();
    EXPECT_EQ(openBytes(bytes), c.opens) << c.offset;
    EXPECT_EQ(notes.texts, c.message ? std::vector<std::string>{"Headeroffset == 0"} : std::vector<std::string>{});
    EXPECT_EQ(reader.isOpen(), c.opens);
  }
  // At the very end the header is empty: a file without channels.
  std::string empty = good;
  fixtures::putAt(empty, 8, static_cast<uint64_t>(empty.size()));
  ASSERT_TRUE(openBytes(empty));
  EXPECT_EQ(reader.channelCount(), 0);
}

TEST_F(Vdt, KeysAreCaseSensitivePrefixesAfterLeadingBlanks) {
  std::string h = lines({"beginheader:", "typ:int16", "   clk:0.5", "CLK:7", "endheader:", "beginchannel:",
                         "channel_offset:32", "frames:1", "endchannel:", "beginchannel:", "channel_offset:32",
                         "frames:1", "clk:0", "endchannel:", "beginchannel:", "channel_offset:32", "frames:1",
                         "clk:0.25", "endchannel:"});
  ASSERT_TRUE(openBytes(vdt(fixtures::samples<int16_t>({1}), h)));
  ASSERT_EQ(reader.channelCount(), 3);
  EXPECT_EQ(reader.clk(0), 0.5);   // header default, blanks before the key removed
  EXPECT_EQ(reader.clk(1), 1.0);   // 0 means 1.0
  EXPECT_EQ(reader.clk(2), 0.25);
}

TEST_F(Vdt, LinesEndAtLineFeedWithCarriageReturnsDropped) {
  // CR anywhere in a line is dropped, a bare LF ends a line, empty lines are skipped.
  std::string h = "beginheader:\ntyp:in\rt16\n\n\r\nendheader:\nbeginchannel:\nchannel_offset:32\nframes:2\n"
                  "na\rme:Druck\nendchannel:";
  ASSERT_TRUE(openBytes(vdt(fixtures::samples<int16_t>({4, 5}), h)));
  EXPECT_EQ(reader.name(0), "Druck");
  EXPECT_EQ(readAll(0), (std::vector<double>{4, 5}));
}

TEST_F(Vdt, ChannelTypesAndDefaults) {
  // Header int32; channel 0 without typ (int32), channel 1 uint16, channel 2
  // with an unknown typ (keeps int32).
  std::string data = fixtures::samples<int32_t>({-5, 70000}) + fixtures::samples<uint16_t>({65535, 2});
  std::string h = lines({"beginheader:", "typ:int32", "frames:2", "endheader:", "beginchannel:", "channel_offset:32",
                         "endchannel:", "beginchannel:", "channel_offset:40", "typ:UINT16", "endchannel:",
                         "beginchannel:", "channel_offset:32", "typ:int64", "endchannel:"});
  ASSERT_TRUE(openBytes(vdt(data, h)));
  EXPECT_EQ(readAll(0), (std::vector<double>{-5, 70000}));
  EXPECT_EQ(readAll(1), (std::vector<double>{65535, 2}));
  EXPECT_EQ(readAll(2), (std::vector<double>{-5, 70000}));
  // The header type is exact: another spelling fails the open.
  EXPECT_FALSE(openBytes(vdt(data, lines({"beginheader:", "typ:Int32", "endheader:"}))));
  EXPECT_FALSE(openBytes(vdt(data, lines({"beginheader:", "typ:int64", "endheader:"}))));
}

// Every sample type with scaling, and single-bit reads.
TEST_F(Vdt, SampleTypesScalingAndBits) {
  struct Case {
    const char* typ;
    std::string bytes;
    std::vector<double> values;        // with ampli 0.5, offset 10
    std::vector<double> bit1;          // bit 1 of the raw value
  } cases[] = {
      {"int16", fixtures::samples<int16_t>({-2, 3}), {9, 11.5}, {1, 1}},
      {"uint16", fixtures::samples<uint16_t>({65534, 4}), {32777, 12}, {1, 0}},
      {"int32", fixtures::samples<int32_t>({-100000, 6}), {-49990, 13}, {0, 1}},
      {"uint32", fixtures::samples<uint32_t>({4000000000u, 1}), {2000000010, 10.5}, {0, 0}},
      {"real", fixtures::samples<float>({-2.75f, 1.5e3f}), {-2.75, 1500}, {1, 0}},   // unscaled; -2 = ...1110
      {"real64", fixtures::samples<double>({0.1, 3.9}), {0.1, 3.9}, {0, 1}},
  };
  for (const auto& c : cases) {
    std::string h = lines({"beginheader:", std::string("typ:") + c.typ, "endheader:", "beginchannel:",
                           "channel_offset:32", "frames:2", "ampli:0.5", "offset:10", "endchannel:"});
    ASSERT_TRUE(openBytes(vdt(c.bytes, h))) << c.typ;
    EXPECT_EQ(readAll(0), c.values) << c.typ;
    EXPECT_EQ(readAll(0, 1), c.bit1) << c.typ;
  }
}

TEST_F(Vdt, DigitalAndDigital16) {
  std::string data = std::string(1, '\xA5') + std::string(1, '\x3C') + fixtures::samples<uint16_t>({0x00A5, 0xFFF0});
  std::string h = lines({"beginheader:", "typ:int16", "endheader:", "beginchannel:", "channel_offset:32",
                         "frames:16", "typ:digital", "endchannel:", "beginchannel:", "channel_offset:34", "frames:2",
                         "typ:Digital16.F0", "ampli:100", "endchannel:", "beginchannel:", "channel_offset:34",
                         "frames:2", "typ:digital16.0", "endchannel:", "beginchannel:", "channel_offset:34",
                         "frames:2", "typ:digital16.8000", "endchannel:"});
  ASSERT_TRUE(openBytes(vdt(data, h)));
  EXPECT_EQ(readAll(0), (std::vector<double>{1, 0, 1, 0, 0, 1, 0, 1, 0, 0, 1, 1, 1, 1, 0, 0}));
  EXPECT_EQ(readAll(0, 3), readAll(0));  // the bit number is ignored
  // Across the byte boundary from an odd position.
  std::vector<double> v(5);
  reader.seek(0, 6);
  ASSERT_EQ(reader.read(v.data(), 0, 5), 5);
  EXPECT_EQ(v, (std::vector<double>{0, 1, 0, 0, 1}));
  EXPECT_EQ(readAll(1), (std::vector<double>{10, 15}));  // unscaled
  EXPECT_EQ(readAll(2), (std::vector<double>{0, 0}));    // mask 0
  EXPECT_EQ(readAll(3), (std::vector<double>{0, 1}));
}

TEST_F(Vdt, NameSplitsIntoMeasuringPointAndName) {
  struct Case {
    const char* line;
    const char* name;
    const char* mnr;
  } cases[] = {{"name:12 Temperatur", "Temperatur", "12"},
               {"name:Temperatur 12", "Temperatur 12", "7"},
               {"name:12Temperatur", "12Temperatur", "7"},
               {"name:3 Druck vorne", "Druck vorne", "3"}};
  for (const auto& c : cases) {
    ASSERT_TRUE(openBytes(vdt("", oneChannelHeader(0, {"mnr:7", c.line}))));
    EXPECT_EQ(reader.name(0), c.name);
    EXPECT_EQ(reader.channel(0).mnr, c.mnr);
  }
}

TEST_F(Vdt, HeaderKeysAndExtraLines) {
  std::string h = lines({"beginheader:", "typ:int16", "org:linear", "datenart:3", "starttime: 1.02.2020  9:05:07",
                         "unit:s", "kurs:Nordschleife", "starttrigger:100", "stoptrigger:5000000000", "VideoT0:1.5",
                         "Video:c:\\video\\lauf.wmv", "VX2FLXclk:99", "$Kommentar:erste Zeile", "zweite Zeile",
                         "dritte Zeile", "$Marke1:2.5:Start", "$NewUnit:min", "$Pol.:-+", "DCT:", "Mxx ignored",
                         "Zeile A\tb\tc\t1;2;3;4;5;6;7;8;9;10;11;12", "Zeile B", "DCTend:", "endheader:",
                         "beginchannel:", "channel_offset:32", "frames:0", "endchannel:"});
  ASSERT_TRUE(openBytes(vdt("", h)));
  const FileInfo& f = reader.info();
  EXPECT_EQ(f.datenart, 3);
  EXPECT_EQ(f.xunit, "s");
  EXPECT_EQ(f.kurs, "Nordschleife");
  EXPECT_EQ(f.startTrigger, 100);
  EXPECT_EQ(f.stopTrigger, 5000000000ll);
  EXPECT_EQ(f.videoT0, 1.5);
  EXPECT_EQ(f.videoFile, "c:\\video\\lauf.wmv");
  EXPECT_EQ(f.newUnit, "min");
  std::tm tm{};
  tm.tm_mday = 1, tm.tm_mon = 1, tm.tm_year = 120, tm.tm_hour = 9, tm.tm_min = 5, tm.tm_sec = 7, tm.tm_isdst = -1;
  EXPECT_EQ(reader.startTime(), static_cast<int64_t>(std::mktime(&tm)));
  EXPECT_EQ(f.extraLines, (std::vector<std::string>{"$Kommentar:erste Zeile\r\nzweite Zeile\r\ndritte Zeile",
                                                    "$Marke1:2.5:Start", "$NewUnit:min", "$Pol.:-+"}));
  ASSERT_EQ(f.dct.size(), 2u);
  EXPECT_EQ(f.dct[0].text, "Zeile A\tb\tc\t1;2;3;4;5;6;7;8;9;10;11;12");
  for (int i = 0; i < 12; ++i) EXPECT_EQ(f.dct[0].values[i], i + 1);
  EXPECT_EQ(f.dct[1].values[0], 0.0);  // no tabs: no numbers
  // The header polarity reaches the channel.
  EXPECT_TRUE(reader.channel(0).inverted);
  // A year before 1901 leaves the start time alone.
  ASSERT_TRUE(openBytes(vdt("", lines({"beginheader:", "starttime:01.01.1900 00:00:00", "endheader:"}))));
  EXPECT_EQ(reader.startTime(), 0);
}

TEST_F(Vdt, ChannelKeysModulesCanAndPolarity) {
  ASSERT_TRUE(openBytes(vdt(
      "", oneChannelHeader(0,
                           {"unit:bar", "pchan:17", "ylow:-1.5", "yhigh:2.5", "xoffset:0.125", "calclow:1",
                            "calchigh:2", "length:3", "xtra:4", "CanUsbDelay:0.002", "klassen:64", "$ModulIdx:3",
                            "$ModuleChannel:5", "$Modul:CAN-Bus", "$R52CANIdent:291", "$R52CANStartBit:8",
                            "$R52CANWortl\xE4nge:12", "$R52CANFormat:Signed Motorola", "GPSlongDeg:",
                            "VideoFrameChannel:", "DCTMin:-4", "DCTMax:9", "DCTMean:1", "DCTSDev:0.5", "DCTDiff:13",
                            "$Pol.:--x", "$Sonstiges:a", "Fortsetzung", "$R52CANWortl\xC3\xA4nge:16"}))));
  const Channel& c = reader.channel(0);
  EXPECT_EQ(c.unit, "bar");
  EXPECT_EQ(c.pchan, 17);
  EXPECT_EQ(c.ylow, -1.5);
  EXPECT_EQ(c.yhigh, 2.5);
  EXPECT_EQ(c.xoffset, 0.125);
  EXPECT_EQ(c.calclow + c.calchigh + c.length + c.xtra, 10.0);
  EXPECT_EQ(c.canUsbDelay, 0.002);
  EXPECT_EQ(c.klassen, 64);
  EXPECT_EQ(c.moduleIndex, 3);
  EXPECT_EQ(c.moduleChannel, 5);
  EXPECT_TRUE(c.canModule);
  EXPECT_EQ(c.canIdent, 291);
  EXPECT_EQ(c.canStartBit, 8);
  EXPECT_EQ(c.canWordLength, 12);  // the Windows-1252 key; the UTF-8 spelling is no key
  EXPECT_EQ(c.canFormat, 3);
  EXPECT_EQ(c.gps, GpsRole::LongitudeDeg);
  EXPECT_EQ(c.video, VideoRole::Frame);
  EXPECT_EQ(c.dctMin, -4);
  EXPECT_EQ(c.dctDiff, 13);
  EXPECT_EQ(c.polarity, "--x");
  EXPECT_FALSE(c.inverted);
  EXPECT_EQ(c.extraLines, (std::vector<std::string>{"$Sonstiges:a\r\nFortsetzung", "$R52CANWortl\xC3\xA4nge:16"}));
}

TEST_F(Vdt, PolarityRule) {
  struct Case {
    const char* text;
    bool inverted;
  } cases[] = {{"-", false}, {"-+", true}, {"--", true}, {"--+", false}, {"-+-", true}, {"+-", false}, {"", false}};
  for (const auto& c : cases) {
    ASSERT_TRUE(openBytes(vdt("", oneChannelHeader(0, {std::string("$Pol.:") + c.text}))));
    EXPECT_EQ(reader.channel(0).inverted, c.inverted) << c.text;
  }
  // "Pol.:" only after "$".
  ASSERT_TRUE(openBytes(vdt("", oneChannelHeader(0, {"xPol.:-+"}))));
  EXPECT_FALSE(reader.channel(0).inverted);
}

// Differing minscale and maxscale are kept; the scaling stays ampli/offset.
TEST_F(Vdt, MinMaxScaleDoNotFlattenTheChannel) {
  ASSERT_TRUE(openBytes(vdt(fixtures::samples<int16_t>({1, 2, 3}),
                            oneChannelHeader(3, {"ampli:2", "offset:1", "minscale:-5", "maxscale:5"}))));
  EXPECT_EQ(reader.channel(0).minscale, -5);
  EXPECT_EQ(reader.channel(0).maxscale, 5);
  EXPECT_EQ(readAll(0), (std::vector<double>{3, 5, 7}));
}

TEST_F(Vdt, SectionStructureErrors) {
  EXPECT_FALSE(openBytes(vdt("", lines({"beginchannel:", "beginchannel:", "endchannel:"}))));
  EXPECT_FALSE(openBytes(vdt("", lines({"beginheader:", "endheader:", "endchannel:"}))));
  // A section left open at the end still counts.
  ASSERT_TRUE(openBytes(vdt("", lines({"beginchannel:", "clk:0"}))));
  EXPECT_EQ(reader.channelCount(), 1);
  EXPECT_EQ(reader.clk(0), 1.0);
  EXPECT_FALSE(openBytes(vdt("", oneChannelHeader(-1))));  // negative frames
}

TEST_F(Vdt, ChannelLimit) {
  std::string h;
  for (int i = 0; i < kMaxChannels; ++i) h += "beginchannel:\nendchannel:\n";
  ASSERT_TRUE(openBytes(vdt("", h)));
  EXPECT_EQ(reader.channelCount(), kMaxChannels);
  EXPECT_FALSE(openBytes(vdt("", h + "beginchannel:\nendchannel:\n")));
  EXPECT_FALSE(reader.isOpen());
}

TEST_F(Vdt, VeryLongHeaderLines) {
  std::string longText(100000, 'x');
  ASSERT_TRUE(openBytes(vdt("", oneChannelHeader(0, {"$Lang:" + longText, "name:" + longText, "unit:mm"}))));
  EXPECT_EQ(reader.name(0), longText);
  EXPECT_EQ(reader.unit(0), "mm");
  EXPECT_EQ(reader.channel(0).extraLines.at(0).size(), 6 + longText.size());
}

// Numbers are read the same under a German process locale.
TEST_F(Vdt, NumbersIgnoreTheProcessLocale) {
  const char* german = nullptr;
  for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "de_DE"})
    if (setlocale(LC_ALL, name)) {
      german = name;
      break;
    }
  bool opened = openBytes(vdt(fixtures::samples<int16_t>({3}), oneChannelHeader(1, {"clk:0.25", "ampli:0.5", "offset:1,5"})));
  setlocale(LC_ALL, "C");
  ASSERT_TRUE(opened);
  EXPECT_EQ(reader.clk(0), 0.25);
  EXPECT_EQ(readAll(0), std::vector<double>{2.5});  // "1,5" reads as 1
  if (!german) GTEST_SKIP() << "no German locale installed; checked under C only";
}

TEST_F(Vdt, TaktAndNewClkrate) {
  ASSERT_TRUE(openBytes(vdt("", oneChannelHeader(0, {"clk:0.5"}, {"$Takt:4", "$NewClkrate:0.01"}))));
  EXPECT_EQ(reader.clk(0), 0.01 / 4);
  EXPECT_EQ(reader.clk(0), 0.0025);
  ASSERT_TRUE(openBytes(vdt("", oneChannelHeader(0, {"clk:0.5"}, {"$Takt:0", "$NewClkrate:0.01"}))));
  EXPECT_EQ(reader.clk(0), 0.5);
}

// Two int16 channels, block length 100, at 32 and 232: F = 400 bytes.
TEST_F(Vdt, BlockOrganisation) {
  std::string data(1200, '\0');
  for (int block = 0; block < 3; ++block)
    for (int c = 0; c < 2; ++c)
      for (int i = 0; i < 100; ++i)
        fixtures::putAt(data, static_cast<size_t>(block * 400 + c * 200 + i * 2),
                        static_cast<int16_t>(c * 10000 + block * 100 + i));
  fixtures::putAt(data, 732 - 32, int16_t{-31000});  // sample 150 of channel 1
  std::string h = lines({"beginheader:", "typ:int16", "org:block100", "frames:300", "endheader:", "beginchannel:",
                         "channel_offset:32", "endchannel:", "beginchannel:", "channel_offset:232", "endchannel:"});
  ASSERT_TRUE(openBytes(vdt(data, h)));
  std::vector<double> v = readAll(1);
  ASSERT_EQ(v.size(), 300u);
  EXPECT_EQ(v[150], -31000);
  for (int p = 0; p < 300; ++p)
    if (p != 150) {
      ASSERT_EQ(v[static_cast<size_t>(p)], 10000 + p) << p;
    }
  // Reads of odd sizes cross the block boundaries.
  reader.seek(0, 95);
  double w[10];
  ASSERT_EQ(reader.read(w, 0, 10), 10);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(w[i], 95 + i);
  // org is case-insensitive, and a blank may follow "block".
  ASSERT_TRUE(openBytes(vdt(data, lines({"org:BLOCK 100", "typ:int16", "frames:300", "beginchannel:",
                                         "channel_offset:32", "endchannel:", "beginchannel:", "channel_offset:232",
                                         "endchannel:"}))));
  EXPECT_EQ(readAll(1).at(150), -31000);
  // Block length 0 fails.
  EXPECT_FALSE(openBytes(vdt(data, lines({"org:block0", "beginchannel:", "endchannel:"}))));
  EXPECT_FALSE(openBytes(vdt(data, lines({"beginchannel:", "org:block", "endchannel:"}))));
}

// Channels that share a channel_offset are views of the same words and count
// once in the block frame.
TEST_F(Vdt, SharedOffsetCountsOnceInTheBlockFrame) {
  // Block length 4: an int16 channel at 32 whose bits 4-7 are a digital16 view,
  // then an int32 channel at 40. F = 8 + 16 = 24.
  std::string data(48, '\0');
  for (int b = 0; b < 2; ++b)
    for (int i = 0; i < 4; ++i) {
      fixtures::putAt(data, static_cast<size_t>(b * 24 + i * 2), static_cast<int16_t>((b * 4 + i) << 4));
      fixtures::putAt(data, static_cast<size_t>(b * 24 + 8 + i * 4), static_cast<int32_t>(1000 + b * 4 + i));
    }
  std::string h = lines({"typ:int16", "org:block4", "frames:8", "beginchannel:", "channel_offset:32", "endchannel:",
                         "beginchannel:", "channel_offset:32", "typ:digital16.F0", "endchannel:", "beginchannel:",
                         "channel_offset:40", "typ:int32", "endchannel:"});
  ASSERT_TRUE(openBytes(vdt(data, h)));
  std::vector<double> bits = readAll(1), wide = readAll(2);
  ASSERT_EQ(bits.size(), 8u);
  for (int k = 0; k < 8; ++k) {
    EXPECT_EQ(bits[static_cast<size_t>(k)], k);
    EXPECT_EQ(wide[static_cast<size_t>(k)], 1000 + k);
  }
}

// Block length 100, PTBlocks 2, PTReadPos 50, PTFrames 150.
TEST_F(Vdt, PreTriggerRing) {
  const int blocks = 4;
  std::string data(static_cast<size_t>(blocks * 200), '\0');
  for (int b = 0; b < blocks; ++b)
    for (int i = 0; i < 100; ++i) fixtures::putAt(data, static_cast<size_t>(b * 200 + i * 2), static_cast<int16_t>(b * 1000 + i));
  std::string h = lines({"typ:int16", "org:block100", "frames:350", "PTBlocks:2", "PTReadPos:50", "PTFrames:150",
                         "beginchannel:", "channel_offset:32", "endchannel:"});
  ASSERT_TRUE(openBytes(vdt(data, h)));
  std::vector<double> v = readAll(0);
  ASSERT_EQ(v.size(), 350u);
  EXPECT_EQ(v[0], 50);      // block 0, index 50
  EXPECT_EQ(v[60], 1010);   // block 1, index 10
  EXPECT_EQ(v[150], 2000);  // block 2, index 0
  for (int p = 0; p < 350; ++p) {
    int expected;
    if (p < 150) {
      int q = (50 + p) % 200;
      expected = (q / 100) * 1000 + q % 100;
    } else {
      expected = (2 + (p - 150) / 100) * 1000 + (p - 150) % 100;
    }
    ASSERT_EQ(v[static_cast<size_t>(p)], expected) << p;
  }
  // Read one at a time gives the same.
  reader.seek(0, 0);
  for (int p = 0; p < 350; ++p) {
    double x;
    ASSERT_EQ(reader.read(&x, 0, 1), 1);
    ASSERT_EQ(x, v[static_cast<size_t>(p)]);
  }
  // A channel of half the file's block length: r = 2.
  std::string h2 = lines({"typ:int16", "org:block100", "frames:100", "PTBlocks:2", "PTReadPos:40", "PTFrames:60",
                          "beginchannel:", "org:block50", "channel_offset:32", "endchannel:"});
  ASSERT_TRUE(openBytes(vdt(data, h2)));
  // F = 100 bytes: block k of this channel starts at byte 32 + 100 k.
  v = readAll(0);
  auto at = [&](int q) {  // sample q of the channel's stored blocks
    int byte = (q / 50) * 100 + (q % 50) * 2;
    int16_t r;
    std::memcpy(&r, &data[static_cast<size_t>(byte)], 2);
    return static_cast<double>(r);
  };
  EXPECT_EQ(v[0], at(20));    // PTReadPos / r = 20
  EXPECT_EQ(v[29], at(49));
  EXPECT_EQ(v[30], at(100));  // ring of 100 samples ends after PTFrames / r = 30
  // A ring without blocks fails.
  EXPECT_FALSE(openBytes(vdt(data, lines({"org:block100", "PTBlocks:0", "PTFrames:10", "beginchannel:",
                                          "endchannel:"}))));
}

TEST_F(Vdt, ReadsStopAtTheEndOfTheFile) {
  // frames claims 100 samples; from channel_offset on the file holds 7 bytes.
  std::string data = fixtures::samples<int16_t>({1, 2, 3});
  auto header = [](size_t offset) {
    return oneChannelHeader(100, {platform::formatC("channel_offset:%010zu", offset)});
  };
  size_t total = vdt(data, header(0)).size();
  ASSERT_TRUE(openBytes(vdt(data, header(total - 7))));
  std::vector<double> v(100);
  EXPECT_EQ(reader.read(v.data(), 0, 100), 3);
  EXPECT_EQ(reader.position(0), 3);
  EXPECT_EQ(reader.read(v.data(), 0, 100), 0);
  // A channel placed beyond the end delivers nothing.
  ASSERT_TRUE(openBytes(vdt(data, oneChannelHeader(5, {"channel_offset:100000"}))));
  EXPECT_EQ(reader.read(v.data(), 0, 5), 0);
  // A read never goes past frames, and a seek past it delivers nothing.
  ASSERT_TRUE(openBytes(vdt(data, oneChannelHeader(2))));
  EXPECT_EQ(reader.read(v.data(), 0, 100), 2);
  EXPECT_TRUE(reader.seek(0, 5));
  EXPECT_EQ(reader.read(v.data(), 0, 1), 0);
  EXPECT_FALSE(reader.seek(0, -1));
  EXPECT_FALSE(reader.seek(1, 0));
  EXPECT_EQ(reader.read(v.data(), 1, 1), 0);
  EXPECT_EQ(reader.read(v.data(), -1, 1), 0);
}

// A sparse file whose header and samples lie beyond 4 GiB.
TEST_F(Vdt, HeaderBeyondFourGiB) {
  const int64_t dataAt = (int64_t{1} << 32) + 1000;
  const int64_t headerAt = dataAt + 8;
  std::string path = dir / "gross.vdt";
  int fd = ::open(path.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0644);
  ASSERT_GE(fd, 0);
  std::string lead = vdt("", "");
  fixtures::putAt(lead, 8, static_cast<uint64_t>(headerAt));
  std::string samples = fixtures::samples<int16_t>({11, 22, 33, 44});
  std::string h = oneChannelHeader(4, {"channel_offset:" + std::to_string(dataAt)});
  bool written = ::pwrite(fd, lead.data(), 32, 0) == 32 &&
                 ::pwrite(fd, samples.data(), samples.size(), dataAt) == static_cast<ssize_t>(samples.size()) &&
                 ::pwrite(fd, h.data(), h.size(), headerAt) == static_cast<ssize_t>(h.size());
  ::close(fd);
  if (!written) GTEST_SKIP() << "the file system takes no sparse file beyond 4 GiB";
  ASSERT_TRUE(reader.open(path));
  EXPECT_EQ(readAll(0), (std::vector<double>{11, 22, 33, 44}));
  reader.close();
  std::filesystem::remove(path);
}

}  // namespace

namespace {

// The signal generator's reader knows no "VX2FLXclk:" key: the line continues
// the extra line before it.
TEST(VdtOptions, Vx2FlxClkAsOrdinaryLine) {
  fixtures::TempDir dir;
  std::string path = dir / "v.vdt";
  fixtures::writeFile(path, vdt("", lines({"beginheader:", "$Info:a", "VX2FLXclk:5", "endheader:"})));
  DataFileReader main;
  ASSERT_TRUE(main.open(path));
  EXPECT_EQ(main.info().extraLines, std::vector<std::string>{"$Info:a"});
  ReaderOptions generator;
  generator.vx2flxclkIsKey = false;
  DataFileReader vibrel(nullptr, generator);
  ASSERT_TRUE(vibrel.open(path));
  EXPECT_EQ(vibrel.info().extraLines, std::vector<std::string>{"$Info:a\r\nVX2FLXclk:5"});
}

}  // namespace
