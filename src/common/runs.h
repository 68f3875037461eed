#pragma once
// Connected components of a raster found as runs: each row is taken as runs
// of samples that belong together, a run joins the runs of the row above
// that the operation says it touches, and a union-find over provisional
// labels keeps the groups. Used by the flood fill (runs of zeros, any
// touching run joins) and by the labelling (runs of one value, runs of the
// same value join). Every root of the union-find is the smallest label of
// its group, and the operations rest on that: the smallest label is the one
// given to the group's first run in scan order.
//
// A second scan that meets the same runs in the same order makes the same
// fresh-label decisions, so it can find every run's provisional label again
// without any having been stored. Both scans must therefore call
// RunRows::Label with the same reach and the same join test.
//
// Nothing here allocates: the caller owns the rows and the union-find table.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <utility>

namespace edgeseg {

// A run of one row: columns first to last, the value of its samples and the
// provisional label of its group.
struct Run {
  std::uint32_t first;
  std::uint32_t last;
  std::uint32_t label;
  std::uint16_t value;
};

// What RunRows::Label finds for a run.
struct RunLabel {
  std::uint32_t label;  // the joined run's label, or a fresh one
  const Run* joined;    // the run above that gave the label; nullptr when fresh
  const Run* others;    // the first run above that may still join the run
};

// The row above and the row being walked, each ended by a sentinel that
// lies past every column, so that every search stops at it without a bound
// check. Only the part of the rows in use is ever touched.
class RunRows {
 public:
  // storage holds 2 * rowCapacity runs; rowCapacity must exceed the most
  // runs a row can hold. Samples are counted row-major from row 0 of a
  // raster of the given width; the walk starts on row 0 with nothing above.
  RunRows(Run* storage, std::size_t rowCapacity, std::size_t width, std::uint32_t firstFresh)
      : above_(storage), current_(storage + rowCapacity), out_(current_), passed_(above_), width_(width),
        fresh_(firstFresh) {
    *above_ = kSentinel;
  }

  // The index of the first sample of the row being walked.
  std::size_t RowStart() const { return rowStart_; }

  // Moves on to the row that holds sample i, which lies in the row being
  // walked or a later one. A row that was skipped held no runs, so then
  // nothing is above.
  void MoveToSample(std::size_t i) {
    const std::size_t offset = i - rowStart_;
    if (offset < width_) return;
    *out_ = kSentinel;
    std::swap(above_, current_);
    if (offset < 2 * width_) {
      rowStart_ += width_;
    } else {
      rowStart_ = i - i % width_;
      *above_ = kSentinel;
    }
    out_ = current_;
    passed_ = above_;
  }

  // The fresh-label decision. The run takes the label of the first run
  // above that joins it (joins(aboveRun) is true) among those reaching into
  // columns first - 1 to reachEnd; when there is none, it takes the next
  // fresh label. Runs must come left to right within a row.
  template <class Joins>
  RunLabel Label(std::uint32_t first, std::uint32_t reachEnd, Joins joins) {
    // Runs above before passed_ end left of every later run's first - 1.
    while (passed_->last + 1 < first) ++passed_;
    for (const Run* a = passed_; a->first <= reachEnd; ++a) {
      if (joins(*a)) return {a->label, a, a + 1};
    }
    return {fresh_++, nullptr, passed_};
  }

  // Records the run, with the label it keeps, for the row below.
  void Record(const Run& run) { *out_++ = run; }

 private:
  static constexpr std::uint32_t kBeyond = std::numeric_limits<std::uint32_t>::max() - 1;
  static constexpr Run kSentinel{kBeyond, kBeyond, 0, 0};

  Run* above_;
  Run* current_;
  Run* out_;
  const Run* passed_;
  std::size_t width_;
  std::size_t rowStart_ = 0;
  std::uint32_t fresh_;
};

// Calls f(aboveRun) for each run above from `from` on that joins a run
// ending at column last, that is reaches into columns up to last + 1.
template <class Joins, class F>
void ForEachJoined(const Run* from, std::uint32_t last, Joins joins, F f) {
  for (const Run* a = from; a->first <= last + 1; ++a) {
    if (joins(*a)) f(*a);
  }
}

// Union-find over provisional labels: parent[j] is j's parent, always
// smaller than j, or j itself for a root. Bits in kMarks are an operation's
// own marks on a root and no part of a label.
template <std::uint32_t kMarks = 0>
std::uint32_t FindRoot(std::uint32_t* parent, std::uint32_t label) {
  constexpr std::uint32_t kLabel = ~kMarks;
  while ((parent[label] & kLabel) != label) {
    const std::uint32_t grandparent = parent[parent[label] & kLabel] & kLabel;
    parent[label] = grandparent;
    label = grandparent;
  }
  return label;
}

// Joins the groups of two different roots under the smaller, which takes
// the marks of the other; returns it.
template <std::uint32_t kMarks = 0>
std::uint32_t JoinRoots(std::uint32_t* parent, std::uint32_t a, std::uint32_t b) {
  const std::uint32_t low = std::min(a, b);
  const std::uint32_t high = std::max(a, b);
  parent[low] |= parent[high] & kMarks;
  parent[high] = low;
  return low;
}

// Points every label of [0, count) at its root, with the root's marks. In
// ascending order a parent is already resolved when its child reads it.
template <std::uint32_t kMarks = 0>
void ResolveRoots(std::uint32_t* parent, std::size_t count) {
  for (std::size_t j = 0; j < count; ++j) {
    const std::uint32_t up = parent[j] & ~kMarks;
    if (up != j) parent[j] = parent[up];
  }
}

}  // namespace edgeseg
