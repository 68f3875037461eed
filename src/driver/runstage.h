#pragma once
// The parts of a run, which the progress line names and the analysis
// chain's steps are counted in. Apart from progress.h, so that what walks
// the chain (the fuzz target, the library) does not depend on the line.

namespace edgeseg {

// The parts of a run, in order, as the line names them; kCount is how many
// there are, not a part.
enum class RunStage { kReading, kGradient, kClosing, kLabelling, kWritingLabels, kWritingPictures, kCount };

}  // namespace edgeseg
