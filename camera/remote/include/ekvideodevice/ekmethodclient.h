/// @file
/// Calls of the remote methods of modules that a method server answers (EKMethodServer).
#ifndef EKVIDEODEVICE_EKMETHODCLIENT_H
#define EKVIDEODEVICE_EKMETHODCLIENT_H

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include <ekvalue/ekvalue.h>
#include <ekvideodevice/ekmethodwire.h>
#include <ekvideodevice/ekremote_api.h>

namespace EK {

/// How long a client waits for an answer unless told otherwise.
constexpr std::chrono::milliseconds kDefaultMethodTimeout{5000};

/// @brief A connection to a method server. One call at a time; not thread-safe.
class EKREMOTE_API EKMethodClient {
 public:
  /// @brief Connects to @p spec: `tcp://HOST:PORT` or `ipc://PATH`, with `?curve=KEYFILE`
  /// for a server that takes CURVE clients only (the client's key file, see
  /// writeCurveKeyPair()). ZeroMQ connects in the background: a server that is not there
  /// yet is found by the first call that waits long enough.
  /// @throws EKFailure: kInvalidArgument for a spec it cannot take, the key file's cause
  explicit EKMethodClient(const std::string& spec,
                          std::chrono::milliseconds timeout = kDefaultMethodTimeout);
  ~EKMethodClient();
  EKMethodClient(const EKMethodClient&) = delete;
  EKMethodClient& operator=(const EKMethodClient&) = delete;

  /// @brief The modules the server answers for, with their remote methods.
  /// @throws EKFailure as call()
  std::vector<EKModuleDescription> list();

  /// @brief Calls @p method of @p module with @p arguments (an array) and returns its result.
  /// @throws EKFailure: the server's cause and words for a call it refused or that failed
  ///   (kNotFound for an unknown module or method, kInvalidArgument for wrong arguments);
  ///   kUnavailable when no answer came within the time-out, or the handshake was refused;
  ///   kBadFormat for an answer that cannot be read
  EKValue call(const std::string& module, const std::string& method, const EKValue& arguments);

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace EK

#endif  // EKVIDEODEVICE_EKMETHODCLIENT_H
