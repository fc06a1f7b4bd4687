// ekvision export: frames of a recording as PNG or PPM pictures, or as an MP4 video.
#include <export.h>
#include <mp4export.h>

#include <CLI/CLI.hpp>

#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <ostream>
#include <string>

#include "commands.h"
#include "options.h"
#include "printer.h"

namespace ektool {
namespace {

const char kExportDescription[] =
    "Writes frames of a recording as pictures OUTDIR/frame_NNNNNN.png (or .ppm); OUTDIR is "
    "created when needed; or, for an OUT ending in .mp4, its complete frames (all, or --from "
    "to --to) as an H.264 video (yuv420p) in fragmented MP4, each shown at its time stamp less the "
    "first frame's. "
    "YUV422 streams are converted to colour, one-layer streams are written as grey; other "
    "color spaces cannot be exported.";

const char kExportFooter[] =
    "The record header at the start of every frame holds its time stamp, camera and angles\n"
    "instead of pixels; the exported picture repeats the first stored pixels there. A progress\n"
    "bar is drawn on standard error when it is a terminal. An MP4 export cut short (a full\n"
    "disk, a kill) plays up to its last key frame; one comes every 30 frames.";

const char kMp4Suffix[] = ".mp4";

bool isMp4(const std::string& path) {
  const std::size_t length = sizeof kMp4Suffix - 1;
  return path.size() > length && path.compare(path.size() - length, length, kMp4Suffix) == 0;
}

const long long kMaxIndex = std::numeric_limits<std::uint32_t>::max();

class ExportCommand : public Command {
 public:
  void define(CLI::App& app) override {
    app.description(kExportDescription);
    app.footer(kExportFooter);
    app.add_option("FILE.arv", options_.recording, "the recording")->required();
    app.add_option("OUT", options_.directory,
                   "the folder where the pictures go, or the video OUT.mp4")
        ->required();
    app.add_option("--stream", options_.stream, "the stream to export (default 0)")
        ->type_name("S")
        ->check(wholeNumber(0, kMaxIndex));
    CLI::Option* from = app.add_option("--from", options_.from, "the first frame (default 0)")
                            ->type_name("F")
                            ->check(wholeNumber(0, kMaxIndex));
    CLI::Option* to =
        app.add_option("--to", options_.to, "the last frame (default: the last complete frame)")
            ->type_name("T")
            ->check(wholeNumber(0, kMaxIndex));
    app.add_option("--at", options_.at,
                   "only the last frame recorded at or before TIME (microseconds)")
        ->type_name("TIME")
        ->check(wholeNumber(std::numeric_limits<long long>::min(),
                            std::numeric_limits<long long>::max()))
        ->excludes(from)
        ->excludes(to);
    app.add_option("--format", format_, "png (default) or ppm")
        ->type_name("FORMAT")
        ->check(CLI::IsMember({"png", "ppm"}));
    app.add_option("--detections", mp4_.detections,
                   "OUT.mp4 only: draw the boxes of this log of ekvision run "
                   "--detections into the frames of their time stamps")
        ->type_name("D.jsonl");
    app.add_option("--crf", crf_, "OUT.mp4 only: quality, 0 (lossless) to 51 (default 23)")
        ->type_name("N")
        ->check(wholeNumber(ekhost::kMinCrf, ekhost::kMaxCrf));
  }

  int run(Output& output) override {
    if (isMp4(options_.directory)) {
      return runMp4(output);
    }
    if (!mp4_.detections.empty() || crf_) {
      throw UsageError("--detections and --crf apply to an OUT ending in .mp4");
    }
    options_.format = format_.value_or(options_.format);
    Printer printer(output);
    const ekhost::ExportReport report = ekhost::exportFrames(options_, printer);
    printer.endProgress();
    output.out << "exported " << report.count << (report.count == 1 ? " frame" : " frames")
               << " of stream " << report.stream << " (frames " << report.from << " to "
               << report.to << ") to " << report.directory << "\n";
    return 0;
  }

 private:
  int runMp4(Output& output) {
    if (options_.at || format_) {
      throw UsageError("--at and --format apply to pictures: OUT.mp4 holds frames --from to --to");
    }
    mp4_.from = options_.from;
    mp4_.to = options_.to;
    mp4_.recording = options_.recording;
    mp4_.output = options_.directory;
    mp4_.stream = options_.stream;
    mp4_.crf = crf_.value_or(mp4_.crf);
    Printer printer(output);
    const ekhost::Mp4ExportReport report = ekhost::exportMp4(mp4_, printer);
    printer.endProgress();
    output.out << "exported " << report.frames << (report.frames == 1 ? " frame" : " frames")
               << " of stream " << report.stream << " from frame " << report.from << " ("
               << report.duration / 1e6 << " s, " << report.boxedFrames << " with boxes) to "
               << report.output << "\n";
    return 0;
  }

  ekhost::ExportOptions options_;
  ekhost::Mp4ExportOptions mp4_;
  // Given or not: each belongs to one kind of output.
  std::optional<std::string> format_;
  std::optional<int> crf_;
};

}  // namespace

std::unique_ptr<Command> makeExportCommand() {
  return std::make_unique<ExportCommand>();
}

}  // namespace ektool
