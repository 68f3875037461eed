#pragma once
// Runs the built tool as a user would, for the end-to-end tests: its exit
// status, its exact standard output and error, and the files it leaves.

#include <gtest/gtest.h>

#if defined(_WIN32)
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "test_support.h"

#if !defined(_WIN32)
extern char** environ;
#endif

namespace test {

struct Outcome {
  int status = -1;  // as a POSIX shell sees it: 0, 255 or 254; 128 + N after signal N
  std::string out;
  std::string err;
  long peakKiB = 0;  // the most memory the run held at once; POSIX only
};

// No run may hang: one that outlives this is killed and fails its test.
inline constexpr auto kRunTimeLimit = std::chrono::seconds(60);

#if defined(_WIN32)
// Text in the ANSI code page, in which a Windows program's main receives
// its arguments, as the wide text that CreateProcessW takes.
inline std::wstring Widen(const std::string& text) {
  if (text.empty()) return {};
  const int length = static_cast<int>(text.size());
  std::wstring wide(static_cast<std::size_t>(::MultiByteToWideChar(CP_ACP, 0, text.data(), length, nullptr, 0)), L'\0');
  ::MultiByteToWideChar(CP_ACP, 0, text.data(), length, wide.data(), static_cast<int>(wide.size()));
  return wide;
}

// One word of a command line, quoted so that the C runtime's parser gives
// it back unchanged: backslashes count only before a quote.
inline std::wstring QuoteArgument(const std::wstring& word) {
  if (!word.empty() && word.find_first_of(L" \t\n\v\"") == std::wstring::npos) return word;
  std::wstring quoted = L"\"";
  std::size_t backslashes = 0;
  for (const wchar_t c : word) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
    quoted.push_back(c);
    backslashes = 0;
  }
  quoted.append(2 * backslashes, L'\\');
  quoted.push_back(L'"');
  return quoted;
}

