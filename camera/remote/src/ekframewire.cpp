// The header part of a frame message, and the checks every received frame passes before a
// byte is allocated for its pixels.
#include <ekvideodevice/ekframewire.h>

#include <msgpack.hpp>

#include <cstring>
#include <limits>

#include <ekvision/ekvisiondefinitions.h>

#include "pixelcodec.h"

namespace EK {
namespace {

// The fields of a version 1 header, in their order in the array.
enum HeaderField : std::uint32_t {
  kVersion,
  kSequence,
  kTimeStamp,
  kCamera,
  kLeftAngle,
  kTopAngle,
  kRightAngle,
  kBottomAngle,
  kWidth,
  kHeight,
  kColorSpace,
  kEncoding,
  kPayloadSize,
  kHeaderFields
};

// Longest array the header parser takes: room for the fields of later versions, so that
// they are refused by their version number, and yet a bounded allocation.
constexpr std::size_t kMaxHeaderArray = 32;

// Longest string the parser takes, where the header has numbers: enough to name the field.
constexpr std::size_t kMaxHeaderText = 16;

// Largest width or height a header may give.
constexpr int kMaxSide = 65535;

EKStatus badFrame(const std::string& message) {
  return EKStatus(EKCause::kBadFormat, "refused frame: " + message);
}

// The unsigned integer at @p object, or nothing when it is of another kind.
std::optional<std::uint64_t> unsignedOf(const msgpack::object& object) {
  if (object.type == msgpack::type::POSITIVE_INTEGER) {
    return object.via.u64;
  }
  return std::nullopt;
}

std::optional<std::int64_t> signedOf(const msgpack::object& object) {
  if (object.type == msgpack::type::POSITIVE_INTEGER &&
      object.via.u64 <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
    return static_cast<std::int64_t>(object.via.u64);
  }
  if (object.type == msgpack::type::NEGATIVE_INTEGER) {
    return object.via.i64;
  }
  return std::nullopt;
}

// MessagePack writers may pack a float with an integral value as an integer.
std::optional<float> floatOf(const msgpack::object& object) {
  if (object.type == msgpack::type::FLOAT32 || object.type == msgpack::type::FLOAT64) {
    return static_cast<float>(object.via.f64);
  }
  const std::optional<std::int64_t> whole = signedOf(object);
  if (whole) {
    return static_cast<float>(*whole);
  }
  return std::nullopt;
}

const char* const kFieldNames[kHeaderFields] = {
    "version",     "sequence",    "time stamp",   "camera", "left angle",
    "top angle",   "right angle", "bottom angle", "width",  "height",
    "color space", "encoding",    "payload size"};

EKStatus readFields(const msgpack::object_array& fields, std::size_t maxFrameBytes,
                    EKFrameHeader& header) {
  const auto field = [&](HeaderField which) -> const msgpack::object& { return fields.ptr[which]; };
  const auto wrong = [&](HeaderField which) {
    return badFrame(std::string("its ") + kFieldNames[which] +
                    " is not a number of the right kind");
  };
  const std::optional<std::uint64_t> sequence = unsignedOf(field(kSequence));
  const std::optional<std::int64_t> stamp = signedOf(field(kTimeStamp));
  const std::optional<std::uint64_t> camera = unsignedOf(field(kCamera));
  const std::optional<std::uint64_t> width = unsignedOf(field(kWidth));
  const std::optional<std::uint64_t> height = unsignedOf(field(kHeight));
  const std::optional<std::uint64_t> colorSpace = unsignedOf(field(kColorSpace));
  const std::optional<std::uint64_t> encoding = unsignedOf(field(kEncoding));
  const std::optional<std::uint64_t> payload = unsignedOf(field(kPayloadSize));
  if (!sequence)
    return wrong(kSequence);
  if (!stamp)
    return wrong(kTimeStamp);
  if (!camera || *camera > 255)
    return wrong(kCamera);
  float angles[4];
  for (std::uint32_t i = 0; i < 4; ++i) {
    const std::optional<float> angle = floatOf(fields.ptr[kLeftAngle + i]);
    if (!angle)
      return wrong(static_cast<HeaderField>(kLeftAngle + i));
    angles[i] = *angle;
  }
  if (!width || !height || !colorSpace || !encoding || !payload) {
    return wrong(!width        ? kWidth
                 : !height     ? kHeight
                 : !colorSpace ? kColorSpace
                 : !encoding   ? kEncoding
                               : kPayloadSize);
  }
  if (*width == 0 || *height == 0 || *width > kMaxSide || *height > kMaxSide || *width % 2 != 0) {
    return badFrame("size " + std::to_string(*width) + "x" + std::to_string(*height) +
                    " (width even, both from 1 to " + std::to_string(kMaxSide) + ")");
  }
  if (*colorSpace != static_cast<std::uint64_t>(kColorSpaceYUV422)) {
    return EKStatus(EKCause::kUnsupported, "refused frame: color space " +
                                               std::to_string(*colorSpace) + " is not YUV422 (" +
                                               std::to_string(kColorSpaceYUV422) + ")");
  }
  if (*encoding > static_cast<std::uint64_t>(EKFrameEncoding::kJpeg)) {
    return EKStatus(EKCause::kUnsupported,
                    "refused frame: unknown encoding " + std::to_string(*encoding));
  }
  header.sequence = *sequence;
  header.timeStamp = *stamp;
  header.cameraId = static_cast<int>(*camera);
  header.leftAngle = angles[0];
  header.topAngle = angles[1];
  header.rightAngle = angles[2];
  header.bottomAngle = angles[3];
  header.width = static_cast<int>(*width);
  header.height = static_cast<int>(*height);
  header.colorSpace = static_cast<int>(*colorSpace);
  header.encoding = static_cast<EKFrameEncoding>(*encoding);
  header.payloadSize = *payload;
  const std::size_t picture = pictureBytes(header);
  if (picture > maxFrameBytes) {
    return badFrame("a " + std::to_string(header.width) + "x" + std::to_string(header.height) +
                    " picture of " + std::to_string(picture) + " bytes is over the limit of " +
                    std::to_string(maxFrameBytes));
  }
  if (header.payloadSize > picture || header.payloadSize == 0 ||
      (header.encoding == EKFrameEncoding::kRaw && header.payloadSize != picture)) {
    return badFrame("payload size " + std::to_string(header.payloadSize) + " for a " +
                    std::to_string(picture) + "-byte " + toString(header.encoding) + " picture");
  }
  return EKStatus();
}

}  // namespace

const char* toString(EKFrameEncoding encoding) {
  switch (encoding) {
    case EKFrameEncoding::kRaw:
      return "raw";
    case EKFrameEncoding::kZstd:
      return "zstd";
    case EKFrameEncoding::kJpeg:
      return "jpeg";
  }
  return "unknown";
}

std::optional<EKEncodingChoice> parseEncoding(const std::string& text, std::string& error) {
  EKEncodingChoice choice;
  if (text == "raw" || text == "zstd") {
    choice.encoding = text == "raw" ? EKFrameEncoding::kRaw : EKFrameEncoding::kZstd;
    return choice;
  }
  const std::string jpeg = "jpeg";
  if (text.compare(0, jpeg.size(), jpeg) == 0) {
    choice.encoding = EKFrameEncoding::kJpeg;
    const std::string rest = text.substr(jpeg.size());
    if (rest.empty()) {
      return choice;
    }
    const std::string digits = rest.substr(1);
    if (rest[0] == ':' && !digits.empty() && digits.size() <= 3 &&
        digits.find_first_not_of("0123456789") == std::string::npos) {
      choice.quality = std::stoi(digits);
      if (choice.quality >= 1 && choice.quality <= 100) {
        return choice;
      }
    }
    error = "the JPEG quality must be a whole number from 1 to 100, not '" + rest.substr(1) + "'";
    return std::nullopt;
  }
  error = "the encoding must be raw, zstd, jpeg or jpeg:QUALITY, not '" + text + "'";
  return std::nullopt;
}

std::string toString(const EKEncodingChoice& choice) {
  std::string text = toString(choice.encoding);
  if (choice.encoding == EKFrameEncoding::kJpeg) {
    text += ":" + std::to_string(choice.quality);
  }
  return text;
}

std::size_t pictureBytes(const EKFrameHeader& header) {
  return static_cast<std::size_t>(header.width) * static_cast<std::size_t>(header.height) * 2;
}

EKEncodedFrame compressJpeg(int width, int height, const std::uint8_t* pixels, int quality) {
  if (width <= 0 || height <= 0 || width % 2 != 0 || pixels == nullptr || quality < 1 ||
      quality > 100) {
    throw EKFailure(
        "EKFrameWire", "compressJpeg",
        EKStatus(EKCause::kInvalidArgument, "cannot compress a " + std::to_string(width) + "x" +
                                                std::to_string(height) + " picture at quality " +
                                                std::to_string(quality)),
        __FILE__, __LINE__);
  }
  EKEncodedFrame frame =
      remote::compressPixels({EKFrameEncoding::kJpeg, quality}, width, height, pixels);
  if (frame.payload == nullptr) {
    throw EKFailure("EKFrameWire", "compressJpeg",
                    EKStatus(EKCause::kUnavailable, "the JPEG compressor failed"), __FILE__,
                    __LINE__);
  }
  return frame;
}

EKEncodedFrame encodeFrame(EKFrameHeader header, const std::uint8_t* pixels,
                           std::shared_ptr<const void> pixelsOwner,
                           const EKEncodingChoice& choice) {
  header.version = kFrameWireVersion;
  header.colorSpace = kColorSpaceYUV422;
  if (header.width <= 0 || header.height <= 0 || header.width % 2 != 0 || pixels == nullptr) {
    throw EKFailure(
        "EKFrameWire", "encodeFrame",
        EKStatus(EKCause::kInvalidArgument, "cannot send a " + std::to_string(header.width) + "x" +
                                                std::to_string(header.height) + " picture"),
        __FILE__, __LINE__);
  }
  EKEncodedFrame frame;
  const std::size_t picture = pictureBytes(header);
  if (choice.encoding != EKFrameEncoding::kRaw) {
    frame = remote::compressPixels(choice, header.width, header.height, pixels);
  }
  if (frame.payload == nullptr || frame.payloadSize >= picture) {
    // Noise compresses badly: the raw picture is then the smaller message.
    frame.payload = pixels;
    frame.payloadSize = picture;
    frame.owner = std::move(pixelsOwner);
    header.encoding = EKFrameEncoding::kRaw;
  } else {
    header.encoding = choice.encoding;
  }
  header.payloadSize = frame.payloadSize;

  msgpack::sbuffer buffer(kMaxFrameHeaderBytes);
  msgpack::packer<msgpack::sbuffer> packer(buffer);
  packer.pack_array(kHeaderFields);
  packer.pack_uint32(header.version);
  packer.pack_uint64(header.sequence);
  packer.pack_int64(header.timeStamp);
  packer.pack_uint8(static_cast<std::uint8_t>(header.cameraId));
  packer.pack_float(header.leftAngle);
  packer.pack_float(header.topAngle);
  packer.pack_float(header.rightAngle);
  packer.pack_float(header.bottomAngle);
  packer.pack_uint32(static_cast<std::uint32_t>(header.width));
  packer.pack_uint32(static_cast<std::uint32_t>(header.height));
  packer.pack_uint32(static_cast<std::uint32_t>(header.colorSpace));
  packer.pack_uint8(static_cast<std::uint8_t>(header.encoding));
  packer.pack_uint64(header.payloadSize);
  frame.header.assign(reinterpret_cast<const std::uint8_t*>(buffer.data()),
                      reinterpret_cast<const std::uint8_t*>(buffer.data()) + buffer.size());
  return frame;
}

EKStatus decodeFrameHeader(const void* data, std::size_t size, std::size_t maxFrameBytes,
                           EKFrameHeader& header) {
  if (size == 0) {
    return badFrame("empty header");
  }
  if (size > kMaxFrameHeaderBytes) {
    return badFrame("header of " + std::to_string(size) + " bytes (at most " +
                    std::to_string(kMaxFrameHeaderBytes) + ")");
  }
  // The limits keep the zone MessagePack allocates to a small multiple of the header.
  const msgpack::unpack_limit limits(kMaxHeaderArray, 0, kMaxHeaderText, 0, 0, 2);
  msgpack::object_handle handle;
  std::size_t offset = 0;
  try {
    msgpack::unpack(handle, static_cast<const char*>(data), size, offset, nullptr, nullptr, limits);
  } catch (const msgpack::insufficient_bytes&) {
    return badFrame("header cut short");
  } catch (const std::exception& error) {
    return badFrame(std::string("header is not MessagePack of the frame's shape (") + error.what() +
                    ")");
  }
  if (offset != size) {
    return badFrame("bytes after the header");
  }
  const msgpack::object& object = handle.get();
  if (object.type != msgpack::type::ARRAY || object.via.array.size == 0) {
    return badFrame("header is not an array");
  }
  const std::optional<std::uint64_t> version = unsignedOf(object.via.array.ptr[kVersion]);
  if (!version || *version != kFrameWireVersion) {
    return EKStatus(EKCause::kUnsupported,
                    "refused frame: wire version " +
                        (version ? std::to_string(*version) : std::string("missing")) +
                        ", this program reads version " + std::to_string(kFrameWireVersion));
  }
  if (object.via.array.size != kHeaderFields) {
    return badFrame("header has " + std::to_string(object.via.array.size) + " fields, not " +
                    std::to_string(kHeaderFields));
  }
  header.version = static_cast<std::uint32_t>(*version);
  return readFields(object.via.array, maxFrameBytes, header);
}

EKStatus decodeFrame(const EKWirePart* parts, std::size_t count, std::size_t maxFrameBytes,
                     EKDecodedFrame& frame) {
  if (count != kFrameWireParts) {
    return badFrame("a message of " + std::to_string(count) + " parts, not " +
                    std::to_string(kFrameWireParts));
  }
  EKStatus status = decodeFrameHeader(parts[0].data, parts[0].size, maxFrameBytes, frame.header);
  if (!status.ok()) {
    return status;
  }
  if (parts[1].size != frame.header.payloadSize) {
    return badFrame("pixel part of " + std::to_string(parts[1].size) + " bytes, its header says " +
                    std::to_string(frame.header.payloadSize));
  }
  return remote::decodePixels(frame.header, static_cast<const std::uint8_t*>(parts[1].data),
                              frame.pixels);
}

}  // namespace EK
