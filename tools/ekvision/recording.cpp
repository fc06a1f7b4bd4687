#include "recording.h"

#include <algorithm>
#include <filesystem>

#include "tool.h"

namespace ektool {

void openRecording(EK::EKVideo& video, const std::string& path) {
  try {
    video.readVideo(path);
  } catch (const EK::EKError& error) {
    throw ToolError("cannot read " + path + ": " + error.getDescription());
  }
}

RecordingFacts inspectRecording(const EK::EKVideo& video, const std::string& path) {
  RecordingFacts facts;
  std::error_code error;
  const std::uintmax_t size = std::filesystem::file_size(path, error);
  facts.fileSize = error ? 0 : static_cast<std::uint64_t>(size);
  if (facts.fileSize > video.headerSize && video.frameSize > 0) {
    const std::uint64_t frameBytes = facts.fileSize - video.headerSize;
    facts.completeFrames = frameBytes / video.frameSize;
    facts.partialBytes = frameBytes % video.frameSize;
  }
  facts.closed = video.frameCount != kOpenFrameCount;
  facts.readableFrames = std::min<std::uint64_t>(video.frameCount, facts.completeFrames);
  return facts;
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
