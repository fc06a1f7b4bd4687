// The compressed pixel parts of frame messages: zstd (lossless) and JPEG (4:2:2).
#ifndef EKVIDEODEVICE_REMOTE_PIXELCODEC_H
#define EKVIDEODEVICE_REMOTE_PIXELCODEC_H

#include <cstdint>
#include <vector>

#include <ekvideodevice/ekframewire.h>

namespace EK {
namespace remote {

/// @brief The packed YUV422 picture at @p pixels compressed as @p choice says; the payload
/// and its owner are set, the header left empty. A null payload when compression failed,
/// which the caller answers by sending the picture raw.
EKEncodedFrame compressPixels(const EKEncodingChoice& choice, int width, int height,
                              const std::uint8_t* pixels);

/// @brief Decodes the pixel part @p payload (header.payloadSize bytes, already checked
/// against the header) into @p pixels, pictureBytes(header) bytes of packed YUV422.
/// @return ok, or one line naming why the part does not hold the picture its header says
EKStatus decodePixels(const EKFrameHeader& header, const std::uint8_t* payload,
                      std::vector<std::uint8_t>& pixels);

}  // namespace remote
}  // namespace EK

#endif  // EKVIDEODEVICE_REMOTE_PIXELCODEC_H
