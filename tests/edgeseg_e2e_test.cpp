// Runs the built tool on small files and checks, together, its exit status,
// its exact standard output and error, and the files it leaves.

#include <gtest/gtest.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "displib/displib.h"
#include "test_support.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

struct Outcome {
  int status = -1;  // as a shell sees it: 0, 255 or 254
  std::string out;
  std::string err;
};

// No run may hang: one that outlives this is killed and fails its test.
constexpr auto kRunTimeLimit = std::chrono::seconds(60);

// Runs the tool with args, through the launcher words when there are any
// (the tool's path and args are appended to them).
Outcome RunTool(const test::ScratchDir& dir, const std::vector<std::string>& args,
                const std::vector<std::string>& launcher = {}) {
  std::vector<std::string> words = launcher;
  words.push_back(EDGESEG_TOOL);
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);

  const std::string outName = dir / "stdout.txt";
  const std::string errName = dir / "stderr.txt";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, outName.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, errName.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  // The tool starts with the default action for the signals of failing
  // writes, whatever the test runner's are, as it would from a shell.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  sigaddset(&defaults, SIGXFSZ);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
  pid_t pid = 0;
  Outcome outcome;
  if (posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(), environ) == 0) {
    int wstatus = 0;
    const auto deadline = std::chrono::steady_clock::now() + kRunTimeLimit;
    while (waitpid(pid, &wstatus, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > deadline) {
        ::kill(pid, SIGKILL);
        waitpid(pid, &wstatus, 0);
        ADD_FAILURE() << "run killed after " << kRunTimeLimit.count() << " s";
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (WIFEXITED(wstatus)) outcome.status = WEXITSTATUS(wstatus);
  }
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  outcome.out = test::ReadFile(outName);
  outcome.err = test::ReadFile(errName);
  fs::remove(outName);
  fs::remove(errName);
  return outcome;
}

// The names in the directory, sorted.
std::vector<std::string> FilesIn(const test::ScratchDir& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(fs::path(dir / ""))) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

// A W x H image as text, sample (x, y) = value(x, y).
std::string ImageText(int W, int H, const std::function<int(int, int)>& value,
                      const std::string& lineEnd = "\n") {
  std::string text;
  for (int y = 0; y < H; ++y) {
    for (int x = 0; x < W; ++x) text += std::to_string(value(x, y)) + (x + 1 < W ? " " : lineEnd);
  }
  return text;
}

// Label text from a picture: '.' is 0, a digit is its label.
std::string LabelText(const std::vector<std::string>& rows) {
  std::string text;
  for (const auto& row : rows) {
    for (std::size_t x = 0; x < row.size(); ++x) {
      text += (row[x] == '.' ? '0' : row[x]);
      text += x + 1 < row.size() ? ' ' : '\n';
    }
  }
  return text;
}


// Pixel (x, y) of a 32-bit bottom-up BMP as red, green, blue.
std::array<int, 3> BmpPixel(const std::string& bmp, std::uint32_t x, std::uint32_t y) {
  const std::uint32_t W = test::U32At(bmp, 18);
  const std::uint32_t H = test::U32At(bmp, 22);
  const std::size_t at = 54 + 4 * (static_cast<std::size_t>(H - 1 - y) * W + x);
  return {static_cast<std::uint8_t>(bmp[at + 2]), static_cast<std::uint8_t>(bmp[at + 1]),
          static_cast<std::uint8_t>(bmp[at])};
}

// The outputs of base "res" in the order they are written.
const std::vector<std::string> kOutputs = {"res", "res_In.bmp", "res_Reg.bmp", "res_Grad.bmp"};

// Two bright 6 x 6 blocks on black: A at the top right, B lower left.
int TwoBlocks(int x, int y) {
  const bool a = x >= 10 && x <= 15 && y >= 2 && y <= 7;
  const bool b = x >= 2 && x <= 7 && y >= 5 && y <= 10;
  return a || b ? 1000 : 0;
}

const std::vector<std::string> kTwoBlockLabels = {
    "....................",
    "....................",
    "....................",
    "...........1111.....",
    "...........1111.....",
    "...........1111.....",
    "...2222....1111.....",
    "...2222.............",
    "...2222.............",
    "...2222.............",
    "....................",
    "....................",
    "....................",
    "....................",
};

TEST(Edgeseg, SegmentsTwoBlocksIntoFourFiles) {
  test::ScratchDir dir;
  test::WriteFile(dir / "in.txt", ImageText(20, 14, TwoBlocks));
  const Outcome run = RunTool(dir, {dir / "in.txt", dir / "res"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(FilesIn(dir), (std::vector<std::string>{"in.txt", "res", "res_Grad.bmp", "res_In.bmp", "res_Reg.bmp"}));
  EXPECT_EQ(test::ReadFile(dir / "res"), LabelText(kTwoBlockLabels));

  const std::string in = test::ReadFile(dir / "res_In.bmp");
  const std::string reg = test::ReadFile(dir / "res_Reg.bmp");
  const std::string grad = test::ReadFile(dir / "res_Grad.bmp");
  ASSERT_EQ(in.size(), 54u + 4 * 20 * 14);
  ASSERT_EQ(reg.size(), 54u + 4 * 20 * 14);
  ASSERT_EQ(grad.size(), 54u + 4 * 19 * 13);
  EXPECT_EQ(test::U32At(grad, 18), 19u);
  EXPECT_EQ(test::U32At(grad, 22), 13u);

  // Input: 1000 is index floor(1000 * 255/4095) = 62, 0 is index 0.
  const std::array<int, 3> bright = {ColorMap.red[62], ColorMap.green[62], ColorMap.blue[62]};
  EXPECT_EQ(BmpPixel(in, 10, 2), bright);
  EXPECT_EQ(BmpPixel(in, 9, 2), (std::array<int, 3>{0, 0, 131}));
  // Regions: label 1 red, label 2 green, background black; rows bottom-up.
  EXPECT_EQ(BmpPixel(reg, 11, 3), (std::array<int, 3>{255, 0, 0}));
  EXPECT_EQ(BmpPixel(reg, 3, 9), (std::array<int, 3>{0, 255, 0}));
  EXPECT_EQ(BmpPixel(reg, 10, 3), (std::array<int, 3>{0, 0, 0}));
  // Gradient window min..max: the block corners reach the top of the map,
  // the flat background its bottom.
  EXPECT_EQ(BmpPixel(grad, 0, 0), (std::array<int, 3>{0, 0, 131}));
  EXPECT_EQ(BmpPixel(grad, 10, 1), (std::array<int, 3>{127, 0, 0}));
}

TEST(Edgeseg, CrLfLinesAndExtraArgumentsChangeNothing) {
  test::ScratchDir dir;
  test::WriteFile(dir / "lf.txt", ImageText(20, 14, TwoBlocks));
  test::WriteFile(dir / "crlf.txt", ImageText(20, 14, TwoBlocks, "\r\n"));
  ASSERT_EQ(RunTool(dir, {dir / "lf.txt", dir / "a"}).status, 0);
  ASSERT_EQ(RunTool(dir, {dir / "crlf.txt", dir / "b", "extra", "args"}).status, 0);
  for (const std::string suffix : {"", "_In.bmp", "_Reg.bmp", "_Grad.bmp"}) {
    EXPECT_EQ(test::ReadFile(dir / ("a" + suffix)), test::ReadFile(dir / ("b" + suffix))) << suffix;
  }
}

TEST(Edgeseg, OutputBaseMayBeTheInput) {
  test::ScratchDir dir;
  test::WriteFile(dir / "img", ImageText(20, 14, TwoBlocks));
  EXPECT_EQ(RunTool(dir, {dir / "img", dir / "img"}).status, 0);
  EXPECT_EQ(test::ReadFile(dir / "img"), LabelText(kTwoBlockLabels));
  EXPECT_TRUE(fs::exists(dir / "img_Grad.bmp"));
}

// The size scan decides which numbers belong to the image; a value that would
// not convert outside them is never read, so it is never an error.
TEST(Edgeseg, UnconvertibleValuesOutsideTheImageAreNotErrors) {
  const std::string image = ImageText(20, 14, TwoBlocks);
  const std::string huge = "99999999999";
  struct Case {
    const char* what;
    std::string input;
    int status;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"after the last line feed", image + huge, 0, ""},
      {"after a NUL byte", image + std::string(1, '\0') + huge + "\n" + huge + "\n", 0, ""},
      {"in a file whose lines differ", "1 2 3\n4 " + huge + "\n", 255, "Wrong input file format"},
  };
  for (const Case& c : cases) {
    test::ScratchDir dir;
    test::WriteFile(dir / "in.txt", c.input);
    const Outcome run = RunTool(dir, {dir / "in.txt", dir / "res"});
    EXPECT_EQ(run.status, c.status) << c.what;
    EXPECT_EQ(run.out, c.message) << c.what;
    if (c.status == 0) {
      EXPECT_EQ(test::ReadFile(dir / "res"), LabelText(kTwoBlockLabels)) << c.what;
    }
  }
}

struct FailureCase {
  const char* what;
  std::string input;          // file content; empty name below means none
  std::vector<std::string> args;  // "@" stands for the input file, "$" for the scratch directory
  int status;
  std::string message;
};

TEST(Edgeseg, FailuresPrintOneMessageAndWriteNothing) {
  const std::string image = ImageText(6, 6, [](int x, int y) { return x * y; });
  const std::vector<FailureCase> cases = {
      {"no arguments", image, {}, 255, "To few parameters"},
      {"input only", image, {"@"}, 255, "To few parameters"},
      {"missing input", image, {"$/missing", "$/out"}, 255, "Input file does not exists"},
      {"directory input", image, {"$", "$/out"}, 255, "Input file does not exists"},
      {"empty input", "", {"@", "$/out"}, 255, "Wrong input file format"},
      {"no line feed", "1 2 3 4", {"@", "$/out"}, 255, "Wrong input file format"},
      {"differing lines", "1 2 3\n4 5\n", {"@", "$/out"}, 255, "Wrong input file format"},
      {"only blank lines", "\n\n\n", {"@", "$/out"}, 255, "Wrong input file format"},
      {"device", image, {"/dev/null", "$/out"}, 255, "Wrong input file format"},
      {"three columns", ImageText(3, 9, [](int x, int) { return x; }), {"@", "$/out"}, 254, "Execution error"},
      {"three rows", ImageText(9, 3, [](int x, int) { return x; }), {"@", "$/out"}, 254, "Execution error"},
      {"value past 2^31 - 1", "1 2 3 4\n5 6 7 8\n9 10 11 12\n13 14 15 2147483648\n", {"@", "$/out"}, 254,
       "Execution error"},
      {"output directory missing", image, {"@", "$/missing/out"}, 254, "Execution error"},
      {"empty output base", image, {"@", ""}, 254, "Execution error"},
  };
  for (const FailureCase& c : cases) {
    test::ScratchDir dir;
    test::WriteFile(dir / "in.txt", c.input);
    std::vector<std::string> args;
    for (const std::string& arg : c.args) {
      args.push_back(arg == "@" ? dir / "in.txt" : arg.starts_with("$") ? dir / "" + arg.substr(1) : arg);
    }
    const Outcome run = RunTool(dir, args);
    EXPECT_EQ(run.status, c.status) << c.what;
    EXPECT_EQ(run.out, c.message) << c.what;
    EXPECT_EQ(FilesIn(dir), std::vector<std::string>{"in.txt"}) << c.what;
  }
}

TEST(Edgeseg, NamedPipeAndHugeFileEndWithoutReading) {
  test::ScratchDir dir;
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
  Outcome run = RunTool(dir, {dir / "fifo", dir / "out"});
  EXPECT_EQ(run.status, 255);
  EXPECT_EQ(run.out, "Wrong input file format");

  test::WriteFile(dir / "huge", "1 2 3 4\n");
  fs::resize_file(dir / "huge", std::uintmax_t{1} << 31);  // sparse: never read
  run = RunTool(dir, {dir / "huge", dir / "out"});
  EXPECT_EQ(run.status, 254);
  EXPECT_EQ(run.out, "Execution error");
  EXPECT_EQ(FilesIn(dir), (std::vector<std::string>{"fifo", "huge"}));
}

TEST(Edgeseg, FailedWritesAreNeverSuccess) {
  test::ScratchDir dir;
  test::WriteFile(dir / "in.txt", ImageText(20, 14, TwoBlocks));

  Outcome run = RunTool(dir, {dir / "in.txt", "/dev/full"});
  EXPECT_EQ(run.status, 254);
  EXPECT_EQ(run.out, "Execution error");

  // A named pipe nobody reads would block the open forever.
  ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0600), 0);
  run = RunTool(dir, {dir / "in.txt", dir / "pipe"});
  EXPECT_EQ(run.status, 254);
  EXPECT_EQ(run.out, "Execution error");

  // The label file is complete before the first picture fails.
  fs::create_directory(dir / "res_In.bmp");
  run = RunTool(dir, {dir / "in.txt", dir / "res"});
  EXPECT_EQ(run.status, 254);
  EXPECT_EQ(run.out, "Execution error");
  EXPECT_EQ(test::ReadFile(dir / "res"), LabelText(kTwoBlockLabels));
  EXPECT_FALSE(fs::exists(dir / "res_Reg.bmp"));
}

