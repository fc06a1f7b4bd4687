// A video file read with FFmpeg's libraries, frame by frame in display order, each frame
// with its true time stamp.
#ifndef EKVISION_TOOLS_VIDEODECODER_H
#define EKVISION_TOOLS_VIDEODECODER_H

#include <opencv2/core.hpp>

#include <cstdint>
#include <memory>
#include <string>

#include "videotimestamps.h"

namespace ekhost {

/// @brief Decodes the best video stream of a file and stamps its frames (VideoStamper).
///
/// Opening reads every packet of the file once, without decoding, to learn the stream's
/// presentation times, so that a constant-rate video can be told from a variable-rate one
/// before the first frame is stamped; the file is then opened again to decode it.
class VideoDecoder {
 public:
  /// @brief Opens @p path; nothing when FFmpeg cannot read a video stream from it.
  /// @param start stamp of the first frame, microseconds
  /// @param why receives the reason when nothing is returned
  static std::unique_ptr<VideoDecoder> open(const std::string& path, long long start,
                                            std::string& why);
  ~VideoDecoder();
  VideoDecoder(const VideoDecoder&) = delete;
  VideoDecoder& operator=(const VideoDecoder&) = delete;

  /// @brief The next frame in display order, as 8-bit BGR of its own size, and its stamp.
  /// @return false at the end of the video
  /// @throws HostError when the file cannot be read on (not for a frame that fails to
  ///   decode: it is skipped and counted)
  bool read(cv::Mat& bgr, long long& stamp);

  /// Packets of the video stream in the file: the frames to expect.
  std::uint64_t packetCount() const { return packets_; }
  /// The frame count the container's header announces; 0 when it gives none.
  std::uint64_t announcedFrames() const { return announced_; }
  /// Packets of the video stream the file holds, those the container marks to be dropped
  /// included: fewer than announcedFrames() for a file that was cut short.
  std::uint64_t packetsInFile() const { return packetsInFile_; }
  /// Packets the decoder refused.
  std::uint64_t undecodable() const { return undecodable_; }
  /// How the frames are stamped.
  const VideoStamper& stamper() const { return *stamper_; }

 private:
  struct Handles;
  VideoDecoder();
  bool receive(cv::Mat& bgr, long long& stamp);

  std::unique_ptr<Handles> handles_;
  std::unique_ptr<VideoStamper> stamper_;
  std::string path_;
  std::uint64_t packets_ = 0;
  std::uint64_t announced_ = 0;
  std::uint64_t packetsInFile_ = 0;
  std::uint64_t undecodable_ = 0;
  bool draining_ = false;
};

}  // namespace ekhost

#endif  // EKVISION_TOOLS_VIDEODECODER_H
