// Text-header format (".vdt"): a 32-byte leading block, the samples, and at
// the end of the file a header text of "key:value" lines.
#include <strings.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <set>

#include "datafiles/formats.h"
#include "platform/notifier.h"
#include "platform/cnumber.h"

namespace morvel::datafiles {
namespace {

// A line longer than this ends the header (lines up to it are read whole).
constexpr size_t kMaxHeaderLine = 16u << 20;

// Value after `key` when the line begins with it, else nullptr. The value
// points into the line and is terminated by the line's end.
const char* after(const std::string& line, std::string_view key) {
  if (line.size() < key.size() || line.compare(0, key.size(), key) != 0) return nullptr;
  return line.c_str() + key.size();
}

bool startsNoCase(const char* s, const char* prefix) { return strncasecmp(s, prefix, std::strlen(prefix)) == 0; }

int64_t toInt64(const char* v) { return std::strtoll(v, nullptr, 10); }
double toDouble(const char* v) { return platform::strtodC(v); }
int32_t toInt32(const char* v) { return platform::atoiC(v); }

bool parseFileType(const char* v, SampleType& t) {
  static const struct {
    const char* name;
    SampleType type;
  } kTypes[] = {{"int16", SampleType::Int16}, {"uint16", SampleType::UInt16}, {"int32", SampleType::Int32},
                {"uint32", SampleType::UInt32}, {"real", SampleType::Real},     {"real64", SampleType::Real64}};
  for (const auto& k : kTypes)
    if (std::strcmp(v, k.name) == 0) {
      t = k.type;
      return true;
    }
  return false;
}

// Channel "typ:": the file types without regard to case, "digital" and
// "digital16.<hex mask>". False (and nothing changed) for anything else.
bool parseChannelType(const char* v, SampleType& t, uint32_t& mask) {
  static const struct {
    const char* name;
    SampleType type;
  } kTypes[] = {{"int16", SampleType::Int16}, {"uint16", SampleType::UInt16}, {"int32", SampleType::Int32},
                {"uint32", SampleType::UInt32}, {"real", SampleType::Real},     {"real64", SampleType::Real64},
                {"digital", SampleType::Digital}};
  if (startsNoCase(v, "digital16.")) {
    unsigned long long m = std::strtoull(v + 10, nullptr, 16);
    mask = m > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<uint32_t>(m);
    t = SampleType::Digital16;
    return true;
  }
  for (const auto& k : kTypes)
    if (strcasecmp(v, k.name) == 0) {
      t = k.type;
      return true;
    }
  return false;
}

void parseOrg(const char* v, Organisation& org, int64_t& block) {
  if (startsNoCase(v, "linear")) {
    org = Organisation::Linear;
  } else if (startsNoCase(v, "compress1")) {
    org = Organisation::Compress1;
  } else if (startsNoCase(v, "block")) {
    org = Organisation::Block;
    block = std::strtoll(v + 5, nullptr, 10);
  }
}

// "day.month.year hour:minute:second", six numbers separated by one character.
void parseStartTime(const char* v, int64_t& startTime) {
  long n[6] = {};
  const char* p = v;
  for (int i = 0; i < 6; ++i) {
    char* end = nullptr;
    n[i] = std::strtol(p, &end, 10);
    p = end;
    if (*p == '\0') break;
    ++p;
  }
  if (n[2] < 1901 || n[2] > 100000) return;
  std::tm tm{};
  tm.tm_mday = static_cast<int>(n[0]);
  tm.tm_mon = static_cast<int>(n[1]) - 1;
  tm.tm_year = static_cast<int>(n[2]) - 1900;
  tm.tm_hour = static_cast<int>(n[3]);
  tm.tm_min = static_cast<int>(n[4]);
  tm.tm_sec = static_cast<int>(n[5]);
  tm.tm_isdst = -1;
  startTime = static_cast<int64_t>(std::mktime(&tm));
}

// Polarity: two or more characters beginning with "-" invert the channel,
// unless there are three or more and the second is also "-".
void setPolarity(Channel& ch, std::string_view text) {
  ch.polarity.assign(text);
  ch.inverted = text.size() >= 2 && text[0] == '-' && !(text.size() >= 3 && text[1] == '-');
}

void parseDctRow(const std::string& line, DctRow& row) {
  row.text = line;
  const char* p = line.c_str();
  for (int tabs = 0; tabs < 3; ++tabs) {
    p = std::strchr(p, '\t');
    if (!p) return;
    ++p;
  }
  for (double& v : row.values) {
    const char* end = p;
    v = platform::strtodC(p, &end);
    p = end;
    if (*p == '\0') break;
    ++p;
  }
}

int64_t checkedMul(int64_t a, int64_t b, bool& ok) {
  int64_t r;
  if (__builtin_mul_overflow(a, b, &r)) ok = false;
  return r;
}

class VdtParser final : public FormatParser {
 public:
  bool parse(OpenContext& ctx) override;

