// Internal: one opened camera of a capture source: GStreamer pipelines run by GStreamer
// itself, the other cameras through OpenCV's videoio.
#ifndef EKVIDEODEVICE_CAPTURE_CAPTUREDEVICE_H
#define EKVIDEODEVICE_CAPTURE_CAPTUREDEVICE_H

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <opencv2/videoio.hpp>

#include <ekvideodevice/ekcaptureformat.h>

#include "captureframe.h"
#include "gstpipeline.h"

namespace EK {
namespace capture {

// Opens a camera and reads its frames; used by the capture thread alone.
class CaptureDevice {
 public:
  // Waits until a wall-clock deadline; false when the source is stopping.
  using Sleeper = std::function<bool(long long deadlineMicroseconds)>;

  CaptureDevice(EKCaptureTarget target, int frameRate);

  // Opens the camera asking for frames of width x height. @throws CaptureFailure
  void open(int width, int height);
  void close();
  bool isOpen() const { return pipeline_ != nullptr || capture_.isOpened(); }
  // Asks an open V4L2 device for another size; other cameras keep theirs.
  void askSize(int width, int height);
  // Reads the next frame into @p frame, converted to YUV422 where needed. A file is played
  // at its own rate: @p sleep waits until the frame is due, and kStopped when it says so.
  // kEnd: a file's end or a stream that ended. @throws CaptureFailure for a frame that
  // cannot be taken.
  ReadResult read(RawFrame& frame, const Sleeper& sleep);
  // Starts a file again from its first frame. @throws CaptureFailure
  void rewind();

  // "YUYV as delivered", "UYVY reordered to YUY2", "BGR converted to YUV422"...
  const std::string& format() const { return pipeline_ ? pipeline_->format() : format_; }

 private:
  void openV4L2(int width, int height);
  void openWith(const std::vector<cv::VideoCaptureAPIs>& apis, const std::vector<int>& params);
  void takeFrame(const cv::Mat& mat, RawFrame& frame);

  EKCaptureTarget target_;
  int frameRate_;
  std::unique_ptr<GstPipeline> pipeline_;
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
