// Received pictures at the size and color space a subscriber asks for.
#ifndef EKVIDEODEVICE_REMOTE_PIXELSCALING_H
#define EKVIDEODEVICE_REMOTE_PIXELSCALING_H

#include <cstddef>
#include <cstdint>

namespace EK {
namespace remote {

/// @brief Writes the packed YUV422 picture @p source (@p width x @p height, width even) at
/// @p toWidth x @p toHeight into @p out, each output pair taken from the nearest source pair:
/// a stopgap until the server sends the size asked for, not a resampler. With @p layers 0 the
/// result is YUV422 (toWidth even); otherwise each pixel's luma repeated in @p layers bytes.
/// At the same size a YUV422 result is the source's bytes. @p out holds
/// scaledPixelBytes(toWidth, toHeight, layers) bytes.
void scalePixels(const std::uint8_t* source, int width, int height, int toWidth, int toHeight,
                 int layers, std::uint8_t* out);

/// Bytes of a picture of @p width x @p height with @p layers as scalePixels takes them.
std::size_t scaledPixelBytes(int width, int height, int layers);

}  // namespace remote
}  // namespace EK

#endif  // EKVIDEODEVICE_REMOTE_PIXELSCALING_H
