// The `.arv` layout: decoding and encoding the header and the record headers, record
// lengths, playable streams.
#include "arvlayout.h"

#include <limits>

#include "bytes.h"

namespace EK {
namespace detail {

const char kArvUnknownVersion[] = "This arv file version isn't supported";
const char kArvTruncatedHeader[] = "This arv file is shorter than its header";
const char kArvHeaderTooLarge[] = "This arv file header is too large";
const char kArvFramesTooLarge[] = "This arv file's frames are too large";

ArvFixedHeader decodeFixedHeader(const unsigned char* bytes) {
  ArvFixedHeader fixed;
  fixed.version = loadLittleEndian<std::uint32_t>(bytes);
  fixed.extraHeaderSize = loadLittleEndian<std::uint32_t>(bytes + 4);
  fixed.frameCount = loadLittleEndian<std::uint32_t>(bytes + kArvFrameCountOffset);
  fixed.streamCount = loadLittleEndian<std::uint32_t>(bytes + 12);
  return fixed;
}

void encodeHeader(const ArvFixedHeader& fixed, const std::vector<streamHeader>& streams,
                  unsigned char* bytes) {
  storeLittleEndian(fixed.version, bytes);
  storeLittleEndian(fixed.extraHeaderSize, bytes + 4);
  storeLittleEndian(fixed.frameCount, bytes + kArvFrameCountOffset);
  storeLittleEndian(fixed.streamCount, bytes + 12);
  unsigned char* table = bytes + kArvFixedHeaderSize;
  for (const streamHeader& stream : streams) {
    storeLittleEndian(stream.width, table);
    storeLittleEndian(stream.height, table + 4);
    storeLittleEndian(stream.colorSpace, table + 8);
    storeLittleEndian(stream.depth, table + 12);
    table += kArvStreamHeaderSize;
  }
}

streamHeader decodeStreamHeader(const unsigned char* bytes) {
  streamHeader stream;
  stream.width = loadLittleEndian<int>(bytes);
  stream.height = loadLittleEndian<int>(bytes + 4);
  stream.colorSpace = loadLittleEndian<int>(bytes + 8);
  stream.depth = loadLittleEndian<int>(bytes + 12);
  return stream;
}

std::uint32_t layersOfColorSpace(std::uint32_t colorSpace) {
  if (colorSpace > static_cast<std::uint32_t>(std::numeric_limits<int>::max())) {
    return 0;
  }
  const int layers = getNumLayersInColorSpace(static_cast<int>(colorSpace));
  return layers > 0 ? static_cast<std::uint32_t>(layers) : 0;
}

std::uint32_t recordLength(const streamHeader& stream) {
  const auto width = static_cast<std::uint32_t>(stream.width);
  const auto height = static_cast<std::uint32_t>(stream.height);
  const auto depth = static_cast<std::uint32_t>(stream.depth);
  const std::uint32_t layers = layersOfColorSpace(static_cast<std::uint32_t>(stream.colorSpace));
  return (height * width * layers * depth) >> 3;
}

int resolutionOf(const streamHeader& stream) {
  return stream.width < 0 || stream.height < 0 ? -1
                                               : getResolutionFromSize(stream.width, stream.height);
}

const char* unplayableStream(const streamHeader& stream, int& resolution) {
  resolution = resolutionOf(stream);
  return unplayableReason(stream, EKStreamUse::kRecords);
}

streamProperties playableProperties(const streamHeader& stream) {
  const int resolution = resolutionOf(stream);
  streamProperties properties{};
  properties.width = static_cast<std::uint32_t>(stream.width);
  properties.height = static_cast<std::uint32_t>(stream.height);
  properties.resolution = static_cast<std::uint32_t>(resolution);
  properties.colorSpace = static_cast<std::uint32_t>(stream.colorSpace);
  properties.nbLayers = layersOfColorSpace(properties.colorSpace);
  properties.depth = static_cast<std::uint32_t>(stream.depth);
  properties.dataSize = recordLength(stream);
  return properties;
}

ArvFrameSpan framesInFile(std::uint64_t fileSize, std::uint64_t headerSize,
                          std::uint64_t frameSize) {
  if (frameSize == 0 || fileSize <= headerSize) {
    return {0, 0};
  }
  const std::uint64_t frameBytes = fileSize - headerSize;
  return {frameBytes / frameSize, frameBytes % frameSize};
}

}  // namespace detail

const char* unplayableReason(const streamHeader& stream, EKStreamUse use) {
  const int resolution = detail::resolutionOf(stream);
  if (resolution < 0 || resolution > kLargestPlayableResolution) {
    return "Unsupported resolution";
  }
  if (stream.colorSpace < 0 || stream.colorSpace > kLargestPlayableColorSpace) {
    return "invalid color space";
  }
  if (use == EKStreamUse::kPictures && stream.depth != kPictureSampleDepth) {
    return "only 8-bit streams can be played";
  }
  return nullptr;
}

void encodeRecordHeader(const EKRecordHeader& header, unsigned char* bytes) {
  detail::storeLittleEndian(header.timeStamp, bytes + kVideoRecordTimeStampOffset);
  bytes[kVideoRecordCameraOffset] = static_cast<unsigned char>(header.cameraId);
  const float angles[4] = {header.leftAngle, header.topAngle, header.rightAngle,
                           header.bottomAngle};
  for (int i = 0; i < 4; ++i) {
    detail::storeLittleEndian(angles[i], bytes + kVideoRecordAnglesOffset + 4 * i);
  }
}

EKRecordHeader decodeRecordHeader(const unsigned char* bytes) {
  EKRecordHeader header;
  header.timeStamp = detail::loadLittleEndian<long long>(bytes + kVideoRecordTimeStampOffset);
  header.cameraId = static_cast<char>(bytes[kVideoRecordCameraOffset]);
  float* angles[4] = {&header.leftAngle, &header.topAngle, &header.rightAngle, &header.bottomAngle};
  for (int i = 0; i < 4; ++i) {
    *angles[i] = detail::loadLittleEndian<float>(bytes + kVideoRecordAnglesOffset + 4 * i);
  }
  return header;
}

}  // namespace EK
