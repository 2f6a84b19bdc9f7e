// Error texts from the help files.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "lang/error_text.h"
#include "lang/routine.h"

namespace morvel::lang {
namespace {

const std::string kInvalid = "Ung\xFCltige Fehlernummer";

class HelpFile : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("morvel_hlp_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  void write(const std::string& name, const std::string& content) {
    std::ofstream(dir_ / name, std::ios::binary) << content;
  }
  std::filesystem::path dir_;
};

TEST_F(HelpFile, MatchesTheExactLeadingNumber) {
  write("pcompile.hlp", "13//dreizehn\r\n130//x\n3//drei\n 7 //sieben\n8/kurz\nkein//Text\n");
  const std::string d = dir_.string();
  EXPECT_EQ(errorText(3, false, d), "drei");
  EXPECT_EQ(errorText(13, false, d), "dreizehn");
  EXPECT_EQ(errorText(130, false, d), "x");
  EXPECT_EQ(errorText(7, false, d), "sieben");
  EXPECT_EQ(errorText(8, false, d), "urz");  // two characters after the first '/'
  EXPECT_EQ(errorText(1, false, d), kInvalid);
  EXPECT_EQ(errorText(0, false, d), kInvalid);
}

TEST_F(HelpFile, RuntimeTextsArePrefixed) {
  write("runerr.hlp", "13//Kein Speicher\n");
  EXPECT_EQ(errorText(13, true, dir_.string()), "Runtime:Kein Speicher");
  EXPECT_EQ(errorText(14, true, dir_.string()), "Runtime:" + kInvalid);
}

TEST_F(HelpFile, MissingFileGivesTheFallback) {
  EXPECT_EQ(errorText(3, false, dir_.string()), kInvalid);
}

TEST_F(HelpFile, LongLinesAreCutNotSplit) {
  // The rest of a line beyond 256 characters must not be read as a line.
  write("pcompile.hlp", "1//" + std::string(300, 'a') + "5//falsch\n5//richtig\n");
  EXPECT_EQ(errorText(5, false, dir_.string()), "richtig");
  EXPECT_EQ(errorText(1, false, dir_.string()).size(), 253u);
}

TEST(ShippedHelpFiles, CoverEveryErrorNumber) {
  for (int n : {2, 3, 4, 7, 8, 9, 10, 12, 13, 14, 15, 16, 17, 19, 20, 21, 22, 23, 24, 25, 26, 27, 29, 30, 31, 33, 34,
                36, 37}) {
    std::string t = errorText(n, false);
    EXPECT_NE(t, kInvalid) << n;
    EXPECT_FALSE(t.empty()) << n;
  }
  for (int n : {1, 4, 5, 6, 7, 8, 9, 10, 11, 13, 14, 18, 19, 20, 26, 27, 31, 32, 33, 43, 49, 54, 55, 56, 64, 76, 79,
                80, 81, 83, 86, 88, 89, 90, 91, 92, 93, 94, 96, 102, kErrIndirectSlotOutOfPool,
                kErrBuiltinNotAvailable}) {
    EXPECT_NE(errorText(n, true), "Runtime:" + kInvalid) << n;
  }
  EXPECT_EQ(errorText(37, false), "Name l\xE4nger als 32 Zeichen");
  EXPECT_EQ(errorText(1000, false), kInvalid);
}

}  // namespace
}  // namespace morvel::lang
