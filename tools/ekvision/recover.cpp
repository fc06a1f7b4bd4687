// ekvision recover: gives a recording that was never closed its true frame count.
#include <ekvision/ekvideoinspection.h>

#include <cstdint>
#include <ostream>

#include "arguments.h"
#include "tool.h"

namespace ektool {
namespace {

const char kRecoverUsage[] =
    "usage: ekvision recover FILE.arv [--dry-run] [--extend]\n"
    "\n"
    "A recording that was never closed (after a crash, its frame count is 0xFFFFFFFF), or\n"
    "whose file was cut short, gets the number of complete frames that the file holds as\n"
    "its frame count. An unfinished last frame is reported and left out of the count. Only\n"
    "the frame count (bytes 8 to 11) is rewritten. A recording that a live process is still\n"
    "writing is refused. A closed recording is left alone, also when its file holds frames\n"
    "beyond its count, unless --extend is given.\n"
    "\n"
    "  --dry-run  say what would be done, change nothing\n"
    "  --extend   count the complete frames that a closed recording holds beyond its count\n";

std::string previousState(const EK::EKVideoInspection& file) {
  switch (file.state) {
    case EK::EKRecordingState::kOpen:
      return "it was never closed";
    case EK::EKRecordingState::kCutShort:
      return "the header said " + std::to_string(file.storedFrameCount) +
             " frames but the file is cut short";
    default:
      return "the header said " + std::to_string(file.storedFrameCount) +
             " frames and the file holds " + std::to_string(file.completeFrames);
  }
}

}  // namespace

int runRecover(const std::vector<std::string>& args, Output& output) {
  const Arguments arguments = parseArguments(args, {{"dry-run", false}, {"extend", false}});
  if (arguments.help) {
    output.out << kRecoverUsage;
    return 0;
  }
  expectPositional(arguments, {"FILE.arv"});
  const std::string& path = arguments.positional[0];
  EK::EKRecoveryOptions options;
  options.extend = arguments.has("extend");
  options.dryRun = arguments.has("dry-run");
  EK::EKVideoRecovery recovery;
  try {
    recovery = EK::recoverVideo(path, options);
  } catch (const EK::EKError& error) {
    throw ToolError("cannot recover " + path + ": " + error.getDescription());
  }
  const EK::EKVideoInspection& file = recovery.inspection;
  if (!recovery.changed) {
    output.out << path << " is closed with " << file.storedFrameCount
               << " frames: nothing to recover";
    if (file.state == EK::EKRecordingState::kUncountedFrames) {
      output.out << " (the file holds " << file.completeFrames
                 << " complete frames; --extend counts them)";
    } else if (file.partialBytes > 0) {
      output.out << " (" << file.fileSize << " bytes in the file, " << file.completeFrames
                 << " complete frames)";
    }
    output.out << "\n";
    return 0;
  }
  const std::string partial = file.partialBytes > 0 ? "; an unfinished last frame of " +
                                                          std::to_string(file.partialBytes) +
                                                          " bytes is left out of the count"
                                                    : "";
  output.out << (options.dryRun ? "would set the frame count of " + path + " to "
                                : "recovered " + path + ": ")
             << recovery.frameCount << (options.dryRun ? "" : " frames") << " ("
             << previousState(file) << ")" << partial << "\n";
  return 0;
}

}  // namespace ektool