// A file-size limit makes the write that reaches it fail: the run ends with
// its message and status, not by SIGXFSZ, and keeps the files before it.
TEST(Edgeseg, AFileSizeLimitFailsTheWriteNotTheProcess) {
  test::ScratchDir dir;
  test::WriteFile(dir / "in.txt", ImageText(200, 150, TwoBlocks));
  ASSERT_EQ(RunTool(dir, {dir / "in.txt", dir / "res"}).status, 0);
  const std::uintmax_t labelSize = fs::file_size(dir / "res");
  const std::uintmax_t pictureSize = fs::file_size(dir / "res_In.bmp");
  ASSERT_LT(labelSize, pictureSize);

  // Each limit cuts one file: the one that first outgrows it. The limit
  // holds for the captured message too, so none is below its length.
  const std::vector<std::pair<std::uintmax_t, std::string>> cases = {
      {100, "res"}, {labelSize - 1, "res"}, {labelSize, "res_In.bmp"}, {pictureSize - 1, "res_In.bmp"}};
  for (const auto& [limit, cut] : cases) {
    const fs::path out = dir / ("limit " + std::to_string(limit));
    fs::create_directory(out);
    const Outcome run =
        RunTool(dir, {dir / "in.txt", out / "res"}, {"/usr/bin/prlimit", "--fsize=" + std::to_string(limit), "--"});
    EXPECT_EQ(run.status, 254) << limit;
    EXPECT_EQ(run.out, "Execution error") << limit;
    bool before = true;
    for (const std::string& output : kOutputs) {
      if (output == cut) {
        before = false;
        EXPECT_EQ(fs::file_size(out / output), limit) << limit;
      } else if (before) {
        EXPECT_EQ(test::ReadFile(out / output), test::ReadFile(dir / output)) << limit << ", " << output;
      } else {
        EXPECT_FALSE(fs::exists(out / output)) << limit << ", " << output;
      }
    }
  }
}

