#include "fileio/fileio.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <vector>

#include "test_support.h"

namespace {

std::span<const std::byte> Bytes(const std::string& s) { return std::as_bytes(std::span(s)); }

TEST(ReadWholeFile, ReadsExactlyTheReportedLength) {
  test::ScratchDir dir;
  const std::string content("a\0b\nc", 5);
  test::WriteFile(dir / "f", content);
  const FileBytes bytes = ReadWholeFile(dir / "f");
  EXPECT_EQ(std::string(bytes.data.get(), bytes.size), content);
}

TEST(ReadWholeFile, DevicesAndPipesReadAsEmptyWithoutBlocking) {
  test::ScratchDir dir;
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
  const std::vector<std::string> names = {"/dev/zero", "/dev/null", dir / "fifo"};
  for (const std::string& name : names) {
    EXPECT_EQ(ReadWholeFile(name).size, 0u) << name;
  }
}

TEST(ReadWholeFile, RefusesFilesOf2GiBOrMoreWithoutReadingThem) {
  test::ScratchDir dir;
  const std::string name = dir / "huge";
  test::WriteFile(name, "");
  std::filesystem::resize_file(name, std::uintmax_t{1} << 31);  // sparse
  EXPECT_THROW(ReadWholeFile(name), std::runtime_error);
}

TEST(ReadWholeFile, ThrowsWhenAnExistingFileCannotBeOpened) {
  test::ScratchDir dir;
  const std::string name = dir / "socket";
  const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, name.c_str(), sizeof(address.sun_path) - 1);
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
  EXPECT_TRUE(IsExistingFile(name));
  EXPECT_THROW(ReadWholeFile(name), std::runtime_error);
  ::close(fd);
}

TEST(WriteWholeFile, ReplacesALongerFileWithThePiecesInOrder) {
  test::ScratchDir dir;
  test::WriteFile(dir / "out", std::string(100, 'x'));
  WriteWholeFile(dir / "out", {Bytes("ab"), Bytes(""), Bytes("cd")});
  EXPECT_EQ(test::ReadFile(dir / "out"), "abcd");
}

TEST(WriteWholeFile, FailuresThrow) {
  test::ScratchDir dir;
  EXPECT_THROW(WriteWholeFile(dir / "missing/out", {Bytes("a")}), std::runtime_error);
  EXPECT_THROW(WriteWholeFile(dir / "", {Bytes("a")}), std::runtime_error);
  EXPECT_THROW(WriteWholeFile("", {Bytes("a")}), std::runtime_error);
  EXPECT_THROW(WriteWholeFile("/dev/full", {Bytes("a")}), std::runtime_error);
  EXPECT_FALSE(std::filesystem::exists(dir / "missing"));
}

}  // namespace
