// The live picture of the viewer: the newest frame a module is done with, with its own
// detections, or the newest frame of a camera watched without a module.
#ifndef EKVISION_TOOLS_VIEWER_LIVEVIEW_H
#define EKVISION_TOOLS_VIEWER_LIVEVIEW_H

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "observedsource.h"
#include "runwatcher.h"
#include "viewerframe.h"

namespace ekviewer {

/// Remote methods of the module that pages may call: pause, resume and the frame rate.
bool isPageMethod(const std::string& method);

/// @brief Holds the newest frame for the pages. A page asks for a frame newer than the one it
/// shows and gets the newest there is: a slow page skips frames, none queue up.
///
/// As a RunWatcher it shows a frame once the module is done with it, with the detections
/// stamped as that frame is (never the latest ones). Thread-safe.
class LiveView : public ekhost::RunWatcher {
 public:
  LiveView();
  ~LiveView() override;

  /// @brief Shows the frame of a camera watched without a module, at once.
  void show(const EK::EKValue& image);

  /// @brief Waits up to @p timeout for a frame numbered above @p after.
  /// @return the frameBody() of the newest frame, or nothing when none came in time or
  ///   close() was called. Its JSON has "stats": frames, rate, requestedRate, p99DeviationMs,
  ///   skipped over the last seconds; "module" (its name, or null); "fetchedAt", when the
  ///   frame reached the view (wall clock, microseconds), and "problem" (null, or a frame
  ///   that could not be shown).
  std::optional<std::string> frameAfter(long long after, std::chrono::milliseconds timeout);

  /// @brief Calls a remote method of the module that isPageMethod() allows.
  /// @throws ekhost::HostError (kInvalidArgument) for another method, (kUnavailable) when no
  ///   module runs; EK::EKError as the call failed
  EK::EKValue callModule(const std::string& method, const EK::EKValue& arguments);

  /// Wakes every page waiting for a frame; they get none from now on.
  void close();

  /// A problem to show beside the frames (a picture that cannot be shown), or "".
  std::string problem() const;

  void started(const std::string& name, int frameRate, ekhost::ModuleCaller caller) override;
  void fetched(const EK::EKValue& image) override;
  void detected(const EK::EKDetection& detection) override;
  void processed(std::size_t count) override;
  void finished() override;

 private:
  struct Pending {
    std::size_t number;
    std::optional<Picture> picture;  // none when the frame cannot be shown
    long long fetchedAt;             // wall clock, microseconds
  };
  void publish(Pending pending, std::unique_lock<std::mutex>& lock);
  std::string statsJson() const;

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  bool closed_ = false;
  std::string module_;
  int requestedRate_ = 0;
  ekhost::ModuleCaller caller_;
  std::string problem_;
  std::size_t fetched_ = 0;
  std::deque<Pending> pending_;  // fetched, not yet done
  std::deque<ekhost::FrameTiming> recent_;
  std::multimap<long long, EK::EKDetection> detections_;  // of frames not yet shown
  // The frame shown: numbered from 1; its body is made when a page first asks for it.
  long long shownNumber_ = 0;
  std::shared_ptr<const Picture> shown_;
  long long shownFetchedAt_ = 0;
  std::vector<EK::EKDetection> shownDetections_;
  std::shared_ptr<const std::string> shownBody_;
  std::mutex encoding_;  // one JPEG encoder at a time, outside mutex_
};

}  // namespace ekviewer

#endif  // EKVISION_TOOLS_VIEWER_LIVEVIEW_H
