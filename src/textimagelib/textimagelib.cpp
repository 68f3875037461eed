#include "textimagelib/textimagelib.h"

#include <stdexcept>

#include "fileio/fileio.h"

namespace {

bool IsDigit(char c) { return static_cast<unsigned char>(c - '0') < 10; }

}  // namespace

bool ScanTextImageSize(const std::string& name, std::int32_t& width, std::int32_t& height) {
  width = 0;
  height = 0;
  if (!IsExistingFile(name)) return false;
  const FileBytes file = ReadWholeFile(name);

  // The file is under 2 GiB, so no count below can pass 2^31 - 1.
  std::int32_t lineCount = 0;
  std::int32_t lineWidth = 0;
  std::int32_t lines = 0;
  bool inNumber = false;
  bool firstLine = true;
  const char* const data = file.data.get();
  for (std::size_t i = 0; i < file.size; ++i) {
    const char c = data[i];
    if (IsDigit(c)) {
      if (!inNumber) ++lineCount;
      inNumber = true;
      continue;
    }
    inNumber = false;
    if (c == '\n') {
      if (!firstLine && lineCount != lineWidth) return false;
      firstLine = false;
      lineWidth = lineCount;
      lineCount = 0;
      ++lines;
    } else if (c == '\0') {
      break;
    }
  }
  width = lineWidth;
  height = lines;
  return true;
}

bool ReadTextImage(const std::string& name, std::uint16_t* image, std::int32_t W, std::int32_t H) {
  const std::int64_t n = static_cast<std::int64_t>(W) * H;
  if (!IsExistingFile(name)) return false;
  const FileBytes file = ReadWholeFile(name);

  const char* pos = file.data.get();
  const char* const end = pos + file.size;
  std::int64_t k = 0;
  while (k < n) {
    while (pos != end && !IsDigit(*pos)) ++pos;
    if (pos == end) throw std::runtime_error("missing value");
    // Leading zeros count for nothing; any other run past 2147483647 is an
    // error however long it is, so the value is checked digit by digit.
    std::int64_t value = 0;
    for (; pos != end && IsDigit(*pos); ++pos) {
      value = value * 10 + (*pos - '0');
      if (value > 2147483647) throw std::runtime_error("value out of range");
    }
    image[k++] = static_cast<std::uint16_t>(value > 65535 ? 65535 : value);
    if (pos == end) break;
  }
  return k == n;
}
