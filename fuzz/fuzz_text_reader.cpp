// Fuzzes the text image reader on arbitrary bytes. The size scan and the
// value reader must agree with a plain model of the format, stay inside the
// file's bytes and the image, and fail only by throwing std::runtime_error
// where a value does not convert or runs out. An image read in full is
// written back with the text writer and must read back the same.

#include <algorithm>
#include <cstdint>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "fuzz_support.h"
#include "textimagelib/textimagelib.h"
#include "textroilib/textroilib.h"

using namespace edgeseg;

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The runs of digits in text, in order.
std::vector<std::string_view> Numbers(std::string_view text) {
  std::vector<std::string_view> numbers;
  std::size_t i = 0;
  while (i < text.size()) {
    if (!IsDigit(text[i])) {
      ++i;
      continue;
    }
    const std::size_t start = i;
    while (i < text.size() && IsDigit(text[i])) ++i;
    numbers.push_back(text.substr(start, i - start));
  }
  return numbers;
}

// The sample a run of digits gives: its value clamped to 65535, or -1 when
// the value is above 2147483647 and does not convert.
std::int64_t SampleOf(std::string_view digits) {
  digits.remove_prefix(std::min(digits.find_first_not_of('0'), digits.size()));
  if (digits.size() > 10 || (digits.size() == 10 && digits > "2147483647")) return -1;
  std::int64_t value = 0;
  for (const char c : digits) value = value * 10 + (c - '0');
  return std::min<std::int64_t>(value, 65535);
}

struct Size {
  bool accepted;
  std::int32_t width;
  std::int32_t height;
};

// The image is the lines ended by a line feed before the first NUL byte;
// every one of them must hold the same count of numbers.
Size SizeOf(std::string_view bytes) {
  const std::string_view text = bytes.substr(0, bytes.find('\0'));
  std::vector<std::size_t> counts;
  for (std::size_t start = 0, end = 0; (end = text.find('\n', start)) != std::string_view::npos; start = end + 1) {
    counts.push_back(Numbers(text.substr(start, end - start)).size());
  }
  const bool equal = std::all_of(counts.begin(), counts.end(), [&](std::size_t c) { return c == counts[0]; });
  if (!equal) return {false, 0, 0};
  return {true, counts.empty() ? 0 : static_cast<std::int32_t>(counts[0]), static_cast<std::int32_t>(counts.size())};
}

// Reads W*H samples and checks them against the numbers of the text read
// from the file, which ends at its first NUL byte: the first W*H in order,
// line feeds being mere separators. When the numbers run out, a text that
// ends in a digit gives false and leaves the rest of the image untouched;
// one that ends in a separator throws.
void CheckRead(const fuzz::ScratchFile& file, std::string_view bytes,
               const std::vector<std::string_view>& numbers, std::int32_t W, std::int32_t H) {
  constexpr std::uint16_t kUntouched = 0xBEEF;
  const std::size_t n = static_cast<std::size_t>(W) * static_cast<std::size_t>(H);
  const std::size_t stored = std::min(n, numbers.size());
  const bool tooLarge = std::any_of(numbers.begin(), numbers.begin() + static_cast<std::ptrdiff_t>(stored),
                                    [](std::string_view number) { return SampleOf(number) < 0; });
  const bool endsInDigit = !bytes.empty() && IsDigit(bytes.back());
  const bool shouldThrow = tooLarge || (numbers.size() < n && !endsInDigit);

  std::vector<std::uint16_t> image(n, kUntouched);
  bool complete = false;
  bool threw = false;
  try {
    complete = ReadTextImage(file.Name(), image.data(), W, H);
  } catch (const std::runtime_error&) {
    threw = true;
  }
  FUZZ_CHECK(threw == shouldThrow);
  if (threw) return;  // what was stored before the error is not promised
  FUZZ_CHECK(complete == (numbers.size() >= n));
  for (std::size_t k = 0; k < n; ++k) {
    FUZZ_CHECK(image[k] == (k < stored ? SampleOf(numbers[k]) : kUntouched));
  }
}

// An image the reader took in full, written by the text writer, must scan
// to the same size and read back to the same samples.
void CheckWriteBack(const fuzz::ScratchFile& file, std::int32_t W, std::int32_t H) {
  static const fuzz::ScratchFile copy("text_writer");
  const std::size_t n = static_cast<std::size_t>(W) * static_cast<std::size_t>(H);
  std::vector<std::uint16_t> image(n);
  try {
    if (!ReadTextImage(file.Name(), image.data(), W, H)) return;
  } catch (const std::runtime_error&) {
    return;
  }
  FUZZ_CHECK(WriteTextImage(copy.Name(), image.data(), W, H) == 0);
  std::int32_t readW = -1;
  std::int32_t readH = -1;
  FUZZ_CHECK(ScanTextImageSize(copy.Name(), readW, readH));
  FUZZ_CHECK(readW == W && readH == H);
  std::vector<std::uint16_t> again(n);
  FUZZ_CHECK(ReadTextImage(copy.Name(), again.data(), W, H));
  FUZZ_CHECK(again == image);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const fuzz::ScratchFile file("text_reader");
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  file.Write(bytes);

  const Size expected = SizeOf(bytes);
  std::int32_t W = -1;
  std::int32_t H = -1;
  const bool accepted = ScanTextImageSize(file.Name(), W, H);
  FUZZ_CHECK(accepted == expected.accepted);
  FUZZ_CHECK(W == expected.width);
  FUZZ_CHECK(H == expected.height);

  const std::string_view read = bytes.substr(0, bytes.find('\0'));
  const std::vector<std::string_view> numbers = Numbers(read);
  // As the driver reads an accepted file, then asking for more than is there.
  if (std::int64_t{W} * H > 0) {
    CheckRead(file, read, numbers, W, H);
    CheckWriteBack(file, W, H);
  }
  CheckRead(file, read, numbers, static_cast<std::int32_t>(numbers.size() + 1), 1);
  return 0;
}
