// Exporting frames of a recording as PNG or PPM pictures.
#ifndef EKVISION_TOOLS_EXPORT_H
#define EKVISION_TOOLS_EXPORT_H

#include <cstdint>
#include <optional>
#include <string>

#include <ekvision/ekvideo.h>
#include <ekvision/ekvideoinspection.h>

#include "host.h"

namespace ekhost {

/// What an export is asked to do.
struct ExportOptions {
  std::string recording;            ///< the .arv file
  std::string directory;            ///< where the pictures go, created when needed
  std::uint32_t stream = 0;         ///< the stream exported
  std::optional<long long> from{};  ///< first frame; none: frame 0
  std::optional<long long> to{};    ///< last frame; none: the last complete frame
  std::optional<long long> at{};    ///< a time: only the last frame recorded at or before it
  std::string format = "png";       ///< "png" or "ppm"
};

/// What an export did.
struct ExportReport {
  std::uint64_t count = 0;   ///< pictures written
  std::uint32_t stream = 0;  ///< the stream exported
  long long from = 0;        ///< the first frame exported
  long long to = 0;          ///< the last frame exported
  std::string directory;     ///< where the pictures went
};

/// @brief The properties of @p stream of @p video, opened from @p path (inspected as
/// @p file), when its frames can be exported: YUV422 or one layer, 8-bit, one frame at least.
/// @throws HostError naming the cause otherwise
const EK::streamProperties& exportableStream(const EK::EKVideo& video,
                                             const EK::EKVideoInspection& file,
                                             const std::string& path, std::uint32_t stream);

/// The frames first..last of a stream, both included.
struct FrameRange {
  long long first = 0;
  long long last = 0;
};

/// @brief The range from @p from (none: 0) to @p to (none: the last) of a stream with
/// @p playableFrames complete frames (at least one).
/// @throws HostError (EKCause::kUnavailable) "--to T is past the last complete frame, L" or
///   "--from F is after --to T"
FrameRange exportRange(std::uint64_t playableFrames, std::optional<long long> from,
                       std::optional<long long> to);

/// @brief Writes the chosen frames as DIRECTORY/frame_NNNNNN.FORMAT; the progress reaches
/// @p listener.
/// @throws HostError naming the cause when the recording, stream or range cannot be exported
ExportReport exportFrames(const ExportOptions& options, Listener& listener);

}  // namespace ekhost

#endif  // EKVISION_TOOLS_EXPORT_H
