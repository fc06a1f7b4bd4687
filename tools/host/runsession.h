// One run of a vision module: the broker, the camera, the module, and what the run saw.
// Internal to the host: runModule() and moduleMethods() (run.h) are its entry points.
#ifndef EKVISION_TOOLS_RUNSESSION_H
#define EKVISION_TOOLS_RUNSESSION_H

#include <ekcommon/ekbroker.h>
#include <ekcommon/ekproxy.h>
#include <ekvideodevice/ekmethodserver.h>
#include <ekvideodevice/ekvideodevice.h>
#include <ekvision/ekdetection.h>
#include <ekvision/ekvisionextractor.h>

#include <memory>
#include <optional>
#include <string>

#include "contactsheet.h"
#include "detectionlog.h"
#include "framerecorder.h"
#include "host.h"
#include "observedsource.h"
#include "plugin.h"
#include "run.h"
#include "runoptions.h"
#include "scenescore.h"

namespace ekhost {

/// @brief Builds the framework of one process (broker, camera, vision module), runs the
/// module as its options say and reports to @p listener and in its RunReport.
///
/// The module runs on its own task thread; this thread subscribes, applies the calls,
/// collects the detections as the module hands them out (remote method "getDetections"),
/// unsubscribes and shuts everything down, also when a step fails.
class RunSession {
 public:
  RunSession(const RunOptions& options, Listener& listener);
  ~RunSession();
  RunSession(const RunSession&) = delete;
  RunSession& operator=(const RunSession&) = delete;

  /// @brief Does the whole run.
  /// @throws HostError or EKError for what kept it from starting, after a clean shutdown
  RunReport run();
  /// @brief Builds the camera and the module, and lists the module's methods.
  ModuleMethods methods();

 private:
  void runEveryFrame(const std::vector<EK::EKValue>& arguments);
  // Refuses outputs that would overwrite an input or each other, before anything is opened.
  void guardFiles() const;
  void buildCamera();
  std::string moduleLine() const;
  void buildModule();
  std::vector<EK::EKValue> checkCalls() const;
  void attachObservers();
  // --detections: the log opens before the first frame and closes after the summary.
  void openDetectionLog();
  void applyCalls(const std::vector<EK::EKValue>& arguments);
  // --control: answers the modules' remote methods from now until the shutdown.
  void startControl();
  // RunOptions::watcher: told of the run from the first frame on.
  void startWatcher();
  void waitForTheEnd();
  void collectDetections();
  void report(std::size_t firstFrameAfterCalls);
  // The files that end the run: the recording, the contact sheet, the detection log with
  // its summary record and the JSON summary. A failure goes into the report's status.
  void finishFiles();
  void shutDown();

  const RunOptions& options_;
  Listener& listener_;
  RunReport report_;
  std::string name_;
  int width_ = 0;
  int height_ = 0;
  std::string cameraLine_;
  bool liveCamera_ = false;  // the camera keeps a frame rate of its own

  // Declared in the order of building: the plugin outlives everything its module touches.
  std::unique_ptr<VisionPlugin> plugin_;
  std::unique_ptr<FrameRecorder> recorder_;
  std::unique_ptr<FrameSampler> sampler_;
  std::unique_ptr<DetectionLog> detectionLog_;
  std::unique_ptr<SceneScore> sceneScore_;
  std::shared_ptr<EK::EKSyntheticSource> scene_;  // none when a recording plays
  boost::shared_ptr<EK::EKBroker> broker_;
  std::shared_ptr<ObservedSource> source_;
  boost::shared_ptr<EK::EKVideoDevice> camera_;
  boost::shared_ptr<EK::EKVisionExtractor> module_;
  boost::shared_ptr<EK::EKProxy> proxy_;
  std::unique_ptr<EK::EKMethodServer> control_;  // stopped first: it calls the modules
  bool subscribed_ = false;
  bool watching_ = false;
  bool hasDetections_ = false;
  long long firstStamp_ = 0;
  DetectionsByStamp detections_;
};

}  // namespace ekhost

#endif  // EKVISION_TOOLS_RUNSESSION_H