 private:
  bool parseHeaderLine(OpenContext& ctx, const std::string& line);
  bool parseChannelLine(OpenContext& ctx, const std::string& line);
  void endChannel(OpenContext& ctx);
  bool buildLayouts(OpenContext& ctx);

  enum class State { Header, Channel, Dct } state_ = State::Header;
  int headerExtra_ = -1;   // current extra line of the header, for continuation lines
  int channelExtra_ = -1;  // the same for the open channel
};

bool VdtParser::parse(OpenContext& ctx) {
  unsigned char lead[32];
  if (!ctx.file.readExact(0, lead, sizeof lead)) return false;
  int64_t headerOffset;
  if (strncasecmp(reinterpret_cast<const char*>(lead), "VORK64", 6) == 0)
    headerOffset = loadLE<int64_t>(lead + 8);
  else if (strncasecmp(reinterpret_cast<const char*>(lead), "VORK", 4) == 0)
    headerOffset = static_cast<int64_t>(loadLE<uint32_t>(lead + 8));
  else
    return false;
  if (headerOffset == 0) {
    ctx.notifier.message("Headeroffset == 0");
    return false;
  }
  if (headerOffset < 32 || headerOffset > ctx.file.size()) return false;

  ctx.info.clk = 1.0;
  LineReader lines(ctx.file, headerOffset, ctx.file.size());
  std::string line;
  while (lines.next(line, kMaxHeaderLine)) {
    size_t blanks = line.find_first_not_of(' ');
    if (blanks == std::string::npos) continue;
    if (blanks > 0) line.erase(0, blanks);
    bool ok = state_ == State::Channel ? parseChannelLine(ctx, line) : parseHeaderLine(ctx, line);
    if (!ok) return false;
  }
  if (state_ == State::Channel) endChannel(ctx);
  return buildLayouts(ctx);
}

bool VdtParser::parseHeaderLine(OpenContext& ctx, const std::string& line) {
  FileInfo& f = ctx.info;
  const char* v;
  if (state_ == State::Dct) {
    if (after(line, "DCTend:")) {
      state_ = State::Header;
    } else if (line[0] != 'M') {
      f.dct.emplace_back();
      parseDctRow(line, f.dct.back());
    }
    return true;
  }
  if (after(line, "beginchannel:")) {
    if (ctx.channels.size() >= static_cast<size_t>(kMaxChannels)) return false;
    Channel ch;
    ch.org = f.org;
    ch.block = f.block;
    ch.typ = f.typ;
    ch.frames = f.frames;
    ch.clk = f.clk;
    if (!f.polarity.empty()) setPolarity(ch, f.polarity);
    ctx.channels.push_back(std::move(ch));
    state_ = State::Channel;
    channelExtra_ = -1;
    return true;
  }
  if (after(line, "endchannel:")) return false;
  if (after(line, "beginheader:") || after(line, "endheader:")) return true;
  if (after(line, "DCT:")) {
    state_ = State::Dct;
  } else if ((v = after(line, "typ:"))) {
    if (!parseFileType(v, f.typ)) return false;
  } else if ((v = after(line, "org:"))) {
    parseOrg(v, f.org, f.block);
  } else if ((v = after(line, "starttime:"))) {
    parseStartTime(v, f.startTime);
  } else if ((v = after(line, "datenart:"))) {
    f.datenart = toInt32(v);
  } else if ((v = after(line, "unit:"))) {
    f.xunit = v;
  } else if ((v = after(line, "clk:"))) {
    f.clk = toDouble(v);
  } else if ((v = after(line, "frames:"))) {
    f.frames = toInt64(v);
  } else if ((v = after(line, "starttrigger:"))) {
    f.startTrigger = toInt64(v);
  } else if ((v = after(line, "stoptrigger:"))) {
    f.stopTrigger = toInt64(v);
  } else if ((v = after(line, "PTBlocks:"))) {
    f.ptBlocks = toInt64(v);
  } else if ((v = after(line, "PTReadPos:"))) {
    f.ptReadPos = toInt64(v);
  } else if ((v = after(line, "PTFrames:"))) {
    f.ptFrames = toInt64(v);
  } else if ((v = after(line, "StartTriggerAt:"))) {
    f.startTriggerAt = toInt64(v);
  } else if ((v = after(line, "StopTriggerAt:"))) {
    f.stopTriggerAt = toInt64(v);
  } else if ((v = after(line, "kurs:"))) {
    f.kurs = v;
  } else if ((v = after(line, "VideoT0:"))) {
    f.videoT0 = toDouble(v);
  } else if ((v = after(line, "VideoLatency:"))) {
    f.videoLatency = toDouble(v);
  } else if ((v = after(line, "Video:"))) {
    f.videoFile = v;
  } else if (ctx.options.vx2flxclkIsKey && after(line, "VX2FLXclk:")) {
    // accepted, nothing kept
  } else if (line[0] == '$') {
    f.extraLines.push_back(line);
    headerExtra_ = static_cast<int>(f.extraLines.size()) - 1;
    if ((v = after(line, "$Takt:")))
      f.takt = toDouble(v);
    else if ((v = after(line, "$NewClkrate:")))
      f.newClkrate = toDouble(v);
    else if ((v = after(line, "$NewUnit:")))
      f.newUnit = v;
    else if ((v = after(line, "$Kurs:")))
      f.kurs = v;
    else if ((v = after(line, "$VideoLatency:")))
      f.videoLatency = toDouble(v);
    else if ((v = after(line, "$$VideoSlowMotion:")))
      f.videoSlowMotion = toDouble(v);
    else if ((v = after(line, "$Pol.:")))
      f.polarity = v;
  } else if (headerExtra_ >= 0) {
    f.extraLines[static_cast<size_t>(headerExtra_)] += "\r\n" + line;
  }
  return true;
}

bool VdtParser::parseChannelLine(OpenContext& ctx, const std::string& line) {
  Channel& ch = ctx.channels.back();
  const char* v;
  if (after(line, "beginchannel:")) return false;
  if (after(line, "endchannel:")) {
    endChannel(ctx);
    return true;
  }
  if ((v = after(line, "name:"))) {
    splitNameAndMnr(v, ch.name, ch.mnr);
  } else if ((v = after(line, "unit:"))) {
    ch.unit = v;
  } else if ((v = after(line, "mnr:"))) {
    ch.mnr = v;
  } else if ((v = after(line, "pchan:"))) {
    ch.pchan = static_cast<int16_t>(toInt32(v));
  } else if ((v = after(line, "frames:"))) {
    ch.frames = toInt64(v);
  } else if ((v = after(line, "clk:"))) {
    ch.clk = toDouble(v);
  } else if ((v = after(line, "ampli:"))) {
    ch.ampli = toDouble(v);
  } else if ((v = after(line, "offset:"))) {
    ch.offset = toDouble(v);
  } else if ((v = after(line, "ylow:"))) {
    ch.ylow = toDouble(v);
  } else if ((v = after(line, "yhigh:"))) {
    ch.yhigh = toDouble(v);
  } else if ((v = after(line, "minscale:"))) {
    ch.minscale = toDouble(v);
  } else if ((v = after(line, "maxscale:"))) {
    ch.maxscale = toDouble(v);
  } else if ((v = after(line, "channel_offset:"))) {
    ch.channelOffset = toInt64(v);
  } else if ((v = after(line, "xoffset:"))) {
    ch.xoffset = toDouble(v);
  } else if (after(line, "compressed:1")) {
    ch.org = Organisation::Compress1;
  } else if ((v = after(line, "calclow:"))) {
    ch.calclow = toDouble(v);
  } else if ((v = after(line, "calchigh:"))) {
    ch.calchigh = toDouble(v);
  } else if ((v = after(line, "length:"))) {
    ch.length = toDouble(v);
  } else if ((v = after(line, "xtra:"))) {
    ch.xtra = toDouble(v);
  } else if ((v = after(line, "CanUsbDelay:"))) {
    ch.canUsbDelay = toDouble(v);
  } else if ((v = after(line, "klassen:"))) {
    ch.klassen = toInt32(v);
  } else if ((v = after(line, "org:"))) {
    parseOrg(v, ch.org, ch.block);
  } else if ((v = after(line, "typ:"))) {
    parseChannelType(v, ch.typ, ch.mask);
  } else if (after(line, "GPSlatMinE5:")) {
    ch.gps = GpsRole::LatitudeMinE5;
  } else if (after(line, "GPSlatDeg:")) {
    ch.gps = GpsRole::LatitudeDeg;
  } else if (after(line, "GPSlongMinE5:")) {
    ch.gps = GpsRole::LongitudeMinE5;
  } else if (after(line, "GPSlongDeg:")) {
    ch.gps = GpsRole::LongitudeDeg;
  } else if (after(line, "VideoClkChannel:")) {
    ch.video = VideoRole::Clock;
  } else if (after(line, "VideoFrameChannel:")) {
    ch.video = VideoRole::Frame;
  } else if ((v = after(line, "DCTMin:"))) {
    ch.dctMin = toDouble(v);
  } else if ((v = after(line, "DCTMax:"))) {
    ch.dctMax = toDouble(v);
  } else if ((v = after(line, "DCTMean:"))) {
    ch.dctMean = toDouble(v);
  } else if ((v = after(line, "DCTSDev:"))) {
    ch.dctSDev = toDouble(v);
  } else if ((v = after(line, "DCTDiff:"))) {
    ch.dctDiff = toDouble(v);
  } else if ((v = after(line, "$Pol.:"))) {
    setPolarity(ch, v);
  } else {
    // Keys written behind one character (normally "$").
    std::string rest = line.substr(1);
    if ((v = after(rest, "ModulIdx:")) || (v = after(rest, "ModuleIdx:"))) {
      ch.moduleIndex = toInt32(v);
    } else if ((v = after(rest, "ModulKanal:")) || (v = after(rest, "ModuleChannel:"))) {
      ch.moduleChannel = toInt32(v);
    } else if ((v = after(rest, "Modul:"))) {
      ch.moduleType = v;
      ch.canModule = std::strncmp(v, "CAN", 3) == 0;
    } else if ((v = after(rest, "R52CANIdent:"))) {
      ch.canIdent = toInt32(v);
    } else if ((v = after(rest, "R52CANStartBit:"))) {
      ch.canStartBit = toInt32(v);
    } else if ((v = after(rest, "R52CANWortl\xE4nge:"))) {
      ch.canWordLength = toInt32(v);
    } else if ((v = after(rest, "R52CANFormat:"))) {
      static const char* const kFormats[] = {"Unsigned Intel", "Signed Intel", "Unsigned Motorola", "Signed Motorola"};
      for (int i = 0; i < 4; ++i)
        if (std::strcmp(v, kFormats[i]) == 0) ch.canFormat = i;
    } else if (line[0] == '$') {
      ch.extraLines.push_back(line);
      channelExtra_ = static_cast<int>(ch.extraLines.size()) - 1;
    } else if (channelExtra_ >= 0) {
      ch.extraLines[static_cast<size_t>(channelExtra_)] += "\r\n" + line;
    }
  }
  return true;
}

void VdtParser::endChannel(OpenContext& ctx) {
  Channel& ch = ctx.channels.back();
  if (ch.clk == 0.0) ch.clk = 1.0;
  state_ = State::Header;
  channelExtra_ = -1;
}

// Sample positions: linear and compress1 channels are packed from
// channel_offset; block channels share block frames of F bytes, F counting
// channels that share a channel_offset once.
bool VdtParser::buildLayouts(OpenContext& ctx) {
  const FileInfo& f = ctx.info;
  bool ok = true;
  int64_t frameBytes = 0;
  std::set<int64_t> offsets;
  for (const Channel& ch : ctx.channels) {
    if (ch.frames < 0) return false;
    if (ch.org != Organisation::Block) continue;
    if (ch.block <= 0) return false;
    if (!offsets.insert(ch.channelOffset).second) continue;
    int64_t bytes = ch.typ == SampleType::Digital ? ch.block / 8 + (ch.block % 8 != 0)
                                                  : checkedMul(ch.block, sampleBytes(ch.typ), ok);
    if (__builtin_add_overflow(frameBytes, bytes, &frameBytes)) ok = false;
  }
  if (!ok) return false;
  for (Channel& ch : ctx.channels) {
    ChannelLayout& l = ch.layout;
    l.base = ch.channelOffset;
    l.stride = ch.typ == SampleType::Digital ? 1 : sampleBytes(ch.typ);
    if (ch.org != Organisation::Block) continue;
    l.runLength = ch.block;
    l.runStride = frameBytes;
    if (f.ptFrames > 0) {
      if (f.ptBlocks <= 0 || f.ptReadPos < 0) return false;
      int64_t r = f.block / ch.block;
      if (r < 1) r = 1;
      l.ring = ChannelLayout::Ring::PreTrigger;
      l.ringLength = checkedMul(ch.block, f.ptBlocks, ok);
      if (!ok) return false;
      l.ringFirst = (f.ptReadPos / r) % l.ringLength;
      l.ringSamples = f.ptFrames / r;
    }
  }
  return true;
}

}  // namespace

std::unique_ptr<FormatParser> makeVdtParser() { return std::make_unique<VdtParser>(); }

}  // namespace morvel::datafiles
