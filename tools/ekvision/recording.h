// What the tool needs to know about a recording beyond its header.
#ifndef EKVISION_TOOLS_RECORDING_H
#define EKVISION_TOOLS_RECORDING_H

#include <ekvision/ekvideo.h>

#include <cstdint>
#include <optional>
#include <string>

namespace ektool {

/// The frame count of a recording that was never closed.
const std::uint32_t kOpenFrameCount = 0xFFFFFFFFu;

/// How much of a recording the file really holds.
struct RecordingFacts {
  std::uint64_t fileSize = 0;
  std::uint64_t completeFrames = 0;  ///< whole frames, all streams, after the header
  std::uint64_t partialBytes = 0;    ///< bytes of an unfinished frame at the end
  bool closed = false;               ///< the header's frame count was written
  /// Frames that can be read: the header's count, bounded by the file.
  std::uint64_t readableFrames = 0;
};

/// @brief Opens @p path for reading.
/// @throws ToolError "cannot read <path>: <reason>" when the library refuses it
void openRecording(EK::EKVideo& video, const std::string& path);

/// Measures the recording that @p video reads from @p path.
RecordingFacts inspectRecording(const EK::EKVideo& video, const std::string& path);

/// The time stamp of a frame of a stream, or nothing when its record cannot be read.
std::optional<long long> timeStampOf(EK::EKVideo& video, std::uint32_t frame, std::uint32_t stream);

/// The path that EKVideo::recordVideo is given so that it creates exactly @p path.
std::string recordingBaseName(const std::string& path);

}  // namespace ektool

#endif  // EKVISION_TOOLS_RECORDING_H
