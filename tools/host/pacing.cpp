#include "pacing.h"

#include <algorithm>
#include <cmath>

namespace ekhost {

PacingReport measurePacing(const std::vector<FrameTiming>& timings, int requestedRate) {
  PacingReport report;
  report.frames = timings.size();
  report.requestedPeriodMs = requestedRate > 0 ? 1000.0 / requestedRate : 0.0;
  if (timings.size() < 2) {
    return report;
  }
  const std::chrono::duration<double> span = timings.back().fetched - timings.front().fetched;
  report.seconds = span.count();
  report.rate = report.seconds > 0 ? static_cast<double>(timings.size() - 1) / report.seconds : 0;
  std::vector<double> deviations;
  const double stampPeriodUs = report.requestedPeriodMs * 1000.0;
  for (std::size_t i = 1; i < timings.size(); ++i) {
    const std::chrono::duration<double, std::milli> period =
        timings[i].fetched - timings[i - 1].fetched;
    deviations.push_back(std::fabs(period.count() - report.requestedPeriodMs));
    const long long step = timings[i].timeStamp - timings[i - 1].timeStamp;
    if (step == 0) {
      ++report.repeated;
    } else if (stampPeriodUs > 0) {
      const long long periods = std::llround(static_cast<double>(step) / stampPeriodUs);
      report.skipped += periods > 1 ? static_cast<std::size_t>(periods - 1) : 0;
    }
  }
  double sum = 0;
  for (double deviation : deviations) {
    sum += deviation;
  }
  report.meanDeviationMs = sum / static_cast<double>(deviations.size());
  std::sort(deviations.begin(), deviations.end());
  const std::size_t rank = static_cast<std::size_t>(std::ceil(0.99 * deviations.size()));
  report.p99DeviationMs = deviations[std::max<std::size_t>(rank, 1) - 1];
  report.maxDeviationMs = deviations.back();
  return report;
}

}  // namespace ekhost
