// What the POSIX file access does where the portable one cannot tell the
// cases apart, or cannot give.

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <tuple>

#include "fileio/fileio.h"
#include "test_support.h"

using namespace edgeseg;

namespace {

// A socket cannot be opened for reading: the failed open is an error, not
// an empty input.
TEST(ReadFileUpToNul, ThrowsWhenAnExistingFileCannotBeOpened) {
  test::ScratchDir dir;
  const std::string name = dir / "socket";
  const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, name.c_str(), sizeof(address.sun_path) - 1);
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
  EXPECT_TRUE(IsExistingFile(name));
  EXPECT_THROW(ReadFileUpToNul(name), std::runtime_error);
  ::close(fd);
}

// A replaced output and a new one get exactly the access that writing the
// file in place would give them: owner, group, permission bits, ACL and
// extended attributes, whether the temporary file had no name or a random
// one of mode 0600. nobody (65534) writes, with umask 027, in a folder of
// its own; setfacl sets the ACLs.
TEST(WriteWholeFile, GivesTheAccessOfAFileWrittenInPlace) {
  if (std::system("command -v setfacl && command -v setfattr >/dev/null") != 0) {
    if (std::getenv("EDGESEG_REQUIRE_READERS") != nullptr) FAIL() << "setfacl or setfattr is missing";
    GTEST_SKIP() << "setfacl or setfattr is missing (Debian: acl, attr)";
  }
  struct Case {
    std::string what;
    std::string setup;  // a shell command in the folder, as root; "res" is the old output
  };
  const std::vector<Case> cases = {
      {"group kept in a setgid folder", "chmod 2775 . && chgrp 100 . && echo old >res && chmod 640 res && chgrp 65534 res"},
      {"ACL kept", "echo old >res && setfacl -m u:1000:r res"},
      {"no ACL from the folder's default", "echo old >res && chmod 604 res && setfacl -d -m u:1000:rw ."},
      {"new file under a default ACL", "setfacl -d -m u:1000:rw,g::r,o::- ."},
      {"attribute kept", "echo old >res && setfattr -n user.origin -v camera res"},
      {"new file", ""},
  };
  using Access = std::tuple<uid_t, gid_t, mode_t, std::map<std::string, std::string>>;
  const auto accessOf = [](const std::string& name) {
    struct stat info {};
    EXPECT_EQ(::lstat(name.c_str(), &info), 0) << name;
    std::map<std::string, std::string> attributes;
    char names[4096];
    const ssize_t size = ::llistxattr(name.c_str(), names, sizeof names);
    for (ssize_t at = 0; at < size; at += static_cast<ssize_t>(std::strlen(names + at)) + 1) {
      char value[4096];
      const ssize_t length = ::lgetxattr(name.c_str(), names + at, value, sizeof value);
      attributes[names + at] = std::string(value, static_cast<std::size_t>(std::max<ssize_t>(length, 0)));
    }
    return Access{info.st_uid, info.st_gid, info.st_mode, attributes};
  };
  test::ScratchDir dir;
  for (const bool named : {false, true}) {
    for (std::size_t i = 0; i < cases.size(); ++i) {
      const Case& c = cases[i];
      const std::string what = c.what + (named ? ", named" : ", unnamed");
      const std::string inPlace = dir / ("in place " + std::to_string(named) + std::to_string(i));
      const std::string replaced = dir / ("replaced " + std::to_string(named) + std::to_string(i));
      for (const std::string& folder : {inPlace, replaced}) {
        std::filesystem::create_directory(folder);
        ASSERT_EQ(::chown(folder.c_str(), 65534, 65534), 0);
        ASSERT_EQ(std::system(("cd '" + folder + "'" + (c.setup.empty() ? "" : " && " + c.setup)).c_str()), 0) << what;
        if (std::filesystem::exists(folder + "/res")) {
          ASSERT_EQ(::chown((folder + "/res").c_str(), 65534, static_cast<gid_t>(-1)), 0);
        }
      }
      const pid_t pid = ::fork();
      if (pid == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setresgid(65534, 65534, 65534) != 0 || ::setresuid(65534, 65534, 65534) != 0) ::_exit(2);
        ::umask(027);
        const int fd = ::open((inPlace + "/res").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
        if (fd < 0 || ::write(fd, "new", 3) != 3 || ::close(fd) != 0) ::_exit(3);
        UseNamedTemporaryFilesOnly(named);
        try {
          WriteWholeFile(replaced + "/res", {std::as_bytes(std::span("new", 3))});
        } catch (const std::exception&) {
          ::_exit(4);
        }
        ::_exit(0);
      }
      int status = -1;
      ASSERT_EQ(::waitpid(pid, &status, 0), pid);
      ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << what << ": status " << status;
      EXPECT_EQ(accessOf(replaced + "/res"), accessOf(inPlace + "/res")) << what;
      EXPECT_EQ(test::ReadFile(replaced + "/res"), "new") << what;
      EXPECT_EQ(std::distance(std::filesystem::directory_iterator(replaced), {}), 1) << what;
    }
  }
}

// A signal while a named temporary file is written removes it, through the
// folder it was made in, even after that folder has been moved; the run
// ends by that signal.
TEST(WriteFileInPieces, ASignalRemovesTheTemporaryFileOfAMovedFolder) {
  test::ScratchDir dir;
  std::filesystem::create_directory(dir / "before");
  const pid_t pid = ::fork();
  if (pid == 0) {
    PrepareForOutput();
    UseNamedTemporaryFilesOnly(true);
    WriteFileInPieces(dir / "before/res", [&dir]() -> std::span<const std::byte> {
      std::filesystem::rename(dir / "before", dir / "after");
      ::raise(SIGTERM);
      return {};
    });
    ::_exit(0);
  }
  int status = -1;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
  EXPECT_TRUE(std::filesystem::is_empty(dir / "after"));
}

}  // namespace
