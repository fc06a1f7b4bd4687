// Vision modules written in Python: the C++ module that the engine runs, which hands each
// hook to a Python object derived from ekvision.Module.
#ifndef EKVISION_PYTHON_PYVISIONMODULE_H
#define EKVISION_PYTHON_PYVISIONMODULE_H

#include <pybind11/pybind11.h>

#include <atomic>
#include <string>

#include <boost/shared_ptr.hpp>

#include <ekcommon/ekbroker.h>
#include <ekvalue/ekvalue.h>
#include <ekvision/ekdetection.h>
#include <ekvision/ekimage.h>
#include <ekvision/ekvisionextractor.h>

#include "detectionqueue.h"

namespace ekpy {

/// @brief A vision module whose hooks are the methods of a Python ekvision.Module.
///
/// The engine is the C++ one: pacing, pause, the start and stop handshake and the camera
/// stay EKVisionExtractor's. Each hook takes the GIL for the time of the Python call only;
/// an exception raised by Python is logged with its traceback and thrown on as EKError,
/// as an exception of a C++ hook would be. The boxes that the module reports
/// (Module.report) are read through the remote method "getDetections", like the motion
/// detector's, and the frames processed through "getFrameCount"; the module's own remote
/// methods (ekvision.remote_method) join the method table beside them.
class PythonModule : public EK::EKVisionExtractor {
 public:
  /// @brief Builds the module around @p instance, with the GIL held; the resolution, color
  /// space and frame rate are those given to Module.__init__.
  /// @throws pybind11::error_already_set for a remote method that cannot be described
  PythonModule(boost::shared_ptr<EK::EKBroker> broker, const std::string& name,
               pybind11::object instance);
  /// Takes the GIL to let go of the Python object.
  ~PythonModule() override;

  void onStartDetection() override;
  void processImage(EK::EKImage* image) override;
  void onStopDetection() override;

  /// @brief Module.report(): a box of the frame that process_image is looking at. With the
  /// GIL held. @throws pybind11 RuntimeError outside process_image
  void report(int x, int y, int w, int h, int pixelCount);
  /// The detections reported since the previous call, oldest first.
  EK::EKValue getDetections();
  /// Frames handed to process_image so far.
  int getFrameCount();

 private:
  // Module.__init__'s resolution, color space and frame rate.
  struct Settings {
    int resolution;
    int colorSpace;
    int frameRate;
  };
  static Settings settingsOf(const pybind11::object& instance);
  PythonModule(boost::shared_ptr<EK::EKBroker> broker, const std::string& name,
               pybind11::object instance, const Settings& settings);

  void registerOwnMethods();
  void registerPythonMethods();
  // Logs the Python failure of @p hook with its traceback and throws it on as EKError.
  [[noreturn]] void hookFailed(const char* hook, pybind11::error_already_set& error);
  void callHook(const char* hook);

  std::string className_;
  pybind11::object instance_;       // touched with the GIL held
  pybind11::object engine_;         // the instance's handle on this module
  EK::EKImage* current_ = nullptr;  // the frame of the running process_image; GIL-guarded
  bool warnedKept_ = false;         // loop thread only

  std::atomic<int> frames_{0};
  ekmotion::DetectionQueue pending_;  // at most DetectionQueue::kCapacity kept
};

/// @brief Builds and registers a PythonModule for @p instance. With the GIL held.
/// @throws pybind11::error_already_set or EKError when it cannot be built
boost::shared_ptr<EK::EKVisionExtractor> createPythonModule(
    const boost::shared_ptr<EK::EKBroker>& broker, const std::string& name,
    const pybind11::object& instance);

/// Binds the module's engine handle (_Engine), the frame view (Image) and the factory
/// capsule for programs that embed Python.
void bindVisionModules(pybind11::module_& module);

/// Binds `_run_module(instance, options)`, a run of the module host in this process.
void bindModuleRuns(pybind11::module_& module);

}  // namespace ekpy

#endif  // EKVISION_PYTHON_PYVISIONMODULE_H
