// Internal: one opened camera of a capture source, through OpenCV's videoio.
#ifndef EKVIDEODEVICE_CAPTURE_CAPTUREDEVICE_H
#define EKVIDEODEVICE_CAPTURE_CAPTUREDEVICE_H

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include <opencv2/videoio.hpp>

#include <ekvideodevice/ekcaptureformat.h>
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

// Opens a camera and reads its frames; used by the capture thread alone.
class CaptureDevice {
 public:
  // Waits until a wall-clock deadline; false when the source is stopping.
  using Sleeper = std::function<bool(long long deadlineMicroseconds)>;

  CaptureDevice(EKCaptureTarget target, int frameRate);

  // Opens the camera asking for frames of width x height. @throws CaptureFailure
  void open(int width, int height);
  void close();
  bool isOpen() const { return capture_.isOpened(); }
  // Asks an open V4L2 device for another size; other cameras keep theirs.
  void askSize(int width, int height);
  // Reads the next frame into @p frame, converted to YUV422 where needed. A file is played
  // at its own rate: @p sleep waits until the frame is due, and kStopped when it says so.
  // kEnd: a file's end or a stream that ended. @throws CaptureFailure for a frame that
  // cannot be taken.
  ReadResult read(RawFrame& frame, const Sleeper& sleep);
  // Starts a file again from its first frame. @throws CaptureFailure
  void rewind();

  // "YUYV as delivered", "BGR converted to YUV422"...
  const std::string& format() const { return format_; }

 private:
  void openV4L2(int width, int height);
  void openWith(const std::vector<cv::VideoCaptureAPIs>& apis, const std::vector<int>& params);
  void takeFrame(const cv::Mat& mat, RawFrame& frame);

  EKCaptureTarget target_;
  int frameRate_;
  cv::VideoCapture capture_;
  cv::Mat mat_;
  std::string format_;
  // Video files: when playback started and how many frames were read since.
  long long playStart_ = 0;
  long long played_ = 0;
  double filePeriod_ = 0;
};

// The wall clock in microseconds.
long long wallMicroseconds();

}  // namespace capture
}  // namespace EK

#endif  // EKVIDEODEVICE_CAPTURE_CAPTUREDEVICE_H
