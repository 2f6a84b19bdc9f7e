#pragma once
// Format parsers of the data file reader and their dispatch by extension.
//
// A parser reads the opened file into the reader's model: file information,
// channels and, for each channel, the layout of its samples. Adding a format
// means writing a parser and filling in its row of the table in formats.cpp.
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "datafiles/datafile.h"

namespace morvel::datafiles {

struct OpenContext {
  const RandomFile& file;
  std::string_view name;  // as given to open (Windows-1252, not mapped)
  FileInfo& info;
  std::vector<Channel>& channels;
  Notifier& notifier;
  const ReaderOptions& options;
};

class FormatParser {
 public:
  virtual ~FormatParser() = default;
  // Fills the model; false when the file cannot be read as this format.
  virtual bool parse(OpenContext& ctx) = 0;
  // Formats whose samples are decoded sequentially rather than addressed
  // through ChannelLayout answer true and implement read().
  virtual bool readsItself() const { return false; }
  virtual int64_t read(const RandomFile& /*file*/, const Channel& /*ch*/, int /*index*/, int64_t /*pos*/,
                       double* /*dest*/, int64_t /*n*/, int /*bit*/) {
    return 0;
  }
};

struct FormatEntry {
  const char* name;
  const char* extensions;  // blank-separated, lower case, with the dot
  std::unique_ptr<FormatParser> (*create)();  // nullptr: not supported (yet)
};

// The extension of a name (from the last dot after the last slash or
// backslash), lower case, with the dot; empty when there is none.
std::string extensionOf(std::string_view name);
// The name without that extension.
std::string_view stripExtension(std::string_view name);

// The format a name selects: the lower-case extension, except that ".dat"
// with a ".hdr" file of the same base name selects the TEAC data set.
// nullptr when the extension selects no format.
const FormatEntry* selectFormat(std::string_view name);

std::unique_ptr<FormatParser> makeVdtParser();
std::unique_ptr<FormatParser> makeDatParser();

// Shared helpers of the parsers.
// "12 Temperatur" -> mnr "12", name "Temperatur" (name beginning with a digit
// and containing a blank); other names stay whole.
void splitNameAndMnr(std::string_view text, std::string& name, std::string& mnr);
// Reading a little-endian value from bytes.
template <typename T>
T loadLE(const unsigned char* p);

}  // namespace morvel::datafiles
