// Internal: constants of the `.arv` layout and the arithmetic that finds a record in it.
#ifndef EKVISION_SRC_ARVLAYOUT_H
#define EKVISION_SRC_ARVLAYOUT_H

#include <cstdint>
#include <vector>

#include <ekvision/ekvideo.h>

namespace EK {
namespace detail {

const std::uint32_t kArvVersion0 = 0x41525630u;  // "0VRA"
const std::uint32_t kArvVersion1 = 0x41525631u;  // "1VRA"
const std::uint32_t kArvOpenFrameCount = 0xFFFFFFFFu;

const int kArvFixedHeaderSize = 16;
const int kArvStreamHeaderSize = 16;
const int kArvFrameCountOffset = 8;
// Time stamp (8), camera id (1) and four angles (4 each).
const int kArvRecordHeaderSize = 25;

// Bytes before the first frame: fixed header, stream table and extra header.
inline std::uint64_t headerBytes(std::uint32_t streamCount, std::uint32_t extraHeaderSize) {
  return kArvFixedHeaderSize + static_cast<std::uint64_t>(kArvStreamHeaderSize) * streamCount +
         extraHeaderSize;
}

// Offset of stream @p stream's record within a frame: the records of the streams before it.
inline std::uint64_t streamOffsetInFrame(const std::vector<streamProperties>& streams,
                                         unsigned int stream) {
  std::uint64_t offset = 0;
  for (unsigned int s = 0; s < stream && s < streams.size(); ++s) {
    offset += streams[s].dataSize;
  }
  return offset;
}

// Offset of the record of (@p frame, @p stream) from the start of the file, in 64 bits so
// that recordings beyond 4 GiB are addressed correctly.
inline std::uint64_t recordOffset(const EKVideo& video, unsigned int frame, unsigned int stream) {
  return static_cast<std::uint64_t>(video.headerSize) +
         static_cast<std::uint64_t>(video.frameSize) * frame +
         streamOffsetInFrame(video.streams, stream);
}

}  // namespace detail
}  // namespace EK

#endif  // EKVISION_SRC_ARVLAYOUT_H
