/// @file
/// CURVE key files: who may receive a frame server's pictures (docs/wire.md).
///
/// A key file is text, one `NAME = KEY` line each, keys in Z85 (40 characters); a line
/// that begins with `#` is a comment:
/// - `public`, `secret`: the owner's key pair (a server's, or a client's);
/// - `server`: in a client's file, the public key of the server it connects to;
/// - `client`: in a server's file, any number of lines; when there is one, only clients
///   with one of these public keys are let in.
#ifndef EKVIDEODEVICE_EKCURVEKEYS_H
#define EKVIDEODEVICE_EKCURVEKEYS_H

#include <string>
#include <vector>

#include <ekvideodevice/ekremote_api.h>
#include <ekvision/ekstatus.h>

namespace EK {

/// @brief The keys of one key file.
struct EKCurveKeys {
  std::string publicKey;                ///< Z85
  std::string secretKey;                ///< Z85
  std::string serverKey;                ///< Z85; a client's file only
  std::vector<std::string> clientKeys;  ///< Z85; a server's file only, may be empty
};

/// @brief Whether this ZeroMQ library can do CURVE.
/// @return ok, or kUnsupported with the line to show
EKREMOTE_API EKStatus checkCurveAvailable();

/// What a key file is read for, and so which keys it must hold.
enum class EKKeyFileUse {
  kServer,      ///< public and secret
  kClient,      ///< public, secret and server
  kPublicOnly,  ///< public (a `.pub` file)
};

/// @brief Reads the key file at @p path for @p use.
/// @return ok, or a cause with one line naming the file and what is wrong
EKREMOTE_API EKStatus readCurveKeys(const std::string& path, EKKeyFileUse use, EKCurveKeys& keys);

/// @brief Makes a new key pair and writes it to @p path (mode 0600, with @p serverKey as its
/// `server` line when not empty) and its public key alone to `PATH.pub` (mode 0644).
/// Refuses to overwrite an existing @p path.
/// @return ok, or a cause with one line
EKREMOTE_API EKStatus writeCurveKeyPair(const std::string& path, const std::string& serverKey,
                                        EKCurveKeys& keys);

}  // namespace EK

#endif  // EKVIDEODEVICE_EKCURVEKEYS_H
