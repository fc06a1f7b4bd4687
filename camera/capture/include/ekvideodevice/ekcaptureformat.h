/// @file
/// The decisions of the capture source, as plain functions: what a camera spec names,
/// which format and size to ask of a V4L2 device, and how a device's time stamps become
/// wall-clock microseconds.
#ifndef EKVIDEODEVICE_EKCAPTUREFORMAT_H
#define EKVIDEODEVICE_EKCAPTUREFORMAT_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <ekvideodevice/ekcapture_api.h>

namespace EK {

/// What a camera spec names.
enum class EKCaptureKind {
  kV4L2Device,     ///< "/dev/videoN": a V4L2 capture device
  kGStreamer,      ///< "gst:PIPELINE": a GStreamer pipeline
  kNetworkStream,  ///< "SCHEME://...": rtsp, http and the other streams FFmpeg reads
  kVideoFile,      ///< anything else: a video file, played at its own frame rate
};

/// @brief A camera spec taken apart.
struct EKCaptureTarget {
  EKCaptureKind kind;    ///< the kind of camera named
  std::string location;  ///< device path, pipeline text, URL or file
};

/// @brief Reads a camera spec.
///
/// "gst:" followed by a pipeline is a GStreamer pipeline (the capture source links an
/// appsink after it when none of its elements is one). A path beginning with "/dev/video" is a V4L2
/// device; text with
/// "://" after a scheme of letters is a network stream; anything else a video file.
/// @return nothing for an empty spec or an empty pipeline
EKCAPTURE_API std::optional<EKCaptureTarget> parseCaptureSpec(const std::string& spec);

/// The name of a kind, e.g. "GStreamer pipeline".
EKCAPTURE_API const char* toString(EKCaptureKind kind);

/// @brief A four-character code as V4L2 and OpenCV write it: 'Y','U','Y','V' -> "YUYV".
EKCAPTURE_API std::uint32_t fourcc(const char code[5]);
/// The four characters of a code; unprintable bytes become '.'.
EKCAPTURE_API std::string fourccText(std::uint32_t code);

/// @brief One pixel format and frame size a V4L2 device offers.
struct EKDeviceMode {
  std::uint32_t fourcc;  ///< pixel format, e.g. fourcc("YUYV")
  int width;             ///< frame width in pixels
  int height;            ///< frame height in pixels
};

/// @brief What to ask of a V4L2 device.
struct EKCaptureMode {
  std::uint32_t fourcc;  ///< the format to ask for
  int width;             ///< the size to ask for
  int height;            ///< the size to ask for
  bool native;           ///< YUYV, taken as delivered; otherwise OpenCV decodes it to BGR and the
                         ///< library packs that into YUV422
  bool scaled;  ///< the device has not the wanted size: frames are scaled (see EKCaptureSource)
};

/// @brief Chooses the format and size to ask of a device that offers @p offered, for
/// frames of @p width x @p height.
///
/// Usable formats: YUYV (taken as it comes), and MJPG, JPEG, BGR3 and RGB3 (decoded by
/// OpenCV to BGR, then converted to YUV422). The wanted size matters more than the format,
/// since scaling loses more than a conversion, so the order is: YUYV at the wanted size;
/// another usable format at the wanted size; then a size to scale from, the smallest that
/// is at least as large in both directions (or else the largest), YUYV before the others
/// at each size.
/// @return nothing when the device offers no usable format
EKCAPTURE_API std::optional<EKCaptureMode> chooseDeviceMode(
    const std::vector<EKDeviceMode>& offered, int width, int height);

/// @brief Sizes to consider from a device's stepwise or continuous size range: the wanted
/// size when it lies on the range's steps, and the range's smallest and largest sizes.
EKCAPTURE_API std::vector<EKDeviceMode> stepwiseCandidates(std::uint32_t fourcc, int minWidth,
                                                           int maxWidth, int stepWidth,
                                                           int minHeight, int maxHeight,
                                                           int stepHeight, int width, int height);

/// @brief Turns a device's or pipeline's frame times into wall-clock microseconds.
///
/// A source's own clock (a driver's monotonic stamps, a pipeline's running time) has an
/// unknown offset to the wall clock. The offset is taken as the smallest (arrival - own
/// time) seen since the last reset(): the frame that came through fastest sets it. Stamps
/// so made never run ahead of the arrival time and strictly increase. A frame without an
/// own time (negative, not a number, or not after the previous one) is stamped with its
/// arrival time.
class EKCAPTURE_API EKStampClock {
 public:
  /// @brief The stamp of a frame that arrived at @p arrival (wall clock, microseconds) with
  /// the source's own time @p ownMicroseconds (negative when it has none).
  long long stamp(long long arrival, double ownMicroseconds);
  /// Forgets the offset, e.g. when the source was reopened and its clock restarted.
  void reset();

 private:
  bool anchored_ = false;
  long long offset_ = 0;
  double lastOwn_ = -1;
  long long lastStamp_ = -1;
};

}  // namespace EK

#endif  // EKVIDEODEVICE_EKCAPTUREFORMAT_H
