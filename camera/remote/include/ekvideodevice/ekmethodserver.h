/// @file
/// The remote methods of a broker's modules, answered over the network (docs/wire.md):
/// what `ekvision run --control ENDPOINT` serves and `ekvision call` and Python's
/// `ekvision.call` ask.
#ifndef EKVIDEODEVICE_EKMETHODSERVER_H
#define EKVIDEODEVICE_EKMETHODSERVER_H

#include <cstddef>
#include <functional>
#include <memory>
#include <string>

#include <boost/shared_ptr.hpp>

#include <ekcommon/ekbroker.h>
#include <ekvideodevice/ekremote_api.h>

namespace EK {

/// @brief Where and how a method server listens.
struct EKMethodServerSettings {
  std::string endpoint;  ///< `tcp://HOST:PORT` (`:*` for any free port) or `ipc://PATH`
  std::string keyFile;   ///< the server's CURVE key file; empty: no CURVE
};

/// @brief Answers list and call requests for the modules of a broker, on a thread of its
/// own, until it is destroyed.
///
/// A call is checked against the method's description (number and types of the arguments,
/// see checkCallArguments()) and executed through a proxy, on the server's thread, one at
/// a time. A module's own exception becomes the reply's error. Nothing a client sends stops
/// the server: a malformed or oversized message (over kMaxMethodRequestBytes, refused by
/// ZeroMQ before it is read), a call of an unknown module or method, a client that fails
/// the CURVE handshake each get their answer or are dropped, and are reported to the log.
class EKREMOTE_API EKMethodServer {
 public:
  /// Takes one line about a refused client or message.
  using Log = std::function<void(const std::string& line)>;

  /// @brief Binds and starts answering.
  /// @throws EKFailure: kInvalidArgument for an endpoint it cannot take, kUnavailable when
  ///   the bind fails (the address in use...), the key file's cause, kUnsupported without CURVE
  EKMethodServer(boost::shared_ptr<EKBroker> broker, const EKMethodServerSettings& settings,
                 Log log);
  /// Stops answering; a call being executed is finished first.
  ~EKMethodServer();
  EKMethodServer(const EKMethodServer&) = delete;
  EKMethodServer& operator=(const EKMethodServer&) = delete;

  /// The endpoint as bound, its port resolved, e.g. "tcp://127.0.0.1:7420".
  const std::string& endpoint() const;
  /// Requests answered so far, refusals included.
  std::size_t answered() const;

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace EK

#endif  // EKVIDEODEVICE_EKMETHODSERVER_H
