// f variables: the temporary files f<nn>.tmp, their header, and the
// create, append and read rules. Each test runs in its own temporary folder.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "lang/value_store.h"

namespace morvel::lang {
namespace {

namespace fs = std::filesystem;

class FileArrayTest : public ::testing::Test {
 protected:
  std::unique_ptr<ValueStore> store = std::make_unique<ValueStore>();
  RunContext ctx{*store};
  fs::path oldDir;
  fs::path dir;

  void SetUp() override {
    oldDir = fs::current_path();
    char pattern[] = "/tmp/morvel-farray-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir = pattern;
    fs::current_path(dir);
    store->resetForStart();
    std::string message;
    ASSERT_TRUE(store->allocateArrays(message)) << message;
  }
  void TearDown() override {
    store->releaseAtEnd();
    fs::current_path(oldDir);
    fs::remove_all(dir);
  }

  Operand a(int slot, bool append = false) {
    return {Operand::makeWord(KindArray, slot, false, append), 0, &store->arrayRecord(slot)};
  }
  Operand f(int slot, bool append = false) {
    return {Operand::makeWord(KindFileArray, slot, false, append), 0, nullptr};
  }
  void run(RunRoutine routine, Operand target, Operand source) {
    Operand ops[2] = {target, source};
    routine(ctx, ops, 2);
  }
  int errorOf(RunRoutine routine, Operand target, Operand source) {
    try {
      run(routine, target, source);
    } catch (const RuntimeError& e) {
      return e.number();
    }
    return 0;
  }
  void setArray(int slot, int n, double first, float xDistance = 1.0f, float xOffset = 0.0f,
                uint32_t kind = 0) {
    ValueArray& r = store->arrayRecord(slot);
    store->Grow(r, n);
    for (int k = 0; k < n; ++k) r.data[k] = first + k;
    r.length = n;
    r.xDistance = xDistance;
    r.xOffset = xOffset;
    r.kind = kind;
  }
  static std::vector<unsigned char> bytes(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  static void writeBytes(const std::string& name, const std::vector<unsigned char>& b) {
    std::ofstream out(name, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
  }
};

TEST_F(FileArrayTest, NameHasTwoDigits) {
  EXPECT_EQ(ValueStore::fileArrayName(7), "f07.tmp");
  EXPECT_EQ(ValueStore::fileArrayName(42), "f42.tmp");
}

TEST_F(FileArrayTest, WriteLaysOutHeaderAndLittleEndianSamples) {
  setArray(1, 2, 1.0, 0.5f, -2.0f, 1);  // complex: one (1, 2) pair
  run(assignFileArray, f(3), a(1));
  const std::vector<unsigned char> expected = {
      0x01, 0x00,                                      // kind
      0x00, 0x00, 0x00, 0x3F,                          // 0.5f
      0x00, 0x00, 0x00, 0xC0,                          // -2.0f
      0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xF0, 0x3F,  // 1.0
      0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x40,  // 2.0
  };
  EXPECT_EQ(bytes("f03.tmp"), expected);
  EXPECT_GE(store->FileArrayHandle(3), 0);
}

TEST_F(FileArrayTest, AppendAddsSamplesUnderOneHeaderAndReadsBackTwice) {
  setArray(1, 5, 10.0, 0.001f, 3.0f);
  run(assignFileArray, f(3), a(1));
  run(assignFileArray, f(3, true), a(1));
  EXPECT_EQ(fs::file_size("f03.tmp"), 10u + 2 * 5 * 8);

  run(assignArray, a(2), f(3));
  const ValueArray& r = store->arrayRecord(2);
  ASSERT_EQ(r.length, 10);
  for (int k = 0; k < 10; ++k) EXPECT_DOUBLE_EQ(r.data[k], 10.0 + k % 5) << k;
  EXPECT_FLOAT_EQ(r.xDistance, 0.001f);
  EXPECT_FLOAT_EQ(r.xOffset, 3.0f);
  EXPECT_EQ(r.kind, 0u);
}

TEST_F(FileArrayTest, PlainAssignmentCutsALongerFile) {
  setArray(1, 1000, 0.0);
  setArray(2, 10, 5.0);
  run(assignFileArray, f(3), a(1));
  run(assignFileArray, f(3), a(2));  // same open handle
  EXPECT_EQ(fs::file_size("f03.tmp"), 90u);
  store->closeAllFileArrays();
  run(assignFileArray, f(3), a(1));  // fresh handle
  run(assignFileArray, f(3), a(2));
  EXPECT_EQ(fs::file_size("f03.tmp"), 90u);
  run(assignArray, a(4), f(3));
  EXPECT_EQ(store->arrayRecord(4).length, 10);
  EXPECT_DOUBLE_EQ(store->arrayRecord(4).data[9], 14.0);
}

TEST_F(FileArrayTest, AppendCreatesAMissingFileAndRewritesAShortOne) {
  setArray(1, 3, 1.0, 2.0f);
  run(assignFileArray, f(4, true), a(1));  // created with header
  EXPECT_EQ(fs::file_size("f04.tmp"), 34u);

  writeBytes("f05.tmp", {1, 2, 3, 4, 5});  // no complete header
  run(assignFileArray, f(5, true), a(1));
  EXPECT_EQ(fs::file_size("f05.tmp"), 34u);
  run(assignArray, a(2), f(5));
  EXPECT_EQ(store->arrayRecord(2).length, 3);
  EXPECT_FLOAT_EQ(store->arrayRecord(2).xDistance, 2.0f);
}

TEST_F(FileArrayTest, ReadsAWindowOfSamples) {
  setArray(1, 20, 0.0, 0.5f);
  run(assignFileArray, f(3), a(1));
  ValueArray& r = store->arrayRecord(2);
  const struct {
    int64_t skip, count, length;
    double first;
  } cases[] = {{5, 4, 4, 5.0}, {0, -1, 20, 0.0}, {18, 10, 2, 18.0}, {25, 3, 0, 0.0}, {-3, 2, 2, 0.0}};
  for (const auto& c : cases) {
    store->readFileArray(3, r, c.skip, c.count);
    EXPECT_EQ(r.length, c.length) << c.skip << "/" << c.count;
    if (c.length > 0) {
      EXPECT_DOUBLE_EQ(r.data[0], c.first);
    }
    EXPECT_FLOAT_EQ(r.xDistance, 0.5f);
  }
  EXPECT_EQ(store->openFileArray(3), store->FileArrayHandle(3));
  EXPECT_EQ(store->openFileArray(4), -1);  // existing files only
  EXPECT_FALSE(fs::exists("f04.tmp"));
}

TEST_F(FileArrayTest, ReadingAShortFileGivesNoSamples) {
  for (size_t size : {size_t{0}, size_t{5}, size_t{9}, size_t{10}, size_t{17}}) {
    store->closeAllFileArrays();
    writeBytes("f06.tmp", std::vector<unsigned char>(size, 0));
    setArray(2, 4, 1.0);
    run(assignArray, a(2), f(6));
    EXPECT_EQ(store->arrayRecord(2).length, 0) << size;
  }
}

TEST_F(FileArrayTest, ReadThenWriteInTheSameRun) {
  setArray(1, 4, 1.0);
  run(assignFileArray, f(7), a(1));
  store->closeAllFileArrays();
  run(assignArray, a(2), f(7));  // opens the file for reading
  EXPECT_EQ(store->arrayRecord(2).length, 4);
  setArray(1, 2, 8.0);
  run(assignFileArray, f(7, true), a(1));  // the same handle writes
  run(assignArray, a(2), f(7));
  ASSERT_EQ(store->arrayRecord(2).length, 6);
  EXPECT_DOUBLE_EQ(store->arrayRecord(2).data[5], 9.0);
}

TEST_F(FileArrayTest, ReadingAMissingOrUnreadableFileIsRuntimeError81) {
  EXPECT_EQ(errorOf(assignArray, a(2), f(8)), 81);
  fs::create_directory("f09.tmp");
  EXPECT_EQ(errorOf(assignArray, a(2), f(9)), 81);
  EXPECT_EQ(store->FileArrayHandle(8), -1);
}

TEST_F(FileArrayTest, FileThatCannotBeCreatedIsRuntimeError18) {
  setArray(1, 3, 1.0);
  fs::create_directory("f10.tmp");
  EXPECT_EQ(errorOf(assignFileArray, f(10), a(1)), 18);
  EXPECT_EQ(errorOf(assignFileArray, f(10, true), a(1)), 18);
}

TEST_F(FileArrayTest, ShortWriteIsRuntimeError19) {
  setArray(1, 1000, 1.0);
  struct rlimit old {};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
  auto oldHandler = ::signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = old;
  small.rlim_cur = 1000;  // bytes
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  const int first = errorOf(assignFileArray, f(11), a(1));
  setArray(2, 100, 1.0);
  run(assignFileArray, f(12), a(2));  // 810 bytes fit
  const int second = errorOf(assignFileArray, f(12, true), a(2));
  ::setrlimit(RLIMIT_FSIZE, &old);
  ::signal(SIGXFSZ, oldHandler);
  EXPECT_EQ(first, 19);
  EXPECT_EQ(second, 19);
}

TEST_F(FileArrayTest, RunEndClosesHandlesAndKeepsFiles) {
  setArray(1, 3, 1.0);
  run(assignFileArray, f(13), a(1));
  const int fd = store->FileArrayHandle(13);
  ASSERT_GE(fd, 0);
  store->releaseAtEnd();
  EXPECT_EQ(store->FileArrayHandle(13), -1);
  EXPECT_EQ(::fcntl(fd, F_GETFD), -1);  // really closed
  EXPECT_TRUE(fs::exists("f13.tmp"));

  std::string message;
  store->resetForStart();
  ASSERT_TRUE(store->allocateArrays(message));
  run(assignArray, a(3), f(13));
  EXPECT_EQ(store->arrayRecord(3).length, 3);
  EXPECT_TRUE(store->removeFileArray(13));
  EXPECT_FALSE(fs::exists("f13.tmp"));
  EXPECT_EQ(store->FileArrayHandle(13), -1);
}

TEST_F(FileArrayTest, FileToFileAndIndirectSlots) {
  setArray(1, 3, 1.0, 0.25f);
  run(assignFileArray, f(14), a(1));
  run(assignFileArray, f(15), f(14));
  EXPECT_EQ(bytes("f15.tmp"), bytes("f14.tmp"));
  store->integerSlot(2) = 16;
  run(assignFileArray, {Operand::makeWord(KindFileArray, 2, true), 0, nullptr}, a(1));
  EXPECT_EQ(bytes("f16.tmp"), bytes("f14.tmp"));
}

}  // namespace
}  // namespace morvel::lang
