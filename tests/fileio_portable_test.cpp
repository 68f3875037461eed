// What the portable file access must do as the POSIX build does, on the
// standard library alone: outputs it cannot replace whole stay as they were,
// links are written through, and no set-ID bit outlives a replacement.

#include <grp.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>

#include "fileio/fileio.h"
#include "test_support.h"

using namespace edgeseg;

namespace {

namespace fs = std::filesystem;

std::span<const std::byte> Bytes(const std::string& s) { return std::as_bytes(std::span(s)); }

// Whether the write throws when made by a user bound by permissions: nobody
// in a child process when this one runs as root, who may write anything.
bool ThrowsAsAUser(const std::function<void()>& write) {
  const pid_t child = ::fork();
  if (child == 0) {
    if (::geteuid() == 0 && (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(2);
    try {
      write();
    } catch (const std::runtime_error&) {
      ::_exit(1);
    }
    ::_exit(0);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) < 2) << status;
  return WIFEXITED(status) && WEXITSTATUS(status) == 1;
}

// A write-protected output of one's own, and a writable one in a folder that
// takes no new file, where it could only be written in place: both refuse
// and keep what they hold.
TEST(PortableFileAccess, AnOutputThatCannotBeReplacedWholeStaysAsItWas) {
  test::ScratchDir dir;
  const std::pair<const char*, fs::perms> cases[] = {{"protected", fs::perms(0444)}, {"closed", fs::perms(0644)}};
  for (const auto& [what, mode] : cases) {
    const fs::path folder = dir / what;
    fs::create_directory(folder);
    test::WriteFile(folder / "res", "old");
    fs::permissions(folder / "res", mode);
    if (::geteuid() == 0) {
      ASSERT_EQ(::chown(folder.c_str(), 65534, 65534), 0);
      ASSERT_EQ(::chown((folder / "res").c_str(), 65534, 65534), 0);
    }
    fs::permissions(folder, fs::perms(std::string(what) == "closed" ? 0555 : 0755));
    EXPECT_TRUE(ThrowsAsAUser([&] { WriteWholeFile(folder / "res", {Bytes("new")}); })) << what;
    EXPECT_EQ(test::ReadFile(folder / "res"), "old") << what;
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1) << what;
    fs::permissions(folder, fs::perms(0755));
  }
}

// A link is written through: the file it leads to gets the new bytes and
// the link stays. A replaced file keeps its permission bits but no
// set-user-ID or set-group-ID bit.
TEST(PortableFileAccess, LinksAreWrittenThroughAndSetIdBitsDropped) {
  test::ScratchDir dir;
  test::WriteFile(dir / "target", "old");
  fs::create_symlink("target", dir / "link");
  EXPECT_NO_THROW(WriteWholeFile(dir / "link", {Bytes("new")}));
  EXPECT_TRUE(fs::is_symlink(dir / "link"));
  EXPECT_EQ(test::ReadFile(dir / "target"), "new");

  test::WriteFile(dir / "tool", "old");
  fs::permissions(dir / "tool", fs::perms(06754));
  WriteWholeFile(dir / "tool", {Bytes("new")});
  EXPECT_EQ(fs::status(dir / "tool").permissions(), fs::perms(0754));
  EXPECT_EQ(test::ReadFile(dir / "tool"), "new");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 3);
}

}  // namespace
