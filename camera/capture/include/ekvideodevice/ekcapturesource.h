/// @file
/// A frame source that captures from a live camera, a GStreamer pipeline, a network stream
/// or a video file, through OpenCV's videoio.
#ifndef EKVIDEODEVICE_EKCAPTURESOURCE_H
#define EKVIDEODEVICE_EKCAPTURESOURCE_H

#include <chrono>
#include <memory>
#include <string>

#include <ekvideodevice/ekcapture_api.h>
#include <ekvideodevice/ekcaptureformat.h>
#include <ekvideodevice/eklivesource.h>

namespace EK {

/// Angle of a typical webcam's left edge, in radians: half of 60 degrees across the picture.
constexpr float kWebcamLeftAngle = 0.52359878f;
/// Angle of its top edge: half of the 46.8 degrees that 60 degrees across give a 4:3
/// picture from top to bottom. Angles are positive to the left and top.
constexpr float kWebcamTopAngle = 0.40863786f;

/// @brief How a capture source opens its camera and reports trouble.
struct EKCaptureSettings {
  int width = 640;     ///< frame size asked of the device until a subscriber asks another
  int height = 480;    ///< see width
  int frameRate = 30;  ///< frames a second asked of the device (V4L2 and streams); 0: its own
  int cameraId = 0;    ///< camera index the pictures carry
  float leftAngle = kWebcamLeftAngle;    ///< angle of the picture's left edge
  float topAngle = kWebcamTopAngle;      ///< angle of the top edge
  float rightAngle = -kWebcamLeftAngle;  ///< angle of the right edge
  float bottomAngle = -kWebcamTopAngle;  ///< angle of the bottom edge
  bool loop = false;  ///< a video file starts again at its end; otherwise it ends there
  std::chrono::milliseconds reopenInterval{1000};  ///< wait between attempts to reopen
  std::chrono::milliseconds stallTimeout{2000};    ///< no frame for this long is a failure
  std::chrono::milliseconds openTimeout{10000};    ///< the constructor waits this long
};

/// What a capture source has done so far.
using EKCaptureStatus = EKLiveStatus;

/// @brief Captures from a camera on a thread of its own and hands every caller the latest
/// frame: a caller slower than the camera skips frames, never falls behind.
///
/// The camera is named by a spec (see parseCaptureSpec()):
/// - "/dev/videoN": a V4L2 device, asked for YUYV (taken without conversion: OpenCV's RGB
///   conversion is off) or, when it offers no YUYV at a suitable size, for MJPEG or BGR
///   (decoded to BGR by OpenCV and packed into YUV422 by EKImage), at the size
///   chooseDeviceMode() picks and at the settings' frame rate;
/// - "gst:PIPELINE": a GStreamer pipeline, run by GStreamer. Its frames are taken from the
///   pipeline's own appsink, or from one linked after its last element. YUY2 is taken as
///   delivered; UYVY, YVYU and the planar and semi-planar 4:2:2 and 4:2:0 formats with
///   8-bit samples (Y42B, NV16, NV61, I420, YV12, NV12, NV21) are reordered, every sample
///   copied as it is (a 4:2:0 chroma row serves two picture rows); GRAY8 gets neutral
///   chroma; 8-bit RGB formats (BGR, RGB, BGRx, RGBx, xBGR, xRGB and those with alpha,
///   alpha ignored) are converted by EKImage. Any other format is refused with a failure
///   that names it (end the pipeline with `videoconvert ! video/x-raw,format=YUY2`). An
///   appsink without caps of its own is offered these formats, YUY2 first. The pipeline's
///   errors are the failures' words; GStreamer's own log goes to ru::log (see
///   routeMediaLogs());
/// - "rtsp://...", "http://...": a network stream, read by OpenCV's FFmpeg reader, decoded
///   to BGR;
/// - a video file, played at its own frame rate, decoded to BGR by OpenCV's FFmpeg reader; at its
/// end it either
///   starts again (EKCaptureSettings::loop) or ends.
///
/// Time stamps: each frame is stamped when it was captured. A V4L2 driver's buffer time and
/// a pipeline's running time are turned into wall-clock microseconds by EKStampClock; a
/// network stream's frames are stamped on arrival; a file's frames at the wall-clock time
/// at which playback reaches them. Stamps strictly increase. Frames are counted
/// (EKCaptureStatus::framesCaptured).
///
/// Size: the device is asked for the settings' size, and for the size of a subscriber that
/// asks another (V4L2 devices only; a pipeline's caps and a file's size are fixed). When
/// the frames have another size than a request, they are scaled: YUV422 is unpacked to BGR
/// (EKImage::computeBGRimageFromYUV422), resized with OpenCV's area filter (linear when
/// enlarging), and packed again (EKImage::computeYUV422imageFromBGR).
///
/// Color space: YUV422 requests get the frame's bytes; every other color space gets the
/// luma in each of its layers, as the synthetic scene does. Camera index and the four
/// angles come from the settings.
///
/// Failures: a device that vanishes or cannot be opened, a stream that ends, fails or
/// brings no frame for EKCaptureSettings::stallTimeout. The next grab() of each subscriber
/// throws EKError (module "EKVideoDevice", method "getImageRemote") naming the cause, once
/// per failure: an EK::EKFailure whose cause() is kUnavailable for a camera or stream that
/// cannot be opened or read, stalled or ended (a file's end included), kUnsupported for a
/// format it cannot take, kBadFormat for a frame that is not what its format says; its following
/// calls get the last frame captured before the failure again, with its old time stamp, until
/// frames flow again. A live source is reopened every EKCaptureSettings::reopenInterval until it
/// delivers again; a file that ended without loop is not reopened. A stalled read that never
/// returns cannot be cut short: OpenCV's readers give up on their own (network timeouts, a
/// pipeline's error).
///
/// All operations are safe from any thread.
class EKCAPTURE_API EKCaptureSource : public EKLiveSource {
 public:
  /// @brief Opens the camera @p spec and waits for its first frame.
  /// @throws EKError (module "EKCaptureSource", method "open") for a spec that names
  ///   nothing, and when the camera cannot be opened or brings no frame within
  ///   EKCaptureSettings::openTimeout, with the cause: an EK::EKFailure whose cause() is
  ///   kNotFound for a spec that names nothing or a video file that is not there,
  ///   kUnavailable for a camera that cannot be opened or brings no frame, kUnsupported
  ///   for a device that offers no format it can take
  explicit EKCaptureSource(const std::string& spec, const EKCaptureSettings& settings = {});
  /// @brief Stops the capture thread and closes the camera. A read blocked in a stalled
  /// stream is waited for 2 s; after that the thread is left to end with the read, and
  /// closes the camera then.
  ~EKCaptureSource() override;
  EKCaptureSource(const EKCaptureSource&) = delete;
  EKCaptureSource& operator=(const EKCaptureSource&) = delete;

  /// @brief The latest frame at the request's size and color space, with its own time
  /// stamp; the request's time stamp and frame index are not used.
  /// @throws EKError once per failure and subscriber, as the class comment says
  EKValue grab(const EKFrameRequest& request) override;
  EKValue grabNumbered(const EKFrameRequest& request, long long& frameNumber) override;
  long long waitForFrame(long long seen, std::chrono::milliseconds timeout) const override;
  EKCaptureStatus status() const override;
  /// True for a video file played once.
  bool ends() const override;
  /// The camera named by the constructor's spec, taken apart.
  const EKCaptureTarget& target() const;

 private:
  class Impl;
  std::shared_ptr<Impl> impl_;  // shared with the capture thread
};

}  // namespace EK

#endif  // EKVIDEODEVICE_EKCAPTURESOURCE_H
