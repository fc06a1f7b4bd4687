// How evenly a run's frames followed one another.
#ifndef EKVISION_TOOLS_PACING_H
#define EKVISION_TOOLS_PACING_H

#include <cstddef>
#include <vector>

#include "observedsource.h"

namespace ekhost {

/// The pace of a run, measured from when its frames were fetched and their time stamps.
struct PacingReport {
  std::size_t frames = 0;        ///< frames measured
  double seconds = 0;            ///< from the first fetch to the last
  double rate = 0;               ///< frames per second achieved (0 with fewer than 2 frames)
  double requestedPeriodMs = 0;  ///< 1000 / the frame rate asked
  double meanDeviationMs = 0;    ///< mean of |period - requested period| over the fetches
  double p99DeviationMs = 0;     ///< 99th percentile of the same
  double maxDeviationMs = 0;     ///< largest of the same
  std::size_t repeated = 0;      ///< frames with the same time stamp as the one before
  std::size_t skipped = 0;       ///< camera frames that fell between two fetched ones
};

/// @brief Measures @p timings (in fetch order) against @p requestedRate frames per second.
///
/// Periods are those between consecutive fetches, on the host's steady clock. The camera's
/// time stamps lie on its own frame grid: a step of zero is a repeated frame, a step of n
/// periods (n > 1, rounded) skipped n - 1 frames.
PacingReport measurePacing(const std::vector<FrameTiming>& timings, int requestedRate);

}  // namespace ekhost

#endif  // EKVISION_TOOLS_PACING_H
