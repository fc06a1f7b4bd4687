// Export: frames of a recording as PNG or PPM pictures.
#include <ekvideodevice/ekarvsource.h>
#include <ekvision/ekvideo.h>
#include <ekvision/ekvideoplayback.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>

#include "export.h"
#include "host.h"
#include "pathguard.h"
#include "picture.h"
#include "recording.h"

namespace ekhost {
namespace {

std::string frameFileName(std::uint64_t frame, const std::string& format) {
  char name[40];
  std::snprintf(name, sizeof name, "frame_%06llu.%s", static_cast<unsigned long long>(frame),
                format.c_str());
  return name;
}

}  // namespace

const EK::streamProperties& exportableStream(const EK::EKVideo& video,
                                             const EK::EKVideoInspection& file,
                                             const std::string& path, std::uint32_t stream) {
  if (stream >= video.streamCount) {
    fail(EK::EKCause::kNotFound, path + " has " + std::to_string(video.streamCount) +
                                     " stream(s): there is no stream " + std::to_string(stream));
  }
  const EK::streamProperties& properties = video.streams[stream];
  if (!isViewable(static_cast<int>(properties.colorSpace), static_cast<int>(properties.nbLayers))) {
    fail(EK::EKCause::kUnsupported,
         "stream " + std::to_string(stream) + " has color space " +
             std::to_string(properties.colorSpace) +
             ", which has no known pixel layout: only YUV422 (9) and one-layer color "
             "spaces can be exported");
  }
  const EK::streamHeader header{
      static_cast<int>(properties.width), static_cast<int>(properties.height),
      static_cast<int>(properties.colorSpace), static_cast<int>(properties.depth)};
  if (const char* reason = EK::unplayableReason(header, EK::EKStreamUse::kPictures)) {
    fail(EK::EKCause::kUnsupported, "stream " + std::to_string(stream) + " has " +
                                        std::to_string(properties.depth) +
                                        "-bit samples: " + reason);
  }
  if (file.playableFrames == 0) {
    fail(EK::EKCause::kUnavailable, path + " holds no complete frame");
  }
  return properties;
}

FrameRange exportRange(std::uint64_t playableFrames, std::optional<long long> from,
                       std::optional<long long> to) {
  const long long last = static_cast<long long>(playableFrames) - 1;
  FrameRange range{from.value_or(0), to.value_or(last)};
  if (range.last > last) {
    fail(EK::EKCause::kUnavailable, "--to " + std::to_string(range.last) +
                                        " is past the last complete frame, " +
                                        std::to_string(last));
  }
  if (range.first > range.last) {
    fail(EK::EKCause::kUnavailable,
         "--from " + std::to_string(range.first) + " is after --to " + std::to_string(range.last));
  }
  return range;
}

ExportReport exportFrames(const ExportOptions& options, Listener& listener) {
  const std::string& path = options.recording;
  const std::uint32_t stream = options.stream;
  EK::EKVideo video;
  const EK::EKVideoInspection file = openRecording(video, path);
  const EK::streamProperties& properties = exportableStream(video, file, path, stream);
  const long long last = static_cast<long long>(file.playableFrames) - 1;
  long long from = 0;
  long long to = last;
  if (options.at) {
    from = to = video.findFrame(*options.at, stream);
    if (from < 0) {
      fail(EK::EKCause::kNotFound, "no frame of stream " + std::to_string(stream) +
                                       " was recorded at or before " + std::to_string(*options.at) +
                                       " us");
    }
  } else {
    const FrameRange range = exportRange(file.playableFrames, options.from, options.to);
    from = range.first;
    to = range.last;
  }

  const std::filesystem::path directory = options.directory;
  std::error_code error;
  std::filesystem::create_directories(directory, error);
  if (!std::filesystem::is_directory(directory)) {
    const std::string context = "cannot create the directory " + directory.string();
    throw HostError(error ? EK::EKStatus::fromSystemError(error.value(), context)
                          : EK::EKStatus(EK::EKCause::kNotRegularFile, context));
  }
  EK::EKImage image(static_cast<int>(properties.resolution),
                    static_cast<int>(properties.colorSpace));
  const std::uint64_t count = static_cast<std::uint64_t>(to - from + 1);
  {
    for (long long frame = from; frame <= to; ++frame) {
      if (!video.getFrame(image, static_cast<std::uint32_t>(frame), stream, true)) {
        fail(EK::EKCause::kBadFormat, "cannot read frame " + std::to_string(frame) + " of " + path);
      }
      EK::EKArvSource::concealRecordHeader(image);
      const std::string picture = (directory / frameFileName(frame, options.format)).string();
      refuseOverwrites({{path, "the recording that FILE.arv names"}}, {{picture, "OUTDIR"}});
      savePicture(pictureOf(image), picture, options.format);
      listener.progress(static_cast<std::uint64_t>(frame - from + 1), count);
    }
  }
  ExportReport report;
  report.count = count;
  report.stream = stream;
  report.from = from;
  report.to = to;
  report.directory = directory.string();
  return report;
}

}  // namespace ekhost
