/// @file
/// A frame source that plays an `.arv` recording in a loop.
#ifndef EKVIDEODEVICE_EKARVSOURCE_H
#define EKVIDEODEVICE_EKARVSOURCE_H

#include <mutex>
#include <string>

#include <ekvideodevice/ekframesource.h>
#include <ekvision/ekimage.h>
#include <ekvision/ekvideo.h>

namespace EK {

/// @brief Plays stream 0 of a recording, over and over: frame n of a subscriber's stream is
/// frame n modulo the recording's frame count.
///
/// Size: every picture has the recording's own size, whatever resolution the subscriber
/// asked for; the source cannot scale.
///
/// Color space: a picture has the color space the subscriber asked for, when the source can
/// make it from the recording:
/// - the recording's own color space: its pixels as recorded;
/// - from a YUV422 or a one-layer recording (whose luma it knows): YUV422 gets the luma with
///   neutral chroma (128), every other color space the luma in each of its layers, as the
///   synthetic scene does;
/// - from a recording of any other color space, whose pixel layout the library does not
///   know, nothing else: grab() throws EKError and the camera's caller gets no picture.
///
/// Pixels: the first 25 bytes of a recorded frame hold its record header (time stamp,
/// camera, angles) instead of pixels; the source fills them with the first stored pixel
/// group (see concealRecordHeader()), so that a detector does not see them change.
///
/// Time stamp and camera index come from the request; the field-of-view angles from the
/// recording. The recording is read with one EKVideo, which is not thread-safe: reads are
/// serialised by a mutex, and the source is safe from any number of threads.
class EKVIDEODEVICE_API EKArvSource : public EKFrameSource {
 public:
  /// @brief Opens the recording at @p path (the whole file name, extension included).
  /// @throws EKError from EK::inspectVideo (its description is the cause: "no such
  ///   file", "permission denied", "is a directory"...) when the file cannot be read, from
  ///   EKVideo::readVideo when the library cannot play it, and (module
  ///   "EKArvSource", method "EKArvSource") when its stream 0 is not of depth 8 or the file
  ///   holds no complete frame
  explicit EKArvSource(const std::string& path);
  /// Closes the recording.
  ~EKArvSource() override;

  /// @brief The picture of frame `request.frameIndex` modulo frameCount().
  /// @throws EKError (module "EKVideoDevice", method "getImageRemote") when the color space
  ///   cannot be made or the frame cannot be read
  EKValue grab(const EKFrameRequest& request) override;

  /// Frames played in a loop: the complete frames of the file, at most the header's count.
  unsigned int frameCount() const noexcept { return frameCount_; }
  /// Width of the recording's pictures.
  int width() const noexcept { return width_; }
  /// Height of the recording's pictures.
  int height() const noexcept { return height_; }
  /// Color-space code of the recording.
  int colorSpace() const noexcept { return colorSpace_; }

  /// @brief Fills the bytes that a recorded frame's header occupies (0 to 24) with copies of
  /// the first whole pixel group stored after them (4 bytes for YUV422, one pixel of the
  /// image's layers otherwise). Does nothing to an image too small to hold such a group.
  static void concealRecordHeader(EKImage& image);

 private:
  std::mutex mutex_;  // guards video_ and frame_
  EKVideo video_;
  EKImage frame_;
  unsigned int frameCount_ = 0;
  int width_ = 0;
  int height_ = 0;
  int colorSpace_ = 0;
};

}  // namespace EK

#endif  // EKVIDEODEVICE_EKARVSOURCE_H
