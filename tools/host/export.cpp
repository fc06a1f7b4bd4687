// ekvision export: frames of a recording as PNG or PPM pictures.
#include <ekvision/ekvideo.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <ostream>

#include "arguments.h"
#include "export.h"
#include "picture.h"
#include "progress.h"
#include "recording.h"
#include "tool.h"

namespace ektool {
namespace {

const char kExportUsage[] =
    "usage: ekvision export FILE.arv OUTDIR [--stream S] [--from F] [--to T] [--at TIME]\n"
    "                       [--format png|ppm]\n"
    "\n"
    "Writes frames of a recording as pictures OUTDIR/frame_NNNNNN.png (or .ppm); OUTDIR is\n"
    "created when needed. YUV422 streams are converted to colour, one-layer streams are\n"
    "written as grey; other color spaces cannot be exported.\n"
    "\n"
    "  --stream S       the stream to export (default 0)\n"
    "  --from F         the first frame (default 0)\n"
    "  --to T           the last frame (default: the last complete frame)\n"
    "  --at TIME        only the last frame recorded at or before TIME (microseconds)\n"
    "  --format FORMAT  png (default) or ppm\n"
    "\n"
    "The first 25 bytes of every frame hold its time stamp, camera and angles instead of\n"
    "pixels; the exported picture repeats the first stored pixels there. A progress bar is\n"
    "drawn on standard error when it is a terminal.\n";

const long long kMaxIndex = std::numeric_limits<std::uint32_t>::max();

std::string frameFileName(std::uint64_t frame, const std::string& format) {
  char name[40];
  std::snprintf(name, sizeof name, "frame_%06llu.%s", static_cast<unsigned long long>(frame),
                format.c_str());
  return name;
}

}  // namespace

ExportOptions parseExportOptions(const std::vector<std::string>& args) {
  const Arguments arguments = parseArguments(
      args, {{"stream", true}, {"from", true}, {"to", true}, {"at", true}, {"format", true}});
  ExportOptions options;
  if (arguments.help) {
    options.help = true;
    return options;
  }
  expectPositional(arguments, {"FILE.arv", "OUTDIR"});
  options.recording = arguments.positional[0];
  options.directory = arguments.positional[1];
  options.format = arguments.value("format").value_or("png");
  if (options.format != "png" && options.format != "ppm") {
    throw UsageError("--format must be png or ppm, not '" + options.format + "'");
  }
  if (arguments.has("at") && (arguments.has("from") || arguments.has("to"))) {
    throw UsageError("--at selects one frame: it cannot be combined with --from or --to");
  }
  options.stream = static_cast<std::uint32_t>(
      parseInteger(arguments.value("stream").value_or("0"), "--stream", 0, kMaxIndex));
  if (const auto at = arguments.value("at")) {
    options.at = parseInteger(*at, "--at", std::numeric_limits<long long>::min(),
                              std::numeric_limits<long long>::max());
  }
  if (const auto from = arguments.value("from")) {
    options.from = parseInteger(*from, "--from", 0, kMaxIndex);
  }
  if (const auto to = arguments.value("to")) {
    options.to = parseInteger(*to, "--to", 0, kMaxIndex);
  }
  return options;
}

int exportFrames(const ExportOptions& options, Output& output) {
  const std::string& path = options.recording;
  const std::uint32_t stream = options.stream;
  EK::EKVideo video;
  const EK::EKVideoInspection file = openRecording(video, path);
  if (stream >= video.streamCount) {
    throw ToolError(path + " has " + std::to_string(video.streamCount) +
                    " stream(s): there is no stream " + std::to_string(stream));
  }
  const EK::streamProperties& properties = video.streams[stream];
  if (!isViewable(static_cast<int>(properties.colorSpace), static_cast<int>(properties.nbLayers))) {
    throw ToolError("stream " + std::to_string(stream) + " has color space " +
                    std::to_string(properties.colorSpace) +
                    ", which has no known pixel layout: only YUV422 (9) and one-layer color "
                    "spaces can be exported");
  }
  if (properties.depth != 8) {
    throw ToolError("stream " + std::to_string(stream) + " has " +
                    std::to_string(properties.depth) +
                    "-bit samples: only 8-bit streams can be exported");
  }
  if (file.playableFrames == 0) {
    throw ToolError(path + " holds no complete frame");
  }
  const long long last = static_cast<long long>(file.playableFrames) - 1;
  long long from = 0;
  long long to = last;
  if (options.at) {
    from = to = video.findFrame(*options.at, stream);
    if (from < 0) {
      throw ToolError("no frame of stream " + std::to_string(stream) +
                      " was recorded at or before " + std::to_string(*options.at) + " us");
    }
  } else {
    from = options.from.value_or(0);
    to = options.to.value_or(last);
    if (to > last) {
      throw ToolError("--to " + std::to_string(to) + " is past the last complete frame, " +
                      std::to_string(last));
    }
    if (from > to) {
      throw ToolError("--from " + std::to_string(from) + " is after --to " + std::to_string(to));
    }
  }

  const std::filesystem::path directory = options.directory;
  std::error_code error;
  std::filesystem::create_directories(directory, error);
  if (!std::filesystem::is_directory(directory)) {
    throw ToolError("cannot create the directory " + directory.string() +
                    (error ? ": " + error.message() : ""));
  }
  EK::EKImage image(static_cast<int>(properties.resolution),
                    static_cast<int>(properties.colorSpace));
  const std::uint64_t count = static_cast<std::uint64_t>(to - from + 1);
  {
    // The bar ends its line before the summary is written.
    ProgressBar progress(output.progress, output.progressShown, count, "export");
    for (long long frame = from; frame <= to; ++frame) {
      if (!video.getFrame(image, static_cast<std::uint32_t>(frame), stream, true)) {
        throw ToolError("cannot read frame " + std::to_string(frame) + " of " + path);
      }
      hideRecordHeader(image);
      savePicture(pictureOf(image), (directory / frameFileName(frame, options.format)).string(),
                  options.format);
      progress.update(static_cast<std::uint64_t>(frame - from + 1));
    }
  }
  output.out << "exported " << count << (count == 1 ? " frame" : " frames") << " of stream "
             << stream << " (frames " << from << " to " << to << ") to " << directory.string()
             << "\n";
  return 0;
}

int runExport(const std::vector<std::string>& args, Output& output) {
  const ExportOptions options = parseExportOptions(args);
  if (options.help) {
    output.out << kExportUsage;
    return 0;
  }
  return exportFrames(options, output);
}

}  // namespace ektool
