// Mapping of application file names to paths on this machine.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "platform/pathmap.h"

using platform::PathMap;

namespace {

class TempTree {
 public:
  TempTree() {
    std::string t = (std::filesystem::temp_directory_path() / "morvel-pathmap-XXXXXX").string();
    if (::mkdtemp(t.data())) root = t;
  }
  ~TempTree() {
    std::error_code ec;
    std::filesystem::remove_all(root, ec);
  }
  std::string touch(const std::string& rel) {
    std::filesystem::path p = std::filesystem::path(root) / rel;
    std::filesystem::create_directories(p.parent_path());
    std::ofstream(p).put('x');
    return p.string();
  }
  std::string root;
};

TEST(PathMap, Translate) {
  PathMap m;
  m.setDrive('c', "/srv/c");
  m.setDrive('V', "/media/video/");
  struct Case {
    const char* name;
    const char* path;
  } cases[] = {
      {"c:\\data\\x.vdt", "/srv/c/data/x.vdt"},
      {"C:/data/x.vdt", "/srv/c/data/x.vdt"},
      {"C:data\\x.vdt", "/srv/c/data/x.vdt"},
      {"C:\\", "/srv/c"},
      {"v:\\film.avi", "/media/video/film.avi"},
      {"d:\\x\\y", "/x/y"},  // a drive without root maps to /
      {"rel\\a.b", "rel/a.b"},
      {"\\abs\\a", "/abs/a"},
      {"\\\\server\\share\\a", "//server/share/a"},
      {"1:\\x", "1:/x"},
      {"c:\\f\xFCr\\\xC4rger.vdt", "/srv/c/f\xC3\xBCr/\xC3\x84rger.vdt"},  // Windows-1252 to UTF-8
  };
  for (const auto& c : cases) EXPECT_EQ(m.translate(c.name), c.path) << c.name;
  EXPECT_EQ(m.translateUtf8("c:\\f\xC3\xBCr"), "/srv/c/f\xC3\xBCr");
}

TEST(PathMap, SettingsFileAndEnvironment) {
  TempTree t;
  std::string file = t.root + "/drives.conf";
  std::ofstream(file) << "# Laufwerke\n C = /daten/c \r\nv:=/video\nQ\nxy=/nein\n\n=/leer\nD=/d\n";
  PathMap m;
  ASSERT_TRUE(m.loadFile(file));
  EXPECT_EQ(m.drive('c'), "/daten/c");
  EXPECT_EQ(m.drive('V'), "/video");
  EXPECT_EQ(m.drive('D'), "/d");
  EXPECT_EQ(m.drive('Q'), "");
  EXPECT_FALSE(m.loadFile(t.root + "/fehlt.conf"));

  // MORVEL_DRIVES overrides the file; MORVEL_DRIVES_FILE names the file.
  struct SavedEnv {
    const char* name;
    bool had;
    std::string value;
    explicit SavedEnv(const char* n) : name(n), had(getenv(n) != nullptr), value(had ? getenv(n) : "") {}
    ~SavedEnv() { had ? setenv(name, value.c_str(), 1) : unsetenv(name); }
  } savedFile("MORVEL_DRIVES_FILE"), savedSpec("MORVEL_DRIVES");
  setenv("MORVEL_DRIVES_FILE", file.c_str(), 1);
  setenv("MORVEL_DRIVES", "D=/anders;E:=/e;  ", 1);
  PathMap d;
  d.loadDefaults();
  EXPECT_EQ(d.drive('C'), "/daten/c");
  EXPECT_EQ(d.drive('D'), "/anders");
  EXPECT_EQ(d.drive('E'), "/e");
  EXPECT_EQ(d.translate("e:\\x"), "/e/x");
}

TEST(PathMap, CaseInsensitiveFallback) {
  TempTree t;
  std::string hdr = t.touch("Mess/UTEST001.HDR");
  std::string umlaut = t.touch("Mess/\xC3\x84rger.vdt");
  t.touch("Zwei/b.txt");
  t.touch("Zwei/B.TXT");
  std::string exact = t.touch("Zwei/B.txt");
  PathMap m;
  m.setDrive('C', t.root);
  EXPECT_EQ(m.map("c:\\mess\\utest001.hdr"), hdr);
  EXPECT_EQ(m.map("C:\\MESS\\\xE4RGER.VDT"), umlaut);         // Windows-1252 name, any case
  EXPECT_EQ(m.map("c:\\zwei\\B.txt"), exact);                 // exact spelling wins
  EXPECT_EQ(m.map("c:\\zwei\\b.TxT"), t.root + "/Zwei/B.TXT");  // else the first in byte order
  EXPECT_EQ(m.map("c:\\mess\\fehlt.hdr"), t.root + "/mess/fehlt.hdr");  // unchanged when nothing matches
  EXPECT_EQ(platform::resolveCaseInsensitive(t.root + "/mess/../MESS/utest001.hdr"), t.root + "/Mess/../Mess/UTEST001.HDR");
  EXPECT_TRUE(platform::pathExists(hdr));
  EXPECT_FALSE(platform::pathExists(""));
}

TEST(PathMap, EqualsIgnoringCase) {
  struct Case {
    const char* a;
    const char* b;
    bool equal;
  } cases[] = {{"abc", "ABC", true},
               {"\xC3\xA4", "\xC3\x84", true},          // a umlaut
               {"\xC5\xA0", "\xC5\xA1", true},          // S caron
               {"\xC3\x97", "\xC3\xB7", false},         // multiplication and division sign
               {"\xC5\xB8", "\xC3\xBF", true},          // Y diaeresis
               {"ab", "abc", false},
               {"\xFF", "\xFF", true},                  // not UTF-8: bytes compare
               {"\xFF", "\xDF", false}};
  for (const auto& c : cases) EXPECT_EQ(platform::equalsIgnoringCase(c.a, c.b), c.equal) << c.a << " " << c.b;
}

}  // namespace
