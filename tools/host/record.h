// Recording a live camera, pipeline, stream or video file into a .arv recording.
#ifndef EKVISION_TOOLS_HOST_RECORD_H
#define EKVISION_TOOLS_HOST_RECORD_H

#include <ekvision/ekstatus.h>

#include <optional>
#include <string>

#include "host.h"

namespace ekhost {

/// What a recording of a camera is asked to do.
struct RecordOptions {
  std::string spec;                 ///< the camera SPEC (not a .arv recording)
  std::string out;                  ///< the recording; ".arv" is appended unless it ends so
  std::optional<double> seconds;    ///< time limit; with neither limit, kDefaultRecordSeconds
  std::optional<long long> frames;  ///< frame count limit
  int resolution = 2;               ///< resolution code of the recorded frames
  std::optional<int> fps;           ///< frames a second asked of the camera, and kept at most
};

/// Recording time when neither a time nor a frame limit is given.
const double kDefaultRecordSeconds = 10.0;
/// Frames a second asked of a camera when no rate is given.
const int kDefaultRecordRate = 30;

/// What a recording did.
struct RecordReport {
  std::string camera;            ///< the camera, e.g. "GStreamer pipeline '...' (640x480, YUYV)"
  std::string path;              ///< the recording, extension included
  long long recorded = 0;        ///< frames that reached the file
  double seconds = 0;            ///< time spent recording
  long long missed = 0;          ///< camera frames missed while the recorder was busy
  long long queueDropped = 0;    ///< frames dropped with the write queue full
  long long cameraFailures = 0;  ///< failures of the camera, which was reopened
  std::string lastCameraFailure;
  bool videoEnded = false;   ///< a video file came to its end
  bool writeFailed = false;  ///< a write failed: the file holds only what reached it
  /// Ok, or why the recording is a failure: a write failed, no frame was recorded, or
  /// fewer frames than asked.
  EK::EKStatus status;
};

/// @brief Records @p options.spec into @p options.out on a writer thread of its own: when
/// the disk falls behind, frames are dropped and counted, never the camera's pace. Camera
/// failures reach @p listener as they happen. Ctrl-C ends the recording early, cleanly.
/// @throws HostError when nothing could be recorded: a camera that cannot be opened, a
///   recording as SPEC or a size that recordings cannot be played at
///   (EKCause::kInvalidArgument), a file that cannot be created
RecordReport recordCamera(const RecordOptions& options, Listener& listener);

}  // namespace ekhost

#endif  // EKVISION_TOOLS_HOST_RECORD_H
