#include "recording.h"

#include <ekvision/ekvideoplayback.h>
#include <ekvision/ekvisiondefinitions.h>

#include <vector>

#include "host.h"

namespace ekhost {

void requireReadableFile(const std::string& path) {
  const EK::EKStatus problem = EK::videoFileStatus(path, false);
  if (!problem.ok()) {
    throw HostError(readFailure(path, problem));
  }
}

EK::EKStatus readFailure(const std::string& path, const EK::EKStatus& cause) {
  return EK::EKStatus(cause.cause(), "cannot read " + path + ": " + cause.message(),
                      cause.systemError());
}

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
    const EK::EKStatus& status = EK::lastVideoStatus(video);
    if (status.cause() == EK::EKCause::kBusy) {
      // The library's text names the file and its writer.
      throw HostError(status);
    }
    // What stands in the way of the path says more than the recorder's words.
    const EK::EKStatus problem = EK::videoFileStatus(base + ".arv", true);
    const EK::EKStatus& cause = problem.ok() ? status : problem;
    std::string why = cause.message();
    if (problem.ok() && cause.systemError() != 0) {
      // The recorder's words say what it was doing; the system error says why it failed.
      why += " (" + EK::systemErrorText(cause.systemError()) + ")";
    }
    throw HostError(
        EK::EKStatus(cause.cause(), "cannot record " + path + ": " + why, cause.systemError()));
  }
}

EK::EKStatus finishRecording(EK::EKVideo& video) {
  video.outputFile.flush();
  if (video.outputFile) {
    video.closeVideo();
  }
  // After a failed write the recording is left open, its count unwritten as after a crash:
  // the destructor closes the file and releases it, and recover counts what reached it.
  const EK::EKStatus& status = EK::lastVideoStatus(video);
  if (!status.ok() || video.outputFile) {
    return status;
  }
  return EK::EKStatus(EK::EKCause::kSystem, "a write failed");
}

EK::EKStatus writeFailure(const std::string& path, const EK::EKStatus& cause) {
  // A system error is named in its one text ("no space left on the device"), whichever
  // operation met it.
  const EK::EKStatus failed(
      cause.cause(),
      "cannot write " + path + ": " +
          (cause.systemError() != 0 ? EK::systemErrorText(cause.systemError()) : cause.message()),
      cause.systemError());
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
