// Fuzzes the .arv player. The input is a file's contents; readVideo() opens it, then a walk
// of reading operations moves through it: goToFrame, getFrame, getNextFrame,
// getPrecedingFrame and findFrame, with and without adaptImage, into owning and external
// images of several sizes and color spaces. The walk's steps are taken from the input's
// last bytes, read backwards, so that a recording written by the recorder is still a whole
// file from its first byte. After every read the target touches every byte of the record
// and of the buffer (an overflow shows under AddressSanitizer) and checks the reader's
// invariants (a broken one traps). inspectVideo() must agree with the reader about every
// input, and recoverVideo() must leave a file whose count is one of its complete frames.
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <ekerror/ekerror.h>
#include <ekvision/ekimage.h>
#include <ekvision/ekvideo.h>
#include <ekvision/ekvideoinspection.h>

#include "fuzzcheck.h"
#include "memoryfile.h"

namespace {

// Bytes of the input from its end backwards; zeros once they run out.
class StepReader {
 public:
  StepReader(const std::uint8_t* data, std::size_t size) : data_(data), left_(size) {}

  std::uint8_t byte() { return left_ > 0 ? data_[--left_] : 0; }
  bool flag() { return (byte() & 1) != 0; }
  std::uint32_t u32() {
    std::uint32_t value = 0;
    for (int i = 0; i < 4; ++i) {
      value = (value << 8) | byte();
    }
    return value;
  }
  // Mostly small indexes, sometimes any 32-bit value (the clamps and the wrap-around).
  unsigned int index() { return (byte() & 7) == 7 ? u32() : byte() % 6; }
  long long stamp() {
    return static_cast<long long>((static_cast<std::uint64_t>(u32()) << 32) | u32());
  }

