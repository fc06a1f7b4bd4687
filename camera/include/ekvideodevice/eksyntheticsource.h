/// @file
/// A moving test scene whose ground truth is known for every instant.
#ifndef EKVIDEODEVICE_EKSYNTHETICSOURCE_H
#define EKVIDEODEVICE_EKSYNTHETICSOURCE_H

#include <mutex>
#include <vector>

#include <ekvideodevice/ekframesource.h>

namespace EK {

/// @brief The bright rectangle of the scene, in fractions of the picture's width and height.
struct EKSceneObject {
  double centerX;  ///< 0 is the left edge, 1 the right edge
  double centerY;  ///< 0 is the top edge, 1 the bottom edge
  double width;    ///< fraction of the picture's width
  double height;   ///< fraction of the picture's height
};

/// @brief A rectangle in pixels: left, top, width, height.
struct EKPixelRect {
  int x;  ///< left column
  int y;  ///< top row
  int w;  ///< width
  int h;  ///< height
};

/// @brief A bright rectangle (luma 235) moving over a textured dark background (luma 16
/// to 59).
///
/// The rectangle's centre follows a Lissajous path, x with a period of 4 s and y of 3 s,
/// measured from the source's epoch; objectAt() tells where it is at any time stamp, so a
/// detector's results can be checked against the pictures' time stamps. YUV422 pictures
/// carry neutral chroma (128); every other color space gets the luma in each of its layers.
class EKVIDEODEVICE_API EKSyntheticSource : public EKFrameSource {
 public:
  /// @param epoch time stamp, in microseconds, at which the path starts; -1 for now
  explicit EKSyntheticSource(long long epoch = -1);

  /// Renders the scene at the request's time stamp, size and color space.
  EKValue grab(const EKFrameRequest& request) override;

  /// Where the rectangle is at @p timeStamp (microseconds of the wall clock).
  EKSceneObject objectAt(long long timeStamp) const;
  /// The rectangle of @p object in a picture of @p width by @p height pixels.
  static EKPixelRect toPixels(const EKSceneObject& object, int width, int height);
  /// The source's epoch, in microseconds.
  long long getEpoch() const noexcept { return epoch_; }

  static constexpr unsigned char kObjectLuma = 235;        ///< luma of the rectangle
  static constexpr unsigned char kMaxBackgroundLuma = 59;  ///< brightest background luma

 private:
  // The background of the last size and color space rendered, reused while they stay.
  struct Background {
    int width = -1;
    int height = -1;
    int colorSpace = -1;
    std::vector<unsigned char> pixels;
  };

  // Copies the background of that size and color space into @p pixels.
  void paintBackground(unsigned char* pixels, int width, int height, int colorSpace, int layers);

  long long epoch_;
  std::mutex cacheMutex_;
  Background cache_;
};

}  // namespace EK

#endif  // EKVIDEODEVICE_EKSYNTHETICSOURCE_H
