// ekvision record: a live camera, pipeline, stream or video file into a .arv recording.
#include <record.h>

#include <CLI/CLI.hpp>

#include <memory>
#include <ostream>

#include "commands.h"
#include "options.h"
#include "printer.h"

namespace ektool {
namespace {

const char kRecordDescription[] =
    "Records a live camera into OUT (\".arv\" is appended unless OUT ends with it): one YUV422 "
    "stream, every frame stamped with its capture time. A video file plays at its own rate "
    "and is recorded to its end. A thread of its own writes the file: when the disk falls "
    "behind, frames are dropped and counted, never the camera's pace.";

const char kRecordFooter[] =
    "Prints the camera, camera failures as they happen (a live source is reopened), and a\n"
    "summary: frames recorded, frames dropped (missed while the recorder was busy, or with\n"
    "its write queue full). Exits with 1 when the recording could not be written whole (a\n"
    "full disk, a file size limit) or --frames N were not all recorded; Ctrl-C ends the\n"
    "recording early, cleanly.";

class RecordCommand : public Command {
 public:
  void define(CLI::App& app) override {
    app.description(kRecordDescription);
    app.footer(kRecordFooter);
    addCameraOption(app, spec_, "", std::string("the camera to record. ") + kCameraSpecHelp);
    app.add_option("OUT", options_.out, "the recording to write")->required();
    CLI::Option* seconds =
        addSecondsOption(app, options_.seconds, "record for S seconds (default 10)");
    addFramesOption(app, options_.frames, "record N frames")->excludes(seconds);
    addResolutionOption(app, options_.resolution,
                        "the size asked of the camera, frames scaled when it cannot give it "
                        "(default 2)",
                        true);
    addFpsOption(app, options_.fps,
                 "ask the camera for N frames a second and keep at most N a second (default: "
                 "ask for 30, keep every frame)");
  }

  int run(Output& output) override {
    options_.spec = *spec_;
    Printer printer(output);
    const ekhost::RecordReport report = ekhost::recordCamera(options_, printer);
    if (!report.writeFailed && report.recorded > 0) {
      const long long dropped = report.missed + report.queueDropped;
      output.out << "recorded " << report.recorded << " frames in "
                 << timingText(report.recorded, report.seconds) << " to " << report.path
                 << "; dropped " << dropped << " (" << report.missed
                 << " missed while the recorder was busy, " << report.queueDropped
                 << " with its write queue full)\n";
    }
    printCameraFailures(output.out, report.cameraFailures, report.lastCameraFailure);
    output.out.flush();
    check(report.status);
    return 0;
  }

 private:
  ekhost::RecordOptions options_;
  std::optional<std::string> spec_;
};

}  // namespace

std::unique_ptr<Command> makeRecordCommand() {
  return std::make_unique<RecordCommand>();
}

}  // namespace ektool
