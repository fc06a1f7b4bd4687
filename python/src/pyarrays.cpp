#include "pyarrays.h"

#include <limits>

namespace py = pybind11;

namespace ekpy {

py::array packedBytes(const py::handle& object, const char* what, bool writable) {
  if (!py::isinstance<py::array>(object)) {
    throw py::type_error(std::string(what) + " must be a numpy array of uint8, not " +
                         std::string(py::str(py::type::handle_of(object).attr("__name__"))));
  }
  py::array array = py::reinterpret_borrow<py::array>(object);
  if (array.dtype().kind() != 'u' || array.dtype().itemsize() != 1) {
    throw py::type_error(std::string(what) + " must be an array of uint8, not " +
                         std::string(py::str(array.dtype())));
  }
  if ((array.flags() & py::array::c_style) == 0) {
    throw py::value_error(std::string(what) +
                          " must be C-contiguous (pixels and rows packed); "
                          "numpy.ascontiguousarray() makes such a copy");
  }
  if (writable && !array.writeable()) {
    throw py::value_error(std::string(what) + " is read-only");
  }
  return array;
}

PictureShape pictureShape(const py::array& array, const char* what, long long layers) {
  PictureShape shape;
  if (array.ndim() == 2) {
    shape = {array.shape(0), array.shape(1), 1};
  } else if (array.ndim() == 3) {
    shape = {array.shape(0), array.shape(1), array.shape(2)};
  } else {
    throw py::value_error(std::string(what) + " must have the shape (H, W) or (H, W, C), not " +
                          std::to_string(array.ndim()) + " dimensions");
  }
  if (layers != 0 && shape.layers != layers) {
    throw py::value_error(std::string(what) + " must have " + std::to_string(layers) +
                          " bytes a pixel (shape (H, W, " + std::to_string(layers) + ")), not " +
                          std::to_string(shape.layers));
  }
  return shape;
}

py::array_t<unsigned char> newPicture(const PictureShape& shape, bool keepLayerAxis) {
  if (shape.layers == 1 && !keepLayerAxis) {
    return py::array_t<unsigned char>({shape.height, shape.width});
  }
  return py::array_t<unsigned char>({shape.height, shape.width, shape.layers});
}

void requireDisjoint(const py::array& input, const py::array& output) {
  const auto* in = static_cast<const unsigned char*>(input.data());
  const auto* out = static_cast<const unsigned char*>(output.data());
  const auto inBytes = static_cast<std::size_t>(input.nbytes());
  const auto outBytes = static_cast<std::size_t>(output.nbytes());
  if (inBytes > 0 && outBytes > 0 && in < out + outBytes && out < in + inBytes) {
    throw py::value_error("out must not share memory with the input");
  }
}

std::optional<long long> integerIn(const py::handle& object, long long low, long long high) {
  const py::object index = py::reinterpret_steal<py::object>(PyNumber_Index(object.ptr()));
  if (!index) {
    throw py::error_already_set();
  }
  int overflow = 0;
  const long long value = PyLong_AsLongLongAndOverflow(index.ptr(), &overflow);
  if (value == -1 && PyErr_Occurred() != nullptr) {
    throw py::error_already_set();
  }
  if (overflow != 0 || value < low || value > high) {
    return std::nullopt;
  }
  return value;
}

char cameraIndex(const py::handle& camera) {
  using Limits = std::numeric_limits<char>;
  const std::optional<long long> value = integerIn(camera, Limits::min(), Limits::max());
  if (!value) {
    throw py::value_error("camera must be " + std::to_string(int{Limits::min()}) + " to " +
                          std::to_string(int{Limits::max()}) +
                          " (the one byte the library stores), not " +
                          std::string(py::str(camera)));
  }
  return static_cast<char>(*value);
}

}  // namespace ekpy