// The size scan and the reader work on one read of the file: a file that
// changes between two reads could otherwise give a size from one version
// and too few samples from the other, and a success made of samples never
// read. strace counts the opens.
TEST(Edgeseg, TheInputIsOpenedOnce) {
  if (!fs::exists("/usr/bin/strace")) {
    if (std::getenv("EDGESEG_REQUIRE_READERS") != nullptr) FAIL() << "strace is missing";
    GTEST_SKIP() << "strace is missing";
  }
  test::ScratchDir dir;
  test::WriteFile(dir / "in.txt", ImageText(20, 14, TwoBlocks));
  const std::string log = dir / "opens.log";
  // The leak checker of sanitizer builds cannot run under a tracer.
  const char* const asan = std::getenv("ASAN_OPTIONS");
  const std::string asanOptions = "ASAN_OPTIONS=" + std::string(asan != nullptr ? asan : "") + ":detect_leaks=0";
  const Outcome run = RunTool(dir, {dir / "in.txt", dir / "res"},
                              {"/usr/bin/strace", "-f", "-qq", "-o", log, "-e", "trace=open,openat,openat2",
                               "-E", asanOptions, "-P", dir / "in.txt"});
  EXPECT_EQ(run.status, 0);
  const std::string opens = test::ReadFile(log);
  EXPECT_EQ(std::count(opens.begin(), opens.end(), '\n'), 1) << opens;
  EXPECT_EQ(test::ReadFile(dir / "res"), LabelText(kTwoBlockLabels));
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
    std::vector<std::string> words = {EDGESEG_TOOL};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, ends[1], 1);
    // The child starts with the default action for SIGPIPE, whatever ours is.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(), environ), 0);
    ::close(ends[1]);
    int wstatus = 0;
    waitpid(pid, &wstatus, 0);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ASSERT_TRUE(WIFEXITED(wstatus)) << "ended by signal " << WTERMSIG(wstatus);
    EXPECT_EQ(WEXITSTATUS(wstatus), status);
  }
}

