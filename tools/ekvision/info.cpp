// ekvision info: what a `.ari` picture or an `.arv` recording holds.
#include <ekvision/ekimage.h>
#include <ekvision/ekvideo.h>
#include <ekvision/ekvideoinspection.h>

#include <cstdint>
#include <fstream>
#include <iomanip>
#include <ostream>
#include <sstream>

#include <CLI/CLI.hpp>

#include <memory>

#include "commands.h"
#include "host.h"
#include "recording.h"
#include "tool.h"

namespace ektool {
namespace {

enum class FileKind { kPicture, kRecording };

FileKind kindOf(const std::string& path) {
  // The cause comes first: opening a FIFO would wait for a writer.
  ekhost::requireReadableFile(path);
  std::ifstream in(path, std::ios::binary);
  unsigned char magic[4] = {};
  if (!in || !in.read(reinterpret_cast<char*>(magic), sizeof magic)) {
    throw ToolError("cannot read " + path + ": shorter than any header");
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
  const EK::EKStatus read = EK::readImageFile(image, path);
  if (!read.ok()) {
    throw ekhost::HostError(ekhost::readFailure(path, read));
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

std::string writerText(const EK::EKVideoInspection& file) {
  return file.writerProcess > 0 ? "process " + std::to_string(file.writerProcess)
                                : "another process";
}

void describeCount(const EK::EKVideoInspection& file, std::ostream& out) {
  if (file.closed) {
    out << "frames:       " << file.storedFrameCount << "\n";
  } else if (file.beingWritten) {
    out << "frames:       being written by " << writerText(file) << " (not closed yet)\n";
  } else {
    out << "frames:       not closed: the frame count is 0xFFFFFFFF (run 'ekvision recover')\n";
  }
  out << "in the file:  " << file.completeFrames << " complete frames";
  if (file.partialBytes > 0) {
    out << ", and " << file.partialBytes << " bytes of an unfinished frame";
  }
  out << "\n";
  if (file.state == EK::EKRecordingState::kCutShort) {
    out << "warning:      the file is cut short: it holds fewer frames than its header says\n";
  } else if (file.state == EK::EKRecordingState::kUncountedFrames) {
    out << "warning:      the file holds " << file.completeFrames - file.storedFrameCount
        << " complete frames beyond its count ('ekvision recover --extend' counts them)\n";
  }
}

void describeStamps(const std::string& path, const EK::EKVideoInspection& file, std::ostream& out) {
  if (!file.unplayableReason.empty()) {
    out << "playable:     no (" << file.unplayableReason << ")\n";
    return;
  }
  if (file.playableFrames == 0) {
    return;
  }
  EK::EKVideo video;
  ekhost::openRecording(video, path);
  const auto first = ekhost::timeStampOf(video, 0, 0);
  const auto last =
      ekhost::timeStampOf(video, static_cast<std::uint32_t>(file.playableFrames - 1), 0);
  if (!first || !last) {
    out << "time stamps:  unreadable (records of stream 0 are too short)\n";
    return;
  }
  const double duration = static_cast<double>(*last - *first) / 1e6;
  out << "first stamp:  " << *first << " us\n"
      << "last stamp:   " << *last << " us\n"
      << "duration:     " << std::fixed << std::setprecision(6) << duration << " s\n";
  if (file.playableFrames > 1 && duration > 0) {
    out << "mean rate:    " << std::setprecision(3)
        << static_cast<double>(file.playableFrames - 1) / duration << " frames/s\n";
  } else {
    out << "mean rate:    unknown\n";
  }
}

void describeRecording(const std::string& path, std::ostream& out) {
  EK::EKVideoInspection file;
  try {
    file = EK::inspectVideo(path);
  } catch (const EK::EKError& error) {
    throw ToolError("cannot read " + path + ": " + error.getDescription());
  }
  out << "file:         " << path << " (" << file.fileSize << " bytes)\n"
      << "format:       arv version " << (file.version == EK::kVideoFormatVersion0 ? 0 : 1) << "\n"
      << "header:       " << file.headerSize << " bytes (extra header " << file.extraHeaderSize
      << " bytes)\n"
      << "streams:      " << file.streamCount << "\n";
  for (std::size_t s = 0; s < file.streams.size(); ++s) {
    const EK::EKVideoStreamInfo& stream = file.streams[s];
    out << "  stream " << s << ":   " << stream.header.width << "x" << stream.header.height;
    if (stream.resolution >= 0) {
      out << " (resolution " << stream.resolution << ")";
    }
    out << ", color space " << stream.header.colorSpace << colorSpaceName(stream.header.colorSpace);
    if (stream.layers > 0) {
      out << ", " << stream.layers << (stream.layers == 1 ? " layer" : " layers");
    } else {
      out << ", unknown layers";
    }
    out << ", depth " << stream.header.depth << ", record " << stream.dataSize << " bytes\n";
  }
  if (file.frameSize > 0) {
    out << "frame size:   " << file.frameSize << " bytes\n";
  } else {
    out << "frame size:   unknown: frames cannot be counted\n";
  }
  describeCount(file, out);
  describeStamps(path, file, out);
}

class InfoCommand : public Command {
 public:
  void define(CLI::App& app) override {
    app.description(
        "Describes a .ari picture or a .arv recording (recognised by its first bytes). For a "
        "recording: the header, every stream (size, color space, record length), the frame "
        "count, the complete frames the file holds, the first and last time stamps, the "
        "duration and the mean frame rate. A recording that was never closed is named so.");
    app.add_option("FILE", path_, "the picture or recording")->required();
  }

  int run(Output& output) override {
    if (kindOf(path_) == FileKind::kPicture) {
      describePicture(path_, output.out);
    } else {
      describeRecording(path_, output.out);
    }
    return 0;
  }

 private:
  std::string path_;
};

}  // namespace

std::unique_ptr<Command> makeInfoCommand() {
  return std::make_unique<InfoCommand>();
}

}  // namespace ektool
