#pragma once
// The data file reader: opens a measurement data file of any supported format
// (chosen by its extension) and serves every channel's samples as 64-bit
// floats in physical units.
//
// Formats fill the model below (file level and per channel) and describe where
// each channel's samples lie (`ChannelLayout`); the reader then addresses and
// converts the samples itself. A format whose samples cannot be addressed that
// way (sequential decoders) reads them through its own FormatParser::read.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "datafiles/random_file.h"

namespace morvel {
class Notifier;
}

namespace morvel::datafiles {

inline constexpr int kMaxChannels = 4096;

enum class SampleType : uint8_t {
  Int16,
  UInt16,
  Int32,
  UInt32,
  Real,       // IEEE 32-bit, unscaled
  Real64,     // IEEE 64-bit, unscaled
  Digital,    // one bit per sample, least significant bit first
  Digital16,  // bit field of a 16-bit word, `mask` selects it
  Int12,      // record format: 12 bits in a 16-bit word
};

// Stored bytes of one sample; 0 for Digital (one bit).
int sampleBytes(SampleType t);

enum class Organisation : uint8_t { Linear, Block, Compress1 };

enum class GpsRole : uint8_t { None, LatitudeMinE5, LatitudeDeg, LongitudeMinE5, LongitudeDeg };
enum class VideoRole : uint8_t { None, Clock, Frame };

// Where a channel's samples lie. Physical sample q (after the ring mapping
// below) starts at
//   base + (q div runLength) * runStride + (q mod runLength) * stride
// bytes (for Digital: bit (q mod runLength) counted from byte base + (q div
// runLength) * runStride, least significant bit first).
struct ChannelLayout {
  int64_t base = 0;
  int64_t stride = 2;                // bytes from one sample to the next within a run
  int64_t runLength = INT64_MAX;     // samples stored one after the other
  int64_t runStride = 0;             // bytes from one run to the next

  // Logical sample p -> physical sample q.
  enum class Ring : uint8_t {
    None,        // q = p
    Frames,      // q = (ringFirst + p) mod ringLength, p < ringLength
    PreTrigger,  // p < ringSamples: q = (ringFirst + p) mod ringLength,
                 // else q = ringLength + (p - ringSamples)
  };
  Ring ring = Ring::None;
  int64_t ringFirst = 0;
  int64_t ringLength = 0;
  int64_t ringSamples = 0;
};

struct DctRow {
  std::string text;
  double values[12] = {};
};

struct Channel {
  std::string name, mnr, unit;
  int16_t pchan = 0;
  double ampli = 1.0, offset = 0.0;
  double ylow = 0.0, yhigh = 0.0;
  double minscale = 0.0, maxscale = 0.0;
  int64_t channelOffset = 32;
  double xoffset = 0.0;
  Organisation org = Organisation::Linear;
  int64_t block = 0;
  SampleType typ = SampleType::Int16;
  uint32_t mask = 0;  // Digital16
  int64_t frames = 0;
  double clk = 1.0;
  double calclow = 0.0, calchigh = 0.0, length = 0.0, xtra = 0.0, canUsbDelay = 0.0;
  int32_t klassen = 0;
  std::string polarity;
  bool inverted = false;
  int32_t moduleIndex = 0, moduleChannel = 0;
  std::string moduleType;
  bool canModule = false;
  int32_t canIdent = 0, canStartBit = 0, canWordLength = 0;
  int32_t canFormat = 0;  // 0 unsigned Intel, 1 signed Intel, 2 unsigned Motorola, 3 signed Motorola
  double dctMin = 0.0, dctMax = 0.0, dctMean = 0.0, dctSDev = 0.0, dctDiff = 0.0;
  GpsRole gps = GpsRole::None;
  VideoRole video = VideoRole::None;
  bool digitalFlag = false;  // record format: the record marks a digital channel
  std::vector<std::string> extraLines;