 private:
  const std::uint8_t* data_;
  std::size_t left_;
};

using ekfuzz::check;

// An image the walk reads into, with the buffer it owns when the buffer is external.
struct Target {
  std::vector<unsigned char> external;
  std::unique_ptr<EK::EKImage> image;
};

// The images the walk reads into: owning ones of several sizes and color spaces, one of a
// size without resolution code (growing it throws std::invalid_argument), an empty one,
// external buffers of exactly the image's size (a write past them shows) and an external
// image whose buffer was never set.
struct TargetKind {
  int width, height, colorSpace;
  bool external, buffer;
};
const TargetKind kTargetKinds[] = {
    {160, 120, 0, false, false},  {320, 240, EK::kColorSpaceYUV422, false, false},
    {100, 100, 0, false, false},  {0, 0, 0, false, false},
    {640, 480, 13, false, false}, {160, 120, EK::kColorSpaceYUV422, true, true},
    {64, 48, 0, true, true},      {160, 120, 0, true, false},
};
const int kTargetKindCount = sizeof kTargetKinds / sizeof kTargetKinds[0];

std::unique_ptr<Target> makeTarget(int kind) {
  const TargetKind& k = kTargetKinds[kind];
  auto target = std::make_unique<Target>();
  target->image = std::make_unique<EK::EKImage>(k.width, k.height, k.colorSpace, k.external);
  if (k.buffer) {
    target->external.resize(static_cast<std::size_t>(target->image->allocatedSize));
    target->image->frame = target->external.data();
  }
  return target;
}

// Reads every byte of the record just read, so that a record longer than the buffer shows.
void touchRecord(const EK::EKVideo& video, const EK::EKImage& image) {
  check(video.currentStream < video.streams.size());
  const std::uint32_t record = video.streams[video.currentStream].dataSize;
  check(image.frame != nullptr && image.allocatedSize >= 0 &&
        record <= static_cast<std::uint32_t>(image.allocatedSize));
  ekfuzz::touch(image.frame, record);
}

void checkState(const EK::EKVideo& video) {
  if (!video.isReading) {
    return;
  }
  check(video.streamCount >= 1 && video.streams.size() == video.streamCount);
  check(video.currentStream < video.streamCount);
  check(video.frameCount == 0 || video.currentFrame < video.frameCount);
  std::uint64_t frame = 0;
  for (const EK::streamProperties& stream : video.streams) {
    frame += stream.dataSize;
  }
  check(frame == video.frameSize);
}

// findFrame() answers -1 or a frame of the file, and moves nothing.
void checkFind(EK::EKVideo& video, StepReader& steps) {
  const unsigned int frame = video.currentFrame;
  const unsigned int stream = video.currentStream;
  const std::streamoff position = video.inputFile.tellg();
  const long long found = video.findFrame(steps.stamp(), steps.index());
  check(found == -1 || (found >= 0 && static_cast<std::uint64_t>(found) < video.frameCount));
  check(video.currentFrame == frame && video.currentStream == stream);
  check(video.inputFile.tellg() == position);
}

bool reopen(EK::EKVideo& video, const std::string& path, bool closeFirst) {
  if (closeFirst) {
    video.closeVideo();
  }
  try {
    return video.readVideo(path);
  } catch (const EK::EKError&) {
    return false;
  }
}

// What inspectVideo() says of the file, or nothing when it refuses it.
std::optional<EK::EKVideoInspection> inspect(const std::string& path) {
  try {
    return EK::inspectVideo(path);
  } catch (const EK::EKError&) {
    return std::nullopt;
  }
}

// The inspection agrees with itself and with the player: the player opens exactly the
// files that the inspection finds playable, and sees the same header.
void checkInspection(const std::optional<EK::EKVideoInspection>& file, const EK::EKVideo& video,
                     std::size_t size) {
  check(file.has_value() || !video.isReading);
  if (!file) {
    return;
  }
  check(file->fileSize == size && file->streams.size() == file->streamCount);
  check(file->frameSize == 0 ||
        file->headerSize + file->completeFrames * file->frameSize + file->partialBytes == size);
  check(file->partialBytes < file->frameSize || file->partialBytes == 0);
  check(file->playableFrames <= file->completeFrames && !file->beingWritten);
  check(video.isReading == file->unplayableReason.empty());
  if (video.isReading) {
    check(video.streamCount == file->streamCount && video.headerSize == file->headerSize &&
          video.frameSize == file->frameSize && video.frameCount == file->storedFrameCount);
  }
}

// Recovery rewrites at most the count, to a count of complete frames; the file keeps its size.
void checkRecovery(const std::string& path, std::size_t size, bool extend) {
  EK::EKRecoveryOptions options;
  options.extend = extend;
  try {
    const EK::EKVideoRecovery recovery = EK::recoverVideo(path, options);
    const std::optional<EK::EKVideoInspection> after = inspect(path);
    check(after.has_value() && after->fileSize == size);
    check(after->storedFrameCount == recovery.frameCount);
    check(!recovery.changed || recovery.frameCount == recovery.inspection.completeFrames);
  } catch (const EK::EKError&) {
    // Not a recording, or frames that cannot be counted: refused, nothing written.
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string path = ekfuzz::memoryFilePath(data, size);
  EK::EKVideo video;
  const bool opened = reopen(video, path, false);
  checkInspection(inspect(path), video, size);
  if (!opened) {
    check(!video.isReading && !video.inputFile.is_open());
    checkRecovery(path, size, size % 2 == 1);
    return 0;
  }
  StepReader steps(data, size);
  std::unique_ptr<Target> targets[kTargetKindCount];
  const int walk = steps.byte() % 64 + 1;
  for (int step = 0; step < walk; ++step) {
    const int operation = steps.byte() % 8;
    const int kind = steps.byte() % kTargetKindCount;
    if (!targets[kind]) {
      targets[kind] = makeTarget(kind);
    }
    EK::EKImage& image = *targets[kind]->image;
    const bool adapt = steps.flag();
    bool read = false;
    try {
      switch (operation) {
        case 0:
          video.goToFrame(steps.index(), steps.index());
          break;
        case 1:
        case 2:
          read = video.getFrame(image, steps.index(), steps.index(), adapt);
          break;
        case 3:
        case 4:
          read = video.getNextFrame(image, adapt);
          break;
        case 5:
          read = video.getPrecedingFrame(image, adapt);
          break;
        case 6:
          checkFind(video, steps);
          break;
        default:
          // A second open while reading is refused and leaves the file as it was; closing
          // first starts over.
          reopen(video, path, steps.flag());
          break;
      }
    } catch (const std::invalid_argument&) {
      // The adapt step cannot grow an image that has no resolution code.
    }
    if (read) {
      touchRecord(video, image);
    }
    checkState(video);
  }
  video.closeVideo();
  check(!video.isReading && video.frameCount == 0 && video.currentFrame == 0);
  checkRecovery(path, size, steps.flag());
  return 0;
}
