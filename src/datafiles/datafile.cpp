#include "datafiles/datafile.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <strings.h>

#include "datafiles/formats.h"
#include "platform/notifier.h"
#include "platform/cnumber.h"
#include "platform/pathmap.h"

namespace morvel::datafiles {
namespace {

// Bytes of file data held in the read window; allocated once per open.
constexpr int64_t kWindowBytes = 256 * 1024;
// Pieces smaller than this are read through a whole window.
constexpr int64_t kReadAheadBelow = 8 * 1024;

const std::string kEmpty;

// Sample conversions. `Raw` is the stored type, `op` maps it to the result.
template <typename Raw, typename Op>
inline void convert(const uint8_t* src, int64_t stride, int64_t count, double* out, Op op) {
  if (stride == static_cast<int64_t>(sizeof(Raw))) {
    for (int64_t i = 0; i < count; ++i) {
      Raw r;
      std::memcpy(&r, src + i * static_cast<int64_t>(sizeof(Raw)), sizeof r);
      out[i] = op(r);
    }
  } else {
    for (int64_t i = 0; i < count; ++i) {
      Raw r;
      std::memcpy(&r, src + i * stride, sizeof r);
      out[i] = op(r);
    }
  }
}

template <typename Raw>
inline void convertScaled(const uint8_t* src, int64_t stride, int64_t count, double* out, double a, double o) {
  convert<Raw>(src, stride, count, out, [a, o](Raw r) { return static_cast<double>(r) * a + o; });
}

template <typename Raw>
inline void convertBit(const uint8_t* src, int64_t stride, int64_t count, double* out, int bit) {
  using U = std::make_unsigned_t<Raw>;
  if (bit >= static_cast<int>(8 * sizeof(Raw))) {
    std::fill(out, out + count, 0.0);
    return;
  }
  convert<Raw>(src, stride, count, out, [bit](Raw r) { return static_cast<double>((static_cast<U>(r) >> bit) & 1u); });
}

// Bit b of a float value truncated to an integer.
inline double floatBit(double v, int bit) {
  double t = std::trunc(v);
  if (!(std::fabs(t) < 9.2e18) || bit >= 64) return 0.0;
  return static_cast<double>((static_cast<uint64_t>(static_cast<int64_t>(t)) >> bit) & 1u);
}

void convertSamples(const Channel& ch, const uint8_t* src, int64_t stride, int64_t count, double* out, int bit) {
  const double a = ch.ampli, o = ch.offset;
  const bool values = bit < 0;
  switch (ch.typ) {
    case SampleType::Int16:
      values ? convertScaled<int16_t>(src, stride, count, out, a, o) : convertBit<int16_t>(src, stride, count, out, bit);
      break;
    case SampleType::UInt16:
      values ? convertScaled<uint16_t>(src, stride, count, out, a, o) : convertBit<uint16_t>(src, stride, count, out, bit);
      break;
    case SampleType::Int32:
      values ? convertScaled<int32_t>(src, stride, count, out, a, o) : convertBit<int32_t>(src, stride, count, out, bit);
      break;
    case SampleType::UInt32:
      values ? convertScaled<uint32_t>(src, stride, count, out, a, o) : convertBit<uint32_t>(src, stride, count, out, bit);
      break;
    case SampleType::Int12:
      if (values)
        convert<uint16_t>(src, stride, count, out, [a, o](uint16_t r) { return static_cast<double>(r & 0x0FFF) * a + o; });
      else if (bit >= 12)
        std::fill(out, out + count, 0.0);
      else
        convert<uint16_t>(src, stride, count, out, [bit](uint16_t r) { return static_cast<double>((r >> bit) & 1); });
      break;
    case SampleType::Real:
      if (values)
        convert<float>(src, stride, count, out, [](float r) { return static_cast<double>(r); });
      else
        convert<float>(src, stride, count, out, [bit](float r) { return floatBit(r, bit); });
      break;
    case SampleType::Real64:
      if (values)
        convert<double>(src, stride, count, out, [](double r) { return r; });
      else
        convert<double>(src, stride, count, out, [bit](double r) { return floatBit(r, bit); });
      break;
    case SampleType::Digital16: {
      const uint32_t mask = ch.mask;
      const int shift = mask ? std::countr_zero(mask) : 0;
      convert<int16_t>(src, stride, count, out, [mask, shift](int16_t r) {
        return static_cast<double>((static_cast<uint32_t>(static_cast<int32_t>(r)) & mask) >> shift);
      });
      break;
    }
    case SampleType::Digital:
      break;  // handled bitwise by the caller
  }
}

bool lessIgnoringCase(const std::string& a, const std::string& b) {
  return strcasecmp(a.c_str(), b.c_str()) < 0;
}

}  // namespace

int sampleBytes(SampleType t) {
  switch (t) {
    case SampleType::Int16:
    case SampleType::UInt16:
    case SampleType::Digital16:
    case SampleType::Int12: return 2;
    case SampleType::Int32:
    case SampleType::UInt32:
    case SampleType::Real: return 4;
    case SampleType::Real64: return 8;
    case SampleType::Digital: return 0;
  }
  return 0;
}

DataFileReader::DataFileReader(Notifier* notifier, ReaderOptions options) : notifier_(notifier), options_(options) {}

DataFileReader::~DataFileReader() = default;

Notifier& DataFileReader::notifier() const { return notifier_ ? *notifier_ : defaultNotifier(); }

void DataFileReader::close() {
  open_ = false;
  formatName_ = "";
  file_.close();
  info_ = FileInfo{};
  channels_.clear();
  positions_.clear();
  parser_.reset();
  window_.clear();
  window_.shrink_to_fit();
  windowStart_ = windowSize_ = 0;
}

bool DataFileReader::open(std::string_view name) {
  close();
  std::vector<std::string> pieces;
  while (true) {
    size_t semi = name.find(';');
    std::string_view piece = name.substr(0, semi);
    if (!piece.empty()) pieces.emplace_back(piece);
    if (semi == std::string_view::npos) break;
    name.remove_prefix(semi + 1);
  }
  if (pieces.empty()) return false;
  std::stable_sort(pieces.begin(), pieces.end(), lessIgnoringCase);
  if (!openSingle(pieces.front())) {
    close();
    return false;
  }
  if (pieces.size() >= 2) collectMarkers(pieces);
  return true;
}

bool DataFileReader::openSingle(std::string_view name) {
  const FormatEntry* format = selectFormat(name);
  if (!format || !format->create) return false;
  if (!file_.open(platform::mapPath(name))) return false;
  parser_ = format->create();
  OpenContext ctx{file_, name, info_, channels_, notifier(), options_};
  if (!parser_->parse(ctx) || channels_.size() > static_cast<size_t>(kMaxChannels)) return false;
  for (Channel& ch : channels_) {
    if (ch.frames < 0) return false;
    if (ch.clk == 0.0) ch.clk = 1.0;
  }
  noteCompanions(name);
  positions_.assign(channels_.size(), 0);
  window_.resize(static_cast<size_t>(kWindowBytes));
  windowStart_ = windowSize_ = 0;
  formatName_ = format->name;
  open_ = true;
  return true;
}

// Companion files of the same base name: ".vsd", a video file and ".vfs".
void DataFileReader::noteCompanions(std::string_view name) {
  std::string base(stripExtension(name));
  auto existing = [](const std::string& n, std::string& host) {
    host = platform::mapPath(n);
    return platform::pathExists(host);
  };
  std::string host;
  info_.hasVsd = existing(base + ".vsd", host);
  if (existing(base + ".vfs", host)) {
    info_.hasVfs = true;
    info_.vfsFile = host;
  }
  std::vector<std::string> candidates;
  if (!info_.videoFile.empty()) candidates.push_back(info_.videoFile);
  for (const char* ext : {".vvs", ".wmv", ".avi", ".mpg"}) candidates.push_back(base + ext);
  // The same name on drive V:, where video recordings are kept.
  std::string onV = base;
  if (onV.size() >= 2 && onV[1] == ':')
    onV.replace(0, 1, "V");
  else
    onV = (onV.empty() || onV[0] == '\\' || onV[0] == '/' ? "V:" : "V:\\") + onV;
  for (const char* ext : {".vvs", ".wmv", ".avi"}) candidates.push_back(onV + ext);
  for (const std::string& c : candidates)
    if (existing(c, host)) {
      info_.hasVideo = true;
      info_.videoPath = host;
      break;
    }
}

// Markers of the further pieces of a ';' list, renumbered after the first
// file's markers and shifted by the duration of the pieces before them.
void DataFileReader::collectMarkers(const std::vector<std::string>& pieces) {
  int number = 0;
  for (const std::string& l : info_.extraLines)
    if (l.compare(0, 6, "$Marke") == 0) ++number;
  const int count = channelCount();
  auto duration = [](const DataFileReader& r) {
    return r.channelCount() > 0 ? static_cast<double>(r.frames(0)) * r.clk(0) : 0.0;
  };
  double shift = duration(*this);
  for (size_t i = 1; i < pieces.size(); ++i) {
    DataFileReader piece(notifier_, options_);
    if (!piece.openSingle(pieces[i]) || piece.channelCount() != count) break;
    bool same = true;
    for (int c = 0; c < count && same; ++c) same = piece.clk(c) == clk(c);
    if (!same) break;
    for (const std::string& l : piece.info().extraLines) {
      if (l.compare(0, 6, "$Marke") != 0) continue;
      const char* p = l.c_str() + 6;
      platform::strtolC(p, &p);
      if (*p != ':') continue;
      const char* end = p + 1;
      double t = platform::strtodC(p + 1, &end);
      const char* text = *end == ':' ? end + 1 : end;
      info_.extraLines.push_back("$Marke" + std::to_string(++number) + ":" + platform::formatG(t + shift) + ":" + text);
    }
    shift += duration(piece);
  }
}

bool DataFileReader::seek(int channel, int64_t position) {
  if (!open_ || channel < 0 || channel >= channelCount() || position < 0) return false;
  positions_[static_cast<size_t>(channel)] = position;
  return true;
}

int64_t DataFileReader::position(int channel) const {
  return open_ && channel >= 0 && channel < channelCount() ? positions_[static_cast<size_t>(channel)] : 0;
}

int64_t DataFileReader::frames(int channel) const {
  return open_ && channel >= 0 && channel < channelCount() ? channels_[static_cast<size_t>(channel)].frames : 0;
}

double DataFileReader::clk(int channel) const {
  if (info_.takt != 0.0) return info_.newClkrate / info_.takt;
  return open_ && channel >= 0 && channel < channelCount() ? channels_[static_cast<size_t>(channel)].clk : 1.0;
}

const Channel& DataFileReader::channel(int channel) const {
  static const Channel none;
  return open_ && channel >= 0 && channel < channelCount() ? channels_[static_cast<size_t>(channel)] : none;
}

const std::string& DataFileReader::name(int c) const { return channel(c).name; }
const std::string& DataFileReader::unit(int c) const { return channel(c).unit; }
double DataFileReader::ylow(int c) const { return channel(c).ylow; }
double DataFileReader::yhigh(int c) const { return channel(c).yhigh; }
int DataFileReader::pchan(int c) const { return channel(c).pchan; }

int64_t DataFileReader::read(double* dest, int channel, int64_t n, int bit) {
  if (!open_ || !dest || channel < 0 || channel >= channelCount() || n <= 0) return 0;
  const Channel& ch = channels_[static_cast<size_t>(channel)];
  int64_t& pos = positions_[static_cast<size_t>(channel)];
  if (pos >= ch.frames) return 0;
  n = std::min(n, ch.frames - pos);
  int64_t got = parser_->readsItself() ? parser_->read(file_, ch, channel, pos, dest, n, bit)
                                       : readLayout(ch, pos, dest, n, bit);
  if (got > 0) pos += got;
  return got > 0 ? got : 0;
}

// Bytes [offset, offset + bytes) through the read window. With `ahead` a whole
// window is read (many small reads in a row then cost one system call), else
// exactly the bytes asked for. `got` is how many of the bytes exist (fewer at
// the end of the file).
const uint8_t* DataFileReader::fetch(int64_t offset, int64_t bytes, int64_t& got, bool ahead) {
  got = 0;
  if (offset < 0 || offset >= file_.size()) return nullptr;
  if (offset >= windowStart_ && offset - windowStart_ < windowSize_) {
    int64_t have = windowSize_ - (offset - windowStart_);
    if (have >= bytes || windowStart_ + windowSize_ >= file_.size()) {
      got = std::min(have, bytes);
      return window_.data() + (offset - windowStart_);
    }
  }
  int64_t want = ahead ? kWindowBytes : bytes;
  want = std::min({want, kWindowBytes, file_.size() - offset});
  int64_t n = file_.readAt(offset, window_.data(), want);
  if (n <= 0) {
    windowSize_ = 0;
    return nullptr;
  }
  windowStart_ = offset;
  windowSize_ = n;
  got = std::min(n, bytes);
  return window_.data();
}

int64_t DataFileReader::readLayout(const Channel& ch, int64_t pos, double* dest, int64_t n, int bit) {
  const ChannelLayout& l = ch.layout;
  const bool digital = ch.typ == SampleType::Digital;
  const int64_t size = digital ? 1 : sampleBytes(ch.typ);
  if (l.runLength <= 0 || l.stride < size) return 0;
  int64_t done = 0;
  while (done < n) {
    const int64_t p = pos + done;
    int64_t q, segment;  // physical sample and how many logical samples follow it in order
    switch (l.ring) {
      case ChannelLayout::Ring::None:
        q = p;
        segment = n - done;
        break;
      case ChannelLayout::Ring::Frames:
        if (p >= l.ringLength) return done;
        q = (l.ringFirst + p % l.ringLength) % l.ringLength;
        segment = std::min(l.ringLength - q, l.ringLength - p);
        break;
      case ChannelLayout::Ring::PreTrigger:
        if (p < l.ringSamples) {
          q = (l.ringFirst + p % l.ringLength) % l.ringLength;
          segment = std::min(l.ringLength - q, l.ringSamples - p);
        } else {
          if (__builtin_add_overflow(l.ringLength, p - l.ringSamples, &q)) return done;
          segment = n - done;
        }
        break;
      default: return done;
    }
    const int64_t run = q / l.runLength, inRun = q % l.runLength;
    int64_t m = std::min({n - done, segment, l.runLength - inRun});
    int64_t start;
    if (__builtin_mul_overflow(run, l.runStride, &start) || __builtin_add_overflow(start, l.base, &start)) return done;
    if (digital) {
      // Bits from byte start + inRun / 8, bit inRun % 8 on.
      if (__builtin_add_overflow(start, inRun / 8, &start)) return done;
      int firstBit = static_cast<int>(inRun % 8);
      int64_t k = 0;
      while (k < m) {
        const int64_t need = m - k;
        const int64_t bytes = std::min<int64_t>((firstBit + need + 7) / 8, kWindowBytes);
        int64_t got;
        const uint8_t* src = fetch(start, bytes, got, true);
        const int64_t bits = src ? std::min(got * 8 - firstBit, need) : 0;
        if (bits <= 0) return done + k;
        for (int64_t i = 0; i < bits; ++i) {
          const int64_t b = firstBit + i;
          dest[done + k + i] = (src[b >> 3] >> (b & 7)) & 1 ? 1.0 : 0.0;
        }
        k += bits;
        start += (firstBit + bits) / 8;
        firstBit = static_cast<int>((firstBit + bits) % 8);
        if (got < bytes && k < m) return done + k;
      }
      done += m;
      continue;
    }
    int64_t inRunBytes;
    if (__builtin_mul_overflow(inRun, l.stride, &inRunBytes) || __builtin_add_overflow(start, inRunBytes, &start))
      return done;
    // The run in chunks that fit the window.
    const int64_t perChunk = (kWindowBytes - size) / l.stride + 1;
    int64_t k = 0;
    while (k < m) {
      int64_t c = std::min(m - k, perChunk);
      int64_t span = (c - 1) * l.stride + size;
      int64_t got;
      const uint8_t* src = fetch(start, span, got, span < kReadAheadBelow);
      if (!src || got < size) return done + k;
      int64_t avail = (got - size) / l.stride + 1;
      if (avail < c) c = avail;
      convertSamples(ch, src, l.stride, c, dest + done + k, bit);
      k += c;
      if (k < m && __builtin_add_overflow(start, c * l.stride, &start)) return done + k;
      if (got < span) return done + k;
    }
    done += m;
  }
  return done;
}

}  // namespace morvel::datafiles
