#include "fileio/fileio.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <vector>

#if defined(__unix__)
#include <sys/stat.h>
#endif

#include "test_support.h"

namespace {

std::span<const std::byte> Bytes(const std::string& s) { return std::as_bytes(std::span(s)); }

TEST(ReadWholeFile, ReadsExactlyTheReportedLength) {
  test::ScratchDir dir;
  const std::string content("a\0b\nc", 5);
  test::WriteFile(dir / "f", content);
  const FileBytes bytes = ReadWholeFile(dir / "f");
  EXPECT_EQ(std::string(bytes.data.get(), bytes.size), content);
  EXPECT_THROW(ReadWholeFile(dir / "missing"), std::runtime_error);
}

// Past 2 GiB every byte is read: the content of a sparse file is zeros.
// Gigabytes of memory: the suite takes the lock of the huge-input tests.
TEST(ReadWholeFileHugeInput, ReadsAFilePast2GiBWhole) {
  test::ScratchDir dir;
  const std::uintmax_t length = (std::uintmax_t{1} << 31) + 3;
  const std::string name = dir / "huge";
  test::WriteFile(name, "12\n");
  std::filesystem::resize_file(name, length);  // sparse
  const FileBytes bytes = ReadWholeFile(name);
  std::filesystem::remove(name);
  ASSERT_EQ(bytes.size, length);
  EXPECT_EQ(std::string(bytes.data.get(), 3), "12\n");
  EXPECT_EQ(bytes.data[length - 1], '\0');
}

TEST(WriteWholeFile, ReplacesALongerFileWithThePiecesInOrder) {
  test::ScratchDir dir;
  test::WriteFile(dir / "out", std::string(100, 'x'));
  WriteWholeFile(dir / "out", {Bytes("ab"), Bytes(""), Bytes("cd")});
  EXPECT_EQ(test::ReadFile(dir / "out"), "abcd");
}

// Pieces are written as they come, up to the first empty one; a failure
// to make a piece fails the write.
TEST(WriteFileInPieces, WritesEachPieceUntilAnEmptyOneOrAFailure) {
  test::ScratchDir dir;
  const std::string pieces[] = {"ab", "c", "", "never"};
  int asked = 0;
  WriteFileInPieces(dir / "out", [&]() { return Bytes(pieces[asked++]); });
  EXPECT_EQ(test::ReadFile(dir / "out"), "abc");
  EXPECT_EQ(asked, 3);

  asked = 0;
  const auto failing = [&]() {
    if (asked == 2) throw std::runtime_error("no piece");
    return Bytes(pieces[asked++]);
  };
  EXPECT_THROW(WriteFileInPieces(dir / "out", failing), std::runtime_error);
  EXPECT_EQ(test::ReadFile(dir / "out"), "abc");
}

#if !defined(_WIN32)
// An output is written under a temporary dot-name in its folder and takes
// its name only when complete: while it is written the name holds the
// previous file, and a failure leaves that file and no temporary one. A
// name of the longest length still gets a temporary name, a shortened one.
TEST(WriteFileInPieces, TheNameHoldsThePreviousFileUntilTheNewOneIsComplete) {
  test::ScratchDir dir;
  const auto names = [&dir] {
    std::vector<std::string> found;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
      found.push_back(entry.path().filename().string());
    }
    std::sort(found.begin(), found.end());
    return found;
  };
  const std::string fresh = "new";
  for (const std::string& name : {std::string("res_In.bmp"), std::string(255, 'n')}) {
    for (const bool fails : {true, false}) {
      test::WriteFile(dir / name, "old");
      std::vector<std::string> during;
      std::string finalDuring;
      int asked = 0;
      const NextPiece next = [&]() {
        if (asked++ == 0) return Bytes(fresh);
        during = names();
        finalDuring = test::ReadFile(dir / name);
        if (fails) throw std::runtime_error("no piece");
        return std::span<const std::byte>{};
      };
      const std::string what = name.substr(0, 10) + (fails ? " failing" : "");
      if (fails) {
        EXPECT_THROW(WriteFileInPieces(dir / name, next), std::runtime_error) << what;
      } else {
        WriteFileInPieces(dir / name, next);
      }
      EXPECT_EQ(test::ReadFile(dir / name), fails ? "old" : "new") << what;
      EXPECT_EQ(names(), std::vector<std::string>{name}) << what;
      EXPECT_EQ(finalDuring, "old") << what;
      ASSERT_EQ(during.size(), 2u) << what;
      const std::string& temporary = during[0] == name ? during[1] : during[0];
      EXPECT_EQ(temporary[0], '.') << what;
      EXPECT_LE(temporary.size(), 255u) << what;
      EXPECT_EQ(temporary.find(name.substr(0, 200)), 1u) << what;
      EXPECT_FALSE(temporary.ends_with(".bmp")) << what;
    }
    std::filesystem::remove(dir / name);
  }
}
#endif

TEST(WriteWholeFile, FailuresThrow) {
  test::ScratchDir dir;
  EXPECT_THROW(WriteWholeFile(dir / "missing/out", {Bytes("a")}), std::runtime_error);
  EXPECT_THROW(WriteWholeFile(dir / "", {Bytes("a")}), std::runtime_error);
  EXPECT_THROW(WriteWholeFile("", {Bytes("a")}), std::runtime_error);
  EXPECT_FALSE(std::filesystem::exists(dir / "missing"));
}

#if defined(__unix__)
// Both builds, the portable one too, treat what is not a regular file the
// same way: devices and pipes read as empty without blocking, and a write
// that cannot complete, or a pipe without a reader, fails instead of
// hanging.
TEST(ReadWholeFile, DevicesAndPipesReadAsEmptyWithoutBlocking) {
  test::ScratchDir dir;
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
  const std::vector<std::string> names = {"/dev/zero", "/dev/null", dir / "fifo"};
  for (const std::string& name : names) {
    EXPECT_EQ(ReadWholeFile(name).size, 0u) << name;
  }
}

TEST(WriteWholeFile, FullDevicesAndUnreadPipesThrow) {
  test::ScratchDir dir;
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
  EXPECT_THROW(WriteWholeFile("/dev/full", {Bytes("a")}), std::runtime_error);
  EXPECT_THROW(WriteWholeFile(dir / "fifo", {Bytes("a")}), std::runtime_error);
}
#endif

}  // namespace
