// Runs the built tool on small files and checks, together, its exit status,
// its exact standard output and error, and the files it leaves.

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <fstream>
#include <string>
#include <vector>

#include "displib/displib.h"
#include "e2e_support.h"
#include "test_support.h"

using namespace edgeseg;

namespace {

namespace fs = std::filesystem;
using test::BmpPixel;
using test::FilesIn;
using test::ImageText;
using test::kOutputs;
using test::kTwoBlockLabels;
using test::LabelText;
using test::Outcome;
using test::RunTool;
using test::TwoBlocks;

TEST(Edgeseg, SegmentsTwoBlocksIntoFourFiles) {
  test::ScratchDir dir;
  const Outcome run = test::RunOnText(dir, test::TwoBlocksText());
  EXPECT_EQ(test::ResultOf(run), test::kSucceeded);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(FilesIn(dir.path()),
            (std::vector<std::string>{"in.txt", "res", "res_Grad.bmp", "res_In.bmp", "res_Reg.bmp"}));
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
  ASSERT_EQ(test::RunOnText(dir, test::TwoBlocksText()).status, 0);
  test::WriteFile(dir / "crlf.txt", ImageText(20, 14, TwoBlocks, "\r\n"));
  fs::create_directory(dir / "crlf");
  ASSERT_EQ(RunTool(dir, {dir / "crlf.txt", dir / "crlf/res", "extra", "args"}).status, 0);
  test::ExpectSameOutputs(dir.path(), dir / "crlf");
}

TEST(Edgeseg, OutputBaseMayBeTheInput) {
  test::ScratchDir dir;
  test::WriteFile(dir / "img", test::TwoBlocksText());
  EXPECT_EQ(RunTool(dir, {dir / "img", dir / "img"}).status, 0);
  EXPECT_EQ(test::ReadFile(dir / "img"), LabelText(kTwoBlockLabels));
  EXPECT_TRUE(fs::exists(dir / "img_Grad.bmp"));
}

// The size scan decides which numbers belong to the image; a value that would
// not convert outside them is never read, so it is never an error.
TEST(Edgeseg, UnconvertibleValuesOutsideTheImageAreNotErrors) {
  const std::string image = test::TwoBlocksText();
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
    const Outcome run = test::RunOnText(dir, c.input);
    EXPECT_EQ(test::ResultOf(run), test::Result(c.status, c.message)) << c.what;
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
#if !defined(_WIN32)
      // No such device on Windows; its NUL is a case of the Windows file tests.
      {"device", image, {"/dev/null", "$/out"}, 255, "Wrong input file format"},
#endif
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
    EXPECT_EQ(test::ResultOf(run), test::Result(c.status, c.message)) << c.what;
    EXPECT_EQ(FilesIn(dir.path()), std::vector<std::string>{"in.txt"}) << c.what;
  }
}

