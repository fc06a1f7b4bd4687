// ekvision recover: gives a recording that was never closed its true frame count.
#include <ekvision/ekvideo.h>

#include <cstdint>
#include <fstream>
#include <ostream>

#include "arguments.h"
#include "recording.h"
#include "tool.h"

namespace ektool {
namespace {

const char kRecoverUsage[] =
    "usage: ekvision recover FILE.arv [--dry-run]\n"
    "\n"
    "A recording that was never closed (after a crash, its frame count is 0xFFFFFFFF), or\n"
    "whose file was cut short, gets the number of complete frames that the file holds as\n"
    "its frame count. An unfinished last frame is reported and left out of the count. Only\n"
    "the frame count (bytes 8 to 11) is rewritten; a closed recording is left alone.\n"
    "\n"
    "  --dry-run  say what would be done, change nothing\n";

const std::streamoff kFrameCountOffset = 8;

void writeFrameCount(const std::string& path, std::uint32_t count) {
  std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
  const char bytes[4] = {static_cast<char>(count & 0xFF), static_cast<char>((count >> 8) & 0xFF),
                         static_cast<char>((count >> 16) & 0xFF),
                         static_cast<char>((count >> 24) & 0xFF)};
  file.seekp(kFrameCountOffset);
  file.write(bytes, sizeof bytes);
  file.flush();
  if (!file) {
    throw ToolError("cannot write the frame count into " + path);
  }
  file.close();
  if (file.fail()) {
    throw ToolError("cannot write the frame count into " + path);
  }
}

}  // namespace

int runRecover(const std::vector<std::string>& args, Output& output) {
  const Arguments arguments = parseArguments(args, {{"dry-run", false}});
  if (arguments.help) {
    output.out << kRecoverUsage;
    return 0;
  }
  expectPositional(arguments, {"FILE.arv"});
  const std::string& path = arguments.positional[0];
  RecordingFacts facts;
  std::uint32_t headerCount = 0;
  {
    EK::EKVideo video;
    openRecording(video, path);
    facts = inspectRecording(video, path);
    headerCount = video.frameCount;
  }
  if (facts.completeFrames >= kOpenFrameCount) {
    throw ToolError(path + " holds more frames than a frame count can say");
  }
  const auto complete = static_cast<std::uint32_t>(facts.completeFrames);
  const std::string partial = facts.partialBytes > 0 ? "; an unfinished last frame of " +
                                                           std::to_string(facts.partialBytes) +
                                                           " bytes is left out of the count"
                                                     : "";
  if (facts.closed && headerCount <= complete) {
    output.out << path << " is closed with " << headerCount << " frames: nothing to recover";
    if (complete > headerCount || facts.partialBytes > 0) {
      output.out << " (" << facts.fileSize << " bytes in the file, " << complete
                 << " complete frames)";
    }
    output.out << "\n";
    return 0;
  }
  const std::string was = facts.closed ? "the header said " + std::to_string(headerCount) +
                                             " frames but the file is cut short"
                                       : "it was never closed";
  if (arguments.has("dry-run")) {
    output.out << "would set the frame count of " << path << " to " << complete << " (" << was
               << ")" << partial << "\n";
    return 0;
  }
  writeFrameCount(path, complete);
  output.out << "recovered " << path << ": " << complete << " frames (" << was << ")" << partial
             << "\n";
  return 0;
}

}  // namespace ektool
