/// @file
/// Resolution and color-space codes, and the functions that translate them.
///
/// An image size is named by a small integer, the resolution code, and a pixel format by
/// another, the color-space code. Both travel as plain ints: in images, in image values,
/// in `.ari` and `.arv` files and in a vision module's camera settings.
#ifndef EKVISION_EKVISIONDEFINITIONS_H
#define EKVISION_EKVISIONDEFINITIONS_H

#include <ekvision/ekvision_api.h>

namespace EK {

/// @name Resolution codes
/// A higher code always means more pixels: buffers grow by comparing codes.
/// @{
const int kResolution160x120 = 0;   ///< 160 x 120 pixels
const int kResolution320x240 = 1;   ///< 320 x 240 pixels
const int kResolution640x480 = 2;   ///< 640 x 480 pixels
const int kResolution1280x960 = 3;  ///< 1280 x 960 pixels
/// @}

/// @name Color-space codes
/// Codes 0 to 18 are valid; each has a fixed layer count (bytes a pixel). The library reads
/// and writes the pixels of code 9 only; other codes are handled by their layer counts.
/// @{
const int kColorSpaceYUV422 = 9;  ///< packed YUV 4:2:2: Y0 U Y1 V for each pair of pixels
const int kColorSpaceCount = 19;  ///< number of valid codes, 0 to 18
/// @}

/// True for the resolution codes 0 to 3; false for any other value, negative ones included.
EKVISION_API bool isResolutionValid(int resolution);

/// @brief Writes the width and height of a resolution code.
///
/// For a value that is not a resolution code both are set to -1.
EKVISION_API void setSizeFromResolution(int resolution, int& width, int& height);

/// @brief The resolution code of a size, or -1 when no code has exactly this width and height.
EKVISION_API int getResolutionFromSize(int width, int height);

/// True for the color-space codes 0 to 18.
EKVISION_API bool isColorSpaceValid(int colorSpace);

/// @brief Number of layers (bytes a pixel) of a color space, or -1 for an invalid code.
EKVISION_API int getNumLayersInColorSpace(int colorSpace);

}  // namespace EK

#endif  // EKVISION_EKVISIONDEFINITIONS_H
