// The detection step of the example vision module: what moved between two frames.
#ifndef EKVISION_EXAMPLES_MOTIONDETECTION_H
#define EKVISION_EXAMPLES_MOTIONDETECTION_H

#include <cstdint>
#include <vector>

#include <ekvision/ekimage.h>

namespace ekexample {

/// What one frame showed.
struct Detection {
  long long timeStamp = -1;  ///< the frame's time stamp, microseconds
  bool found = false;        ///< some region changed
  int changedPixels = 0;     ///< pixels whose luma changed by more than the threshold
  /// Bounding box of the changed pixels, with its angular bounds in the image's convention
  /// (left and top positive, right and bottom negative). Meaningful only when `found`.
  EK::EKImage::ROI box{0, 0, 0, 0};
};

/// @brief Finds the region that changed since the previous frame, on the luma of YUV422
/// frames.
///
/// A pixel has changed when its luma differs from the previous frame's by more than the
/// threshold; the region is the bounding box of the changed pixels, kept only when at least
/// `minimumPixels` changed (isolated noise is ignored). The first frame, and a frame of
/// another size than the previous one, only primes the detector.
class MotionDetector {
 public:
  explicit MotionDetector(int threshold = 40, int minimumPixels = 16)
      : threshold_(threshold), minimumPixels_(minimumPixels) {}

  /// Compares @p image (YUV422) with the previous frame and remembers it for the next call.
  /// Returns no detection for an image that is not YUV422.
  Detection process(const EK::EKImage& image);

  /// Forgets the previous frame.
  void reset() { previous_.clear(); }

 private:
  int threshold_;
  int minimumPixels_;
  int width_ = 0;
  int height_ = 0;
  std::vector<std::uint8_t> previous_;  // luma of the previous frame
};

/// @brief The angular bounds of a box of pixels in an image whose edges are at the image's
/// four field-of-view angles, interpolated linearly across columns and rows.
EK::EKImage::ROI angularBox(const EK::EKImage& image, int x, int y, int w, int h);

}  // namespace ekexample

#endif  // EKVISION_EXAMPLES_MOTIONDETECTION_H
