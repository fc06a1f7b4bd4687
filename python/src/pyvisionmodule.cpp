#include "pyvisionmodule.h"

#include <pybind11/numpy.h>

#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

#include <ekcommon/ekfunctor.h>
#include <ekcommon/ekfunctorbase.h>
#include <ekcommon/ekmodule.h>
#include <ekerror/ekerror.h>
#include <ru/log.h>

#include "pymodulefactory.h"
#include "pyvalues.h"

namespace py = pybind11;

namespace ekpy {
namespace {

// The Python half of the package: settings, remote-method descriptions, failure lines.
py::module_ pythonHalf() {
  return py::module_::import("ekvision._module");
}

// What process_image sees of a frame: its fields, and its pixels as a numpy view of the
// engine's buffer while the hook runs. After the hook `pixels` raises; an array taken from
// it and kept is moved onto a copy of the frame, since the engine's buffer is freed.
class FrameView {
 public:
  explicit FrameView(EK::EKImage& image)
      : timeStamp(image.timeStamp),
        camera(image.cameraId),
        angles(
            py::make_tuple(image.leftAngle, image.topAngle, image.rightAngle, image.bottomAngle)),
        colorSpace(image.colorSpace),
        width(image.width),
        height(image.height),
        bufferAddress(reinterpret_cast<std::uintptr_t>(image.frame)),
        image_(&image) {}

  py::object pixels() {
    if (image_ == nullptr) {
      throw py::value_error(
          "image.pixels is valid only while process_image runs: copy what you keep "
          "(image.pixels.copy())");
    }
    if (image_->frame == nullptr) {
      throw py::value_error("the frame has no pixels");
    }
    if (!pixels_) {
      // The capsule is the array's base: given one, numpy points at the memory, no copy.
      py::array view(py::dtype::of<std::uint8_t>(), shape(), image_->frame, py::capsule(image_));
      py::detail::array_proxy(view.ptr())->flags &= ~py::detail::npy_api::NPY_ARRAY_WRITEABLE_;
      pixels_ = std::move(view);
    }
    return pixels_;
  }

  // Ends the view; true when the module kept the pixel array (it then holds a copy).
  bool release() {
    bool kept = false;
    if (pixels_ && Py_REFCNT(pixels_.ptr()) > 1) {
      py::array copy(py::dtype::of<std::uint8_t>(), shape());
      std::memcpy(copy.mutable_data(), image_->frame, static_cast<std::size_t>(copy.nbytes()));
      py::detail::PyArray_Proxy* fields = py::detail::array_proxy(pixels_.ptr());
      PyObject* engineBase = fields->base;
      fields->data = static_cast<char*>(copy.mutable_data());
      fields->base = copy.release().ptr();
      Py_XDECREF(engineBase);
      kept = true;
    }
    pixels_ = py::object();
    image_ = nullptr;
    return kept;
  }

  const long long timeStamp;
  const int camera;
  const py::tuple angles;
  const int colorSpace;
  const int width;
  const int height;
  const std::uintptr_t bufferAddress;

 private:
  std::vector<py::ssize_t> shape() const {
    return {image_->height, image_->width, image_->nbLayers};
  }

  EK::EKImage* image_;
  py::object pixels_;
};

// The module's handle on its engine, Module._engine: report() goes through it. It is cut
// when the engine goes, so that a module object kept by Python reports to nothing.
struct EngineHandle {
  PythonModule* module = nullptr;
};

// A remote method of the Python module, called on whichever thread the caller is.
class PythonMethod : public EK::EKFunctorBase {
 public:
  PythonMethod(std::string moduleName, std::string methodName, py::object invoke)
      : moduleName_(std::move(moduleName)),
        methodName_(std::move(methodName)),
        invoke_(std::move(invoke)) {}
  ~PythonMethod() override {
    py::gil_scoped_acquire gil;
    invoke_ = py::object();
  }
  PythonMethod(const PythonMethod&) = delete;
  PythonMethod& operator=(const PythonMethod&) = delete;

  void call(const EK::EKValue& arguments, EK::EKValue& result) override {
    py::gil_scoped_acquire gil;
    try {
      py::list values;
      for (unsigned i = 0; arguments.isArray() && i < arguments.getSize(); ++i) {
        values.append(toPython(arguments[static_cast<int>(i)]));
      }
      const py::object returned = invoke_(*py::tuple(values));
      if (!returned.is_none()) {
        result = toValue(returned, 0);
      }
    } catch (py::error_already_set& error) {
      const std::string line =
          py::str(pythonHalf().attr("_failure_line")(error.type(), error.value(), error.trace()));
      throw EK::EKError(moduleName_, methodName_, line);
    } catch (const std::exception& error) {
      // A result that is no value: what toValue() refuses.
      throw EK::EKError(moduleName_, methodName_, error.what());
    }
  }

