// Recording the frames of a run without slowing down the loop that processes them.
#ifndef EKVISION_TOOLS_FRAMERECORDER_H
#define EKVISION_TOOLS_FRAMERECORDER_H

#include <ekvalue/ekvalue.h>
#include <ekvision/ekstatus.h>
#include <ekvision/ekvideo.h>

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace ekhost {

/// What a recorder did.
struct RecorderReport {
  std::size_t recorded = 0;   ///< frames written
  std::size_t dropped = 0;    ///< frames offered while the queue was full, or after a failure
  std::size_t otherSize = 0;  ///< frames of another size or color space than the recording's
  bool writeFailed = false;   ///< a write failed (disk full): later frames were dropped
  EK::EKStatus writeStatus;   ///< why the write failed
};

/// @brief Writes image arrays to a one-stream `.arv` recording on a thread of its own.
///
/// offer() copies the frame into a bounded queue and returns at once; when the queue is
/// full the frame is dropped and counted, so a slow disk never delays the caller.
class FrameRecorder {
 public:
  /// @brief Creates @p path (extension included) for frames of this size and color space.
  /// @throws HostError when the file cannot be created or another writer holds it
  FrameRecorder(const std::string& path, int width, int height, int colorSpace,
                std::size_t queueCapacity = 32);
  /// Finishes the recording if finish() was not called.
  ~FrameRecorder();
  FrameRecorder(const FrameRecorder&) = delete;
  FrameRecorder& operator=(const FrameRecorder&) = delete;

  /// Queues a copy of the image array's frame; safe from any thread.
  void offer(const EK::EKValue& image);
  /// Writes what is queued, closes the recording and reports. Later offers are dropped.
  RecorderReport finish();

 private:
  struct Frame {
    std::vector<char> pixels;
    long long timeStamp;
    char cameraId;
    float angles[4];
  };

  void writeLoop();

  EK::EKVideo video_;
  int width_;
  int height_;
  int colorSpace_;
  std::size_t capacity_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Frame> queue_;
  bool finishing_ = false;
  RecorderReport report_;
  std::thread writer_;
};

}  // namespace ekhost

#endif  // EKVISION_TOOLS_FRAMERECORDER_H
