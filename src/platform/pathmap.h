#pragma once
// Mapping of file names as applications and data files write them
// ("c:\messung\run1.vdt", Windows-1252 bytes) to paths on this machine.
//
//   - backslashes become slashes;
//   - a drive letter "X:" is replaced by the root configured for X (or by "/"
//     when X has no root): "c:\data\a.vdt" -> "<root of C>/data/a.vdt";
//   - the bytes are converted from Windows-1252 to UTF-8;
//   - when the resulting path does not exist, every component that does not
//     exist with its exact spelling is looked up in its directory without
//     regard to case ("UTEST001.HDR" finds "utest001.hdr").
//
// Drive roots come from a settings file and an environment variable:
//   file  $MORVEL_DRIVES_FILE, else $XDG_CONFIG_HOME/Orvak/Morvel-drives.conf,
//         else $HOME/.config/Orvak/Morvel-drives.conf;
//         lines "C=/srv/messdaten" or "C:=/srv/messdaten", '#' starts a comment
//   env   MORVEL_DRIVES="C=/srv/messdaten;V=/media/video" (overrides the file)
#include <array>
#include <string>
#include <string_view>

namespace platform {

class PathMap {
 public:
  // Root for a drive letter (either case); an empty root removes the mapping.
  void setDrive(char letter, std::string root);
  // The configured root, or an empty text.
  const std::string& drive(char letter) const;

  // Reads drive roots from a settings file; false when it cannot be read.
  bool loadFile(const std::string& path);
  // Reads "X=root" entries separated by ';' or line breaks.
  void loadSpec(std::string_view spec);
  // The settings file and then MORVEL_DRIVES, as described above.
  void loadDefaults();

  // Name (Windows-1252) to host path (UTF-8) without looking at the disk.
  std::string translate(std::string_view name) const;
  // translate() followed by the case-insensitive fallback.
  std::string map(std::string_view name) const;
  // The same for a name that is UTF-8 already (command lines of the tools).
  std::string translateUtf8(std::string_view name) const;
  std::string mapUtf8(std::string_view name) const;

 private:
  std::array<std::string, 26> roots_;
};

// The process-wide map, loaded with loadDefaults() on first use.
PathMap& pathMap();

// pathMap().map(name): the one entry point for names that reach the file system.
std::string mapPath(std::string_view name);

// Host path (UTF-8) as it exists on disk: the path itself when it exists,
// else the first spelling (in byte order) that matches every missing
// component without regard to case; the path unchanged when none matches.
std::string resolveCaseInsensitive(const std::string& hostPath);

// True when the host path names an existing file or directory.
bool pathExists(const std::string& hostPath);

// Comparison of two names (UTF-8, or raw bytes where not UTF-8) that folds the
// letters of ASCII and of Windows-1252 to lower case.
bool equalsIgnoringCase(std::string_view a, std::string_view b);

}  // namespace platform
