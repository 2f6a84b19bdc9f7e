// Record format (".dat"): a 34-byte general header, one 70-byte record per
// channel, then the samples, interleaved by frame or channel after channel.
#include <cstring>
#include <vector>

#include "datafiles/formats.h"
#include "platform/cnumber.h"

namespace morvel::datafiles {
namespace {

constexpr int kGeneralHeader = 34;
constexpr int kChannelRecord = 70;

// Text field of `size` bytes holding at most size - 1 characters.
std::string fieldText(const unsigned char* p, size_t size) {
  const char* s = reinterpret_cast<const char*>(p);
  return std::string(s, strnlen(s, size - 1));
}

// The interval is stored as a 32-bit float; reading it back with seven
// significant digits turns 0.001f into 0.001.
double roundedInterval(float f) {
  char buf[32];
  platform::formatC(buf, sizeof buf, "%.7g", static_cast<double>(f));
  return platform::strtodC(buf);
}

class DatParser final : public FormatParser {
 public:
  bool parse(OpenContext& ctx) override;
};

bool DatParser::parse(OpenContext& ctx) {
  unsigned char h[kGeneralHeader];
  if (!ctx.file.readExact(0, h, sizeof h)) return false;
  FileInfo& f = ctx.info;
  int version = loadLE<int16_t>(h + 0);
  if (version != 25 && version != 32 && version != 33 && version != 34) return false;
  int flags = loadLE<uint16_t>(h + 2);
  SampleType typ;
  switch (flags & 7) {
    case 0:
    case 2: typ = SampleType::Int12; break;
    case 1: typ = SampleType::Int16; break;
    case 7: typ = SampleType::Real; break;
    default: return false;
  }
  const bool ring = flags & 0x10;
  const bool channelAfterChannel = flags & 0x40;
  int n = loadLE<int16_t>(h + 4);
  int32_t frames = loadLE<int32_t>(h + 6);
  if (n < 0 || n > kMaxChannels || frames < 0) return false;
  f.version = version;
  f.typ = typ;
  f.frames = frames;
  f.clk = roundedInterval(loadLE<float>(h + 10));
  if (f.clk == 0.0) f.clk = 1.0;
  // The x unit field (4 bytes at 14) overlaps the ring start at 16; in ring
  // files only its first two bytes belong to it.
  f.xunit = fieldText(h + 14, (flags & 0x10) ? 3 : 5);
  f.startTime = loadLE<int32_t>(h + 26);

  int64_t readable = frames;
  int32_t oldest = 0, ringLength = 0;
  if (ring) {
    oldest = loadLE<int32_t>(h + 16);
    ringLength = loadLE<int32_t>(h + 20);
    if (ringLength <= 0 || oldest < 0 || oldest >= ringLength) return false;
    if (readable > ringLength) readable = ringLength;
  }

  std::vector<unsigned char> records(static_cast<size_t>(n) * kChannelRecord);
  if (n > 0 && !ctx.file.readExact(kGeneralHeader, records.data(), static_cast<int64_t>(records.size()))) return false;

  const int size = typ == SampleType::Real ? 4 : 2;
  const int64_t dataStart = kGeneralHeader + int64_t{kChannelRecord} * n;
  ctx.channels.resize(static_cast<size_t>(n));
  for (int c = 0; c < n; ++c) {
    const unsigned char* r = records.data() + static_cast<size_t>(c) * kChannelRecord;
    Channel& ch = ctx.channels[static_cast<size_t>(c)];
    splitNameAndMnr(fieldText(r, 21), ch.name, ch.mnr);
    ch.unit = fieldText(r + 21, 11);
    ch.pchan = loadLE<int16_t>(r + 32);
    ch.ampli = loadLE<float>(r + 34);
    ch.offset = loadLE<float>(r + 38);
    ch.yhigh = loadLE<float>(r + 42);
    ch.ylow = loadLE<float>(r + 46);
    ch.digitalFlag = r[61] & 0x40;
    ch.typ = typ;
    ch.frames = readable;
    ch.clk = f.clk;
    ch.channelOffset = channelAfterChannel ? dataStart + int64_t{c} * frames * size : dataStart + int64_t{c} * size;
    ChannelLayout& l = ch.layout;
    l.base = ch.channelOffset;
    l.stride = channelAfterChannel ? size : int64_t{n} * size;
    if (ring) {
      l.ring = ChannelLayout::Ring::Frames;
      l.ringFirst = oldest;
      l.ringLength = ringLength;
    }
  }
  return true;
}

}  // namespace

std::unique_ptr<FormatParser> makeDatParser() { return std::make_unique<DatParser>(); }

}  // namespace morvel::datafiles
