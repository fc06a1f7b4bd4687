// The host's view of the camera: every frame the vision module fetches passes through here.
#ifndef EKVISION_TOOLS_OBSERVEDSOURCE_H
#define EKVISION_TOOLS_OBSERVEDSOURCE_H

#include <ekvideodevice/ekframesource.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace ekhost {

/// When a frame was fetched, and the time stamp the camera gave it.
struct FrameTiming {
  std::chrono::steady_clock::time_point fetched;
  long long timeStamp;
};

/// The time stamp of an image array, in microseconds.
long long imageTimeStamp(const EK::EKValue& image);

/// @brief A frame source that hands every request to another one and watches the result.
///
/// It notes when each frame was fetched and its time stamp, and shows the image array to
/// the observers (a recorder, a sampler) on the fetching thread, the processing loop's:
/// an observer copies what it needs and returns at once. Safe from any thread.
class ObservedSource : public EK::EKFrameSource {
 public:
  /// Sees each image array delivered, in order.
  using Observer = std::function<void(const EK::EKValue& image)>;

  explicit ObservedSource(std::shared_ptr<EK::EKFrameSource> inner);

  /// Adds an observer; call before the camera is in use.
  void addObserver(Observer observer);

  /// Forwards to the inner source, and counts the images given back.
  void checkCall(EK::EKCameraCall call) override;
  /// The inner source's picture, noted and shown to the observers.
  EK::EKValue grab(const EK::EKFrameRequest& request) override;

  /// @brief Waits until @p count frames have been fetched, or until @p deadline.
  /// @return the number of frames fetched
  std::size_t waitForFrames(std::size_t count, std::chrono::steady_clock::time_point deadline);
  /// @brief Waits until more than @p released images have been given back (the module is
  /// done with its frame), or until @p deadline. @return the number given back
  std::size_t waitForRelease(std::size_t released, std::chrono::steady_clock::time_point deadline);
  /// @brief Frames the module is done with: those fetched before it last gave an image back
  /// (it gives back its frame once processed, also when the fetch failed).
  std::size_t framesDone() const;
  /// Timings of the frames fetched so far, in order.
  std::vector<FrameTiming> timings() const;

 private:
  std::shared_ptr<EK::EKFrameSource> inner_;
  std::vector<Observer> observers_;
  mutable std::mutex mutex_;
  std::condition_variable fetched_;
  std::vector<FrameTiming> timings_;
  std::size_t released_ = 0;
  std::size_t framesDone_ = 0;
};

}  // namespace ekhost

#endif  // EKVISION_TOOLS_OBSERVEDSOURCE_H