TEST(Edgeseg, NegativeVarianceIsReportedOnStandardError) {
  // A ramp: every inner gradient is sqrt(2) as a float. 81 inner samples
  // leave the variance below zero, 64 do not; the run succeeds either way.
  test::ScratchDir dir;
  for (const auto& [side, report] : {std::pair{12, "\r\nsqrt: DOMAIN error\r\n"}, {11, ""}}) {
    test::WriteFile(dir / "ramp.txt", ImageText(side, side, [](int x, int) { return x; }));
    const Outcome run = RunTool(dir, {dir / "ramp.txt", dir / "res"});
    EXPECT_EQ(run.status, 0) << side;
    EXPECT_EQ(run.out, "") << side;
    EXPECT_EQ(run.err, report) << side;
  }
}

TEST(Edgeseg, MoreThan65535RegionsIsAnError) {
  // 256 x 256 bright 6 x 6 blocks 8 pixels apart: each survives the closing
  // and erosion as its own 16-pixel region.
  test::ScratchDir dir;
  const int side = 256 * 8 + 2;
  test::WriteFile(dir / "in.txt", ImageText(side, side, [](int x, int y) {
    return x >= 2 && y >= 2 && (x - 2) % 8 < 6 && (y - 2) % 8 < 6 && x < side - 2 && y < side - 2 ? 1000 : 0;
  }));
  const Outcome run = RunTool(dir, {dir / "in.txt", dir / "res"});
  EXPECT_EQ(run.status, 254);
  EXPECT_EQ(run.out, "Execution error");
  EXPECT_EQ(FilesIn(dir), std::vector<std::string>{"in.txt"});
}

