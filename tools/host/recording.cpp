#include "recording.h"

#include <cerrno>
#include <cstring>
#include <vector>

#include "tool.h"

namespace ektool {
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
      throw ToolError("cannot read " + path + ": " + file.unplayableReason);
    }
    video.readVideo(path);
    return file;
  } catch (const EK::EKError& error) {
    throw ToolError("cannot read " + path + ": " + error.getDescription());
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
      throw ToolError(error.getDescription());
    }
    std::string cause = EK::videoFileProblem(base + ".arv", true);
    if (cause.empty()) {
      cause = error.getDescription();
      if (code == ENOSPC || code == EFBIG || code == EDQUOT || code == EIO) {
        cause += " (" + std::string(std::strerror(code)) + ")";
      }
    }
    throw ToolError("cannot record " + path + ": " + cause);
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

std::string writeFailure(const std::string& path, int error) {
  std::string text = "cannot write " + path + ": a write failed";
  if (error == ENOSPC || error == EFBIG || error == EDQUOT || error == EIO) {
    text += " (" + std::string(std::strerror(error)) + ")";
  }
  try {
    const EK::EKVideoInspection file = EK::inspectVideo(path);
    text += "; " + std::to_string(file.completeFrames) + " complete frames reached the file";
  } catch (const EK::EKError&) {
    return text;
  }
  return text + " ('ekvision recover " + path + "' restores them)";
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

std::string recordingBaseName(const std::string& path) {
  const std::string extension = ".arv";
  if (path.size() > extension.size() &&
      path.compare(path.size() - extension.size(), extension.size(), extension) == 0) {
    return path.substr(0, path.size() - extension.size());
  }
  return path;
}

}  // namespace ektool
