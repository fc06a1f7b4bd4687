/// @file
/// The image array: the twelve-element EKValue in which an image crosses module
/// boundaries (the camera module returns every picture in this form).
///
/// The positions below are a wire format shared with the camera module and every module
/// that exchanges images; EKImage::toEKValue and EKImage::fromEKValue convert whole images,
/// and the helpers here serve parties that build or read an array without an EKImage.
#ifndef EKVISION_EKIMAGEVALUE_H
#define EKVISION_EKIMAGEVALUE_H

#include <memory>
#include <vector>

#include <ekvalue/ekvalue.h>
#include <ekvision/ekvision_api.h>

namespace EK {

/// @name Element positions in the image array
/// @{
const int kImageArrayWidth = 0;         ///< int: width in pixels
const int kImageArrayHeight = 1;        ///< int: height in pixels
const int kImageArrayLayers = 2;        ///< int: bytes a pixel (readers take the color space's)
const int kImageArrayColorSpace = 3;    ///< int: color-space code
const int kImageArraySeconds = 4;       ///< int: time stamp, whole seconds (toward zero)
const int kImageArrayMicroseconds = 5;  ///< int: time stamp, the remaining microseconds
const int kImageArrayPixels = 6;        ///< byte block: width x height x layers bytes
const int kImageArrayCamera = 7;        ///< int: camera index
const int kImageArrayLeftAngle = 8;     ///< float: left angle (radians, positive to the left)
const int kImageArrayTopAngle = 9;      ///< float: top angle (positive to the top)
const int kImageArrayRightAngle = 10;   ///< float: right angle
const int kImageArrayBottomAngle = 11;  ///< float: bottom angle
/// Elements of an image array; readers accept longer arrays and ignore the rest.
const int kImageArraySize = 12;
/// @}

/// @brief An image array whose pixel block takes over @p pixels without copying them.
///
/// The layer count is that of @p colorSpace; the time stamp (microseconds, -1 when unset)
/// is split into whole seconds and remaining microseconds, both keeping its sign, so that
/// -1 travels as 0 and -1. The pixels are not checked against the size: the block holds
/// what was given.
/// @param width width in pixels
/// @param height height in pixels
/// @param colorSpace color-space code
/// @param timeStamp microseconds since the epoch, -1 when unset
/// @param cameraId camera index; the array carries it as an EKImage holds it, in one byte
/// @param leftAngle left angle of the field of view, radians
/// @param topAngle top angle, radians
/// @param rightAngle right angle, radians
/// @param bottomAngle bottom angle, radians
/// @param pixels the picture's bytes, moved into the array
/// @return the twelve-element array
/// @throws std::invalid_argument as EKImage's size constructor does: "EKImage: invalid
///   colorspace", "EKImage: invalid size", "EKImage: image too large"
EKVISION_API EKValue makeImageArray(int width, int height, int colorSpace, long long timeStamp,
                                    int cameraId, float leftAngle, float topAngle, float rightAngle,
                                    float bottomAngle, std::vector<unsigned char>&& pixels);

/// @brief An image array whose pixel block shares the first @p byteCount bytes of @p pixels.
///
/// As the overload above, but the block keeps a share of a buffer its owner hands out (a
/// camera's frame buffer) instead of holding bytes of its own: no pixel is copied, and the
/// owner gets the buffer back once the array and every value moved from it are gone.
/// @throws std::invalid_argument as the overload above; EKError for a negative
///   @p byteCount or a null buffer with bytes
EKVISION_API EKValue makeImageArray(int width, int height, int colorSpace, long long timeStamp,
                                    int cameraId, float leftAngle, float topAngle, float rightAngle,
                                    float bottomAngle, std::shared_ptr<unsigned char> pixels,
                                    int byteCount);

/// @brief The time stamp of the image array @p image, in microseconds, rebuilt in 64 bits
/// from its seconds and microseconds elements.
///
/// @return the time stamp; -1 (no time stamp) when @p image is not an array that reaches
///   the microseconds element
/// @throws EKError (module "EKValue") when one of the two elements is not an int
EKVISION_API long long imageArrayTimeStamp(const EKValue& image);

}  // namespace EK

#endif  // EKVISION_EKIMAGEVALUE_H
