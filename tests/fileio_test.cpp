#include "fileio/fileio.h"

#include <gtest/gtest.h>

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
// to make a piece leaves the file with the pieces before it.
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
