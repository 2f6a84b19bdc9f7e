#include "datafiles/formats.h"

#include <bit>
#include <cstdint>
#include <cstring>

#include "platform/pathmap.h"

namespace morvel::datafiles {

static_assert(std::endian::native == std::endian::little, "the readers assume a little-endian host");

template <typename T>
T loadLE(const unsigned char* p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
template int16_t loadLE<int16_t>(const unsigned char*);
template uint16_t loadLE<uint16_t>(const unsigned char*);
template int32_t loadLE<int32_t>(const unsigned char*);
template uint32_t loadLE<uint32_t>(const unsigned char*);
template int64_t loadLE<int64_t>(const unsigned char*);
template float loadLE<float>(const unsigned char*);
template double loadLE<double>(const unsigned char*);

namespace {

// Extensions of the foreign formats are listed so that the dispatch knows
// them; their parsers come with their own readers.
const FormatEntry kFormats[] = {
    {"vdt", ".vdt", &makeVdtParser},
    {"dat", ".dat", &makeDatParser},
    {"teac", "", nullptr},  // ".dat" with a ".hdr" header file
    {"rpc3", ".rpc .rsp .rsp1", nullptr},
    {"diadem", ".r32 .r64 .w16", nullptr},
    {"bus", ".bus", nullptr},
    {"famos", ".raw", nullptr},
    {"dcf", ".dcf", nullptr},
    {"ascii", ".txt .asc .csv", nullptr},
    {"mdf", ".mdf", nullptr},
    {"mf4", ".mf4", nullptr},
    {"keyword", ".dmd .tgt .acq", nullptr},
    {"uff58", ".unv .uff .uf .bunv", nullptr},
    {"ch10", ".ch10", nullptr},
    {"wav", ".wav", nullptr},
    {"vfs", ".vfs", nullptr},
};

const FormatEntry* byName(std::string_view name) {
  for (const auto& f : kFormats)
    if (name == f.name) return &f;
  return nullptr;
}

bool listsExtension(const char* list, std::string_view ext) {
  std::string_view l = list;
  while (!l.empty()) {
    size_t end = l.find(' ');
    if (l.substr(0, end) == ext) return true;
    if (end == std::string_view::npos) break;
    l.remove_prefix(end + 1);
  }
  return false;
}

size_t extensionDot(std::string_view name) {
  size_t dot = name.rfind('.');
  size_t sep = name.find_last_of("/\\");
  if (dot == std::string_view::npos || (sep != std::string_view::npos && dot < sep)) return std::string_view::npos;
  return dot;
}

}  // namespace

std::string extensionOf(std::string_view name) {
  size_t dot = extensionDot(name);
  if (dot == std::string_view::npos) return {};
  std::string ext(name.substr(dot));
  for (char& c : ext)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  return ext;
}

std::string_view stripExtension(std::string_view name) {
  size_t dot = extensionDot(name);
  return dot == std::string_view::npos ? name : name.substr(0, dot);
}

const FormatEntry* selectFormat(std::string_view name) {
  std::string ext = extensionOf(name);
  if (ext.empty()) return nullptr;
  if (ext == ".dat") {
    std::string hdr = std::string(stripExtension(name)) + ".hdr";
    if (platform::pathExists(platform::mapPath(hdr))) return byName("teac");
  }
  for (const auto& f : kFormats)
    if (listsExtension(f.extensions, ext)) return &f;
  return nullptr;
}

void splitNameAndMnr(std::string_view text, std::string& name, std::string& mnr) {
  size_t blank = text.find(' ');
  if (!text.empty() && text[0] >= '0' && text[0] <= '9' && blank != std::string_view::npos) {
    mnr.assign(text.substr(0, blank));
    name.assign(text.substr(blank + 1));
  } else {
    name.assign(text);
  }
}

}  // namespace morvel::datafiles
