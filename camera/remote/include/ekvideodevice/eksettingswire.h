/// @file
/// Camera settings on the wire: the MessagePack maps a remote camera sends to a frame
/// server's settings socket, and the server's answers (docs/wire.md).
#ifndef EKVIDEODEVICE_EKSETTINGSWIRE_H
#define EKVIDEODEVICE_EKSETTINGSWIRE_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <ekvideodevice/ekremote_api.h>
#include <ekvision/ekstatus.h>

namespace EK {

/// Longest settings request or answer accepted, in bytes.
constexpr std::size_t kMaxSettingsMessageBytes = 1024;

/// @brief What a client asks of the camera; a setting left empty stays as it is.
struct EKSettingsRequest {
  std::optional<int> width;      ///< `width`, pixels (with height: a resolution)
  std::optional<int> height;     ///< `height`, pixels
  std::optional<int> frameRate;  ///< `fps`, frames a second
  std::optional<int> cameraId;   ///< `camera`, the active camera
};

/// @brief The server's answer: whether it took the request, and the settings in force.
struct EKSettingsReply {
  bool ok = false;      ///< `ok`
  std::string message;  ///< `message`: why a request was refused; empty when taken
  int width = 0;        ///< `width`
  int height = 0;       ///< `height`
  int frameRate = 0;    ///< `fps`
  int cameraId = 0;     ///< `camera`
};

/// The MessagePack bytes of @p request.
EKREMOTE_API std::vector<std::uint8_t> encodeSettingsRequest(const EKSettingsRequest& request);
/// @brief Reads a request; unknown keys are refused, so a typo is never ignored.
/// @return ok, or kBadFormat with one line
EKREMOTE_API EKStatus decodeSettingsRequest(const void* data, std::size_t size,
                                            EKSettingsRequest& request);
/// The MessagePack bytes of @p reply.
EKREMOTE_API std::vector<std::uint8_t> encodeSettingsReply(const EKSettingsReply& reply);
/// @brief Reads an answer.
/// @return ok, or kBadFormat with one line
EKREMOTE_API EKStatus decodeSettingsReply(const void* data, std::size_t size,
                                          EKSettingsReply& reply);

}  // namespace EK

#endif  // EKVIDEODEVICE_EKSETTINGSWIRE_H
