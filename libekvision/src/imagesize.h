// Internal: byte counts of pictures, computed without overflow.
#ifndef EKVISION_SRC_IMAGESIZE_H
#define EKVISION_SRC_IMAGESIZE_H

#include <climits>
#include <cstdint>

namespace EK {
namespace detail {

/// @brief width x height x layers in @p bytes; false when a factor is negative or the
/// product does not fit an int.
inline bool pictureByteCount(long long width, long long height, long long layers, int& bytes) {
  if (width < 0 || height < 0 || layers < 0) {
    return false;
  }
  // Each factor is at most INT_MAX, so two of them fit 63 bits; check before the third.
  const long long area = width * height;
  if (area > INT_MAX || (layers != 0 && area > INT_MAX / layers)) {
    return false;
  }
  bytes = static_cast<int>(area * layers);
  return true;
}

}  // namespace detail
}  // namespace EK

#endif  // EKVISION_SRC_IMAGESIZE_H
