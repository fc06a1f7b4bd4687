// Internal: the `.arv` file layout that only the library reads and writes: the fixed header
// and the stream table, the record arithmetic and the count of frames a file holds, for the
// recorder, the player and the inspection. What readers outside the library need is public:
// the record header (ekvision/ekvideorecord.h) and the playback rule
// (ekvision/ekvideoplayback.h).
#ifndef EKVISION_SRC_ARVLAYOUT_H
#define EKVISION_SRC_ARVLAYOUT_H

#include <cstdint>
#include <vector>

#include <ekvision/ekvideo.h>
#include <ekvision/ekvideoinspection.h>
#include <ekvision/ekvideoplayback.h>
#include <ekvision/ekvideorecord.h>

namespace EK {
namespace detail {

const std::uint32_t kArvVersion0 = kVideoFormatVersion0;
const std::uint32_t kArvVersion1 = kVideoFormatVersion1;
const std::uint32_t kArvOpenFrameCount = kVideoOpenFrameCount;

const int kArvFixedHeaderSize = 16;
const int kArvStreamHeaderSize = 16;
const int kArvFrameCountOffset = 8;
// Its fields: ekvision/ekvideorecord.h.
const int kArvRecordHeaderSize = kVideoRecordHeaderSize;

// Messages of a file that is not a readable recording, shared by the player and the
// inspection.
extern const char kArvUnknownVersion[];
extern const char kArvTruncatedHeader[];
extern const char kArvHeaderTooLarge[];
extern const char kArvFramesTooLarge[];

// Streams a reader accepts at most, so that a hostile count cannot exhaust memory.
const std::uint32_t kArvMaxStreams = 1u << 16;

// The fixed header's fields; the stream count as stored (readerStreamCount() reads 0 as 1).
struct ArvFixedHeader {
  std::uint32_t version;
  std::uint32_t extraHeaderSize;
  std::uint32_t frameCount;
  std::uint32_t streamCount;
};

inline bool isArvVersion(std::uint32_t version) {
  return version == kArvVersion0 || version == kArvVersion1;
}

// Decodes the 16 bytes of the fixed header.
ArvFixedHeader decodeFixedHeader(const unsigned char* bytes);
// Encodes the fixed header and the stream table into @p bytes, which holds them.
void encodeHeader(const ArvFixedHeader& fixed, const std::vector<streamHeader>& streams,
                  unsigned char* bytes);
// Decodes one 16-byte stream header.
streamHeader decodeStreamHeader(const unsigned char* bytes);

// Streams as readers take the stored count: 0 is read as 1.
inline std::uint32_t readerStreamCount(std::uint32_t stored) {
  return stored == 0 ? 1 : stored;
}

// Bytes before the first frame: fixed header, stream table and extra header.
inline std::uint64_t headerBytes(std::uint32_t streamCount, std::uint32_t extraHeaderSize) {
  return kArvFixedHeaderSize + static_cast<std::uint64_t>(kArvStreamHeaderSize) * streamCount +
         extraHeaderSize;
}

// Layer count of a stored color-space code; 0 when the code is unknown.
std::uint32_t layersOfColorSpace(std::uint32_t colorSpace);

// The record length of a stream, in the 32-bit arithmetic that the format fixes; 0 when
// its color space is unknown.
std::uint32_t recordLength(const streamHeader& stream);

// The resolution code of the stream's size, -1 when it has none.
int resolutionOf(const streamHeader& stream);

// Why EKVideo cannot play @p stream (EK::unplayableReason for its records), or null;
// @p resolution gets resolutionOf(@p stream).
const char* unplayableStream(const streamHeader& stream, int& resolution);

// What a reader keeps of a playable stream.
streamProperties playableProperties(const streamHeader& stream);

// Frames that lie whole in a file of @p fileSize bytes, and the bytes of an unfinished
// one; both 0 when the frame size is 0 or the file ends within the header.
struct ArvFrameSpan {
  std::uint64_t complete;
  std::uint64_t partial;
};
ArvFrameSpan framesInFile(std::uint64_t fileSize, std::uint64_t headerSize,
                          std::uint64_t frameSize);

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
  return videoRecordOffset(video, frame, stream);
}

}  // namespace detail
}  // namespace EK

#endif  // EKVISION_SRC_ARVLAYOUT_H
