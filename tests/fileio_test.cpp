#include "fileio/fileio.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <vector>

#if defined(__unix__)
#include <sys/stat.h>

#include <csignal>
#include <fstream>
#include <thread>
#endif

#include "test_support.h"

using namespace edgeseg;

namespace {

std::span<const std::byte> Bytes(const std::string& s) { return std::as_bytes(std::span(s)); }

// A file is read up to its first NUL byte: nothing after it belongs to a
// text. Texts longer than one read, with the NUL in a later one, too.
TEST(ReadFileUpToNul, ReadsUpToTheFirstNul) {
  test::ScratchDir dir;
  const std::string long1 = std::string(3 << 20, '7') + "\n";
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"", ""},
      {"1 2\n", "1 2\n"},
      {std::string("a\0b\nc", 5), "a"},
      {std::string("\0rest", 5), ""},
      {long1, long1},
      {long1 + '\0' + long1, long1},
  };
  for (const auto& [content, want] : cases) {
    test::WriteFile(dir / "f", content);
    const FileBytes bytes = ReadFileUpToNul(dir / "f");
    EXPECT_EQ(std::string(bytes.data.get(), bytes.size), want) << content.size();
  }
  EXPECT_THROW(ReadFileUpToNul(dir / "missing"), std::runtime_error);
}

// A small text, a NUL and a hole of 64 GiB, more than this machine's memory
// could hold: the read ends at the NUL.
TEST(ReadFileUpToNul, AHugeHoleAfterTheFirstNulIsNotRead) {
  test::ScratchDir dir;
  const std::string name = dir / "huge";
  test::WriteFile(name, std::string("12\n\0", 4));
  std::filesystem::resize_file(name, std::uintmax_t{64} << 30);  // sparse
  const FileBytes bytes = ReadFileUpToNul(name);
  EXPECT_EQ(std::string(bytes.data.get(), bytes.size), "12\n");
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
      // The POSIX build's temporary file has no name while it is written.
      ASSERT_LE(during.size(), 2u) << what;
      if (during.size() == 1) continue;
      const std::string& temporary = during[0] == name ? during[1] : during[0];
      EXPECT_EQ(temporary[0], '.') << what;
      EXPECT_LE(temporary.size(), 255u) << what;
      EXPECT_EQ(temporary.find(name.substr(0, 200)), 1u) << what;
      EXPECT_FALSE(temporary.ends_with(".bmp")) << what;
    }
    std::filesystem::remove(dir / name);
  }
}

TEST(WriteWholeFile, FailuresThrow) {
  test::ScratchDir dir;
  EXPECT_THROW(WriteWholeFile(dir / "missing/out", {Bytes("a")}), std::runtime_error);
  EXPECT_THROW(WriteWholeFile(dir / "", {Bytes("a")}), std::runtime_error);
  EXPECT_THROW(WriteWholeFile("", {Bytes("a")}), std::runtime_error);
  EXPECT_FALSE(std::filesystem::exists(dir / "missing"));
}

#if defined(__unix__)
// Both builds, the portable one too, read what is not a regular file as its
// bytes arrive: a named pipe waits for its writer and gives what a regular
// file of those bytes gives, and /dev/null and /dev/zero (which begins with
// a NUL) read as empty. A write that cannot complete, or a pipe without a
// reader, fails instead of hanging.
TEST(ReadFileUpToNul, DevicesAndPipesReadAsTheirBytes) {
  std::signal(SIGPIPE, SIG_IGN);  // a reader that stops early fails the write instead
  test::ScratchDir dir;
  const std::string fifo = dir / "fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  // More than a pipe holds at once, and a text cut short by a NUL.
  const std::string text = std::string(100000, '5') + "\n";
  const std::vector<std::pair<std::string, std::string>> cases = {
      {text, text}, {"1 2\n" + std::string(1, '\0') + "3\n", "1 2\n"}, {"", ""}};
  for (const auto& [content, want] : cases) {
    test::WriteFile(dir / "f", content);
    // The writer stops early when the reader has what it needs.
    std::thread writer([&fifo, bytes = content] { std::ofstream(fifo, std::ios::binary) << bytes; });
    const FileBytes bytes = ReadFileUpToNul(fifo);
    writer.join();
    const FileBytes regular = ReadFileUpToNul(dir / "f");
    EXPECT_EQ(std::string(bytes.data.get(), bytes.size), want) << content.size();
    EXPECT_EQ(std::string(regular.data.get(), regular.size), want) << content.size();
  }
  for (const std::string name : {"/dev/zero", "/dev/null"}) EXPECT_EQ(ReadFileUpToNul(name).size, 0u) << name;
}

#if defined(__linux__)
// Files of /proc claim no length and those of /sys a page, whatever they
// hold: both read as what they hold, not what their names report.
TEST(ReadFileUpToNul, KernelFilesReadAsWhatTheyHold) {
  for (const std::string name : {"/proc/version", "/sys/kernel/mm/transparent_hugepage/enabled"}) {
    if (!std::filesystem::exists(name)) continue;
    const std::string want = test::ReadFile(name);
    ASSERT_FALSE(want.empty()) << name;
    EXPECT_NE(std::filesystem::file_size(name), want.size()) << name;
    const FileBytes bytes = ReadFileUpToNul(name);
    EXPECT_EQ(std::string(bytes.data.get(), bytes.size), want) << name;
  }
}
#endif

TEST(WriteWholeFile, FullDevicesAndUnreadPipesThrow) {
  test::ScratchDir dir;
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
  EXPECT_THROW(WriteWholeFile("/dev/full", {Bytes("a")}), std::runtime_error);
  EXPECT_THROW(WriteWholeFile(dir / "fifo", {Bytes("a")}), std::runtime_error);
}
#endif

}  // namespace
