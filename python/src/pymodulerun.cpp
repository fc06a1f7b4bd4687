// ekvision.run(): a Python vision module run by the module host in this process, the
// engine's threads calling back into the interpreter that called it.
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <detectionlog.h>
#include <host.h>
#include <run.h>

#include <iostream>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <ekvision/ekdetection.h>

#include "pyerrors.h"
#include "pyvisionmodule.h"

namespace py = pybind11;

namespace ekpy {
namespace {

// Collects what the run tells; warnings also go to standard error as they come, from any
// thread, without the GIL.
class CollectingListener : public ekhost::Listener {
 public:
  void warn(const std::string& line) override {
    std::lock_guard<std::mutex> lock(mutex_);
    std::cerr << "ekvision: " << line << std::endl;
    warnings_.push_back(line);
  }
  void detected(const EK::EKDetection& detection, long long) override {
    std::lock_guard<std::mutex> lock(mutex_);
    detections_.push_back(detection);
  }

  std::vector<std::string> warnings() {
    std::lock_guard<std::mutex> lock(mutex_);
    return warnings_;
  }
  std::vector<EK::EKDetection> detections() {
    std::lock_guard<std::mutex> lock(mutex_);
    return detections_;
  }

 private:
  std::mutex mutex_;
  std::vector<std::string> warnings_;
  std::vector<EK::EKDetection> detections_;
};

py::dict runModule(const py::object& instance, const std::optional<std::string>& camera,
                   std::optional<double> seconds, std::optional<long long> frames, int fps,
                   int resolution, bool everyFrame, const std::optional<std::string>& name,
                   const std::optional<std::string>& detections,
                   const std::optional<std::string>& control) {
  ekhost::RunOptions options;
  options.camera = camera;
  options.seconds = seconds;
  options.frames = frames;
  options.fps = fps;
  options.resolution = resolution;
  options.everyFrame = everyFrame;
  options.name = name;
  options.detections = detections;
  options.control = control;
  options.module = py::str(py::type::handle_of(instance).attr("__qualname__"));
  // The session calls the factory on this thread, whose GIL it has let go of by then.
  options.moduleSource = ekhost::ModuleSource{
      instance.attr("name").cast<std::string>(),
      [instance](const boost::shared_ptr<EK::EKBroker>& broker, const std::string& moduleName) {
        py::gil_scoped_acquire gil;
        return createPythonModule(broker, moduleName, instance);
      }};
  CollectingListener listener;
  ekhost::RunReport report;
  try {
    py::gil_scoped_release unlocked;
    report = ekhost::runModule(options, listener);
  } catch (const ekhost::HostError& error) {
    raiseStatus(error.status(), camera.value_or(""));
  }
  // As the detection log writes them, which the Python side reads as ekvision.batch does.
  py::list found;
  for (const EK::EKDetection& detection : listener.detections()) {
    found.append(ekhost::detectionJson(detection));
  }
  py::dict result;
  result["module"] = report.module;
  result["camera"] = report.camera;
  result["frames"] = report.framesProcessed;
  result["seconds"] = report.seconds;
  result["rate"] = report.rate;
  result["detections"] = found;
  result["warnings"] = listener.warnings();
  result["error"] =
      report.status.ok() ? py::object(py::none()) : py::object(py::str(report.status.message()));
  if (report.pacing) {
    result["pacing_p99_ms"] = report.pacing->p99DeviationMs;
  }
  return result;
}

}  // namespace

void bindModuleRuns(py::module_& module) {
  module.def("_run_module", &runModule, py::arg("instance"), py::arg("camera"), py::arg("seconds"),
             py::arg("frames"), py::arg("fps"), py::arg("resolution"), py::arg("every_frame"),
             py::arg("name"), py::arg("detections"), py::arg("control"));
}

}  // namespace ekpy