// Faults, extreme sizes and adversarial shapes. Whatever happens, a run ends
// with its message and status, and every file it leaves is complete.

struct BlockedOutput {
  std::string name;
  bool directory;  // a directory of that name, else a link to /dev/full
};

TEST(Edgeseg, AnOutputThatCannotBeWrittenEndsTheRunAndKeepsEarlierFiles) {
  test::ScratchDir dir;
  test::WriteFile(dir / "in.txt", ImageText(20, 14, TwoBlocks));
  ASSERT_EQ(RunTool(dir, {dir / "in.txt", dir / "res"}).status, 0);

  // A directory cannot be opened for writing and /dev/full fails every
  // write (a full disk), even for root, who passes every permission check.
  const std::vector<BlockedOutput> cases = {
      {"res", true}, {"res_Reg.bmp", true}, {"res_In.bmp", false}, {"res_Grad.bmp", false}};
  for (const BlockedOutput& c : cases) {
    const fs::path out = dir / ("blocked " + c.name);
    fs::create_directory(out);
    if (c.directory) {
      fs::create_directory(out / c.name);
    } else {
      fs::create_symlink("/dev/full", out / c.name);
    }
    const Outcome run = RunTool(dir, {dir / "in.txt", out / "res"});
    EXPECT_EQ(run.status, 254) << c.name;
    EXPECT_EQ(run.out, "Execution error") << c.name;
    bool written = true;  // every output before the blocked one
    for (const std::string& output : kOutputs) {
      if (output == c.name) {
        written = false;
      } else if (written) {
        EXPECT_EQ(test::ReadFile(out / output), test::ReadFile(dir / output)) << c.name << ", " << output;
      } else {
        EXPECT_FALSE(fs::exists(out / output)) << c.name << ", " << output;
      }
    }
  }
}

