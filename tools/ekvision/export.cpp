// ekvision export: frames of a recording as PNG or PPM pictures.
#include <export.h>

#include <CLI/CLI.hpp>

#include <cstdint>
#include <limits>
#include <memory>
#include <ostream>

#include "commands.h"
#include "options.h"
#include "printer.h"

namespace ektool {
namespace {

const char kExportDescription[] =
    "Writes frames of a recording as pictures OUTDIR/frame_NNNNNN.png (or .ppm); OUTDIR is "
    "created when needed. YUV422 streams are converted to colour, one-layer streams are "
    "written as grey; other color spaces cannot be exported.";

const char kExportFooter[] =
    "The record header at the start of every frame holds its time stamp, camera and angles\n"
    "instead of pixels; the exported picture repeats the first stored pixels there. A progress\n"
    "bar is drawn on standard error when it is a terminal.";

const long long kMaxIndex = std::numeric_limits<std::uint32_t>::max();

class ExportCommand : public Command {
 public:
  void define(CLI::App& app) override {
    app.description(kExportDescription);
    app.footer(kExportFooter);
    app.add_option("FILE.arv", options_.recording, "the recording")->required();
    app.add_option("OUTDIR", options_.directory, "where the pictures go")->required();
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
    app.add_option("--format", options_.format, "png (default) or ppm")
        ->type_name("FORMAT")
        ->check(CLI::IsMember({"png", "ppm"}));
  }

  int run(Output& output) override {
    Printer printer(output);
    const ekhost::ExportReport report = ekhost::exportFrames(options_, printer);
    printer.endProgress();
    output.out << "exported " << report.count << (report.count == 1 ? " frame" : " frames")
               << " of stream " << report.stream << " (frames " << report.from << " to "
               << report.to << ") to " << report.directory << "\n";
    return 0;
  }

 private:
  ekhost::ExportOptions options_;
};

}  // namespace

std::unique_ptr<Command> makeExportCommand() {
  return std::make_unique<ExportCommand>();
}

}  // namespace ektool
