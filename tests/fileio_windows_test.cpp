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
#include <utility>

#include "fileio/fileio.h"
#include "test_support.h"

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
// both work.
TEST(WindowsFileAccess, AFileHeldByAnotherOpenerIsNeitherReadNorReplaced) {
  test::ScratchDir dir;
  const std::string name = dir / "f";
  test::WriteFile(name, "1 2\n");
  {
    const HeldOpen other(name);
    ASSERT_TRUE(other.ok());
    EXPECT_THROW(ReadWholeFile(name), std::runtime_error);
    EXPECT_THROW(WriteWholeFile(name, {Bytes("x")}), std::runtime_error);
  }
  EXPECT_EQ(test::ReadFile(name), "1 2\n");
  WriteWholeFile(name, {Bytes("3 4\n")});
  const FileBytes bytes = ReadWholeFile(name);
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

// NUL is a device in every folder, with no length and nothing to empty: it
// reads as empty and takes any write, as /dev/null does on POSIX systems.
TEST(WindowsFileAccess, TheNulDeviceReadsAsEmptyAndTakesWrites) {
  EXPECT_EQ(ReadWholeFile("NUL").size, 0u);
  EXPECT_NO_THROW(WriteWholeFile("NUL", {Bytes("abc")}));
}

}  // namespace