TEST(Edgeseg, NegativeVarianceIsReportedOnStandardError) {
  // A ramp: every inner gradient is sqrt(2) as a float. 81 inner samples
  // leave the variance below zero, 64 do not; the run succeeds either way.
  test::ScratchDir dir;
  for (const auto& [side, report] : {std::pair{12, "\r\nsqrt: DOMAIN error\r\n"}, {11, ""}}) {
    test::WriteFile(dir / "ramp.txt", ImageText(side, side, [](int x, int) { return x; }));
    const Outcome run = RunTool(dir, {dir / "ramp.txt", dir / "res"});
    EXPECT_EQ(test::ResultOf(run), test::kSucceeded) << side;
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
  EXPECT_EQ(test::ResultOf(run), test::kExecutionError);
  EXPECT_EQ(FilesIn(dir.path()), std::vector<std::string>{"in.txt"});
}

// An output that is a directory cannot be opened for writing: the run ends
// there, and every file written before it stays complete.
TEST(Edgeseg, AnOutputThatCannotBeCreatedEndsTheRunAndKeepsEarlierFiles) {
  test::ScratchDir dir;
  ASSERT_EQ(test::RunOnText(dir, test::TwoBlocksText()).status, 0);
  for (const std::string& failed : kOutputs) {
    const fs::path out = dir / ("blocked " + failed);
    fs::create_directories(out / failed);
    const Outcome run = RunTool(dir, {dir / "in.txt", (out / "res").string()});
    EXPECT_EQ(test::ResultOf(run), test::kExecutionError) << failed;
    test::ExpectOutputsBefore(dir.path(), out, failed);
  }
}

// Faults, extreme sizes and adversarial shapes. Whatever happens, a run ends
// with its message and status, and every file it leaves is complete.

// Inputs past 2 GiB are read up to their first NUL byte. The second takes
// gigabytes of memory and as much disk, so this suite holds a lock that
// keeps its runs from overlapping with any other test's of that size.

// Runs the tool on the small image alone, then on the huge file that
// append makes of it: the two runs must leave the same files.
void ExpectHugeInputGivesTheSmallImagesFiles(const std::function<void(std::ofstream&)>& append) {
  test::ScratchDir dir;
  const std::string image = test::TwoBlocksText();
  ASSERT_EQ(test::RunOnText(dir, image).status, 0);
  {
    std::ofstream huge(dir / "huge", std::ios::binary);
    huge << image;
    append(huge);
    ASSERT_TRUE(huge.good());
  }
  const fs::path out = dir / "huge out";
  fs::create_directory(out);
  const Outcome run = RunTool(dir, {dir / "huge", (out / "res").string()});
  fs::remove(dir / "huge");
  EXPECT_EQ(test::ResultOf(run), test::kSucceeded);
  test::ExpectSameOutputs(dir.path(), out);
}

TEST(EdgesegHugeInput, ASmallImageBeforeANulAndAHoleIsAllThatIsRead) {
  // 4 GiB + 8 bytes in all: a length cut to 32 bits would leave 8 of them.
  ExpectHugeInputGivesTheSmallImagesFiles([](std::ofstream& huge) {
    huge << '\0';
    huge.seekp(static_cast<std::streamoff>(std::uintmax_t{1} << 32) + 7);  // a hole: zeros on disk
    huge << '\0';
  });
}

TEST(EdgesegHugeInput, DigitsAfterTheLastLineFeedAreNeitherCountedNorRead) {
  // A digit run of 2 GiB would overflow any count or value it entered.
  ExpectHugeInputGivesTheSmallImagesFiles([](std::ofstream& huge) {
    const std::string digits(std::size_t{1} << 24, '7');
    for (int i = 0; i < 128; ++i) huge.write(digits.data(), static_cast<std::streamsize>(digits.size()));
  });
}

TEST(Edgeseg, LeadingZerosAreNoPartOfTheValue) {
  test::ScratchDir dir;
  const auto value = [](int x, int y) { return x == 2 && y == 1 ? 1 : 0; };
  std::string padded = ImageText(6, 5, value);
  padded.insert(padded.find('1'), std::string(1000000, '0'));
  ASSERT_EQ(test::RunOnText(dir, ImageText(6, 5, value)).status, 0);
  test::WriteFile(dir / "padded.txt", padded);
  fs::create_directory(dir / "padded");
  ASSERT_EQ(RunTool(dir, {dir / "padded.txt", dir / "padded/res"}).status, 0);
  test::ExpectSameOutputs(dir.path(), dir / "padded");
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
    const Outcome run = test::RunOnText(dir, input);
    EXPECT_EQ(test::ResultOf(run), test::kExecutionError) << what;
    EXPECT_EQ(FilesIn(dir.path()), std::vector<std::string>{"in.txt"}) << what;
  }
}

TEST(Edgeseg, FourByFourIsTheSmallestImage) {
  test::ScratchDir dir;
  test::WriteFile(dir / "in.txt", ImageText(4, 4, [](int x, int y) { return x * y * 1000; }));
  const Outcome run = RunTool(dir, {dir / "in.txt", dir / "res"});
  EXPECT_EQ(test::ResultOf(run), test::kSucceeded);
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
  EXPECT_EQ(test::ResultOf(run), test::kSucceeded) << what;
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
