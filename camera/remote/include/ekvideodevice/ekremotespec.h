/// @file
/// The camera SPECs of remote cameras, `tcp://HOST:PORT` and `ipc://PATH`, and the
/// endpoints a frame server binds.
#ifndef EKVIDEODEVICE_EKREMOTESPEC_H
#define EKVIDEODEVICE_EKREMOTESPEC_H

#include <optional>
#include <string>

#include <ekvideodevice/ekremote_api.h>
#include <ekvision/ekstatus.h>

namespace EK {

/// Port a frame server binds when told no endpoint; its settings socket takes the next one.
constexpr int kDefaultFramePort = 7410;

/// The frame endpoint a server binds when told none: `tcp://127.0.0.1:7410`.
EKREMOTE_API std::string defaultFrameEndpoint();

/// @brief A remote camera SPEC taken apart.
struct EKRemoteTarget {
  std::string endpoint;  ///< the frame endpoint, `tcp://HOST:PORT` or `ipc://PATH`
  std::string keyFile;   ///< the client's CURVE key file (`?curve=FILE`); empty for none
};

/// @brief True when @p spec names a remote camera: it begins with `tcp://` or `ipc://`.
/// Every other `scheme://` is a network stream for the capture source.
EKREMOTE_API bool isRemoteSpec(const std::string& spec);

/// @brief Takes apart `tcp://HOST:PORT[?curve=KEYFILE]` or `ipc://PATH[?curve=KEYFILE]`.
/// @return the target, or kInvalidArgument with one line naming what is wrong
EKREMOTE_API EKStatus parseRemoteSpec(const std::string& spec, EKRemoteTarget& target);

/// @brief The settings endpoint that goes with the frame endpoint @p frameEndpoint: the
/// next port for `tcp://HOST:PORT`, `PATH.settings` for `ipc://PATH`.
/// @return the endpoint, or kInvalidArgument for an endpoint of another kind, a port that
///   is not a number from 1 to 65534 (or `*`, which has no next port)
EKREMOTE_API EKStatus settingsEndpointOf(const std::string& frameEndpoint, std::string& settings);

}  // namespace EK

#endif  // EKVIDEODEVICE_EKREMOTESPEC_H
