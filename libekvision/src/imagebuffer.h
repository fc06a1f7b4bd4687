// Internal: reshaping an image's buffer for a picture read or converted into it.
#ifndef EKVISION_SRC_IMAGEBUFFER_H
#define EKVISION_SRC_IMAGEBUFFER_H

#include <cstddef>

#include <ekvision/ekimage.h>

namespace EK {
namespace detail {

/// True when @p image already has a picture of this shape and a buffer of at least @p bytes,
/// so the picture can be written into it as it is.
inline bool holdsPictureOfShape(const EKImage& image, int width, int height, int layers,
                                int bytes) {
  const bool sameShape = image.width == width && image.height == height && image.nbLayers == layers;
  const bool bufferFits = bytes == 0 || (image.frame != nullptr && image.allocatedSize >= bytes);
  return sameShape && bufferFits;
}

/// @brief Gives an image that owns its buffer a new one of @p bytes bytes (contents
/// undefined) and sets its size and allocation fields as the constructors set them.
///
/// The new buffer is allocated before the old one is released, so an allocation failure
/// leaves the image as it was.
inline void replaceOwnedBuffer(EKImage& image, int width, int height, int layers, int bytes) {
  unsigned char* replacement = new unsigned char[static_cast<std::size_t>(bytes)];
  delete[] image.frame;
  image.frame = replacement;
  image.width = width;
  image.height = height;
  image.nbLayers = layers;
  image.allocatedSize = bytes;
  image.allocatedResolution = getResolutionFromSize(width, height);
  image.allocatedNbLayers = layers;
}

}  // namespace detail
}  // namespace EK

#endif  // EKVISION_SRC_IMAGEBUFFER_H
