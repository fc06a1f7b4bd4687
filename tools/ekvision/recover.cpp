// ekvision recover: gives a recording that was never closed its true frame count.
#include <ekvision/ekvideoinspection.h>

#include <cstdint>
#include <ostream>

#include <CLI/CLI.hpp>

#include <memory>

#include "commands.h"
#include "host.h"
#include "tool.h"

namespace ektool {
namespace {

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

class RecoverCommand : public Command {
 public:
  void define(CLI::App& app) override {
    app.description(
        "A recording that was never closed (after a crash, its frame count is 0xFFFFFFFF), or "
        "whose file was cut short, gets the number of complete frames that the file holds as "
        "its frame count. An unfinished last frame is reported and left out of the count. Only "
        "the frame count (bytes 8 to 11) is rewritten. A recording that a live process is "
        "still writing is refused. A closed recording is left alone, also when its file holds "
        "frames beyond its count, unless --extend is given.");
    app.add_option("FILE.arv", path_, "the recording")->required();
    app.add_flag("--dry-run", options_.dryRun, "say what would be done, change nothing");
    app.add_flag("--extend", options_.extend,
                 "count the complete frames that a closed recording holds beyond its count");
  }

  int run(Output& output) override {
    EK::EKVideoRecovery recovery;
    try {
      recovery = EK::recoverVideo(path_, options_);
    } catch (const EK::EKError& error) {
      throw ekhost::HostError(
          ekhost::statusOf(error, EK::EKCause::kBadFormat, "cannot recover " + path_));
    }
    const EK::EKVideoInspection& file = recovery.inspection;
    if (!recovery.changed) {
      output.out << path_ << " is closed with " << file.storedFrameCount
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
    output.out << (options_.dryRun ? "would set the frame count of " + path_ + " to "
                                   : "recovered " + path_ + ": ")
               << recovery.frameCount << (options_.dryRun ? "" : " frames") << " ("
               << previousState(file) << ")" << partial << "\n";
    return 0;
  }

 private:
  std::string path_;
  EK::EKRecoveryOptions options_;
};

}  // namespace

std::unique_ptr<Command> makeRecoverCommand() {
  return std::make_unique<RecoverCommand>();
}

}  // namespace ektool
