// Running a vision module: the broker, the camera module and the module of one process,
// paced as the robot's framework paces it, or over every frame of a recording.
#ifndef EKVISION_TOOLS_HOST_RUN_H
#define EKVISION_TOOLS_HOST_RUN_H

#include <ekcommon/ekmethodinfo.h>
#include <ekvision/ekstatus.h>

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "framerecorder.h"
#include "host.h"
#include "pacing.h"
#include "runoptions.h"

namespace ekhost {

/// How the module's boxes matched the rectangle that the synthetic scene drew.
struct SceneMatch {
  std::size_t detections = 0;  ///< detections compared
  double meanIoU = 0;          ///< mean intersection over union
  double minimumIoU = 0;       ///< smallest intersection over union
};

/// What a run did.
struct RunReport {
  std::string camera;      ///< the camera, e.g. "synthetic scene 640x480 (epoch 0 us)"
  std::string module;      ///< the module's name
  std::string modulePath;  ///< the plugin it came from; empty for the built-in module
  bool everyFrame = false;
  long long framesProcessed = 0;  ///< frames the module processed
  int requestedRate = 0;          ///< the module's frame rate
  double seconds = 0;             ///< from the first frame to the last
  double rate = 0;                ///< frames a second achieved
  /// Paced runs: the periods between fetches. Its repeated and skipped counts mean
  /// something only when `cameraOnModuleGrid`.
  std::optional<PacingReport> pacing;
  /// The camera makes a frame for every request on the module's own frame grid (the
  /// synthetic scene, a recording), unlike a live camera with a rate of its own.
  bool cameraOnModuleGrid = true;
  std::size_t detections = 0;               ///< detections collected
  std::optional<SceneMatch> scene;          ///< on the synthetic scene
  std::optional<RecorderReport> recording;  ///< with RunOptions::record
  std::string recordingPath;                ///< the file recorded, extension included
  std::optional<std::size_t> contactSheet;  ///< frames drawn, with RunOptions::contactSheet
  std::optional<std::size_t> detectionLog;  ///< detection lines, with RunOptions::detections
  bool summaryWritten = false;              ///< RunOptions::summaryJson was written
  /// Ok, or why the run is a failure although it ran: no frame reached the module, or a
  /// file could not be written whole. The JSON summary was written all the same.
  EK::EKStatus status;
};

/// @brief Builds the broker, the camera and the module, runs the module as @p options say,
/// shuts everything down and reports. Detections, calls and camera failures reach
/// @p listener as they happen. Ctrl-C (SIGINT) or SIGTERM ends the run early, cleanly.
/// @throws HostError when the run could not start: a camera or plugin that cannot be
///   opened, a call the module cannot take (EKCause::kInvalidArgument), an output that
///   would overwrite the camera's recording
RunReport runModule(const RunOptions& options, Listener& listener);

/// A module's name and its remote methods.
struct ModuleMethods {
  std::string name;                       ///< the module's name
  std::vector<EK::EKMethodInfo> methods;  ///< its method table, in order
};

/// @brief The remote methods of the module that @p options name, without running it.
/// @throws HostError as runModule()
ModuleMethods moduleMethods(const RunOptions& options);

/// @brief The summary of @p report as one JSON object (no newline): frames, detections,
/// seconds, rate, everyFrame, and "error" (null, or {"cause", "message"}).
std::string runSummaryJson(const RunReport& report);

}  // namespace ekhost

#endif  // EKVISION_TOOLS_HOST_RUN_H
