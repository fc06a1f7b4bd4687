// The library's pixel-format conversions on numpy arrays. Each wraps the arrays in an
// EKImage with an external buffer, so that the library's kernels read and write them in
// place, and releases the GIL while they run.
#include <ekvision/ekimage.h>
#include <ekvision/ekvisiondefinitions.h>

#include <algorithm>

#include "pyarrays.h"
#include "pybindings.h"
#include "pyerrors.h"

namespace py = pybind11;

namespace ekpy {
namespace {

// The output array: @p out when given (checked for its exact shape), a new one otherwise.
py::array outputArray(const py::object& out, const std::vector<py::ssize_t>& shape) {
  if (out.is_none()) {
    return py::array_t<unsigned char>(shape);
  }
  py::array array = packedBytes(out, "out", true);
  bool same = static_cast<std::size_t>(array.ndim()) == shape.size();
  for (std::size_t i = 0; same && i < shape.size(); ++i) {
    same = array.shape(static_cast<py::ssize_t>(i)) == shape[i];
  }
  if (!same) {
    std::string expected;
    for (py::ssize_t size : shape) {
      expected += (expected.empty() ? "" : ", ") + std::to_string(size);
    }
    throw py::value_error("out must have the shape (" + expected + ")");
  }
  return array;
}

// A YUV422 image over the pixels of @p yuv, which must be (H, W, 2).
struct Yuv422Input {
  py::array array;
  PictureShape shape;

  explicit Yuv422Input(const py::handle& object)
      : array(packedBytes(object, "yuv", false)), shape(pictureShape(array, "yuv", 2)) {
    if (array.ndim() != 3) {
      throw py::value_error("yuv must have the shape (H, W, 2)");
    }
  }
};

// Sizes beyond what the library's int byte counts hold are refused before any array is made.
void requireSize(const py::handle& object, const char* what, long long layers) {
  const PictureShape shape = pictureShape(packedBytes(object, what, false), what, layers);
  if (shape.height > INT_MAX / 4 || shape.width > INT_MAX / 4 ||
      shape.height * shape.width > INT_MAX / 3) {
    throw py::value_error(std::string(what) + " is too large for the library's pictures");
  }
}

// The planar and BGR layouts a YUV422 picture unpacks to.
enum class Unpacked { kBgr, kYYYYUUVV, kYYYUUUVVV };

py::array unpack(const py::handle& yuvObject, const py::object& out, Unpacked layout) {
  requireSize(yuvObject, "yuv", 2);
  Yuv422Input yuv(yuvObject);
  const py::ssize_t height = yuv.shape.height;
  const py::ssize_t width = yuv.shape.width;
  bool (EK::EKImage::*unpacker)(unsigned char*) = &EK::EKImage::computeBGRimageFromYUV422;
  std::vector<py::ssize_t> outShape = {height, width, 3};
  if (layout == Unpacked::kYYYYUUVV) {
    unpacker = &EK::EKImage::computeYYYYUUVVimageFromYUV422;
    outShape = {height * width * 2};
  } else if (layout == Unpacked::kYYYUUUVVV) {
    unpacker = &EK::EKImage::computeYYYUUUVVVimageFromYUV422;
    outShape = {3, height, width};
  }
  py::array output = outputArray(out, outShape);
  if (out.is_none() && (yuv.shape.height * yuv.shape.width) % 2 != 0) {
    // The planar 4:2:2 layout has no byte for the unpaired last pixel's chroma: a new array
    // is zeroed so that the byte left unwritten is not left undefined.
    std::fill_n(bytesOf(output), output.nbytes(), 0);
  }
  requireDisjoint(yuv.array, output);
  EK::EKImage image(static_cast<int>(yuv.shape.width), static_cast<int>(yuv.shape.height),
                    EK::kColorSpaceYUV422, true);
  image.frame = bytesOf(yuv.array);
  bool done = false;
  {
    py::gil_scoped_release release;
    done = (image.*unpacker)(bytesOf(output));
  }
  if (!done) {
    // The arrays were checked above: a refusal here is the library's, logged by it.
    throw py::value_error("the conversion failed");
  }
  return output;
}

}  // namespace

void bindConversions(py::module_& module) {
  module.def(
      "yuv422_to_bgr",
      [](const py::object& yuv, const py::object& out) { return unpack(yuv, out, Unpacked::kBgr); },
      py::arg("yuv"), py::arg("out") = py::none(),
      "Packed YUV422 (H, W, 2) to BGR (H, W, 3), as EKImage::computeBGRimageFromYUV422.");
  module.def(
      "yuv422_to_yyyyuuvv",
      [](const py::object& yuv, const py::object& out) {
        return unpack(yuv, out, Unpacked::kYYYYUUVV);
      },
      py::arg("yuv"), py::arg("out") = py::none(),
      "Packed YUV422 (H, W, 2) to planar 4:2:2, a flat array of H*W*2 bytes: the Y plane "
      "(H*W), then U and V (H*W/2 each, rounded down; for an odd pixel count the last byte is "
      "not written, zero in a new array).");
  module.def(
      "yuv422_to_yyyuuuvvv",
      [](const py::object& yuv, const py::object& out) {
        return unpack(yuv, out, Unpacked::kYYYUUUVVV);
      },
      py::arg("yuv"), py::arg("out") = py::none(),
      "Packed YUV422 (H, W, 2) to planar 4:4:4 (3, H, W): the Y, U and V planes.");
  module.def(
      "bgr_to_yuv422",
      [](const py::object& bgrObject, const py::object& out) {
        requireSize(bgrObject, "bgr", 3);
        const py::array bgr = packedBytes(bgrObject, "bgr", false);
        if (bgr.ndim() != 3) {
          throw py::value_error("bgr must have the shape (H, W, 3)");
        }
        const PictureShape shape = pictureShape(bgr, "bgr", 3);
        py::array output = outputArray(out, {shape.height, shape.width, 2});
        requireDisjoint(bgr, output);
        EK::EKImage image(static_cast<int>(shape.width), static_cast<int>(shape.height),
                          EK::kColorSpaceYUV422, true);
        image.frame = bytesOf(output);
        bool done = false;
        {
          py::gil_scoped_release release;
          done = image.computeYUV422imageFromBGR(static_cast<int>(shape.height),
                                                 static_cast<int>(shape.width),
                                                 reinterpret_cast<char*>(bytesOf(bgr)));
        }
        if (!done) {
          // The arrays were checked above: a refusal here is the library's, logged by it.
          throw py::value_error("the conversion failed");
        }
        return output;
      },
      py::arg("bgr"), py::arg("out") = py::none(),
      "BGR (H, W, 3) to packed YUV422 (H, W, 2), as EKImage::computeYUV422imageFromBGR.");
}

}  // namespace ekpy