// An allocation that fails must end in the catch-all like any other error.
// Sanitizers reserve far more address space than these limits and abort on a
// failed allocation instead of throwing, so this suite is left out of the
// sanitizer build (label no_sanitizer).
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
    for (const std::string& output : kOutputs) {
      if (fs::exists(out / output)) {
        EXPECT_TRUE(test::ReadFile(out / output) == test::ReadFile(dir / output)) << megabytes << " MB, " << output;
      }
    }
    fs::remove_all(out);
  }
}

TEST(Edgeseg, InputSizeThatWrapsIn32BitsIsStillRefused) {
  // 4 GiB + 8 bytes would read as an 8-byte file if the length were cut to
  // 32 bits; it must be refused before anything is read.
  test::ScratchDir dir;
  test::WriteFile(dir / "huge", "1 2 3 4\n");
  fs::resize_file(dir / "huge", (std::uintmax_t{1} << 32) + 8);  // sparse
  const Outcome run = RunTool(dir, {dir / "huge", dir / "res"});
  EXPECT_EQ(run.status, 254);
  EXPECT_EQ(run.out, "Execution error");
  EXPECT_EQ(FilesIn(dir), std::vector<std::string>{"huge"});
}

TEST(Edgeseg, LeadingZerosAreNoPartOfTheValue) {
  test::ScratchDir dir;
  const auto value = [](int x, int y) { return x == 2 && y == 1 ? 1 : 0; };
  std::string padded = ImageText(6, 5, value);
  padded.insert(padded.find('1'), std::string(1000000, '0'));
  test::WriteFile(dir / "plain.txt", ImageText(6, 5, value));
  test::WriteFile(dir / "padded.txt", padded);
  ASSERT_EQ(RunTool(dir, {dir / "plain.txt", dir / "a"}).status, 0);
  ASSERT_EQ(RunTool(dir, {dir / "padded.txt", dir / "b"}).status, 0);
  for (const std::string suffix : {"", "_In.bmp", "_Reg.bmp", "_Grad.bmp"}) {
    EXPECT_EQ(test::ReadFile(dir / ("a" + suffix)), test::ReadFile(dir / ("b" + suffix))) << suffix;
  }
}

TEST(Edgeseg, TinyAndExtremeShapesFailWithoutOutput) {
  const auto ramp = [](int x, int y) { return 100 * x + 7 * y; };
  std::string longDigits = ImageText(5, 5, ramp);
  longDigits.replace(longDigits.find("107"), 3, std::string(1000, '7'));
  const std::vector<std::pair<const char*, std::string>> cases = {
      {"a thousand non-zero digits", longDigits},
      {"a line of a million numbers", ImageText(1000000, 1, ramp)},
      {"1 x 1000", ImageText(1, 1000, ramp)},
      {"1000 x 1", ImageText(1000, 1, ramp)},
      {"1 x 1", "5\n"},
      {"2 x 2", ImageText(2, 2, ramp)},
      {"3 x 3", ImageText(3, 3, ramp)},
  };
  for (const auto& [what, input] : cases) {
    test::ScratchDir dir;
    test::WriteFile(dir / "in.txt", input);
    const Outcome run = RunTool(dir, {dir / "in.txt", dir / "res"});
    EXPECT_EQ(run.status, 254) << what;
    EXPECT_EQ(run.out, "Execution error") << what;
    EXPECT_EQ(FilesIn(dir), std::vector<std::string>{"in.txt"}) << what;
  }
}

