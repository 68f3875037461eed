// Runs a command and prints its wall time in seconds, its peak resident
// memory in bytes and its exit status, on one line of standard error:
//
//   timed_run COMMAND [ARGS...]
//
// The peak is the kernel's high-water mark for the child. A child's mark
// includes the memory of the process it was forked from, so a small launcher
// like this one, not the Python harness, must do the forking.

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s COMMAND [ARGS...]\n", argv[0]);
    return 2;
  }
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = ::fork();
  if (pid < 0) {
    std::perror("fork");
    return 2;
  }
  if (pid == 0) {
    ::execv(argv[1], argv + 1);
    std::perror(argv[1]);
    ::_exit(127);
  }
  int status = 0;
  struct rusage usage {};
  if (::wait4(pid, &status, 0, &usage) != pid) {
    std::perror("wait4");
    return 2;
  }
  const std::chrono::duration<double> wall = std::chrono::steady_clock::now() - start;
  const int exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  std::fprintf(stderr, "%.6f %ld %d\n", wall.count(), usage.ru_maxrss * 1024L, exitStatus);
  return 0;
}
