// Received pictures at the size and color space a subscriber asks for.
#ifndef EKVIDEODEVICE_REMOTE_PIXELSCALING_H
#define EKVIDEODEVICE_REMOTE_PIXELSCALING_H

#include <cstdint>
#include <vector>

namespace EK {
namespace remote {

/// @brief The packed YUV422 picture @p source (@p width x @p height, width even) at
/// @p toWidth x @p toHeight, each output pair taken from the nearest source pair: a stopgap
/// until the server sends the size asked for, not a resampler. With @p layers 0 the result
/// is YUV422 (toWidth even); otherwise each pixel's luma repeated in @p layers bytes. At the
/// same size a YUV422 result is the source's bytes.
std::vector<std::uint8_t> scaledPixels(const std::uint8_t* source, int width, int height,
                                       int toWidth, int toHeight, int layers);

}  // namespace remote
}  // namespace EK

#endif  // EKVIDEODEVICE_REMOTE_PIXELSCALING_H
