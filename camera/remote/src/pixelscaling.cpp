#include "pixelscaling.h"

#include <cstring>

namespace EK {
namespace remote {

namespace {

// Bytes a pixel: two for YUV422 (layers 0), else one a layer.
std::size_t bytesPerPixel(int layers) {
  return layers == 0 ? 2 : static_cast<std::size_t>(layers);
}

}  // namespace

std::size_t scaledPixelBytes(int width, int height, int layers) {
  return static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * bytesPerPixel(layers);
}

void scalePixels(const std::uint8_t* source, int width, int height, int toWidth, int toHeight,
                 int layers, std::uint8_t* out) {
  const std::size_t rowBytes = static_cast<std::size_t>(width) * 2;
  if (layers == 0 && toWidth == width && toHeight == height) {
    std::memcpy(out, source, rowBytes * static_cast<std::size_t>(height));
    return;
  }
  const std::size_t pixelBytes = bytesPerPixel(layers);
  for (int y = 0; y < toHeight; ++y) {
    const std::uint8_t* row =
        source + rowBytes * static_cast<std::size_t>(static_cast<long long>(y) * height / toHeight);
    if (layers == 0) {
      for (int x = 0; x < toWidth; x += 2) {
        const long long pair = static_cast<long long>(x) * width / toWidth / 2;
        std::memcpy(out, row + 4 * pair, 4);
        out += 4;
      }
    } else {
      for (int x = 0; x < toWidth; ++x) {
        const long long column = static_cast<long long>(x) * width / toWidth;
        std::memset(out, row[2 * column], pixelBytes);
        out += pixelBytes;
      }
    }
  }
}

}  // namespace remote
}  // namespace EK
