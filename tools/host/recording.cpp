#include "recording.h"

#include <ekvision/ekvideoplayback.h>
#include <ekvision/ekvisiondefinitions.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "host.h"

namespace ekhost {
namespace {

// Whether a live writer holds the recording at @p path, which is why recording it failed.
bool heldByAnotherWriter(const std::string& path) {
  try {
    return EK::inspectVideo(path).beingWritten;
  } catch (const EK::EKError&) {
    return false;
  }
}

}  // namespace

EK::EKVideoInspection openRecording(EK::EKVideo& video, const std::string& path) {
  try {
    EK::EKVideoInspection file = EK::inspectVideo(path);
    if (!file.unplayableReason.empty()) {
      fail(EK::EKCause::kUnsupported, "cannot read " + path + ": " + file.unplayableReason);
    }
    video.readVideo(path);
    return file;
  } catch (const HostError&) {
    throw;
  } catch (const EK::EKError& error) {
    throw HostError(statusOf(error, EK::EKCause::kBadFormat, "cannot read " + path));
  }
}

void startRecording(EK::EKVideo& video, const std::string& path,
                    const std::vector<EK::streamHeader>& streams) {
  const std::string base = recordingBaseName(path);
  try {
    video.recordVideo(base, 0, streams);
  } catch (const EK::EKError& error) {
    const int code = errno;
    if (heldByAnotherWriter(base + ".arv")) {
      // The library's text names the file and its writer.
      fail(EK::EKCause::kBusy, error.getDescription());
    }
    std::string cause = EK::videoFileProblem(base + ".arv", true);
    if (cause.empty()) {
      cause = error.getDescription();
      if (code == ENOSPC || code == EFBIG || code == EDQUOT || code == EIO) {
        cause += " (" + std::string(std::strerror(code)) + ")";
      }
    }
    fail(EK::EKCause::kSystem, "cannot record " + path + ": " + cause);
  }
}

bool finishRecording(EK::EKVideo& video) {
  video.outputFile.flush();
  if (!video.outputFile) {
    // The destructor closes the file and releases it, leaving the count for recover.
    return false;
  }
  video.closeVideo();
  const std::string path = video.filePath;
  try {
    return EK::inspectVideo(path).closed;
  } catch (const EK::EKError&) {
    return false;
  }
}

EK::EKStatus writeFailure(const std::string& path, int systemError) {
  EK::EKStatus failed =
      systemError != 0
          ? EK::EKStatus::fromSystemError(systemError, "cannot write " + path)
          : EK::EKStatus(EK::EKCause::kSystem, "cannot write " + path + ": a write failed");
  std::string text = failed.message();
  try {
    const EK::EKVideoInspection file = EK::inspectVideo(path);
    text += "; " + std::to_string(file.completeFrames) + " complete frames reached the file";
    if (file.completeFrames > 0) {
      text += " ('ekvision recover " + path + "' restores them)";
    }
  } catch (const EK::EKError&) {
  }
  return EK::EKStatus(failed.cause(), text, failed.systemError());
}

std::optional<long long> timeStampOf(EK::EKVideo& video, std::uint32_t frame,
                                     std::uint32_t stream) {
  if (stream >= video.streams.size()) {
    return std::nullopt;
  }
  // A one-layer picture of dataSize bytes takes the record whatever its format.
  EK::EKImage record(static_cast<int>(video.streams[stream].dataSize), 1, 0);
  if (!video.getFrame(record, frame, stream, false)) {
    return std::nullopt;
  }
  return record.timeStamp;
}

void checkRecordable(int width, int height, const std::string& what) {
  const EK::streamHeader stream{width, height, EK::kColorSpaceYUV422, EK::kPictureSampleDepth};
  if (const char* reason = EK::unplayableReason(stream)) {
    fail(EK::EKCause::kInvalidArgument,
         what + ": " + std::to_string(width) + "x" + std::to_string(height) +
             " recordings cannot be played back (" + reason + "); use --resolution " +
             std::to_string(EK::kLargestPlayableResolution) + " or below");
  }
}

std::string recordingBaseName(const std::string& path) {
  const std::string extension = ".arv";
  if (path.size() > extension.size() &&
      path.compare(path.size() - extension.size(), extension.size(), extension) == 0) {
    return path.substr(0, path.size() - extension.size());
  }
  return path;
}

}  // namespace ekhost