 private:
  std::string moduleName_;
  std::string methodName_;
  py::object invoke_;
};

}  // namespace

PythonModule::Settings PythonModule::settingsOf(const py::object& instance) {
  const py::tuple settings = pythonHalf().attr("_settings")(instance);
  return {settings[0].cast<int>(), settings[1].cast<int>(), settings[2].cast<int>()};
}

PythonModule::PythonModule(boost::shared_ptr<EK::EKBroker> broker, const std::string& name,
                           py::object instance)
    : PythonModule(std::move(broker), name, instance, settingsOf(instance)) {}

PythonModule::PythonModule(boost::shared_ptr<EK::EKBroker> broker, const std::string& name,
                           py::object instance, const Settings& settings)
    : EKVisionExtractor(std::move(broker), name, settings.resolution, settings.colorSpace,
                        settings.frameRate),
      className_(py::str(py::type::handle_of(instance).attr("__name__"))),
      instance_(std::move(instance)) {
  registerOwnMethods();
  registerPythonMethods();
  // Last: a module that failed to build leaves the object free for another host.
  engine_ = py::cast(EngineHandle{this});
  instance_.attr("_engine") = engine_;
}

PythonModule::~PythonModule() {
  py::gil_scoped_acquire gil;
  engine_.cast<EngineHandle&>().module = nullptr;
  instance_.attr("_engine") = py::none();
  engine_ = py::object();
  instance_ = py::object();
}

void PythonModule::registerOwnMethods() {
  functionName("getDetections", className_, "Boxes reported since the previous call, oldest first",
               0);
  setReturn("detections", "Array of detection arrays (see EKDetection)");
  getCurrentMethodDescription().returnValue.typeName = EK::getTypeString(6);
  bindMethod(EK::createFunctor(this, &PythonModule::getDetections));

  functionName("getFrameCount", className_, "Frames processed since the module was built", 0);
  setReturn("frames", "Number of frames");
  getCurrentMethodDescription().returnValue.typeName = EK::getTypeString(3);
  bindMethod(EK::createFunctor(this, &PythonModule::getFrameCount));
}

void PythonModule::registerPythonMethods() {
  for (const py::handle entry : pythonHalf().attr("_remote_methods")(instance_)) {
    const py::tuple method = py::reinterpret_borrow<py::tuple>(entry);
    const std::string methodName = method[0].cast<std::string>();
    if (getMethod(methodName)) {
      throw py::value_error("the remote method " + methodName + " of " + className_ +
                            " is taken: every Python module has getDetections, getFrameCount "
                            "and the methods of EKVisionExtractor");
    }
    functionName(methodName, className_, method[1].cast<std::string>(), 0);
    for (const py::handle parameterEntry : method[2]) {
      const py::tuple parameter = py::reinterpret_borrow<py::tuple>(parameterEntry);
      addParam(parameter[0].cast<std::string>(), parameter[1].cast<std::string>());
      getCurrentMethodDescription().parameters.back().typeName =
          EK::getTypeString(parameter[2].cast<int>());
    }
    if (!method[3].is_none()) {
      const py::tuple returned = method[3];
      setReturn(returned[0].cast<std::string>(), returned[1].cast<std::string>());
      getCurrentMethodDescription().returnValue.typeName =
          EK::getTypeString(returned[2].cast<int>());
    } else {
      getCurrentMethodDescription().returnValue.typeName = EK::getTypeString(1);
    }
    bindMethod(boost::shared_ptr<EK::EKFunctorBase>(
        new PythonMethod(getName(), methodName, py::reinterpret_borrow<py::object>(method[4]))));
  }
}

void PythonModule::hookFailed(const char* hook, py::error_already_set& error) {
  const std::string line =
      py::str(pythonHalf().attr("_failure_line")(error.type(), error.value(), error.trace()));
  ru::log::log(2, getName(), className_ + "." + hook + " raised " + line, __FILE__, hook, __LINE__);
  // The traceback is in the record above; whoever catches this logs the failure alone.
  const std::string kind = py::str(error.type().attr("__name__"));
  throw EK::EKError(getName(), hook, "raised " + kind + ": " + std::string(py::str(error.value())));
}

void PythonModule::callHook(const char* hook) {
  py::gil_scoped_acquire gil;
  try {
    instance_.attr(hook)();
  } catch (py::error_already_set& error) {
    hookFailed(hook, error);
  }
}

void PythonModule::onStartDetection() {
  callHook("on_start_detection");
}

void PythonModule::onStopDetection() {
  callHook("on_stop_detection");
}

void PythonModule::processImage(EK::EKImage* image) {
  ++frames_;
  py::gil_scoped_acquire gil;
  FrameView* frame = nullptr;
  py::object view = py::cast(FrameView(*image));
  frame = &view.cast<FrameView&>();
  current_ = image;
  bool kept = false;
  try {
    instance_.attr("process_image")(view);
  } catch (py::error_already_set& error) {
    current_ = nullptr;
    frame->release();
    hookFailed("process_image", error);
  }
  current_ = nullptr;
  kept = frame->release();
  if (kept && !warnedKept_) {
    warnedKept_ = true;
    ru::log::log(2, getName(),
                 className_ +
                     ".process_image kept image.pixels after it returned: the array now holds "
                     "a copy of that frame, but slices or views made from it during the call "
                     "do not; copy what you keep (image.pixels.copy())",
                 __FILE__, "processImage", __LINE__);
  }
}

void PythonModule::report(int x, int y, int w, int h, int pixelCount) {
  if (current_ == nullptr) {
    throw py::value_error(
        "report() is for boxes of the frame that process_image is given: call "
        "it from process_image");
  }
  pending_.push(EK::EKDetection::boxIn(*current_, x, y, w, h, pixelCount));
}

EK::EKValue PythonModule::getDetections() {
  return pending_.take();
}

int PythonModule::getFrameCount() {
  return frames_.load();
}

boost::shared_ptr<EK::EKVisionExtractor> createPythonModule(
    const boost::shared_ptr<EK::EKBroker>& broker, const std::string& name,
    const py::object& instance) {
  if (!instance.attr("_engine").is_none()) {
    throw py::value_error(
        "this module object is hosted already: give each host a module of "
        "its own");
  }
  return EK::createModule<PythonModule>(broker, name, instance);
}

namespace {

// The factory handed out in the capsule, for programs that embed Python.
bool buildForEmbedder(const boost::shared_ptr<EK::EKBroker>& broker, const std::string& name,
                      PyObject* instance, boost::shared_ptr<EK::EKVisionExtractor>* module,
                      std::string* error) {
  try {
    *module = createPythonModule(broker, name, py::reinterpret_borrow<py::object>(instance));
    return true;
  } catch (py::error_already_set& failure) {
    *error = py::str(
        pythonHalf().attr("_failure_line")(failure.type(), failure.value(), failure.trace()));
  } catch (const std::exception& failure) {
    *error = failure.what();
  }
  return false;
}

}  // namespace

void bindVisionModules(py::module_& module) {
  py::class_<EngineHandle>(module, "_Engine")
      .def(
          "report",
          [](EngineHandle& handle, int x, int y, int w, int h, int pixels) {
            if (handle.module == nullptr) {
              throw py::value_error("the host of this module has ended");
            }
            handle.module->report(x, y, w, h, pixels);
          },
          py::arg("left"), py::arg("top"), py::arg("width"), py::arg("height"), py::arg("pixels"));
  py::class_<FrameView>(module, "Image",
                        "A camera frame as process_image sees it; pixels only during the call.")
      .def_property_readonly("pixels", &FrameView::pixels,
                             "numpy uint8 array (height, width, layers): a read-only view of "
                             "the engine's buffer, valid while process_image runs")
      .def_readonly("time_stamp", &FrameView::timeStamp, "capture time, microseconds")
      .def_readonly("camera", &FrameView::camera, "index of the camera that took it")
      .def_readonly("angles", &FrameView::angles,
                    "field of view: (left, top, right, bottom) radians")
      .def_readonly("color_space", &FrameView::colorSpace, "color-space code")
      .def_readonly("width", &FrameView::width, "width in pixels")
      .def_readonly("height", &FrameView::height, "height in pixels")
      .def_readonly("_buffer_address", &FrameView::bufferAddress,
                    "address of the engine's pixel buffer, to check that pixels is a view")
      .def("__repr__", [](const FrameView& frame) {
        return "<ekvision.Image " + std::to_string(frame.width) + "x" +
               std::to_string(frame.height) + " t=" + std::to_string(frame.timeStamp) + ">";
      });
  module.attr(kPythonModuleFactoryAttribute) =
      py::capsule(reinterpret_cast<void*>(&buildForEmbedder), kPythonModuleFactoryCapsule);
}

}  // namespace ekpy
