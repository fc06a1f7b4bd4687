// A contact sheet: a few frames of a run in a grid, with the boxes detected in them.
#ifndef EKVISION_TOOLS_CONTACTSHEET_H
#define EKVISION_TOOLS_CONTACTSHEET_H

#include <ekvalue/ekvalue.h>
#include <ekvision/ekdetection.h>

#include <opencv2/core.hpp>

#include <cstddef>
#include <mutex>
#include <string>
#include <vector>

#include "detectionlog.h"

namespace ekhost {

/// A frame kept for the sheet: its number in the run and its image array.
struct SampledFrame {
  long long index;
  EK::EKValue image;
};

/// @brief Keeps frames spread evenly over a run of unknown length, in bounded memory.
///
/// Every frame whose number is a multiple of the stride is kept; when more than twice the
/// wanted count are kept, every other one is dropped and the stride doubles. Safe from any
/// thread.
class FrameSampler {
 public:
  explicit FrameSampler(std::size_t wanted);

  /// Offers the next frame of the run; copies it when it is kept.
  void offer(const EK::EKValue& image);
  /// The frames kept, in order.
  std::vector<SampledFrame> frames() const;

 private:
  std::size_t wanted_;
  mutable std::mutex mutex_;
  long long next_ = 0;
  long long stride_ = 1;
  std::vector<SampledFrame> kept_;
};

/// @brief Picks @p count of @p frames, spread evenly, preferring those with a detection.
std::vector<SampledFrame> pickForSheet(const std::vector<SampledFrame>& frames,
                                       const DetectionsByStamp& detections, std::size_t count);

/// @brief Draws, as green 2-pixel rectangles on the BGR @p picture, the boxes detected in
/// the frame stamped @p stamp (exactly that stamp), their coordinates multiplied by @p scale.
/// @return whether a box was drawn
bool drawDetections(cv::Mat& picture, const DetectionsByStamp& detections, long long stamp,
                    double scale = 1.0);

/// @brief Writes @p frames as a PNG grid of @p columns, each tile labelled with its time
/// since @p firstStamp and with the boxes detected at its time stamp drawn in green.
/// @throws HostError when a frame cannot be shown (color space) or the file written
void writeContactSheet(const std::vector<SampledFrame>& frames, const DetectionsByStamp& detections,
                       long long firstStamp, int columns, const std::string& path);

}  // namespace ekhost

#endif  // EKVISION_TOOLS_CONTACTSHEET_H
