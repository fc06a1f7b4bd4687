// ekvision import: a video file as a YUV422 recording stamped with its presentation times.
#include <import.h>
#include <videotimestamps.h>

#include <CLI/CLI.hpp>

#include <cstdio>
#include <memory>
#include <ostream>

#include "commands.h"
#include "options.h"
#include "printer.h"

namespace ektool {
namespace {

const char kImportDescription[] =
    "Records every frame of VIDEO (any file that FFmpeg reads; otherwise OpenCV's MJPEG or "
    "image-sequence readers) into the recording OUT (\".arv\" is appended unless OUT ends with "
    "it): one YUV422 stream, frames in display order, resized to the resolution code R. Time "
    "stamps are the video's presentation times in microseconds, the first frame at TIME: a "
    "constant-rate video's frame i at exactly TIME + i/rate, a variable-rate video's frames at "
    "their own times.";

// "time stamps: ..." for the summary.
std::string stampLine(const ekhost::ImportReport& report, const std::string& input) {
  std::string line = "time stamps: ";
  if (report.constantRate) {
    char rate[64];
    std::snprintf(rate, sizeof rate, "%.6g",
                  static_cast<double>(report.rateNum) / static_cast<double>(report.rateDen));
    line += "constant rate, " + std::string(rate) + " frames/s (" + std::to_string(report.rateNum) +
            "/" + std::to_string(report.rateDen) + ")";
  } else {
    line += "variable rate, the presentation times of " + input;
  }
  if (report.adjusted > 0) {
    line += "; " + std::to_string(report.adjusted) +
            " frames without a usable time of their own were stamped one period after the "
            "previous one";
  }
  return line + "\n";
}

class ImportCommand : public Command {
 public:
  void define(CLI::App& app) override {
    app.description(kImportDescription);
    app.add_option("VIDEO", options_.input, "the video file")->required();
    app.add_option("OUT", options_.output, "the recording to write")->required();
    addResolutionOption(app, options_.resolution, "the size of the recorded frames (default 2)",
                        true);
    addFpsOption(app, fps_, "keep at most N frames a second of video, dropping the others");
    app.add_option("--start", start_,
                   "stamp of the first frame: seconds (\"90\", \"1733446800.25\") or "
                   "[H:]MM:SS[.ffffff]; 0 by default")
        ->type_name("TIME");
  }

  int run(Output& output) override {
    options_.fps = fps_.value_or(0);
    options_.start = start_ ? ekhost::parseStartTime(*start_) : 0;
    Printer printer(output);
    const ekhost::ImportReport report = ekhost::importVideo(options_, printer);
    printer.endProgress();
    output.out << "imported " << report.imported << " of " << report.read << " frames from "
               << options_.input << " into " << report.path << "\n"
               << stampLine(report, options_.input) << std::flush;
    check(report.status);
    return 0;
  }

 private:
  ekhost::ImportOptions options_;
  std::optional<int> fps_;
  std::optional<std::string> start_;
};

}  // namespace

std::unique_ptr<Command> makeImportCommand() {
  return std::make_unique<ImportCommand>();
}

}  // namespace ektool
