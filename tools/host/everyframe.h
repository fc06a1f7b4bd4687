// Offline runs: every frame of a recording handed to a module once, in order, unpaced.
#ifndef EKVISION_TOOLS_EVERYFRAME_H
#define EKVISION_TOOLS_EVERYFRAME_H

#include <ekvision/ekimage.h>
#include <ekvision/ekvideo.h>

#include <string>

namespace ekhost {

/// @brief Reads every frame of stream 0 of a recording in order, into one reused image, as
/// a vision module would see it from the camera: the record header that leads each record
/// is concealed as the recording's camera source conceals it, while the image keeps the
/// frame's recorded time stamp, camera and angles.
///
/// Only frames that lie whole in the file are read, so a recording left open by a crash
/// is read up to its last complete frame.
class EveryFrameReader {
 public:
  /// @brief Opens @p path for a module that takes pictures of @p colorSpace.
  /// @throws HostError when the recording cannot be played, holds no complete frame, or
  ///   holds another color space than the module's
  EveryFrameReader(const std::string& path, int colorSpace);

  /// Frames that lie whole in the file.
  unsigned int frameCount() const { return frameCount_; }
  /// Size of the frames.
  int width() const { return image_.width; }
  /// Size of the frames.
  int height() const { return image_.height; }

  /// @brief Frame @p index (below frameCount()), valid until the next call.
  /// @throws HostError when it cannot be read (the file changed under the run)
  EK::EKImage& read(unsigned int index);

 private:
  std::string path_;
  EK::EKVideo video_;
  EK::EKImage image_;
  unsigned int frameCount_ = 0;
};

}  // namespace ekhost

#endif  // EKVISION_TOOLS_EVERYFRAME_H
