// Internal: what the capture paths hand each other: a frame, the outcome of a read and why
// a camera failed.
#ifndef EKVIDEODEVICE_CAPTURE_CAPTUREFRAME_H
#define EKVIDEODEVICE_CAPTURE_CAPTUREFRAME_H

#include <stdexcept>
#include <string>
#include <vector>

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
  std::vector<unsigned char> yuv;  // width x height x 2 bytes
  int width = 0;
  int height = 0;
  double ownMicroseconds = -1;  // the camera's own time of the frame; negative: none
};

/// What read() found.
enum class ReadResult { kFrame, kEnd, kStopped };

}  // namespace capture
}  // namespace EK

#endif  // EKVIDEODEVICE_CAPTURE_CAPTUREFRAME_H
