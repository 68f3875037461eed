#pragma once
// Runs the built tool as a user would, for the end-to-end tests: its exit
// status, its exact standard output and error, and the files it leaves.

#include <gtest/gtest.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "test_support.h"

extern char** environ;

namespace test {

struct Outcome {
  int status = -1;  // as a shell sees it: 0, 255 or 254
  std::string out;
  std::string err;
};

// No run may hang: one that outlives this is killed and fails its test.
inline constexpr auto kRunTimeLimit = std::chrono::seconds(60);

// Runs the tool with args, through the launcher words when there are any
// (the tool's path and args are appended to them).
inline Outcome RunTool(const test::ScratchDir& dir, const std::vector<std::string>& args,
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
  std::filesystem::remove(outName);
  std::filesystem::remove(errName);
  return outcome;
}

// The names in the directory, sorted.
inline std::vector<std::string> FilesIn(const test::ScratchDir& dir) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::path(dir / ""))) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

// A W x H image as text, sample (x, y) = value(x, y).
inline std::string ImageText(int W, int H, const std::function<int(int, int)>& value,
                      const std::string& lineEnd = "\n") {
  std::string text;
  for (int y = 0; y < H; ++y) {
    for (int x = 0; x < W; ++x) text += std::to_string(value(x, y)) + (x + 1 < W ? " " : lineEnd);
  }
  return text;
}

// Label text from a picture: '.' is 0, a digit is its label.
inline std::string LabelText(const std::vector<std::string>& rows) {
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
inline std::array<int, 3> BmpPixel(const std::string& bmp, std::uint32_t x, std::uint32_t y) {
  const std::uint32_t W = test::U32At(bmp, 18);
  const std::uint32_t H = test::U32At(bmp, 22);
  const std::size_t at = 54 + 4 * (static_cast<std::size_t>(H - 1 - y) * W + x);
  return {static_cast<std::uint8_t>(bmp[at + 2]), static_cast<std::uint8_t>(bmp[at + 1]),
          static_cast<std::uint8_t>(bmp[at])};
}

// The outputs of base "res" in the order they are written.
inline const std::vector<std::string> kOutputs = {"res", "res_In.bmp", "res_Reg.bmp", "res_Grad.bmp"};

// Two bright 6 x 6 blocks on black: A at the top right, B lower left.
inline int TwoBlocks(int x, int y) {
  const bool a = x >= 10 && x <= 15 && y >= 2 && y <= 7;
  const bool b = x >= 2 && x <= 7 && y >= 5 && y <= 10;
  return a || b ? 1000 : 0;
}

inline const std::vector<std::string> kTwoBlockLabels = {
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

// After a run into the directory out that failed at the output named
// failed: every output before it is byte for byte the good run's (in the
// directory good), and none after it exists. The failed one is the caller's
// to check.
inline void ExpectOutputsBefore(const std::filesystem::path& good, const std::filesystem::path& out,
                                const std::string& failed) {
  bool before = true;
  for (const std::string& output : kOutputs) {
    if (output == failed) {
      before = false;
    } else if (before) {
      EXPECT_EQ(ReadFile((out / output).string()), ReadFile((good / output).string())) << failed << ": " << output;
    } else {
      EXPECT_FALSE(std::filesystem::exists(out / output)) << failed << ": " << output;
    }
  }
}

// After a run into the directory out that succeeded: the same four files,
// byte for byte, as the good run's in the directory good.
inline void ExpectSameOutputs(const std::filesystem::path& good, const std::filesystem::path& out) {
  ExpectOutputsBefore(good, out, "");
}

}  // namespace test
