// What the Windows file access does that only Windows can pose: openers
// that share nothing, file attributes, devices by their reserved names.

#include <gtest/gtest.h>

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <string>
#include <thread>
#include <utility>

#include "fileio/fileio.h"
#include "test_support.h"

using namespace edgeseg;

namespace {

std::span<const std::byte> Bytes(const std::string& s) { return std::as_bytes(std::span(s)); }

// Holds a file open, sharing everything, as another program might.
class HeldOpen {
 public:
  explicit HeldOpen(const std::string& name)
      : handle_(::CreateFileA(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)) {}
  ~HeldOpen() { ::CloseHandle(handle_); }
  HeldOpen(const HeldOpen&) = delete;
  HeldOpen& operator=(const HeldOpen&) = delete;
  bool ok() const { return handle_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE handle_;
};

// The reader and the writer share a file with nobody, so a file that any
// other opener holds can be neither read nor replaced; once it is let go,
// both work. A read-only file is not replaced either.
TEST(WindowsFileAccess, AFileHeldByAnotherOpenerIsNeitherReadNorReplaced) {
  test::ScratchDir dir;
  const std::string name = dir / "f";
  test::WriteFile(name, "1 2\n");
  {
    const HeldOpen other(name);
    ASSERT_TRUE(other.ok());
    EXPECT_THROW(ReadFileUpToNul(name), std::runtime_error);
    EXPECT_THROW(WriteWholeFile(name, {Bytes("x")}), std::runtime_error);
  }
  EXPECT_EQ(test::ReadFile(name), "1 2\n");
  ASSERT_TRUE(::SetFileAttributesA(name.c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_THROW(WriteWholeFile(name, {Bytes("x")}), std::runtime_error);
  EXPECT_EQ(test::ReadFile(name), "1 2\n");
  ASSERT_TRUE(::SetFileAttributesA(name.c_str(), FILE_ATTRIBUTE_NORMAL));
  WriteWholeFile(name, {Bytes("3 4\n")});
  const FileBytes bytes = ReadFileUpToNul(name);
  EXPECT_EQ(std::string(bytes.data.get(), bytes.size), "3 4\n");
}

// Creating a file anew over a hidden or system one fails on Windows (wine
// lets it pass, so there this cannot tell the two ways apart); the writer
// replaces such a file like any other.
TEST(WindowsFileAccess, HiddenAndSystemFilesAreReplaced) {
  test::ScratchDir dir;
  const std::pair<const char*, DWORD> cases[] = {{"hidden", FILE_ATTRIBUTE_HIDDEN}, {"system", FILE_ATTRIBUTE_SYSTEM}};
  for (const auto& [what, attribute] : cases) {
    const std::string name = dir / what;
    test::WriteFile(name, std::string(100, 'x'));
    ASSERT_TRUE(::SetFileAttributesA(name.c_str(), attribute)) << what;
    WriteWholeFile(name, {Bytes("ab"), Bytes("c")});
    EXPECT_EQ(test::ReadFile(name), "abc") << what;
  }
}

// A pipe claims no length: it is read until its writer closes it, and only
// up to its first NUL byte. The text is longer than the pipe holds, so it
// arrives in several pieces.
TEST(WindowsFileAccess, APipeIsReadUntilItsWriterClosesIt) {
  const std::string name = "\\\\.\\pipe\\edgeseg_test_" + std::to_string(::GetCurrentProcessId());
  const std::string text = std::string(100000, '5') + "\n";
  const std::pair<std::string, std::string> cases[] = {{text, text}, {std::string("1 2\n\0 3\n", 8), "1 2\n"}};
  for (const auto& [content, want] : cases) {
    const HANDLE server = ::CreateNamedPipeA(name.c_str(), PIPE_ACCESS_OUTBOUND, PIPE_TYPE_BYTE | PIPE_WAIT, 1,
                                             4096, 4096, 0, nullptr);
    ASSERT_NE(server, INVALID_HANDLE_VALUE);
    std::thread writer([server, bytes = content] {
      ::ConnectNamedPipe(server, nullptr);  // fails harmlessly when the reader came first
      DWORD put = 0;
      for (std::size_t done = 0; done < bytes.size(); done += put) {
        if (!::WriteFile(server, bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &put, nullptr)) break;
      }
      ::FlushFileBuffers(server);
      ::CloseHandle(server);
    });
    const FileBytes bytes = ReadFileUpToNul(name);
    writer.join();
    EXPECT_EQ(std::string(bytes.data.get(), bytes.size), want) << content.size();
  }
}

// NUL is a device in every folder, with no length and nothing to empty: it
// reads as empty and takes any write, as /dev/null does on POSIX systems.
TEST(WindowsFileAccess, TheNulDeviceReadsAsEmptyAndTakesWrites) {
  EXPECT_EQ(ReadFileUpToNul("NUL").size, 0u);
  EXPECT_NO_THROW(WriteWholeFile("NUL", {Bytes("abc")}));
}

}  // namespace
