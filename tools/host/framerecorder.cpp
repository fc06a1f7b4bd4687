#include "framerecorder.h"

#include <ekvision/ekimagevalue.h>

#include "host.h"
#include "observedsource.h"
#include "recording.h"

namespace ekhost {

FrameRecorder::FrameRecorder(const std::string& path, int width, int height, int colorSpace,
                             std::size_t queueCapacity)
    : width_(width), height_(height), colorSpace_(colorSpace), capacity_(queueCapacity) {
  startRecording(video_, path, {{width, height, colorSpace, 8}});
  writer_ = std::thread([this] { writeLoop(); });
}

FrameRecorder::~FrameRecorder() {
  finish();
}

void FrameRecorder::offer(const EK::EKValue& image) {
  if (int(image[EK::kImageArrayWidth]) != width_ || int(image[EK::kImageArrayHeight]) != height_ ||
      int(image[EK::kImageArrayColorSpace]) != colorSpace_) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++report_.otherSize;
    return;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (finishing_ || report_.writeFailed || queue_.size() >= capacity_) {
      ++report_.dropped;
      return;
    }
  }
  // The copy is made outside the lock, so that the writer is never kept waiting for it.
  Frame frame;
  const EK::EKValue& pixels = image[EK::kImageArrayPixels];
  const char* bytes = static_cast<const char*>(pixels.GetBinary());
  frame.pixels.assign(bytes, bytes + pixels.getBinarySize());
  frame.timeStamp = imageTimeStamp(image);
  frame.cameraId = static_cast<char>(int(image[EK::kImageArrayCamera]));
  for (int i = 0; i < 4; ++i) {
    frame.angles[i] = float(image[EK::kImageArrayLeftAngle + i]);
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (finishing_ || report_.writeFailed) {
      ++report_.dropped;
      return;
    }
    queue_.push_back(std::move(frame));
  }
  changed_.notify_one();
}

void FrameRecorder::writeLoop() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    changed_.wait(lock, [&] { return finishing_ || !queue_.empty(); });
    if (queue_.empty()) {
      return;
    }
    Frame frame = std::move(queue_.front());
    queue_.pop_front();
    lock.unlock();
    const bool written = video_.write(frame.pixels.data(), static_cast<int>(frame.pixels.size()),
                                      frame.timeStamp, frame.cameraId, frame.angles[0],
                                      frame.angles[1], frame.angles[2], frame.angles[3]);
    const EK::EKStatus status = written ? EK::EKStatus() : EK::lastVideoStatus(video_);
    lock.lock();
    if (written) {
      ++report_.recorded;
    } else {
      report_.writeFailed = true;
      report_.writeStatus = status;
      report_.dropped += 1 + queue_.size();
      queue_.clear();
    }
  }
}

RecorderReport FrameRecorder::finish() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    finishing_ = true;
  }
  changed_.notify_one();
  if (writer_.joinable()) {
    writer_.join();
    const EK::EKStatus finished = finishRecording(video_);
    std::lock_guard<std::mutex> lock(mutex_);
    if (!finished.ok() && !report_.writeFailed) {
      // Records accepted into the stream's buffer were lost when it was written out.
      report_.writeFailed = true;
      report_.writeStatus = finished;
    }
    return report_;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  return report_;
}

}  // namespace ekhost