// A file for the child's standard stream, inherited by it.
inline HANDLE InheritableFile(const std::string& name, DWORD access, DWORD disposition) {
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  return ::CreateFileW(Widen(name).c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, disposition,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Runs words[0] with the rest as its arguments, standard output and error
// into the named files, and input, when given, through a pipe into its
// standard input; gives its exit status, or -1 when it could not run.
inline int RunProcess(const std::vector<std::string>& words, const std::string& outName, const std::string& errName,
                      const std::optional<std::string>& input, long& /*peakKiB*/) {
  std::wstring program = Widen(words[0]);
  std::replace(program.begin(), program.end(), L'/', L'\\');
  std::wstring commandLine;
  for (const std::string& word : words) commandLine += (commandLine.empty() ? L"" : L" ") + QuoteArgument(Widen(word));
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  HANDLE feed = INVALID_HANDLE_VALUE;
  startup.hStdInput = InheritableFile("NUL", GENERIC_READ, OPEN_EXISTING);
  if (input) {
    ::CloseHandle(startup.hStdInput);
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    if (!::CreatePipe(&startup.hStdInput, &feed, &inherit, 0)) return -1;
    ::SetHandleInformation(feed, HANDLE_FLAG_INHERIT, 0);
  }
  startup.hStdOutput = InheritableFile(outName, GENERIC_WRITE, CREATE_ALWAYS);
  startup.hStdError = InheritableFile(errName, GENERIC_WRITE, CREATE_ALWAYS);
  PROCESS_INFORMATION process{};
  const bool started = ::CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                        nullptr, &startup, &process) != 0;
  for (const HANDLE handle : {startup.hStdInput, startup.hStdOutput, startup.hStdError}) {
    if (handle != INVALID_HANDLE_VALUE) ::CloseHandle(handle);
  }
  // The bytes go in while the tool runs; it may stop reading early, which
  // breaks the pipe and ends the feeding.
  std::thread feeder([&] {
    if (feed == INVALID_HANDLE_VALUE) return;
    DWORD put = 0;
    for (std::size_t done = 0; started && done < input->size(); done += put) {
      const auto want = static_cast<DWORD>(std::min<std::size_t>(input->size() - done, 1 << 16));
      if (!::WriteFile(feed, input->data() + done, want, &put, nullptr) || put == 0) break;
    }
    ::CloseHandle(feed);
  });
  if (!started) {
    feeder.join();
    return -1;
  }
  const auto limit = std::chrono::duration_cast<std::chrono::milliseconds>(kRunTimeLimit);
  if (::WaitForSingleObject(process.hProcess, static_cast<DWORD>(limit.count())) == WAIT_TIMEOUT) {
    ::TerminateProcess(process.hProcess, 1);
    ::WaitForSingleObject(process.hProcess, INFINITE);
    ADD_FAILURE() << "run killed after " << kRunTimeLimit.count() << " s";
  }
  feeder.join();
  DWORD code = 0;
  const bool exited = ::GetExitCodeProcess(process.hProcess, &code) != 0;
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
  if (!exited) return -1;
  // Windows keeps all 32 bits of main's result, and a POSIX shell only the
  // low eight: -1 and -2 read 255 and 254 there. Any other code, such as
  // that of a crash, stays as it is.
  const auto result = static_cast<std::int32_t>(code);
  return result >= -128 && result < 256 ? result & 0xFF : result;
}
#else
// Starts words[0] with the rest as its arguments and the given actions on
// its files. It starts with the default action for the signals of failing
// writes, whatever the test runner's are, as it would from a shell. Gives
// its process id, or 0 when it could not start.
inline pid_t Spawn(std::vector<std::string> words, const posix_spawn_file_actions_t& actions) {
  std::vector<char*> argv;
  for (auto& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  sigaddset(&defaults, SIGXFSZ);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
  pid_t pid = 0;
  const bool started = posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(), environ) == 0;
  posix_spawnattr_destroy(&attributes);
  return started ? pid : 0;
}

// Runs words[0] with the rest as its arguments, standard output and error
// into the named files, and input, when given, through a pipe into its
// standard input; gives its exit status, 128 + N when signal N ended it, or
// -1 when it could not run, and sets peakKiB to its largest resident size.
inline int RunProcess(std::vector<std::string> words, const std::string& outName, const std::string& errName,
                      const std::optional<std::string>& input, long& peakKiB) {
  // Both ends of the pipe close on exec; the copy at 0 is the tool's own. A
  // tool that stops reading early breaks the pipe: the write then fails
  // instead of ending the test by SIGPIPE.
  int feed[2] = {-1, -1};
  if (input) {
    if (::pipe(feed) != 0) return -1;
    for (const int end : feed) ::fcntl(end, F_SETFD, FD_CLOEXEC);
    std::signal(SIGPIPE, SIG_IGN);
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, outName.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, errName.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (input) posix_spawn_file_actions_adddup2(&actions, feed[0], 0);
  const pid_t pid = Spawn(std::move(words), actions);
  const bool started = pid != 0;
  int status = -1;
  if (input) ::close(feed[0]);
  std::thread feeder([&] {
    if (!input) return;
    for (std::size_t done = 0; started && done < input->size();) {
      const ssize_t put = ::write(feed[1], input->data() + done, input->size() - done);
      if (put <= 0) break;
      done += static_cast<std::size_t>(put);
    }
    ::close(feed[1]);
  });
  if (started) {
    int wstatus = 0;
    rusage usage{};
    const auto deadline = std::chrono::steady_clock::now() + kRunTimeLimit;
    while (wait4(pid, &wstatus, WNOHANG, &usage) == 0) {
      if (std::chrono::steady_clock::now() > deadline) {
        ::kill(pid, SIGKILL);
        wait4(pid, &wstatus, 0, &usage);
        ADD_FAILURE() << "run killed after " << kRunTimeLimit.count() << " s";
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (WIFEXITED(wstatus)) status = WEXITSTATUS(wstatus);
    if (WIFSIGNALED(wstatus)) status = 128 + WTERMSIG(wstatus);
    peakKiB = usage.ru_maxrss;
  }
  feeder.join();
  posix_spawn_file_actions_destroy(&actions);
  return status;
}
#endif

// The words that start the tool (or a copy of it): its path, after the
// emulator's words in a build for another machine, so that every launcher
// starts the emulator.
inline std::vector<std::string> ToolWords(const std::string& tool = EDGESEG_TOOL) {
  std::vector<std::string> words;
  std::string emulator = EDGESEG_TOOL_EMULATOR;
  for (std::size_t start = 0; start < emulator.size();) {
    const std::size_t end = std::min(emulator.find(' ', start), emulator.size());
    if (end > start) words.push_back(emulator.substr(start, end - start));
    start = end + 1;
  }
  words.push_back(tool);
  return words;
}

// Runs the tool with args, through the launcher words when there are any
// (the tool's words and args are appended to them), with input through a
// pipe as its standard input when given. tool names another copy of it.
// Runs may go on at once from several threads.
inline Outcome RunTool(const test::ScratchDir& dir, const std::vector<std::string>& args,
                       const std::vector<std::string>& launcher = {},
                       const std::optional<std::string>& input = std::nullopt,
                       const std::string& tool = EDGESEG_TOOL) {
  static std::atomic<int> runs{0};
  std::vector<std::string> words = launcher;
  const std::vector<std::string> toolWords = ToolWords(tool);
  words.insert(words.end(), toolWords.begin(), toolWords.end());
  words.insert(words.end(), args.begin(), args.end());
  const std::string run = std::to_string(runs++);
  const std::string outName = dir / ("stdout" + run + ".txt");
  const std::string errName = dir / ("stderr" + run + ".txt");
  Outcome outcome;
  outcome.status = RunProcess(words, outName, errName, input, outcome.peakKiB);
  outcome.out = test::ReadFile(outName);
  outcome.err = test::ReadFile(errName);
  std::filesystem::remove(outName);
  std::filesystem::remove(errName);
  return outcome;
}

// Writes text into dir/in.txt and runs the tool on it, with the output base
// dir/res.
inline Outcome RunOnText(const test::ScratchDir& dir, const std::string& text) {
  test::WriteFile(dir / "in.txt", text);
  return RunTool(dir, {dir / "in.txt", dir / "res"});
}

// What a user sees of a run, its exit status and standard output, to be
// compared whole; and the two that most runs end with.
using Result = std::pair<int, std::string>;
inline Result ResultOf(const Outcome& run) { return {run.status, run.out}; }
inline const Result kSucceeded = {0, ""};
inline const Result kExecutionError = {254, "Execution error"};

#if !defined(_WIN32)
// Launchers for RunTool, the only places that say how the tool is started
// under another program.

// strace -f into log, with the further options given. The leak checker of
// sanitizer builds cannot run under a tracer.
inline std::vector<std::string> UnderStrace(const std::string& log, const std::vector<std::string>& options) {
  const char* const asan = std::getenv("ASAN_OPTIONS");
  const std::string asanOptions = "ASAN_OPTIONS=" + std::string(asan != nullptr ? asan : "") + ":detect_leaks=0";
  std::vector<std::string> words = {"/usr/bin/strace", "-f", "-qq", "-o", log, "-E", asanOptions};
  words.insert(words.end(), options.begin(), options.end());
  return words;
}

// Under a file-size limit of bytes.
inline std::vector<std::string> UnderFileSizeLimit(std::uintmax_t bytes) {
  return {"/usr/bin/prlimit", "--fsize=" + std::to_string(bytes), "--"};
}

// As the user and group nobody (65534), without other groups: the tool
// must be a copy that nobody may run (see CopyOfTool).
inline std::vector<std::string> AsNobody() {
  return {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
}

// A copy of the tool in dir, which any user may run.
inline std::string CopyOfTool(const test::ScratchDir& dir) {
  const std::string copy = dir / "edgeseg";
  std::filesystem::copy_file(EDGESEG_TOOL, copy, std::filesystem::copy_options::overwrite_existing);
  std::filesystem::permissions(copy, std::filesystem::perms(0755));
  return copy;
}

// In a private mount namespace where an empty tmpfs of sizeKiB is mounted
// on the folder mountPoint: the files of the folder seed are copied into it
// first, and after the run whatever it holds is copied to the folder
// result, since the tmpfs goes with the namespace. The run's status is
// kept. Needs root, as CI runs.
inline std::vector<std::string> InSmallFilesystem(const std::string& mountPoint, int sizeKiB,
                                                  const std::string& seed, const std::string& result) {
  const std::string script =
      "mount -t tmpfs -o size=" + std::to_string(sizeKiB) + "k edgeseg \"$1\" && cp -a \"$2/.\" \"$1/\" || exit 99\n"
      "mountPoint=$1 result=$3\nshift 3\n\"$@\"\nstatus=$?\ncp -a \"$mountPoint/.\" \"$result/\"\nexit $status\n";
  return {"/usr/bin/unshare", "-m", "--propagation", "private", "/bin/sh", "-c", script, "sh", mountPoint, seed, result};
}
#endif

// The names in the folder, sorted.
inline std::vector<std::string> FilesIn(const std::filesystem::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
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

// The two blocks on a 20 x 14 image, as text.
inline std::string TwoBlocksText() { return ImageText(20, 14, TwoBlocks); }

// Their labels.
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
      // Not EXPECT_EQ: a picture's bytes would flood the report.
      EXPECT_TRUE(ReadFile((out / output).string()) == ReadFile((good / output).string()))
          << out.string() << ": " << output << " differs";
    } else {
      EXPECT_FALSE(std::filesystem::exists(out / output)) << failed << ": " << output;
    }
  }
}

// After a run into the directory out, which held the outputs of the
// directory previous, that failed at the output named failed: the outputs
// before it are the good run's (in the directory good), it and those after
// it are previous's or absent as they were, and out holds nothing else (no
// temporary file). failed "" is a run that succeeded.
inline void ExpectOutputsAfterFailure(const std::filesystem::path& good, const std::filesystem::path& previous,
                                      const std::filesystem::path& out, const std::string& failed) {
  bool before = true;
  std::vector<std::string> expected;
  for (const std::string& output : kOutputs) {
    before = before && output != failed;
    const std::filesystem::path source = (before ? good : previous) / output;
    if (std::filesystem::exists(source)) {
      EXPECT_EQ(ReadFile((out / output).string()), ReadFile(source.string())) << failed << ": " << output;
      expected.push_back(output);
    }
  }
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(FilesIn(out), expected) << failed;
}

// Fills the folder previous with the outputs of the two blocks, read from
// dir/small.txt: the files that a failed run into that folder must leave as
// they were.
inline void WritePreviousOutputs(const test::ScratchDir& dir, const std::filesystem::path& previous) {
  std::filesystem::create_directory(previous);
  test::WriteFile(dir / "small.txt", TwoBlocksText());
  ASSERT_EQ(RunTool(dir, {dir / "small.txt", (previous / "res").string()}).status, 0);
}

// After a run into the directory out that succeeded: the same four files,
// byte for byte, as the good run's in the directory good.
inline void ExpectSameOutputs(const std::filesystem::path& good, const std::filesystem::path& out) {
  ExpectOutputsBefore(good, out, "");
}

}  // namespace test
