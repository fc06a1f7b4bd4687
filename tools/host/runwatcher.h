// What a live view of a run sees: each frame the module fetches, the moment it is done with
// it, and the detections collected, so that a frame can be shown with its own boxes.
#ifndef EKVISION_TOOLS_HOST_RUNWATCHER_H
#define EKVISION_TOOLS_HOST_RUNWATCHER_H

#include <ekvalue/ekvalue.h>
#include <ekvision/ekdetection.h>

#include <cstddef>
#include <functional>
#include <string>

namespace ekhost {

/// @brief Calls a remote method of the running module: name, argument list; returns the
/// result. Thread-safe. @throws EK::EKError as the method or the call failed
using ModuleCaller = std::function<EK::EKValue(const std::string& method, const EK::EKValue&)>;

/// @brief Watches a run of a vision module (RunOptions::watcher).
///
/// The module processes frames in the order it fetches them, so the frames it is done with
/// are the first `processed(count)` fetched. started(), detected() and processed() are
/// called on the thread that runs the session; fetched() on the module's, where an
/// override copies what it needs and returns at once.
class RunWatcher {
 public:
  virtual ~RunWatcher() = default;
  /// The module @p name runs at @p frameRate; @p caller reaches its remote methods until
  /// finished() is called.
  virtual void started(const std::string& name, int frameRate, ModuleCaller caller) = 0;
  /// The module fetched @p image, its next frame.
  virtual void fetched(const EK::EKValue& image) = 0;
  /// A detection the module handed out; its time stamp is its frame's.
  virtual void detected(const EK::EKDetection& detection) = 0;
  /// The module is done with the first @p count frames it fetched, and their detections
  /// have all been passed to detected().
  virtual void processed(std::size_t count) = 0;
  /// The run ends: the caller must no longer be used.
  virtual void finished() = 0;
};

}  // namespace ekhost

#endif  // EKVISION_TOOLS_HOST_RUNWATCHER_H
