// Runs a command and prints its wall time in seconds, its peak resident
// memory in bytes, its minor page faults and its exit status, on one line of
// standard error:
//
//   timed_run COMMAND [ARGS...]
//   0.041234 21770240 1465 0
//
// COMMAND is a path: no search of PATH, which would time the search too. A
// child ended by a signal has the status 128 + the signal's number, as in a
// shell. The page faults are the kernel's count of pages the child touched
// for the first time (ru_minflt): on a machine where that costs microseconds
// a page, they explain much of a short run's time.
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
  std::fprintf(stderr, "%.6f %ld %ld %d\n", wall.count(), usage.ru_maxrss * 1024L, usage.ru_minflt,
               exitStatus);
  return 0;
}
