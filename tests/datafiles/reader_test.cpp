// Opening: ';' lists and markers, format choice by extension, companion files,
// names through the path mapping.
#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "datafiles/datafile.h"
#include "datafiles/formats.h"
#include "fixtures.h"
#include "platform/pathmap.h"

using namespace morvel::datafiles;
using fixtures::lines;
using fixtures::vdt;

namespace {

std::string oneChannel(const std::string& name, int frames, const char* clk, std::initializer_list<std::string> extra) {
  std::string h = lines({"beginheader:", "typ:int16"});
  for (const auto& l : extra) h += l + "\r\n";
  h += lines({"endheader:", "beginchannel:", "channel_offset:32", "name:" + name, "frames:" + std::to_string(frames),
              std::string("clk:") + clk, "endchannel:"});
  return vdt(std::string(static_cast<size_t>(frames) * 2, '\0'), h);
}

std::vector<std::string> markers(const DataFileReader& r) {
  std::vector<std::string> m;
  for (const auto& l : r.info().extraLines)
    if (l.rfind("$Marke", 0) == 0) m.push_back(l);
  return m;
}

TEST(Reader, ListOpensTheFirstNameAndCollectsMarkers) {
  fixtures::TempDir dir;
  fixtures::writeFile(dir / "A.vdt", oneChannel("erstes", 1000, "0.01", {"$Marke1:5:Start"}));
  fixtures::writeFile(dir / "b.vdt", oneChannel("zweites", 500, "0.01", {"$Marke1:2:Fehler", "$Kommentar:x"}));
  fixtures::writeFile(dir / "C.vdt", oneChannel("drittes", 100, "0.01", {"$Marke1:1.5:Ende"}));
  fixtures::writeFile(dir / "d.vdt", oneChannel("anders", 100, "0.02", {"$Marke1:1:falsch"}));
  fixtures::writeFile(dir / "e.vdt", oneChannel("danach", 100, "0.01", {"$Marke1:1:zu spaet"}));

  DataFileReader r;
  ASSERT_TRUE(r.open(dir / "b.vdt;" + dir / "A.vdt"));
  EXPECT_EQ(r.name(0), "erstes");
  EXPECT_EQ(markers(r), (std::vector<std::string>{"$Marke1:5:Start", "$Marke2:12:Fehler"}));

  // Three pieces; a piece with another interval ends the collection.
  ASSERT_TRUE(r.open(dir / "e.vdt;" + dir / "C.vdt;" + dir / "d.vdt;" + dir / "b.vdt;" + dir / "A.vdt"));
  EXPECT_EQ(markers(r), (std::vector<std::string>{"$Marke1:5:Start", "$Marke2:12:Fehler", "$Marke3:16.5:Ende"}));

  // A missing piece ends the collection too; a missing first name fails.
  ASSERT_TRUE(r.open(dir / "A.vdt;" + dir / "a0.vdt;" + dir / "b.vdt"));
  EXPECT_EQ(markers(r), (std::vector<std::string>{"$Marke1:5:Start"}));
  EXPECT_FALSE(r.open(dir / "0.vdt;" + dir / "A.vdt"));
  EXPECT_FALSE(r.open(";"));
  EXPECT_FALSE(r.open(""));
}

TEST(Reader, FormatByExtension) {
  fixtures::TempDir dir;
  std::string recordFile = fixtures::dat(33, 1, 0, 1.0f, {fixtures::DatChannel{}}, "");
  fixtures::writeFile(dir / "run.DAT", recordFile);
  fixtures::writeFile(dir / "utest001.dat", recordFile);
  fixtures::writeFile(dir / "UTEST001.HDR", "");
  fixtures::writeFile(dir / "x.VDT", oneChannel("k", 1, "1", {}));
  fixtures::writeFile(dir / "x.wav", "RIFF");
  fixtures::writeFile(dir / "x.xyz", recordFile);
  fixtures::writeFile(dir / "noext", recordFile);

  DataFileReader r;
  ASSERT_TRUE(r.open(dir / "run.DAT"));
  EXPECT_STREQ(r.formatName(), "dat");
  ASSERT_TRUE(r.open(dir / "x.VDT"));
  EXPECT_STREQ(r.formatName(), "vdt");
  // ".dat" beside a ".hdr" of the same base name (any case) is a TEAC data set.
  EXPECT_STREQ(selectFormat(dir / "utest001.dat")->name, "teac");
  EXPECT_FALSE(r.open(dir / "utest001.dat"));
  for (const char* name : {"x.wav", "x.xyz", "noext"}) EXPECT_FALSE(r.open(dir / name)) << name;
  EXPECT_FALSE(r.isOpen());
  EXPECT_STREQ(selectFormat("c:\\m.x\\run1.RSP1")->name, "rpc3");
  EXPECT_EQ(selectFormat("c:\\m.x\\run1"), nullptr);
  EXPECT_EQ(extensionOf("a/b.c/Name.VdT"), ".vdt");
}

class Companions : public ::testing::Test {
 protected:
  void SetUp() override {
    savedC = platform::pathMap().drive('C');
    savedV = platform::pathMap().drive('V');
    std::filesystem::create_directories(dir / "c/mess");
    std::filesystem::create_directories(dir / "v/mess");
    platform::pathMap().setDrive('C', dir / "c");
    platform::pathMap().setDrive('V', dir / "v");
  }
  void TearDown() override {
    platform::pathMap().setDrive('C', savedC);
    platform::pathMap().setDrive('V', savedV);
  }
  std::string savedC, savedV;
  fixtures::TempDir dir;
  DataFileReader r;
};

TEST_F(Companions, DriveLettersAndCaseReachTheFiles) {
  fixtures::writeFile(dir / "c/mess/Lauf1.vdt", oneChannel("k", 1, "1", {}));
  ASSERT_TRUE(r.open("C:\\MESS\\lauf1.vdt"));
  EXPECT_FALSE(r.info().hasVsd);
  EXPECT_FALSE(r.info().hasVideo);
  EXPECT_FALSE(r.info().hasVfs);
}

TEST_F(Companions, VsdVfsAndVideoBesideTheFile) {
  fixtures::writeFile(dir / "c/mess/lauf1.vdt", oneChannel("k", 1, "1", {}));
  fixtures::writeFile(dir / "c/mess/LAUF1.VSD", "");
  fixtures::writeFile(dir / "c/mess/lauf1.vfs", "");
  fixtures::writeFile(dir / "c/mess/lauf1.AVI", "");
  fixtures::writeFile(dir / "c/mess/lauf1.mpg", "");
  ASSERT_TRUE(r.open("c:\\mess\\lauf1.vdt"));
  EXPECT_TRUE(r.info().hasVsd);
  EXPECT_TRUE(r.info().hasVfs);
  EXPECT_EQ(r.info().vfsFile, dir / "c/mess/lauf1.vfs");
  EXPECT_TRUE(r.info().hasVideo);
  EXPECT_EQ(r.info().videoPath, dir / "c/mess/lauf1.AVI");  // .avi comes before .mpg
}

TEST_F(Companions, VideoOnDriveVAndFromTheHeader) {
  fixtures::writeFile(dir / "c/mess/lauf2.vdt", oneChannel("k", 1, "1", {}));
  fixtures::writeFile(dir / "v/mess/lauf2.wmv", "");
  ASSERT_TRUE(r.open("c:\\mess\\lauf2.vdt"));
  EXPECT_TRUE(r.info().hasVideo);
  EXPECT_EQ(r.info().videoPath, dir / "v/mess/lauf2.wmv");

  fixtures::writeFile(dir / "c/mess/lauf3.vdt", oneChannel("k", 1, "1", {"Video:V:\\aufnahmen\\Film.mpg"}));
  fixtures::writeFile(dir / "c/mess/lauf3.vvs", "");
  ASSERT_TRUE(r.open("c:\\mess\\lauf3.vdt"));
  EXPECT_EQ(r.info().videoPath, dir / "c/mess/lauf3.vvs");  // the named file does not exist
  std::filesystem::create_directories(dir / "v/aufnahmen");
  fixtures::writeFile(dir / "v/aufnahmen/film.mpg", "");
  ASSERT_TRUE(r.open("c:\\mess\\lauf3.vdt"));
  EXPECT_EQ(r.info().videoPath, dir / "v/aufnahmen/film.mpg");
}

}  // namespace
