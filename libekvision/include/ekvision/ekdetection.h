/// @file
/// EKDetection: one result of a vision module, and the array in which it crosses module
/// boundaries.
#ifndef EKVISION_EKDETECTION_H
#define EKVISION_EKDETECTION_H

#include <ekvalue/ekvalue.h>
#include <ekvision/ekvision_api.h>

namespace EK {

class EKImage;

/// @brief What a detector found in one frame: a box in pixels and in angles.
///
/// A vision module hands its results to clients as the twelve-element detection array
/// (toEKValue()); `ekvision run` prints every detection that a module's remote method
/// "getDetections" returns in this form. Elements, in order:
///
/// | # | kind  | meaning |
/// |---|-------|---------|
/// | 0 | int   | whole seconds of the frame's time stamp |
/// | 1 | int   | remaining microseconds (truncating division: both carry the stamp's sign) |
/// | 2 | bool  | something was found; elements 3 to 11 mean something only when true |
/// | 3 | int   | box left column, pixels |
/// | 4 | int   | box top row, pixels |
/// | 5 | int   | box width, pixels |
/// | 6 | int   | box height, pixels |
/// | 7 | float | left angle of the box, radians (positive to the left) |
/// | 8 | float | top angle, radians (positive to the top) |
/// | 9 | float | right angle, radians |
/// | 10 | float | bottom angle, radians |
/// | 11 | int  | pixels behind the detection (for a motion detector: the changed pixels) |
///
/// The time stamp is split as in the image array, so that it fits the value's 32-bit ints.
struct EKVISION_API EKDetection {
  long long timeStamp = -1;  ///< time stamp of the frame, microseconds; -1 when unknown
  bool found = false;        ///< something was found in the frame
  int x = 0;                 ///< box left column
  int y = 0;                 ///< box top row
  int w = 0;                 ///< box width
  int h = 0;                 ///< box height
  float leftAngle = 0.0f;    ///< angle of the box's left edge, radians
  float topAngle = 0.0f;     ///< angle of the box's top edge, radians
  float rightAngle = 0.0f;   ///< angle of the box's right edge, radians
  float bottomAngle = 0.0f;  ///< angle of the box's bottom edge, radians
  int pixelCount = 0;        ///< pixels behind the detection

  /// @brief A box found in @p image: the image's time stamp, the box, and the box's angles,
  /// interpolated linearly across columns and rows between the image's four field-of-view
  /// angles (its left edge is at `leftAngle`, its right edge at `rightAngle`).
  /// @param image the picture the box was found in
  /// @param x left column of the box, in pixels
  /// @param y top row of the box, in pixels
  /// @param w width of the box, in pixels
  /// @param h height of the box, in pixels
  /// @param pixelCount pixels behind the detection
  static EKDetection boxIn(const EKImage& image, int x, int y, int w, int h, int pixelCount);

  /// Number of elements of the detection array.
  static constexpr int kArraySize = 12;

  /// The detection as the twelve-element detection array.
  EKValue toEKValue() const;

  /// @brief Reads a detection array.
  /// @param value the array; extra elements after the twelfth are ignored
  /// @param detection receives the detection; unchanged when the value is refused
  /// @return false for a value that is not an array of at least twelve elements of the
  ///   kinds in the table (a float element also accepts an int)
  static bool fromEKValue(const EKValue& value, EKDetection& detection);
};

}  // namespace EK

#endif  // EKVISION_EKDETECTION_H
