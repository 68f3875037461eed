// The private extension behind the Python module edgeseg: numpy arrays in and
// out of the library's Segment and DrawPicture, and the command's own run.
// The public functions in edgeseg/__init__.py check the image's type, shape
// and size before calling here; this layer checks its values while it turns
// it into 16-bit samples, and holds the GIL only while it touches Python
// objects, so that threads segment different images side by side.

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <type_traits>

#include "common/limits.h"
#include "driver/driver.h"
#include "edgeseg/edgeseg.h"

namespace py = pybind11;
using namespace edgeseg;

namespace {

// The largest sample value a pixel may hold is the text reader's limit,
// kMaxTextValue, above which an image is refused rather than clamped.
constexpr std::int64_t kMaxValue = kMaxTextValue;

// An image as Segment takes it: either the caller's own samples, read in
// place, or a converted copy that owns them.
struct Samples {
  const std::uint16_t* rows = nullptr;
  std::ptrdiff_t rowStride = 0;
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::unique_ptr<std::uint16_t[]> copy;
};

template <typename T>
T LoadSample(const char* at, bool swapped) {
  std::array<char, sizeof(T)> bytes;
  std::memcpy(bytes.data(), at, sizeof(T));
  if (swapped) std::reverse(bytes.begin(), bytes.end());
  T value;
  std::memcpy(&value, bytes.data(), sizeof(T));
  return value;
}

// Copies an image of integers of type T, of any strides and byte order,
// into rows of 16-bit samples, checking each value in its own type first:
// a negative value or one above kMaxValue is refused, one above 65535 taken
// as 65535, as the command's reader does.
template <typename T>
void ConvertSamples(const char* data, std::ptrdiff_t rowStep, std::ptrdiff_t columnStep, bool swapped,
                    Samples& out) {
  for (std::int32_t y = 0; y < out.height; ++y) {
    const char* at = data + y * rowStep;
    std::uint16_t* row = out.copy.get() + static_cast<std::ptrdiff_t>(y) * out.width;
    for (std::int32_t x = 0; x < out.width; ++x, at += columnStep) {
      const T value = LoadSample<T>(at, swapped);
      if constexpr (std::is_signed_v<T>) {
        if (value < 0) {
          throw py::value_error("negative value " + std::to_string(value) + " at row " + std::to_string(y) +
                                ", column " + std::to_string(x));
        }
      }
      if (static_cast<std::uint64_t>(value) > static_cast<std::uint64_t>(kMaxValue)) {
        throw py::value_error("value " + std::to_string(value) + " above 2147483647 at row " + std::to_string(y) +
                              ", column " + std::to_string(x));
      }
      row[x] = static_cast<std::uint16_t>(std::min<std::uint64_t>(static_cast<std::uint64_t>(value), 65535));
    }
  }
}

// The samples of a 2-D integer array whose sides the Python layer has
// checked. A native, aligned uint16 array with 2-byte elements and rows an
// even, positive step of at least the row apart is read in place; any other
// is converted once, with the GIL released.
Samples SamplesOf(const py::array& image) {
  Samples samples;
  samples.height = static_cast<std::int32_t>(image.shape(0));
  samples.width = static_cast<std::int32_t>(image.shape(1));
  const py::dtype type = image.dtype();
  const bool native = type.attr("isnative").cast<bool>();
  const char kind = type.kind();
  const auto itemSize = type.itemsize();
  const auto* data = static_cast<const char*>(image.data());
  const std::ptrdiff_t rowStep = image.strides(0);
  const std::ptrdiff_t columnStep = image.strides(1);
  if (kind == 'u' && itemSize == 2 && native && reinterpret_cast<std::uintptr_t>(data) % 2 == 0 &&
      columnStep == 2 && rowStep > 0 && rowStep % 2 == 0 && rowStep / 2 >= samples.width) {
    samples.rows = reinterpret_cast<const std::uint16_t*>(data);
    samples.rowStride = rowStep / 2;
    return samples;
  }
  const auto pixels = static_cast<std::size_t>(samples.width) * static_cast<std::size_t>(samples.height);
  samples.copy = std::make_unique_for_overwrite<std::uint16_t[]>(pixels);
  const bool swapped = !native;
  {
    py::gil_scoped_release unlocked;
    switch (kind == 'i' ? -itemSize : itemSize) {
      case 1: ConvertSamples<std::uint8_t>(data, rowStep, columnStep, false, samples); break;
      case 2: ConvertSamples<std::uint16_t>(data, rowStep, columnStep, swapped, samples); break;
      case 4: ConvertSamples<std::uint32_t>(data, rowStep, columnStep, swapped, samples); break;
      case 8: ConvertSamples<std::uint64_t>(data, rowStep, columnStep, swapped, samples); break;
      case -1: ConvertSamples<std::int8_t>(data, rowStep, columnStep, false, samples); break;
      case -2: ConvertSamples<std::int16_t>(data, rowStep, columnStep, swapped, samples); break;
      case -4: ConvertSamples<std::int32_t>(data, rowStep, columnStep, swapped, samples); break;
      case -8: ConvertSamples<std::int64_t>(data, rowStep, columnStep, swapped, samples); break;
      default: throw py::type_error("not an array of 8- to 64-bit integers");
    }
  }
  samples.rows = samples.copy.get();
  samples.rowStride = samples.width;
  return samples;
}

py::dict StatsOf(const GradientStats& stats) {
  py::array_t<std::int32_t> histogram(kHistogramBins);
  std::copy(stats.histogram.begin(), stats.histogram.end(), histogram.mutable_data());
  py::dict fields;
  fields["min_value"] = stats.minValue;
  fields["max_value"] = stats.maxValue;
  fields["mean"] = stats.mean;
  fields["std_dev"] = stats.stdDev;
  fields["low_bin"] = stats.lowBin;
  fields["high_bin"] = stats.highBin;
  fields["peak_count"] = stats.peakCount;
  fields["peak_bin"] = stats.peakBin;
  fields["sample_count"] = stats.sampleCount;
  fields["histogram"] = histogram;
  return fields;
}

// Segments a checked image: the labels, the count of regions, the
// threshold, the statistics' fields and whether their variance rounded
// below zero.
py::tuple SegmentImage(const py::array& image) {
  const Samples samples = SamplesOf(image);
  py::array_t<std::uint16_t> labels({samples.height, samples.width});
  std::uint16_t* out = labels.mutable_data();
  Result result;
  {
    py::gil_scoped_release unlocked;
    result = Segment(samples.rows, samples.width, samples.height, samples.rowStride, out);
  }
  return py::make_tuple(labels, result.regions, result.threshold, StatsOf(result.statistics),
                        result.varianceBelowZero);
}

// Draws the three pictures of a checked image from its C-ordered uint16
// labels and the gradient's window, (min_value, max_value) of its
// statistics.
py::tuple DrawPictures(const py::array& image, const py::array_t<std::uint16_t, py::array::c_style>& labels,
                       float minValue, float maxValue) {
  const Samples samples = SamplesOf(image);
  const std::int32_t W = samples.width;
  const std::int32_t H = samples.height;
  Result result{};
  result.statistics.minValue = minValue;
  result.statistics.maxValue = maxValue;
  py::array_t<std::uint8_t> input({H, W, 3});
  py::array_t<std::uint8_t> regions({H, W, 3});
  py::array_t<std::uint8_t> gradient({H - 1, W - 1, 3});
  const std::uint16_t* labelData = labels.data();
  std::uint8_t* in = input.mutable_data();
  std::uint8_t* reg = regions.mutable_data();
  std::uint8_t* grad = gradient.mutable_data();
  {
    py::gil_scoped_release unlocked;
    DrawPicture(Picture::Input, samples.rows, W, H, samples.rowStride, labelData, result, in);
    DrawPicture(Picture::Regions, samples.rows, W, H, samples.rowStride, labelData, result, reg);
    DrawPicture(Picture::Gradient, samples.rows, W, H, samples.rowStride, labelData, result, grad);
  }
  return py::make_tuple(input, regions, gradient);
}

// The command's run on two names, given as the file system's bytes: its
// exit status (0, -1 or -2) and its message.
py::tuple RunCommand(const std::string& input, const std::string& outbase) {
  RunOutcome outcome;
  {
    py::gil_scoped_release unlocked;
    outcome = RunSegmentationQuietly(input, outbase, false);
  }
  return py::make_tuple(outcome.status, outcome.message);
}

}  // namespace

PYBIND11_MODULE(_edgeseg, m) {
  m.doc() = "The compiled part of edgeseg; use the functions of the edgeseg package.";
  m.attr("__version__") = EDGESEG_VERSION;
  m.attr("MAX_PIXELS") = kMaxImagePixels;  // for the checks of edgeseg/__init__.py
  py::register_exception<Error>(m, "LibraryError", PyExc_RuntimeError);
  m.def("segment", &SegmentImage, py::arg("image").noconvert());
  m.def("pictures", &DrawPictures, py::arg("image").noconvert(), py::arg("labels").noconvert(),
        py::arg("min_value"), py::arg("max_value"));
  m.def("run", &RunCommand, py::arg("input"), py::arg("outbase"));
}