TEST(Edgeseg, FourByFourIsTheSmallestImage) {
  test::ScratchDir dir;
  test::WriteFile(dir / "in.txt", ImageText(4, 4, [](int x, int y) { return x * y * 1000; }));
  const Outcome run = RunTool(dir, {dir / "in.txt", dir / "res"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(test::ReadFile(dir / "res"), LabelText({"....", "....", "....", "...."}));
  const std::vector<std::pair<std::string, std::uint32_t>> pictures = {
      {"res_In.bmp", 4}, {"res_Reg.bmp", 4}, {"res_Grad.bmp", 3}};
  for (const auto& [name, side] : pictures) {
    const std::string bmp = test::ReadFile(dir / name);
    ASSERT_EQ(bmp.size(), 54 + 4 * side * side) << name;
    EXPECT_EQ(test::U32At(bmp, 18), side) << name;
    EXPECT_EQ(test::U32At(bmp, 22), side) << name;
  }
}

// Bright (1000) shapes on black, one flag a pixel, row by row.
struct Shapes {
  int W;
  int H;
  std::vector<char> bright;
};

struct Expected {
  std::string labels;    // the label file
  int regions = 0;
  int provisional = 0;   // labels a scan issues before merging
};

// What the tool must make of shapes that lie two pixels or more inside the
// frame, with every dark gap two pixels or wider and open to the frame: the
// closing then keeps each shape exactly, so the labels are the shapes eroded
// by a 3 x 3 neighbourhood and cut into 8-connected regions of more than 10
// pixels, numbered in scan order. A scan issues a provisional label at each
// pixel with no foreground among its left, up-left, up and up-right
// neighbours.
Expected ExpectedLabels(const Shapes& s) {
  const int W = s.W;
  const int H = s.H;
  std::vector<char> kept(static_cast<std::size_t>(W) * H, 0);
  for (int y = 1; y + 1 < H; ++y) {
    for (int x = 1; x + 1 < W; ++x) {
      bool all = true;
      for (int dy = -1; dy <= 1; ++dy) {
        for (int dx = -1; dx <= 1; ++dx) all = all && s.bright[(y + dy) * W + x + dx];
      }
      kept[y * W + x] = all;
    }
  }
  Expected expected;
  std::vector<int> label(kept.size(), 0);  // -1: a dropped region
  std::vector<int> region;
  for (int k = 0; k < W * H; ++k) {
    if (!kept[k]) continue;
    const bool joined = kept[k - 1] || kept[k - W - 1] || kept[k - W] || kept[k - W + 1];
    expected.provisional += joined ? 0 : 1;
    if (label[k] != 0) continue;
    region.assign(1, k);
    label[k] = -2;
    for (std::size_t i = 0; i < region.size(); ++i) {
      const int j = region[i];
      for (const int d : {-W - 1, -W, -W + 1, -1, 1, W - 1, W, W + 1}) {
        if (kept[j + d] && label[j + d] == 0) {
          label[j + d] = -2;
          region.push_back(j + d);
        }
      }
    }
    const int value = region.size() > 10 ? ++expected.regions : -1;
    for (const int j : region) label[j] = value;
  }
  for (int k = 0; k < W * H; ++k) {
    expected.labels += std::to_string(label[k] > 0 ? label[k] : 0);
    expected.labels += (k + 1) % W == 0 ? '\n' : ' ';
  }
  return expected;
}

// Runs the tool on the shapes and compares its label file with the model.
// The shapes must first give the model at least minProvisional provisional
// labels and exactly the given count of regions, so that a generator whose
// shapes the chain would wipe out fails instead of passing trivially.
void ExpectLabelsOf(const char* what, const Shapes& shapes, int minProvisional, int regions) {
  const Expected expected = ExpectedLabels(shapes);
  ASSERT_GE(expected.provisional, minProvisional) << what << ": the shapes do not stress enough";
  ASSERT_EQ(expected.regions, regions) << what;
  test::ScratchDir dir;
  test::WriteFile(dir / "in.txt", ImageText(shapes.W, shapes.H, [&](int x, int y) {
    return shapes.bright[static_cast<std::size_t>(y) * shapes.W + x] ? 1000 : 0;
  }));
  const Outcome run = RunTool(dir, {dir / "in.txt", dir / "res"});
  EXPECT_EQ(run.status, 0) << what;
  EXPECT_EQ(run.out, "") << what;
  EXPECT_TRUE(test::ReadFile(dir / "res") == expected.labels) << what << ": labels differ";
}

Shapes Draw(int W, int H, const std::function<bool(int, int)>& bright) {
  Shapes shapes{W, H, std::vector<char>(static_cast<std::size_t>(W) * H)};
  for (int y = 0; y < H; ++y) {
    for (int x = 0; x < W; ++x) shapes.bright[static_cast<std::size_t>(y) * W + x] = bright(x, y);
  }
  return shapes;
}

// The first count blocks of a grid of 6 x 6 blocks, 8 pixels apart, columns
// to a row: each becomes a 16-pixel region of its own.
Shapes BlockLattice(int columns, int rows, int count) {
  return Draw(8 * columns + 2, 8 * rows + 2, [=](int x, int y) {
    const int column = (x - 2) / 8;
    const int row = (y - 2) / 8;
    return x >= 2 && y >= 2 && (x - 2) % 8 < 6 && (y - 2) % 8 < 6 && column < columns &&
           row * columns + column < count;
  });
}

TEST(Edgeseg, LabelsPastTheProvisionalLimitAndUpTo65535Regions) {
  ExpectLabelsOf("10100 blocks", BlockLattice(101, 100, 10100), 10000, 10100);
  ExpectLabelsOf("65535 blocks", BlockLattice(256, 256, 65535), 65535, 65535);
  // 10000 teeth 3 pixels wide, 2 apart, standing on a bar: every tooth takes
  // a provisional label of its own and the bar merges them all.
  const int teeth = 10000;
  ExpectLabelsOf("comb of 10000 teeth", Draw(5 * teeth + 2, 15, [](int x, int y) {
                   return x >= 2 && x < 5 * teeth && y >= 2 && y <= 12 && (y >= 10 || (x - 2) % 5 < 3);
                 }),
                 10000, 1);
}

// Walls 4 pixels wide with one corridor, 4 pixels wide, that runs from the
// top-left corner in a square spiral to the middle: the background must be
// followed along the whole corridor, and one region winds through every row.
Shapes Spiral(int side) {
  const int n = (side / 4 - 1) | 1;  // odd, in 4 x 4 blocks
  const std::vector<std::uint16_t> wall = test::SpiralCorridor(n);
  return Draw(side, side, [&](int px, int py) { return px / 4 < n && py / 4 < n && wall[(py / 4) * n + px / 4] != 0; });
}

// Bands of 255 teeth, 4 pixels wide and 8 apart, each tooth starting one row
// lower than the one on its left and standing on a bar that steps down one
// row a tooth: a scan meets a new tooth top and a tooth joining the bar, a
// merge, on nearly every row.
Shapes StaggeredComb(int side) {
  constexpr int kTeeth = 255;
  constexpr int kTooth = 8;   // rows above the bar
  constexpr int kBand = 272;  // rows from one band to the next
  return Draw(side, side, [=](int x, int y) {
    const int band = (y - 4) / kBand;
    const int row = (y - 4) % kBand;
    const int tooth = (x - 4) / 8;
    if (x < 4 || y < 4 || tooth >= kTeeth || (band + 1) * kBand + 4 > side) return false;
    const bool inTooth = (x - 4) % 8 < 4 && row >= tooth && row < tooth + kTooth;
    const bool inBar = row >= tooth + kTooth && row < tooth + kTooth + 4;
    return inTooth || inBar;
  });
}

TEST(Edgeseg, SpiralAndStaggeredCombAcross2048Pixels) {
  ExpectLabelsOf("spiral", Spiral(2048), 0, 1);
  ExpectLabelsOf("staggered comb", StaggeredComb(2048), 7 * 255, 7);
}

}  // namespace
