// Exporting a stream of a recording as an H.264 video in fragmented MP4.
#ifndef EKVISION_TOOLS_MP4EXPORT_H
#define EKVISION_TOOLS_MP4EXPORT_H

#include <cstdint>
#include <optional>
#include <string>

#include "host.h"

namespace ekhost {

/// The quality scale of the encoder: 0 is lossless, 51 the worst.
const int kMinCrf = 0;
const int kMaxCrf = 51;
const int kDefaultCrf = 23;
/// A key frame, and so a fragment of the file, every this many frames: an export cut short
/// plays up to its last whole fragment.
const int kMp4KeyFrameInterval = 30;

/// What an MP4 export is asked to do.
struct Mp4ExportOptions {
  std::string recording;          ///< the .arv file
  std::string output;             ///< the .mp4 file, replaced when there
  std::string detections;         ///< a log of `ekvision run --detections`; empty: no boxes
  std::uint32_t stream = 0;       ///< the stream exported
  int crf = kDefaultCrf;          ///< kMinCrf..kMaxCrf
  std::optional<long long> from;  ///< the first frame; none: frame 0
  std::optional<long long> to;    ///< the last frame; none: the last complete frame
};

/// What an MP4 export did.
struct Mp4ExportReport {
  std::uint64_t frames = 0;       ///< frames written, every complete frame of the range
  std::uint64_t from = 0;         ///< the first frame written
  std::uint64_t boxedFrames = 0;  ///< frames with boxes drawn
  std::uint32_t stream = 0;       ///< the stream exported
  long long duration = 0;         ///< the last frame's time less the first's, microseconds
  std::string output;             ///< where the video went
};

/// @brief Writes every complete frame of the stream (of its range from..to) as H.264 (yuv420p, for
/// players) in fragmented MP4, each shown at its time stamp less the first frame's, to the
/// microsecond, none dropped or repeated; the boxes of the detections log stamped as a frame is are
/// drawn in it in green. The progress reaches @p listener.
/// @throws HostError naming the cause: kInvalidArgument for a crf out of range or an output
///   that would overwrite an input, or a range outside the recording; otherwise for a recording,
///   stream or detections log that cannot be read, or an output that cannot be written whole (the
///   fragments written before stay playable)
Mp4ExportReport exportMp4(const Mp4ExportOptions& options, Listener& listener);

}  // namespace ekhost

#endif  // EKVISION_TOOLS_MP4EXPORT_H
