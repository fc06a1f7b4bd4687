// What the tool needs to do with recordings beyond EKVideo: open them with a message that
// names the cause, finish them honestly, and name their files.
#ifndef EKVISION_TOOLS_RECORDING_H
#define EKVISION_TOOLS_RECORDING_H

#include <ekvision/ekvideo.h>
#include <ekvision/ekvideoinspection.h>

#include <cstdint>
#include <optional>
#include <string>

namespace ektool {

/// @brief Inspects @p path and opens it for reading.
/// @return what the file holds
/// @throws ToolError "cannot read <path>: <cause>" when it is no readable recording
EK::EKVideoInspection openRecording(EK::EKVideo& video, const std::string& path);

/// @brief Starts recording into @p path (extension included) with the given streams.
/// @throws ToolError, one line naming the cause, when the file cannot be created or another
///   writer holds it
void startRecording(EK::EKVideo& video, const std::string& path,
                    const std::vector<EK::streamHeader>& streams);

/// @brief Closes a recording, unless a write failed: its count is then left unwritten, as
/// after a crash, with no line printed, so that `ekvision recover` restores what reached
/// the file.
/// @return true when every record reached the file and the count was written
bool finishRecording(EK::EKVideo& video);

/// @brief The one line that says a recording lost frames to a write error, with the
/// complete frames that reached the file and how to restore them.
/// @param error errno of the failed write, 0 when unknown
std::string writeFailure(const std::string& path, int error);

/// The time stamp of a frame of a stream, or nothing when its record cannot be read.
std::optional<long long> timeStampOf(EK::EKVideo& video, std::uint32_t frame, std::uint32_t stream);

/// The path that EKVideo::recordVideo is given so that it creates exactly @p path.
std::string recordingBaseName(const std::string& path);

}  // namespace ektool

#endif  // EKVISION_TOOLS_RECORDING_H
