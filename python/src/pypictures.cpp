// Single pictures: `.ari` files read and written by EKImage, and its PPM export.
#include <ekvision/ekimage.h>
#include <ekvision/ekvisiondefinitions.h>

#include <array>
#include <cstring>

#include <pybind11/stl.h>

#include "pyarrays.h"
#include "pybindings.h"
#include "pyerrors.h"

namespace py = pybind11;

namespace ekpy {
namespace {

using Angles = std::array<float, 4>;

// An image over the pixels of @p array, with the capture fields given.
struct WrappedPicture {
  py::array array;
  EK::EKImage image;

  WrappedPicture(const py::handle& pixels, int colorSpace)
      : array(packedBytes(pixels, "pixels", false)),
        image(checkedSize(array, colorSpace, 1), checkedSize(array, colorSpace, 0), colorSpace,
              true) {
    image.frame = bytesOf(array);
  }

  // The width (axis 1) or height (axis 0) of the picture, once its layers are checked
  // against the color space.
  static int checkedSize(const py::array& array, int colorSpace, int axis) {
    const int layers = EK::getNumLayersInColorSpace(colorSpace);
    if (layers < 0) {
      throw py::value_error("invalid color space " + std::to_string(colorSpace) +
                            " (codes are 0 to 18)");
    }
    const PictureShape shape = pictureShape(array, "pixels", layers);
    if (shape.height > INT_MAX || shape.width > INT_MAX) {
      throw py::value_error("pixels is too large for the library's pictures");
    }
    return static_cast<int>(axis == 0 ? shape.height : shape.width);
  }
};

void setCapture(EK::EKImage& image, long long timeStamp, const py::handle& camera,
                const Angles& angles) {
  image.cameraId = cameraIndex(camera);
  image.timeStamp = timeStamp;
  image.leftAngle = angles[0];
  image.topAngle = angles[1];
  image.rightAngle = angles[2];
  image.bottomAngle = angles[3];
}

}  // namespace

void bindPictures(py::module_& module) {
  module.def(
      "_read_picture",
      [](const std::string& path) {
        EK::EKImage image(0, 0, 0);
        EK::EKStatus status;
        {
          py::gil_scoped_release release;
          status = EK::readImageFile(image, path);
        }
        if (!status.ok()) {
          raiseStatus(status, path);
        }
        const PictureShape shape{image.height, image.width, image.nbLayers};
        py::array_t<unsigned char> pixels = newPicture(shape, false);
        std::memcpy(pixels.mutable_data(), image.frame, shape.bytes());
        const Angles angles{image.leftAngle, image.topAngle, image.rightAngle, image.bottomAngle};
        return py::make_tuple(pixels, image.colorSpace, image.timeStamp,
                              static_cast<int>(image.cameraId), angles);
      },
      py::arg("path"));
  module.def(
      "_save_picture",
      [](const std::string& path, const py::object& pixels, int colorSpace, long long timeStamp,
         const py::object& camera, const Angles& angles) {
        WrappedPicture picture(pixels, colorSpace);
        setCapture(picture.image, timeStamp, camera, angles);
        EK::EKStatus status;
        {
          py::gil_scoped_release release;
          status = EK::writeImageFile(picture.image, path);
        }
        if (!status.ok()) {
          raiseStatus(status, path);
        }
      },
      py::arg("path"), py::arg("pixels"), py::arg("color_space"), py::arg("time_stamp"),
      py::arg("camera"), py::arg("angles"));
  module.def(
      "_save_ppm",
      [](const std::string& path, const py::object& pixels, int colorSpace) {
        WrappedPicture picture(pixels, colorSpace);
        EK::EKStatus status;
        {
          py::gil_scoped_release release;
          status = EK::saveImagePPM(picture.image, path);
        }
        if (!status.ok()) {
          raiseStatus(status, path);
        }
      },
      py::arg("path"), py::arg("pixels"), py::arg("color_space"));
}

}  // namespace ekpy
