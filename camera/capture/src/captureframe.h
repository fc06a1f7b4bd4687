// Internal: what the capture paths hand each other: a frame, the outcome of a read and why
// a camera failed.
#ifndef EKVIDEODEVICE_CAPTURE_CAPTUREFRAME_H
#define EKVIDEODEVICE_CAPTURE_CAPTUREFRAME_H

#include <cstddef>
#include <memory>
#include <stdexcept>
#include <string>

#include <ekvideodevice/ekframepool.h>
#include <ekvision/ekstatus.h>

namespace EK {
namespace capture {

/// Why a camera could not be opened or read: the text names the cause, cause() gives it as
/// a code.
class CaptureFailure : public std::runtime_error {
 public:
  CaptureFailure(EKCause cause, const std::string& what)
      : std::runtime_error(what), cause_(cause) {}
  EKCause cause() const noexcept { return cause_; }

 private:
  EKCause cause_;
};

/// One frame as the camera delivered it, packed into YUV422.
struct RawFrame {
  explicit RawFrame(EKFramePool& pool) : pool(&pool) {}

  // Makes the frame width x height with a buffer from the pool that nobody else holds, and
  // gives its pixels to fill.
  unsigned char* resize(int newWidth, int newHeight) {
    width = newWidth;
    height = newHeight;
    yuv = pool->acquire(bytes());
    return yuv.get();
  }
  std::size_t bytes() const { return static_cast<std::size_t>(width) * height * 2; }

  std::shared_ptr<unsigned char> yuv;  // width x height x 2 bytes
  int width = 0;
  int height = 0;
  double ownMicroseconds = -1;  // the camera's own time of the frame; negative: none
  EKFramePool* pool;            // where the buffers come from
};

/// What read() found.
enum class ReadResult { kFrame, kEnd, kStopped };

}  // namespace capture
}  // namespace EK

#endif  // EKVIDEODEVICE_CAPTURE_CAPTUREFRAME_H
