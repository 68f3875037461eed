// What the POSIX file access does where the portable one cannot tell the
// cases apart.

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

#include "fileio/fileio.h"
#include "test_support.h"

namespace {

// A socket cannot be opened for reading: the failed open is an error, not
// an empty input.
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

}  // namespace
