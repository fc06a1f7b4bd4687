/// @file
/// Camera frames on the wire: the two-part message a frame server publishes and a remote
/// camera receives (docs/wire.md). Part 1 is a MessagePack array describing the frame,
/// part 2 its pixels, packed YUV422 as in an image array, raw or compressed.
#ifndef EKVIDEODEVICE_EKFRAMEWIRE_H
#define EKVIDEODEVICE_EKFRAMEWIRE_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <ekvideodevice/ekremote_api.h>
#include <ekvision/ekstatus.h>

namespace EK {

/// Version of the frame message this build writes and the only one it reads.
constexpr std::uint32_t kFrameWireVersion = 1;
/// Number of parts of a frame message.
constexpr std::size_t kFrameWireParts = 2;
/// Longest header part accepted: a version 1 header takes at most 59 bytes.
constexpr std::size_t kMaxFrameHeaderBytes = 128;
/// Largest picture (width * height * 2 bytes) a receiver accepts unless told otherwise:
/// 4096 x 4096 pixels.
constexpr std::size_t kDefaultMaxFrameBytes = std::size_t{4096} * 4096 * 2;
/// Kernel socket buffer of a frame socket, each way. Left to itself, the kernel grows a
/// TCP buffer to several megabytes, which on a slow link holds half a second of frames; this
/// keeps at most a frame or so in flight beyond ZeroMQ's own queues, so that frames on a
/// link slower than the camera are dropped at the server instead of growing old on the way.
constexpr int kFrameSocketBufferBytes = 256 * 1024;
/// JPEG quality when `jpeg` is given without one.
constexpr int kDefaultJpegQuality = 80;

/// How the pixel part is written.
enum class EKFrameEncoding : std::uint8_t {
  kRaw = 0,   ///< the packed YUV422 bytes as they are
  kZstd = 1,  ///< one zstd frame of those bytes (lossless)
  kJpeg = 2,  ///< a JPEG with 4:2:2 chroma subsampling (lossy)
};

/// The name of an encoding: "raw", "zstd" or "jpeg".
EKREMOTE_API const char* toString(EKFrameEncoding encoding);

/// @brief The encoding a server writes, with the JPEG quality.
struct EKEncodingChoice {
  EKFrameEncoding encoding = EKFrameEncoding::kRaw;  ///< how the pixel part is written
  int quality = kDefaultJpegQuality;                 ///< 1 to 100, for kJpeg only
};

/// @brief Reads `raw`, `zstd`, `jpeg` or `jpeg:QUALITY` (1 to 100).
/// @return the choice, or nothing with the reason in @p error
EKREMOTE_API std::optional<EKEncodingChoice> parseEncoding(const std::string& text,
                                                           std::string& error);

/// The text parseEncoding() reads back, e.g. "jpeg:80".
EKREMOTE_API std::string toString(const EKEncodingChoice& choice);

/// @brief The header part of a frame message: the capture fields of the picture and how
/// its pixel part is written.
struct EKFrameHeader {
  std::uint32_t version = kFrameWireVersion;  ///< wire version
  std::uint64_t sequence = 0;   ///< number of the frame among those the server sent, from 0
  std::int64_t timeStamp = -1;  ///< capture time on the camera's clock, microseconds
  int cameraId = 0;             ///< camera index, 0 to 255
  float leftAngle = 0;          ///< field-of-view angles, radians, positive to the left and top
  float topAngle = 0;           ///< see leftAngle
  float rightAngle = 0;         ///< see leftAngle
  float bottomAngle = 0;        ///< see leftAngle
  int width = 0;                ///< pixels; even
  int height = 0;               ///< pixels
  int colorSpace = 0;           ///< the library's color-space code; YUV422 (9) in version 1
  EKFrameEncoding encoding = EKFrameEncoding::kRaw;  ///< how the pixel part is written
  std::uint64_t payloadSize = 0;                     ///< bytes of the pixel part
};

/// Bytes of the packed YUV422 picture that @p header describes.
EKREMOTE_API std::size_t pictureBytes(const EKFrameHeader& header);

/// @brief A frame ready to send: the header part, and the pixel part over a buffer that
/// @p owner keeps alive until the transport has sent it, so that it is never copied.
struct EKEncodedFrame {
  std::vector<std::uint8_t> header;       ///< MessagePack bytes of the header part
  const std::uint8_t* payload = nullptr;  ///< the pixel part
  std::size_t payloadSize = 0;            ///< its bytes
  std::shared_ptr<const void> owner;      ///< holds the bytes payload points to
};

/// @brief A packed YUV422 picture (@p width even) as a 4:2:2 JPEG of @p quality (1 to 100),
/// for a web page or a file. Only the payload and its owner are set.
/// @throws EKFailure (kInvalidArgument) for a size that is no picture, (kUnavailable) when
///   the compressor fails
EKREMOTE_API EKEncodedFrame compressJpeg(int width, int height, const std::uint8_t* pixels,
                                         int quality);

/// @brief Encodes a packed YUV422 picture as a frame message. A compressed picture that
/// would not be smaller than the raw one is sent raw, so a payload never exceeds the picture.
/// @param header the picture's capture fields, size and sequence; its version, color space,
///   encoding and payload size are set here
/// @param pixels the picture, width x height x 2 bytes
/// @param pixelsOwner keeps @p pixels alive; a raw frame is sent from them without a copy
/// @param choice the encoding asked for
/// @throws EKFailure (kInvalidArgument) for a header that describes no valid picture,
///   (kUnavailable) when the compressor fails
EKREMOTE_API EKEncodedFrame encodeFrame(EKFrameHeader header, const std::uint8_t* pixels,
                                        std::shared_ptr<const void> pixelsOwner,
                                        const EKEncodingChoice& choice);

/// One received part of a message.
struct EKWirePart {
  const void* data;  ///< the part's bytes
  std::size_t size;  ///< how many
};

/// A received frame: its header and its packed YUV422 pixels.
struct EKDecodedFrame {
  EKFrameHeader header;              ///< the header part, checked
  std::vector<std::uint8_t> pixels;  ///< pictureBytes(header) bytes
};

/// @brief Reads a header part, and checks it against @p maxFrameBytes. Nothing is
/// allocated beyond a bounded MessagePack zone before every field was checked.
/// @return ok, or kBadFormat / kUnsupported with one line naming the cause
EKREMOTE_API EKStatus decodeFrameHeader(const void* data, std::size_t size,
                                        std::size_t maxFrameBytes, EKFrameHeader& header);

/// @brief Reads a whole frame message of @p count parts into @p frame: the header, then the
/// pixels decoded. The pixel buffer is allocated only once the header was found sound.
/// @return ok, or kBadFormat / kUnsupported with one line naming the cause
EKREMOTE_API EKStatus decodeFrame(const EKWirePart* parts, std::size_t count,
                                  std::size_t maxFrameBytes, EKDecodedFrame& frame);

}  // namespace EK

#endif  // EKVIDEODEVICE_EKFRAMEWIRE_H
