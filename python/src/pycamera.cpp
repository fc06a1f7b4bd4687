// Cameras of any SPEC read frame by frame, and remote methods of modules that a run answers
// for: the module host's camera feed and remote calls, for ekvision.Camera and ekvision.call.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <camerafeed.h>
#include <host.h>
#include <remotecall.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include <ekerror/ekerror.h>
#include <ekvideodevice/ekmethodclient.h>
#include <ekvision/ekimagevalue.h>
#include <ekvision/ekstatus.h>

#include "pybindings.h"
#include "pyerrors.h"
#include "pyvalues.h"

namespace py = pybind11;

namespace ekpy {
namespace {

std::chrono::milliseconds milliseconds(double seconds) {
  if (!std::isfinite(seconds) || seconds < 0) {
    throw py::value_error("timeout must be a number of seconds from 0 up");
  }
  return std::chrono::milliseconds(std::llround(std::min(seconds, 7 * 24 * 3600.0) * 1000.0));
}

// The pixels and capture fields of an image array, as the Python side builds a Picture.
py::tuple pictureParts(const EK::EKValue& image) {
  const int width = image[EK::kImageArrayWidth];
  const int height = image[EK::kImageArrayHeight];
  const int layers = image[EK::kImageArrayLayers];
  const EK::EKValue& binary = image[EK::kImageArrayPixels];
  py::array_t<unsigned char> pixels({height, width, layers});
  const std::size_t bytes = static_cast<std::size_t>(width) * height * layers;
  if (binary.getBinarySize() < 0 || static_cast<std::size_t>(binary.getBinarySize()) != bytes) {
    throw py::value_error("the camera gave a picture whose bytes do not match its size");
  }
  std::memcpy(pixels.mutable_data(), binary.GetBinary(), bytes);
  const py::tuple angles = py::make_tuple(static_cast<float>(image[EK::kImageArrayLeftAngle]),
                                          static_cast<float>(image[EK::kImageArrayTopAngle]),
                                          static_cast<float>(image[EK::kImageArrayRightAngle]),
                                          static_cast<float>(image[EK::kImageArrayBottomAngle]));
  return py::make_tuple(pixels, static_cast<int>(image[EK::kImageArrayColorSpace]),
                        EK::imageArrayTimeStamp(image),
                        static_cast<int>(image[EK::kImageArrayCamera]), angles);
}

// A camera open for reading.
class Camera {
 public:
  Camera(const std::optional<std::string>& spec, int resolution, int frameRate) {
    try {
      py::gil_scoped_release unlocked;
      feed_ = std::make_unique<ekhost::CameraFeed>(
          ekhost::openCamera(spec, resolution, frameRate, /*loop=*/true), frameRate);
    } catch (const ekhost::HostError& error) {
      raiseStatus(error.status(), spec.value_or(""));
    }
  }

  // The next frame's parts, or None when none came within @p timeout seconds.
  py::object read(double timeout) {
    const std::chrono::milliseconds wait = milliseconds(timeout);
    ekhost::CameraFeed& feed = open();
    std::optional<EK::EKValue> image;
    try {
      py::gil_scoped_release unlocked;
      image = feed.next(wait);
    } catch (const EK::EKFailure& failure) {
      raiseStatus(failure.status(), open().description());
    } catch (const EK::EKError& error) {
      raiseStatus(EK::EKStatus(EK::EKCause::kUnavailable, error.getDescription()),
                  open().description());
    }
    if (!image) {
      return py::none();
    }
    return pictureParts(*image);
  }

  std::string description() { return open().description(); }
  long long delivered() { return open().delivered(); }
  void close() {
    py::gil_scoped_release unlocked;
    feed_.reset();
  }
  bool closed() const { return feed_ == nullptr; }

 private:
  ekhost::CameraFeed& open() {
    if (!feed_) {
      throw py::value_error("the camera is closed");
    }
    return *feed_;
  }

  std::unique_ptr<ekhost::CameraFeed> feed_;
};

// Raises the Python side's CallError with the cause's name and the line.
[[noreturn]] void raiseCallError(const py::object& errorType, const EK::EKStatus& status) {
  PyErr_SetObject(errorType.ptr(),
                  py::make_tuple(status.message(), EK::causeName(status.cause())).ptr());
  throw py::error_already_set();
}

}  // namespace

void bindCameras(py::module_& module) {
  py::class_<Camera>(module, "_Camera")
      .def(py::init<const std::optional<std::string>&, int, int>(), py::arg("spec"),
           py::arg("resolution"), py::arg("frame_rate"))
      .def("read", &Camera::read, py::arg("timeout"))
      .def_property_readonly("description", &Camera::description)
      .def_property_readonly("delivered", &Camera::delivered)
      .def_property_readonly("closed", &Camera::closed)
      .def("close", &Camera::close);

  module.def("_call", [](const std::string& endpoint, const std::string& moduleName,
                         const std::string& method, const py::tuple& arguments, double timeout,
                         const py::object& errorType) {
    const EK::EKValue list = toValue(arguments, 0);
    const std::chrono::milliseconds wait = milliseconds(timeout);
    EK::EKValue result;
    try {
      py::gil_scoped_release unlocked;
      result = EK::EKMethodClient(endpoint, wait).call(moduleName, method, list);
    } catch (const EK::EKFailure& failure) {
      raiseCallError(errorType, failure.status());
    }
    return toPython(result);
  });

  module.def("_list_methods",
             [](const std::string& endpoint, double timeout, const py::object& errorType) {
               const std::chrono::milliseconds wait = milliseconds(timeout);
               std::vector<EK::EKModuleDescription> modules;
               try {
                 py::gil_scoped_release unlocked;
                 modules = EK::EKMethodClient(endpoint, wait).list();
               } catch (const EK::EKFailure& failure) {
                 raiseCallError(errorType, failure.status());
               }
               py::dict described;
               for (const EK::EKModuleDescription& module : modules) {
                 py::list methods;
                 for (const EK::EKMethodInfo& method : module.methods) {
                   py::list parameters;
                   for (const auto& parameter : method.parameters) {
                     parameters.append(py::make_tuple(parameter.name, parameter.typeName));
                   }
                   methods.append(py::make_tuple(method.methodName, parameters,
                                                 method.returnValue.typeName, method.description));
                 }
                 described[py::str(module.name)] = methods;
               }
               return described;
             });
}

}  // namespace ekpy
