// ekvision info: what a `.ari` picture or an `.arv` recording holds.
#include <ekvision/ekimage.h>
#include <ekvision/ekvideo.h>

#include <cstdint>
#include <fstream>
#include <iomanip>
#include <ostream>
#include <sstream>

#include "arguments.h"
#include "recording.h"
#include "tool.h"

namespace ektool {
namespace {

const char kInfoUsage[] =
    "usage: ekvision info FILE\n"
    "\n"
    "Describes a .ari picture or a .arv recording (recognised by its first bytes).\n"
    "For a recording: the header, every stream (size, color space, record length), the\n"
    "frame count, the complete frames the file holds, the first and last time stamps,\n"
    "the duration and the mean frame rate. A recording that was never closed is named so.\n";

enum class FileKind { kPicture, kRecording };

FileKind kindOf(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  unsigned char magic[4] = {};
  if (!in || !in.read(reinterpret_cast<char*>(magic), sizeof magic)) {
    throw ToolError("cannot read " + path + ": no such file, or shorter than any header");
  }
  if ((magic[0] == '0' || magic[0] == '1') && magic[2] == 'R' && magic[3] == 'A') {
    if (magic[1] == 'I') {
      return FileKind::kPicture;
    }
    if (magic[1] == 'V') {
      return FileKind::kRecording;
    }
  }
  throw ToolError(path + " is neither a .ari picture nor a .arv recording");
}

int versionOf(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  char first = 0;
  in.get(first);
  return first == '0' ? 0 : 1;
}

std::string colorSpaceName(int colorSpace) {
  return colorSpace == EK::kColorSpaceYUV422 ? " (YUV422)" : "";
}

void describePicture(const std::string& path, std::ostream& out) {
  EK::EKImage image(0, 0, 0);
  if (!image.readFile(path.c_str())) {
    const std::string reason = lastLibraryMessage();
    throw ToolError("cannot read " + path + (reason.empty() ? ": file cut short" : ": " + reason));
  }
  out << "file:        " << path << "\n"
      << "format:      ari version " << versionOf(path) << "\n"
      << "size:        " << image.width << "x" << image.height << "\n"
      << "layers:      " << image.nbLayers << "\n"
      << "color space: " << image.colorSpace << colorSpaceName(image.colorSpace) << "\n"
      << "time stamp:  " << image.timeStamp << " us\n"
      << "camera:      " << static_cast<int>(image.cameraId) << "\n"
      << "angles:      left " << image.leftAngle << ", top " << image.topAngle << ", right "
      << image.rightAngle << ", bottom " << image.bottomAngle << " rad\n";
}

void describeRecording(const std::string& path, std::ostream& out) {
  EK::EKVideo video;
  openRecording(video, path);
  const RecordingFacts facts = inspectRecording(video, path);
  out << "file:         " << path << " (" << facts.fileSize << " bytes)\n"
      << "format:       arv version " << (video.version == 0x41525630u ? 0 : 1) << "\n"
      << "header:       " << video.headerSize << " bytes (extra header " << video.extraHeaderSize
      << " bytes)\n"
      << "streams:      " << video.streamCount << "\n";
  for (std::size_t s = 0; s < video.streams.size(); ++s) {
    const EK::streamProperties& stream = video.streams[s];
    out << "  stream " << s << ":   " << stream.width << "x" << stream.height << " (resolution "
        << stream.resolution << "), color space " << stream.colorSpace
        << colorSpaceName(static_cast<int>(stream.colorSpace)) << ", " << stream.nbLayers
        << (stream.nbLayers == 1 ? " layer" : " layers") << ", depth " << stream.depth
        << ", record " << stream.dataSize << " bytes\n";
  }
  out << "frame size:   " << video.frameSize << " bytes\n";
  if (facts.closed) {
    out << "frames:       " << video.frameCount << "\n";
  } else {
    out << "frames:       not closed: the frame count is 0xFFFFFFFF (run 'ekvision recover')\n";
  }
  out << "in the file:  " << facts.completeFrames << " complete frames";
  if (facts.partialBytes > 0) {
    out << ", and " << facts.partialBytes << " bytes of an unfinished frame";
  }
  out << "\n";
  if (facts.closed && video.frameCount > facts.completeFrames) {
    out << "warning:      the file is cut short: it holds fewer frames than its header says\n";
  }
  if (facts.readableFrames == 0) {
    return;
  }
  const auto first = timeStampOf(video, 0, 0);
  const auto last = timeStampOf(video, static_cast<std::uint32_t>(facts.readableFrames - 1), 0);
  if (!first || !last) {
    out << "time stamps:  unreadable (records of stream 0 are too short)\n";
    return;
  }
  const double duration = static_cast<double>(*last - *first) / 1e6;
  out << "first stamp:  " << *first << " us\n"
      << "last stamp:   " << *last << " us\n"
      << "duration:     " << std::fixed << std::setprecision(6) << duration << " s\n";
  if (facts.readableFrames > 1 && duration > 0) {
    out << "mean rate:    " << std::setprecision(3)
        << static_cast<double>(facts.readableFrames - 1) / duration << " frames/s\n";
  } else {
    out << "mean rate:    unknown\n";
  }
}

}  // namespace

int runInfo(const std::vector<std::string>& args, Output& output) {
  const Arguments arguments = parseArguments(args, {});
  if (arguments.help) {
    output.out << kInfoUsage;
    return 0;
  }
  expectPositional(arguments, {"FILE"});
  const std::string& path = arguments.positional[0];
  if (kindOf(path) == FileKind::kPicture) {
    describePicture(path, output.out);
  } else {
    describeRecording(path, output.out);
  }
  return 0;
}

}  // namespace ektool
