// What the tool needs to do with recordings beyond EKVideo: open them with a message that
// names the cause, finish them honestly, and name their files.
#ifndef EKVISION_TOOLS_RECORDING_H
#define EKVISION_TOOLS_RECORDING_H

#include <ekvision/ekstatus.h>
#include <ekvision/ekvideo.h>
#include <ekvision/ekvideoinspection.h>

#include <cstdint>
#include <optional>
#include <string>

namespace ekhost {

/// @brief Refuses a file that cannot be read before it is opened: a directory, a FIFO
/// (whose opening would wait for a writer), a missing file, no permission.
/// @throws HostError "cannot read <path>: <cause>"
void requireReadableFile(const std::string& path);

/// "cannot read <path>: <the cause's message>", with the cause's code and system error.
EK::EKStatus readFailure(const std::string& path, const EK::EKStatus& cause);

/// @brief Inspects @p path and opens it for reading.
/// @return what the file holds
/// @throws HostError "cannot read <path>: <cause>" when it is no readable recording
EK::EKVideoInspection openRecording(EK::EKVideo& video, const std::string& path);

/// @brief Starts recording into @p path (extension included) with the given streams.
/// @throws HostError, one line naming the cause, when the file cannot be created or another
///   writer holds it
void startRecording(EK::EKVideo& video, const std::string& path,
                    const std::vector<EK::streamHeader>& streams);

/// @brief Closes a recording, unless a write failed: its count is then left unwritten, as
/// after a crash, so that `ekvision recover` restores what reached the file.
/// @return success when every record reached the file and the count was written, else why
///   not (the library's status: "no space left on the device"...)
EK::EKStatus finishRecording(EK::EKVideo& video);

/// @brief The failure of a recording that lost frames to a write error: "cannot write PATH:
/// <cause>", with the cause's code, the complete frames that reached the file and how to
/// restore them.
EK::EKStatus writeFailure(const std::string& path, const EK::EKStatus& cause);

/// The time stamp of a frame of a stream, or nothing when its record cannot be read.
std::optional<long long> timeStampOf(EK::EKVideo& video, std::uint32_t frame, std::uint32_t stream);

/// @brief Refuses to record frames of a size that recordings cannot be played back at.
/// @throws HostError (EKCause::kInvalidArgument) "<what>: <W>x<H> recordings cannot be
///   played back; ..."
void checkRecordable(int width, int height, const std::string& what);

/// The path that EKVideo::recordVideo is given so that it creates exactly @p path.
std::string recordingBaseName(const std::string& path);

}  // namespace ekhost

#endif  // EKVISION_TOOLS_RECORDING_H
