// Checks of the arguments the binding is given (numpy arrays, integers), and arrays of
// pictures it hands out.
#ifndef EKVISION_PYTHON_PYARRAYS_H
#define EKVISION_PYTHON_PYARRAYS_H

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace ekpy {

/// A picture's shape: height, width and bytes a pixel.
struct PictureShape {
  long long height = 0;
  long long width = 0;
  long long layers = 0;
  /// height x width x layers
  std::size_t bytes() const {
    return static_cast<std::size_t>(height) * static_cast<std::size_t>(width) *
           static_cast<std::size_t>(layers);
  }
};

/// @brief The array behind @p object, which must be a C-contiguous numpy array of uint8.
///
/// Raises TypeError for anything that is not a numpy array of uint8, and ValueError for an
/// array whose rows or pixels are not packed (a slice with a step, a transposed view), or
/// that must be written and is read-only. @p what names the argument in the messages.
pybind11::array packedBytes(const pybind11::handle& object, const char* what, bool writable);

/// @brief The picture shape of @p array: (H, W) is one layer, (H, W, L) is L layers.
///
/// Raises ValueError for any other number of dimensions, or when @p layers is not 0 and
/// the array's layers differ from it.
PictureShape pictureShape(const pybind11::array& array, const char* what, long long layers);

/// @brief A new uint8 array for a picture: (H, W) for one layer unless @p keepLayerAxis,
/// (H, W, L) otherwise.
pybind11::array_t<unsigned char> newPicture(const PictureShape& shape, bool keepLayerAxis);

/// @brief Raises ValueError when the byte ranges of two arrays overlap: a conversion cannot
/// write over its own input.
void requireDisjoint(const pybind11::array& input, const pybind11::array& output);

/// @brief The value of @p object, a Python integer (anything with __index__), or nullopt
/// when it lies outside [@p low, @p high]. An integer too large for a long long is out of
/// range, not a TypeError; an object that is no integer raises TypeError.
std::optional<long long> integerIn(const pybind11::handle& object, long long low, long long high);

/// @brief The camera index @p camera as the library stores it, in a char (EKImage::cameraId
/// and the record header's byte): ValueError naming the char's range for any other value,
/// so that what is written reads back the same.
char cameraIndex(const pybind11::handle& camera);

/// Pointer to the first byte of an array the caller checked with packedBytes().
inline unsigned char* bytesOf(const pybind11::array& array) {
  return static_cast<unsigned char*>(const_cast<void*>(array.data()));
}

}  // namespace ekpy

#endif  // EKVISION_PYTHON_PYARRAYS_H