  ChannelLayout layout;
};

struct FileInfo {
  SampleType typ = SampleType::Int16;
  Organisation org = Organisation::Linear;
  int64_t block = 0;
  int64_t frames = 0;
  double clk = 1.0;
  int64_t startTime = 0;  // seconds since 1970 (local date and time of the header)
  std::string xunit;
  int32_t datenart = 0;
  std::string kurs;
  int64_t startTrigger = 0, stopTrigger = 0;
  int64_t startTriggerAt = 0, stopTriggerAt = 0;
  int64_t ptBlocks = 0, ptReadPos = 0, ptFrames = 0;
  double takt = 0.0, newClkrate = 0.0;
  std::string newUnit;
  std::string polarity;
  std::string videoFile;  // "Video:" as written in the header
  std::string videoPath;  // the video file found (host path)
  double videoT0 = 0.0, videoLatency = 0.0, videoSlowMotion = 0.0;
  std::vector<std::string> extraLines;  // "$" lines of the header, markers among them
  std::vector<DctRow> dct;
  int version = 0;  // record format version

  // Companion files (host paths).
  bool hasVsd = false;
  bool hasVideo = false;
  bool hasVfs = false;
  std::string vfsFile;
};

struct ReaderOptions {
  // The signal generator's reader treats "VX2FLXclk:" as an ordinary line.
  bool vx2flxclkIsKey = true;
};

class FormatParser;

class DataFileReader {
 public:
  explicit DataFileReader(Notifier* notifier = nullptr, ReaderOptions options = {});
  ~DataFileReader();
  DataFileReader(const DataFileReader&) = delete;
  DataFileReader& operator=(const DataFileReader&) = delete;

  // Opens a file, or the first of a ';' list in case-insensitive order (the
  // markers of the other pieces are collected). Names are Windows-1252 and go
  // through the path mapping. False leaves the reader closed.
  bool open(std::string_view name);
  void close();
  bool isOpen() const { return open_; }

  int channelCount() const { return static_cast<int>(channels_.size()); }
  // Sets the channel's read position; false for an unknown channel or a
  // negative position.
  bool seek(int channel, int64_t position);
  int64_t position(int channel) const;
  int64_t frames(int channel) const;
  // Reads up to n samples from the read position (bit -1: values, else the
  // single bit b), advances the position by the number delivered and returns
  // it; 0 on failure or at the end.
  int64_t read(double* dest, int channel, int64_t n, int bit = -1);
  // Sampling interval: $NewClkrate / $Takt when $Takt is not 0.
  double clk(int channel) const;
  const std::string& name(int channel) const;
  const std::string& unit(int channel) const;
  double ylow(int channel) const;
  double yhigh(int channel) const;
  int pchan(int channel) const;
  int64_t startTime() const { return info_.startTime; }

  const FileInfo& info() const { return info_; }
  const Channel& channel(int channel) const;
  // Name of the format that opened the file ("vdt", "dat", ...); empty when closed.
  const char* formatName() const { return formatName_; }

  Notifier& notifier() const;
  const ReaderOptions& options() const { return options_; }

 private:
  friend class FormatParser;
  bool openSingle(std::string_view name);
  void collectMarkers(const std::vector<std::string>& pieces);
  void noteCompanions(std::string_view name);
  bool finishLayouts();
  int64_t readLayout(const Channel& ch, int64_t pos, double* dest, int64_t n, int bit);
  const uint8_t* fetch(int64_t offset, int64_t bytes, int64_t& got, bool ahead);

  Notifier* notifier_;
  ReaderOptions options_;
  bool open_ = false;
  const char* formatName_ = "";
  RandomFile file_;
  FileInfo info_;
  std::vector<Channel> channels_;
  std::vector<int64_t> positions_;
  std::unique_ptr<FormatParser> parser_;

  // Read window: a copy of file bytes [windowStart_, windowStart_ + windowSize_).
  std::vector<uint8_t> window_;
  int64_t windowStart_ = 0;
  int64_t windowSize_ = 0;
};

}  // namespace morvel::datafiles
