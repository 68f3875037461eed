// The end-to-end cases that only POSIX systems can pose: named pipes,
// devices, resource limits, signals and tracing. Label posix; the portable
// build leaves them out.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/rowblocks.h"
#include "e2e_support.h"
#include "test_support.h"

using namespace edgeseg;

namespace {

namespace fs = std::filesystem;
using test::FilesIn;
using test::ImageText;
using test::kTwoBlockLabels;
using test::LabelText;
using test::Outcome;
using test::RunTool;
using test::TwoBlocks;

// Skips the test where strace is missing, or fails it where every tool is
// required (CI).
#define REQUIRE_STRACE()                                                                     \
  if (!fs::exists("/usr/bin/strace")) {                                                      \
    if (std::getenv("EDGESEG_REQUIRE_READERS") != nullptr) FAIL() << "strace is missing";    \
    GTEST_SKIP() << "strace is missing";                                                     \
  }

// An input is read as its bytes arrive, whatever it is: a pipe read as
// /dev/stdin, a named pipe with a writer and a process substitution give
// the outputs of the same bytes in a regular file. The text is longer than
// a pipe holds, so it arrives in several pieces. /dev/zero begins with a
// NUL, the end of any text: it is an empty one, at once.
TEST(Edgeseg, PipesGiveTheOutputsOfTheSameBytesInAFile) {
  test::ScratchDir dir;
  const std::string image = ImageText(300, 200, TwoBlocks);
  ASSERT_GT(image.size(), std::size_t{1} << 16);
  ASSERT_EQ(test::RunOnText(dir, image).status, 0);
  const std::string fifo = dir / "fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::signal(SIGPIPE, SIG_IGN);  // a reader that stops early fails the write instead

  // The input name is the one before the output's; the process
  // substitution takes its place.
  const std::vector<std::string> substitute = {"/bin/bash", "-c", R"(exec "$0" "${@:1:$#-2}" <(cat) "${@: -1}")"};
  struct Case {
    const char* what;
    std::string input;
    std::vector<std::string> launcher;
    std::optional<std::string> standardInput;
  };
  const std::vector<Case> cases = {
      {"standard input", "/dev/stdin", {}, image},
      {"named pipe", fifo, {}, std::nullopt},
      {"process substitution", "-", substitute, image},
  };
  for (const Case& c : cases) {
    const fs::path out = dir / c.what;
    fs::create_directories(out);
    // The named pipe's writer: its open waits for a reader, so it is tried
    // until the run has ended.
    std::atomic<bool> ended = false;
    std::thread writer([&] {
      if (c.input != fifo) return;
      int fd = -1;
      while (fd < 0 && !ended) {
        fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
        if (fd < 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
      if (fd < 0) return;
      ::fcntl(fd, F_SETFL, 0);
      for (std::size_t done = 0; done < image.size();) {
        const ssize_t put = ::write(fd, image.data() + done, image.size() - done);
        if (put <= 0) break;
        done += static_cast<std::size_t>(put);
      }
      ::close(fd);
    });
    const Outcome run = RunTool(dir, {c.input, (out / "res").string()}, c.launcher, c.standardInput);
    ended = true;
    writer.join();
    EXPECT_EQ(test::ResultOf(run), test::kSucceeded) << c.what;
    test::ExpectSameOutputs(dir.path(), out);
  }

  const auto start = std::chrono::steady_clock::now();
  const Outcome zeros = RunTool(dir, {"/dev/zero", dir / "zeros"});
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  EXPECT_EQ(test::ResultOf(zeros), test::Result(255, "Wrong input file format"));
  EXPECT_FALSE(fs::exists(dir / "zeros"));
}

// Nothing after the first NUL can change an output, so a small image before
// a NUL and a hole of 64 GiB is read as far as the NUL: the run gives the
// small image's files and holds a few megabytes, not the hole's size.
TEST(Edgeseg, NothingAfterTheFirstNulIsHeld) {
  test::ScratchDir dir;
  const std::string image = test::TwoBlocksText();
  ASSERT_EQ(test::RunOnText(dir, image).status, 0);
  test::WriteFile(dir / "huge", image + '\0');
  fs::resize_file(dir / "huge", std::uintmax_t{64} << 30);  // a hole: zeros that take no disk
  const fs::path out = dir / "huge out";
  fs::create_directory(out);
  const Outcome run = RunTool(dir, {dir / "huge", (out / "res").string()});
  EXPECT_EQ(test::ResultOf(run), test::kSucceeded);
  test::ExpectSameOutputs(dir.path(), out);
  // Sanitizer builds add their shadow memory to a few megabytes of the run.
  EXPECT_LT(run.peakKiB, 128 * 1024);
}

TEST(Edgeseg, FailedWritesAreNeverSuccess) {
  test::ScratchDir dir;
  ASSERT_EQ(test::RunOnText(dir, test::TwoBlocksText()).status, 0);

  // /dev/full fails every write (a full disk), even for root, who passes
  // every permission check; a named pipe nobody reads would block the open
  // forever.
  ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0600), 0);
  for (const std::string& base : {std::string("/dev/full"), dir / "pipe"}) {
    const Outcome run = RunTool(dir, {dir / "in.txt", base});
    EXPECT_EQ(test::ResultOf(run), test::kExecutionError) << base;
  }
  for (const std::string failed : {"res_In.bmp", "res_Grad.bmp"}) {
    const fs::path out = dir / ("full " + failed);
    fs::create_directory(out);
    fs::create_symlink("/dev/full", out / failed);
    const Outcome run = RunTool(dir, {dir / "in.txt", out / "res"});
    EXPECT_EQ(test::ResultOf(run), test::kExecutionError) << failed;
    test::ExpectOutputsBefore(dir.path(), out, failed);
  }
}

// A write error that only closing reports (NFS, a quota) fails the run and
// keeps the previous label text: the close that checks the finished
// temporary file is made to fail, found by its place among the run's closes.
TEST(Edgeseg, AnErrorOnCloseKeepsThePreviousOutput) {
  test::ScratchDir dir;
  ASSERT_EQ(test::RunOnText(dir, test::TwoBlocksText()).status, 0);
  const fs::path previous = dir / "previous";
  ASSERT_NO_FATAL_FAILURE(test::WritePreviousOutputs(dir, previous));
  const fs::path log = dir / "trace.log";
  ASSERT_EQ(RunTool(dir, {dir / "in.txt", dir / "traced"}, test::UnderStrace(log, {"-e", "trace=close,fcntl"})).status, 0);
  std::istringstream lines(test::ReadFile(log));
  int closes = 0;
  bool copied = false;
  for (std::string line; std::getline(lines, line) && !(copied && line.find("close(") != std::string::npos);) {
    closes += line.find("close(") != std::string::npos ? 1 : 0;
    copied = copied || line.find("F_DUPFD_CLOEXEC") != std::string::npos;
  }
  ASSERT_TRUE(copied);
  const fs::path out = dir / "close";
  fs::copy(previous, out);
  const std::string inject = "inject=close:error=EIO:when=" + std::to_string(closes + 1);
  const Outcome run = RunTool(dir, {dir / "in.txt", out / "res"}, test::UnderStrace(log, {"-e", "trace=close", "-e", inject}));
  EXPECT_EQ(test::ResultOf(run), test::kExecutionError);
  test::ExpectOutputsAfterFailure(dir.path(), previous, out, "res");
}

// A file-size limit makes the write that reaches it fail: the run ends with
// its message and status, not by SIGXFSZ, keeps the files before it, and
// leaves the one it cut and those after it as they were.
TEST(Edgeseg, AFileSizeLimitFailsTheWriteNotTheProcess) {
  test::ScratchDir dir;
  ASSERT_EQ(test::RunOnText(dir, ImageText(200, 150, TwoBlocks)).status, 0);
  const std::uintmax_t labelSize = fs::file_size(dir / "res");
  const std::uintmax_t pictureSize = fs::file_size(dir / "res_In.bmp");
  ASSERT_LT(labelSize, pictureSize);
  const fs::path previous = dir / "previous";
  ASSERT_NO_FATAL_FAILURE(test::WritePreviousOutputs(dir, previous));

  // Each limit cuts one file: the one that first outgrows it. The limit
  // holds for the captured message too, so none is below its length.
  const std::vector<std::pair<std::uintmax_t, std::string>> cases = {
      {100, "res"}, {labelSize - 1, "res"}, {labelSize, "res_In.bmp"}, {pictureSize - 1, "res_In.bmp"}};
  for (const auto& [limit, cut] : cases) {
    const fs::path out = dir / ("limit " + std::to_string(limit));
    fs::copy(previous, out);
    const Outcome run = RunTool(dir, {dir / "in.txt", out / "res"}, test::UnderFileSizeLimit(limit));
    EXPECT_EQ(test::ResultOf(run), test::kExecutionError) << limit;
    test::ExpectOutputsAfterFailure(dir.path(), previous, out, cut);
  }
}

// The size scan and the reader work on one read of the file: a file that
// changes between two reads could otherwise give a size from one version
// and too few samples from the other, and a success made of samples never
// read. strace counts the opens.
TEST(Edgeseg, TheInputIsOpenedOnce) {
  REQUIRE_STRACE();
  test::ScratchDir dir;
  test::WriteFile(dir / "in.txt", test::TwoBlocksText());
  const std::string log = dir / "opens.log";
  const Outcome run = RunTool(dir, {dir / "in.txt", dir / "res"},
                              test::UnderStrace(log, {"-e", "trace=open,openat,openat2", "-P", dir / "in.txt"}));
  EXPECT_EQ(run.status, 0);
  const std::string opens = test::ReadFile(log);
  EXPECT_EQ(std::count(opens.begin(), opens.end(), '\n'), 1) << opens;
  EXPECT_EQ(test::ReadFile(dir / "res"), LabelText(kTwoBlockLabels));
}

// A picture of a test run's size that differs from run to run by seed:
// noise on blocks, so that the regions, and the label text's length, differ.
std::string SeededImage(int W, int H, int seed) {
  return ImageText(W, H, [seed](int x, int y) {
    const int block = (x / (7 + seed) + y / (5 + seed)) % 3;
    return block == 0 ? 3000 + (x * y * seed) % 900 : 50 * block + (x + y) % 20;
  });
}

// Runs onto one name at once each leave whole files: the last rename wins,
// file by file, so every output is some run's complete file, and no
// temporary file stays.
TEST(Edgeseg, ConcurrentRunsOntoOneNameLeaveWholeFiles) {
  constexpr int kRuns = 8;
  test::ScratchDir dir;
  const auto image = [&dir](int i) { return dir / ("in" + std::to_string(i) + ".txt"); };
  const auto alone = [&dir](int i) { return dir.path() / ("alone" + std::to_string(i)); };
  const fs::path shared = dir.path() / "shared";
  for (int i = 0; i < kRuns; ++i) {
    test::WriteFile(image(i), SeededImage(700 + 30 * i, 500 + 20 * i, i + 1));
    fs::create_directory(alone(i));
    ASSERT_EQ(RunTool(dir, {image(i), alone(i) / "res"}).status, 0);
  }
  fs::create_directory(shared);
  std::vector<Outcome> runs(kRuns);
  std::vector<std::thread> threads;
  for (int i = 0; i < kRuns; ++i) {
    threads.emplace_back([&, i] { runs[i] = RunTool(dir, {image(i), shared / "res"}); });
  }
  for (auto& thread : threads) thread.join();
  for (const Outcome& run : runs) EXPECT_EQ(run.status, 0);
  for (const std::string& output : test::kOutputs) {
    const std::string written = test::ReadFile(shared / output);
    bool whole = false;
    for (int i = 0; i < kRuns; ++i) whole = whole || written == test::ReadFile(alone(i) / output);
    EXPECT_TRUE(whole) << output << " is no run's file";
  }
  test::ExpectOutputsAfterFailure(shared, shared, shared, "");
}

// A run ended by a signal while it writes leaves each name with its
// previous file or this run's whole one, in the order of writing, leaves no
// temporary file, and ends by that very signal: any signal whose default
// ends a process, not only those of a terminal. strace raises the signal at
// the Nth write: the label text takes writes 1 and 2 (a megabyte each),
// each picture one for its headers and one a band.
TEST(Edgeseg, ASignalWhileWritingLeavesWholeFilesOnly) {
  REQUIRE_STRACE();
  test::ScratchDir dir;
  ASSERT_EQ(test::RunOnText(dir, SeededImage(800, 700, 3)).status, 0);
  ASSERT_GT(fs::file_size(dir / "res"), std::uintmax_t{1} << 20);
  const fs::path previous = dir / "previous";
  ASSERT_NO_FATAL_FAILURE(test::WritePreviousOutputs(dir, previous));

  struct Case {
    int write;
    int signal;
    std::string during;  // the output being written
  };
  const auto writesOf = [](std::int32_t W, std::int32_t H) {
    const std::int32_t rows = BandRows(W, H);
    return 1 + (H + rows - 1) / rows;
  };
  const int picture = writesOf(800, 700);
  const std::vector<Case> cases = {{1, SIGTERM, "res"},
                                   {4, SIGTERM, "res_In.bmp"},
                                   {2 + picture + 1, SIGINT, "res_Reg.bmp"},
                                   {2 + 2 * picture + writesOf(799, 699), SIGHUP, "res_Grad.bmp"},
                                   {2, SIGQUIT, "res"},
                                   {3, SIGUSR1, "res_In.bmp"},
                                   {4, SIGALRM, "res_In.bmp"}};
  for (const auto& [write, signal, during] : cases) {
    const fs::path out = dir / ("write " + std::to_string(write) + " signal " + std::to_string(signal));
    fs::copy(previous, out);
    const std::string log = dir / "trace.log";
    const std::string inject = "inject=write:signal=" + std::to_string(signal) + ":when=" + std::to_string(write);
    const Outcome run = RunTool(dir, {dir / "in.txt", out / "res"}, test::UnderStrace(log, {"-e", "trace=write", "-e", inject}));
    EXPECT_EQ(test::ResultOf(run), test::Result(128 + signal, "")) << write;
    test::ExpectOutputsAfterFailure(dir.path(), previous, out, during);
  }
}

// Where the output's name cannot be renamed over, the complete file is
// copied in place: a single file bind-mounted as the output (as containers
// mount one), and an append-only folder, which takes new names but never
// gives one up, for new outputs and for outputs replaced. Nothing of the
// run's own is left beside them.
TEST(Edgeseg, NamesThatCannotBeRenamedOverGetWholeOutputs) {
  test::ScratchDir dir;
  ASSERT_EQ(test::RunOnText(dir, test::TwoBlocksText()).status, 0);
  const fs::path mounted = dir / "mounted";
  fs::create_directory(mounted);
  test::WriteFile(mounted / "res", "old");
  test::WriteFile(dir / "source", "old");
  const std::string bind = "mount --bind \"$1\" \"$2\" || exit 99\nshift 2\nexec \"$@\"";
  const Outcome run = RunTool(dir, {dir / "in.txt", mounted / "res"},
                              {"/usr/bin/unshare", "-m", "--propagation", "private", "/bin/sh", "-c", bind, "sh",
                               dir / "source", mounted / "res"});
  EXPECT_EQ(test::ResultOf(run), test::kSucceeded) << run.err;
  EXPECT_EQ(test::ReadFile(dir / "source"), test::ReadFile(dir / "res"));
  EXPECT_EQ(FilesIn(mounted).size(), test::kOutputs.size());

  const fs::path appendOnly = dir / "append only";
  fs::create_directory(appendOnly);
  if (std::system(("chattr +a '" + appendOnly.string() + "' 2>/dev/null").c_str()) != 0) {
    GTEST_SKIP() << "this file system has no append-only folders";
  }
  for (const char* pass : {"new", "replaced"}) {
    const Outcome append = RunTool(dir, {dir / "in.txt", appendOnly / "res"});
    EXPECT_EQ(test::ResultOf(append), test::kSucceeded) << pass;
    test::ExpectSameOutputs(dir.path(), appendOnly);
    EXPECT_EQ(FilesIn(appendOnly).size(), test::kOutputs.size()) << pass;
  }
  EXPECT_EQ(std::system(("chattr -a '" + appendOnly.string() + "'").c_str()), 0);
}

// In a sticky folder that everyone may write (/tmp), a symbolic link that
// another user put under an output's name is not followed: the run fails
// and the file it points to stays as it was; the user's own link is
// followed, as anywhere else. nobody (65534) runs; 65533 plants.
TEST(Edgeseg, LinksPlantedInASharedFolderAreNotFollowed) {
  test::ScratchDir dir;
  ASSERT_EQ(test::RunOnText(dir, test::TwoBlocksText()).status, 0);
  const std::string tool = test::CopyOfTool(dir);
  for (const uid_t planter : {65533u, 65534u}) {
    const fs::path shared = dir / ("shared by " + std::to_string(planter));
    fs::create_directory(shared);
    fs::permissions(shared, fs::perms(01777));
    const fs::path precious = dir / ("precious of " + std::to_string(planter));
    test::WriteFile(precious, "precious");
    ASSERT_EQ(::chown(precious.c_str(), 65534, 65534), 0);
    fs::create_symlink(precious, shared / "res_Grad.bmp");
    ASSERT_EQ(::lchown((shared / "res_Grad.bmp").c_str(), planter, planter), 0);
    const Outcome run = RunTool(dir, {dir / "in.txt", shared / "res"}, test::AsNobody(), std::nullopt, tool);
    const bool own = planter == 65534;
    EXPECT_EQ(test::ResultOf(run), own ? test::kSucceeded : test::kExecutionError) << planter;
    EXPECT_EQ(test::ReadFile(precious), own ? test::ReadFile(dir / "res_Grad.bmp") : "precious") << planter;
  }
}

// A temporary file is closed to everyone until it is complete and has its
// final access: another user who watches the folder of a 0600 output
// throughout the run opens nothing. strace holds the run at each fchmod, the
// moment a file made with wider access would be narrowed.
TEST(Edgeseg, NoOtherUserOpensATemporaryFile) {
  REQUIRE_STRACE();
  test::ScratchDir dir;
  ASSERT_EQ(test::RunOnText(dir, test::TwoBlocksText()).status, 0);
  const fs::path out = dir / "private";
  fs::create_directory(out);
  for (const std::string& output : test::kOutputs) {
    test::WriteFile(out / output, "old");
    fs::permissions(out / output, fs::perms(0600));
    ASSERT_EQ(::chown((out / output).c_str(), 65534, 65534), 0);
  }
  ASSERT_EQ(::chown(out.c_str(), 65534, 65534), 0);
  const std::string watch =
      "cd \"$1\" || exit 99\nwhile [ ! -e \"$2\" ]; do\n"
      "  for f in .*.edgeseg-*; do [ -e \"$f\" ] && cat -- \"$f\" >/dev/null 2>&1 && exit 1; done\ndone\nexit 0";
  std::vector<std::string> watcher = {"/usr/bin/setpriv", "--reuid=65533", "--regid=65533", "--clear-groups",
                                      "/bin/sh", "-c", watch, "sh", out, dir / "stop"};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  const pid_t pid = test::Spawn(watcher, actions);
  posix_spawn_file_actions_destroy(&actions);
  ASSERT_NE(pid, 0);
  std::vector<std::string> launcher = test::UnderStrace(dir / "trace.log", {"-e", "trace=fchmod", "-e", "inject=fchmod:delay_enter=200000"});
  const std::vector<std::string> nobody = test::AsNobody();
  launcher.insert(launcher.end(), nobody.begin(), nobody.end());
  const Outcome run = RunTool(dir, {dir / "in.txt", out / "res"}, launcher, std::nullopt, test::CopyOfTool(dir));
  test::WriteFile(dir / "stop", "");
  int status = -1;
  ::waitpid(pid, &status, 0);
  EXPECT_EQ(test::ResultOf(run), test::kSucceeded);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "another user opened a temporary file";
  test::ExpectSameOutputs(dir.path(), out);
}

// A disk too full for the new file leaves the previous one as it was: a
// tmpfs of 48 KiB takes the previous files but not the label text; one of
// 160 KiB takes the label text but not the input picture beside the
// previous files.
TEST(Edgeseg, AFullDiskKeepsThePreviousOutputs) {
  test::ScratchDir dir;
  ASSERT_EQ(test::RunOnText(dir, ImageText(200, 150, TwoBlocks)).status, 0);
  const fs::path previous = dir / "previous";
  ASSERT_NO_FATAL_FAILURE(test::WritePreviousOutputs(dir, previous));

  const std::vector<std::pair<int, std::string>> cases = {{48, "res"}, {160, "res_In.bmp"}};
  for (const auto& [kibibytes, failed] : cases) {
    const fs::path disk = dir / ("disk " + std::to_string(kibibytes));
    const fs::path result = dir / ("result " + std::to_string(kibibytes));
    fs::create_directory(disk);
    fs::create_directory(result);
    const Outcome run = RunTool(dir, {dir / "in.txt", disk / "res"},
                                test::InSmallFilesystem(disk, kibibytes, previous, result));
    EXPECT_EQ(run.status, 254) << kibibytes << " KiB: " << run.err;
    EXPECT_EQ(run.out, "Execution error") << kibibytes;
    test::ExpectOutputsAfterFailure(dir.path(), previous, result, failed);
  }
}

// Outputs that are not plain files of the user's own are written in place,
// as they always were: through a symbolic link into its target, into a file
// of several links (all of them see it) or of another owner (who keeps it).
// A plain file of one's own is replaced and keeps its permission bits.
TEST(Edgeseg, OnlyPlainFilesOfOnesOwnAreReplaced) {
  test::ScratchDir dir;
  ASSERT_EQ(test::RunOnText(dir, test::TwoBlocksText()).status, 0);
  const std::string labels = test::ReadFile(dir / "res");
  struct Case {
    std::string what;
    std::function<void(const fs::path&)> make;  // the old output in the folder
    bool inPlace;
  };
  const std::vector<Case> cases = {
      {"link", [](const fs::path& out) { test::WriteFile(out / "target", "old"); fs::create_symlink("target", out / "res"); }, true},
      {"two links", [](const fs::path& out) { test::WriteFile(out / "res", "old"); fs::create_hard_link(out / "res", out / "other"); }, true},
      {"foreign", [](const fs::path& out) { test::WriteFile(out / "res", "old"); ASSERT_EQ(::chown((out / "res").c_str(), 65534, 65534), 0); }, true},
      {"own", [](const fs::path& out) { test::WriteFile(out / "res", "old"); fs::permissions(out / "res", fs::perms(0604)); }, false},
  };
  for (const Case& c : cases) {
    const fs::path out = dir / c.what;
    fs::create_directory(out);
    c.make(out);
    struct stat before {};
    ASSERT_EQ(::stat((out / "res").c_str(), &before), 0);
    const bool link = fs::is_symlink(out / "res");
    EXPECT_EQ(RunTool(dir, {dir / "in.txt", out / "res"}).status, 0) << c.what;
    struct stat after {};
    ASSERT_EQ(::stat((out / "res").c_str(), &after), 0);
    EXPECT_EQ(test::ReadFile(out / "res"), labels) << c.what;
    EXPECT_EQ(after.st_ino == before.st_ino, c.inPlace) << c.what;
    EXPECT_EQ(after.st_mode, before.st_mode) << c.what;
    EXPECT_EQ(after.st_uid, before.st_uid) << c.what;
    EXPECT_EQ(fs::is_symlink(out / "res"), link) << c.what;
    for (const auto& entry : fs::directory_iterator(out)) EXPECT_NE(entry.path().filename().string()[0], '.') << c.what;
  }
}

// A user who may write the outputs but not make files in their folder gets
// them written in place, as before; /dev/null as the base stays a device
// (the pictures beside it are plain new files in /dev).
TEST(Edgeseg, OutputsThatCannotBeReplacedAreWrittenInPlace) {
  test::ScratchDir dir;
  ASSERT_EQ(test::RunOnText(dir, test::TwoBlocksText()).status, 0);

  const fs::path out = dir / "closed";
  fs::create_directory(out);
  for (const std::string& output : test::kOutputs) {
    test::WriteFile(out / output, "old");
    ASSERT_EQ(::chown((out / output).c_str(), 65534, 65534), 0);
  }
  fs::permissions(out, fs::perms(0755));  // root's: nobody may not add a file
  const Outcome run = RunTool(dir, {dir / "in.txt", out / "res"}, test::AsNobody(), std::nullopt, test::CopyOfTool(dir));
  EXPECT_EQ(run.status, 0) << run.out;
  test::ExpectSameOutputs(dir.path(), out);

  const Outcome null = RunTool(dir, {dir / "in.txt", "/dev/null"});
  EXPECT_EQ(null.status, 0);
  EXPECT_TRUE(fs::is_character_file("/dev/null"));
  for (const char* picture : {"_In.bmp", "_Reg.bmp", "_Grad.bmp"}) {
    const std::string name = std::string("/dev/null") + picture;
    EXPECT_EQ(test::ReadFile(name), test::ReadFile(dir / ("res" + std::string(picture)))) << name;
    fs::remove(name);
  }
}

// A message written to a pipe whose reader has gone is lost, but the run
// still ends with its own status, not by a signal.
TEST(Edgeseg, ClosedStandardOutputKeepsTheStatus) {
  test::ScratchDir dir;
  const std::vector<std::pair<std::vector<std::string>, int>> cases = {
      {{}, 255},                                     // "To few parameters"
      {{dir / "missing.txt", dir / "out"}, 255},     // "Input file does not exists"
  };
  for (const auto& [args, status] : cases) {
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    ::close(ends[0]);
    std::vector<std::string> words = test::ToolWords();
    words.insert(words.end(), args.begin(), args.end());
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, ends[1], 1);
    // With the default action for SIGPIPE, whatever ours is.
    const pid_t pid = test::Spawn(words, actions);
    posix_spawn_file_actions_destroy(&actions);
    ::close(ends[1]);
    ASSERT_NE(pid, 0);
    int wstatus = 0;
    waitpid(pid, &wstatus, 0);
    ASSERT_TRUE(WIFEXITED(wstatus)) << "ended by signal " << WTERMSIG(wstatus);
    EXPECT_EQ(WEXITSTATUS(wstatus), status);
  }
}

// As the first process of a pid namespace (a container's entry point) a run
// has process id 1, as runs in other containers writing into the same
// folder do: temporary names found there are theirs and stay untouched. And
// a signal ends the run even though that process never receives a signal
// it has no handler for. Label no_emulator: the emulator would be that
// process.
TEST(EdgesegAsNamespaceInit, SharesNoNamesAndEndsBySignals) {
  REQUIRE_STRACE();
  if (std::system("/usr/bin/unshare -pf true 2>/dev/null") != 0) GTEST_SKIP() << "no pid namespaces here";
  test::ScratchDir dir;
  ASSERT_EQ(test::RunOnText(dir, SeededImage(800, 700, 3)).status, 0);
  const fs::path previous = dir / "previous";
  ASSERT_NO_FATAL_FAILURE(test::WritePreviousOutputs(dir, previous));
  const std::vector<std::string> init = {"/usr/bin/unshare", "-pf", "--"};

  const fs::path shared = dir / "shared";
  fs::copy(previous, shared);
  for (const std::string& output : test::kOutputs) test::WriteFile(shared / ("." + output + ".edgeseg-1"), "theirs");
  EXPECT_EQ(test::ResultOf(RunTool(dir, {dir / "in.txt", shared / "res"}, init)), test::kSucceeded);
  for (const std::string& output : test::kOutputs) {
    EXPECT_TRUE(test::ReadFile(shared / output) == test::ReadFile(dir / output)) << output;
    EXPECT_EQ(test::ReadFile(shared / ("." + output + ".edgeseg-1")), "theirs") << output;
  }

  const fs::path out = dir / "signalled";
  fs::copy(previous, out);
  std::vector<std::string> launcher = test::UnderStrace(dir / "trace.log", {"-e", "trace=write", "-e", "inject=write:signal=SIGTERM:when=4"});
  launcher.insert(launcher.end(), init.begin(), init.end());
  EXPECT_EQ(test::ResultOf(RunTool(dir, {dir / "in.txt", out / "res"}, launcher)), test::Result(128 + SIGTERM, ""));
  test::ExpectOutputsAfterFailure(dir.path(), previous, out, "res_In.bmp");
}

// An allocation that fails must end in the catch-all like any other error.
// Sanitizers reserve far more address space than these limits and abort on a
// failed allocation instead of throwing, so this suite is left out of the
// sanitizer build (label posix_no_sanitizer).
TEST(EdgesegUnderAddressSpaceLimit, MemoryThatCannotBeObtainedIsAnExecutionError) {
  // 2 million samples: 4 MB of text, 20 MB of buffers, 8 MB a picture.
  test::ScratchDir dir;
  test::WriteFile(dir / "in.txt", ImageText(2000, 1000, [](int, int) { return 0; }));
  ASSERT_EQ(RunTool(dir, {dir / "in.txt", dir / "res"}).status, 0);

  // From a limit that lets the tool start but not hold its buffers up to
  // one that holds the whole run, each step lets it get a little further.
  for (int megabytes = 12; megabytes <= 64; megabytes += 4) {
    const fs::path out = dir / std::to_string(megabytes);
    fs::create_directory(out);
    const std::string limit = "ulimit -v " + std::to_string(megabytes * 1024) + " && exec \"$0\" \"$@\"";
    const Outcome run = RunTool(dir, {dir / "in.txt", out / "res"}, {"/bin/sh", "-c", limit});
    const bool failed = run.status == 254 && run.out == "Execution error";
    const bool succeeded = run.status == 0 && run.out.empty();
    EXPECT_TRUE(failed || succeeded) << megabytes << " MB: status " << run.status << ", " << run.out;
    if (megabytes == 12) {
      EXPECT_TRUE(failed) << "12 MB cannot hold the buffers";
    }
    if (megabytes == 64) {
      EXPECT_TRUE(succeeded) << "64 MB holds the whole run";
    }
    for (const std::string& output : test::kOutputs) {
      if (fs::exists(out / output)) {
        EXPECT_TRUE(test::ReadFile(out / output) == test::ReadFile(dir / output)) << megabytes << " MB, " << output;
      }
    }
    fs::remove_all(out);
  }
}

}  // namespace
