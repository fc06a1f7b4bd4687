// The detection step of the example vision module: what moved between two frames.
#ifndef EKVISION_MODULES_MOTIONDETECTION_H
#define EKVISION_MODULES_MOTIONDETECTION_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include <ekvision/ekimage.h>

namespace ekmotion {

/// One moving object: a connected region of changed pixels.
struct MovingObject {
  int changedPixels = 0;  ///< changed pixels of the region
  /// Bounding box of the region, with its angular bounds in the image's convention (left and
  /// top positive, right and bottom negative).
  EK::EKImage::ROI box{0, 0, 0, 0};
};

/// What one frame showed.
struct Detection {
  long long timeStamp = -1;  ///< the frame's time stamp, microseconds
  bool found = false;        ///< at least one moving object
  int changedPixels = 0;     ///< pixels whose luma changed by more than the threshold
  /// The moving objects, the largest (most changed pixels) first.
  std::vector<MovingObject> objects;
};

/// @brief Finds what moved between two frames, on the luma of YUV422 frames, one box per
/// moving object.
///
/// A pixel has changed when its luma differs from the previous frame's by more than the
/// threshold. Each connected region of changed pixels (8-neighbourhood: pixels touching by
/// an edge or a corner belong together) is one object, reported by its bounding box; a
/// region of fewer than `minimumPixels` pixels is noise and dropped, and of the rest only
/// the `maximumObjects` largest are kept. A uniform object moving by less than its own size
/// shows as the region it left joined to the region it entered (they touch at the corners),
/// so its box spans where it was and where it is. One moving exactly along a row leaves
/// two strips apart, the one it left and the one it entered, with the same rows and the
/// same width: such a pair (to a pixel) is joined into one object before small regions are
/// dropped, and likewise for a move along a column (same columns, same height). Pairs are
/// looked for only in frames of at most kMaxRegionsPaired regions. The first frame, and a
/// frame of another size than the previous one, only primes the detector.
class MotionDetector {
 public:
  /// Regions below this many changed pixels are dropped unless the constructor says
  /// otherwise.
  static constexpr int kDefaultMinimumPixels = 16;
  /// Objects reported per frame unless the constructor says otherwise.
  static constexpr int kDefaultMaximumObjects = 32;
  /// Frames with more regions than this are noise: their regions are not paired.
  static constexpr std::size_t kMaxRegionsPaired = 256;

  /// @param threshold luma difference above which a pixel has changed
  /// @param minimumPixels smallest region reported, in changed pixels
  /// @param maximumObjects most objects reported per frame (the largest)
  explicit MotionDetector(int threshold = 40, int minimumPixels = kDefaultMinimumPixels,
                          int maximumObjects = kDefaultMaximumObjects)
      : threshold_(threshold), minimumPixels_(minimumPixels), maximumObjects_(maximumObjects) {}

  /// Compares @p image (YUV422) with the previous frame and remembers it for the next call.
  /// Returns no detection for an image that is not YUV422.
  Detection process(const EK::EKImage& image);

  /// Forgets the previous frame.
  void reset() { previous_.clear(); }

 private:
  void collectObjects(const EK::EKImage& image, Detection& detection);

  int threshold_;
  int minimumPixels_;
  int maximumObjects_;
  int width_ = 0;
  int height_ = 0;
  std::vector<std::uint8_t> previous_;  // luma of the previous frame
  std::vector<std::uint8_t> changed_;   // 1 where the luma changed, 0 elsewhere
  std::vector<int> pending_;            // pixels of the region being filled
};

/// @brief The angular bounds of a box of pixels in an image whose edges are at the image's
/// four field-of-view angles, interpolated linearly across columns and rows.
EK::EKImage::ROI angularBox(const EK::EKImage& image, int x, int y, int w, int h);

}  // namespace ekmotion

#endif  // EKVISION_MODULES_MOTIONDETECTION_H
