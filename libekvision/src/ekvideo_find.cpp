// The `.arv` player: finding a frame by its time stamp.
#include <ekvision/ekvideo.h>

#include <algorithm>
#include <cstdint>

#include "arvio.h"
#include "arvlayout.h"
#include "bytes.h"

namespace EK {
namespace {

// Puts the input back where it was when the search began, whatever the search did.
class InputPositionKeeper {
 public:
  explicit InputPositionKeeper(std::ifstream& in) : in_(in), position_(in.tellg()) {}
  ~InputPositionKeeper() {
    in_.clear();
    if (position_ >= 0) {
      in_.seekg(position_, std::ios::beg);
    }
  }
  InputPositionKeeper(const InputPositionKeeper&) = delete;
  InputPositionKeeper& operator=(const InputPositionKeeper&) = delete;

 private:
  std::ifstream& in_;
  std::streamoff position_;
};

// Frames that lie whole in the file: an unclosed recording says 0xFFFFFFFF.
std::uint64_t completeFrames(EKVideo& video) {
  video.inputFile.seekg(0, std::ios::end);
  const std::streamoff end = video.inputFile.tellg();
  video.inputFile.clear();
  if (end < 0) {
    return 0;
  }
  return detail::framesInFile(static_cast<std::uint64_t>(end), video.headerSize, video.frameSize)
      .complete;
}

}  // namespace

long long EKVideo::findFrame(long long timeStamp, unsigned int streamIndex) {
  if (!isReading || frameCount == 0) {
    return -1;
  }
  const unsigned int stream = streamIndex < streamCount ? streamIndex : streamCount - 1;
  if (streams[stream].dataSize < static_cast<std::uint32_t>(detail::kArvRecordHeaderSize)) {
    return -1;
  }
  InputPositionKeeper keeper(inputFile);
  const std::uint64_t frames = std::min<std::uint64_t>(frameCount, completeFrames(*this));
  bool readFailed = false;
  const auto stampOf = [&](std::uint64_t frame) {
    unsigned char bytes[sizeof(long long)] = {};
    const std::uint64_t offset =
        detail::recordOffset(*this, static_cast<unsigned int>(frame), stream) +
        kVideoRecordTimeStampOffset;
    readFailed = readFailed || !detail::readAt(inputFile, offset, bytes, sizeof bytes);
    return detail::loadLittleEndian<long long>(bytes);
  };
  if (frames == 0) {
    return -1;
  }
  const long long first = stampOf(0);
  if (readFailed || first > timeStamp) {
    return -1;
  }
  // Invariant: the stamp of `low` is at or before the target; `high` is past the end or
  // its stamp is after the target.
  std::uint64_t low = 0;
  std::uint64_t high = frames;
  while (high - low > 1 && !readFailed) {
    const std::uint64_t middle = low + (high - low) / 2;
    if (stampOf(middle) <= timeStamp) {
      low = middle;
    } else {
      high = middle;
    }
  }
  return readFailed ? -1 : static_cast<long long>(low);
}

}  // namespace EK
