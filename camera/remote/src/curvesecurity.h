// CURVE on a context's sockets: the server's keys, the client list and the log of refusals.
#ifndef EKVIDEODEVICE_REMOTE_CURVESECURITY_H
#define EKVIDEODEVICE_REMOTE_CURVESECURITY_H

#include <zmq.hpp>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <ekvideodevice/ekcurvekeys.h>

namespace EK {
namespace remote {

/// Largest message on the sockets that carry only small ones (subscriptions, settings):
/// room for the commands of a CURVE handshake, which go through the same limit.
constexpr std::int64_t kSmallSocketMessageLimit = 4096;

/// @brief Reads @p keyFile for @p use after checking that ZeroMQ can do CURVE.
/// @throws EKFailure with the cause
EKCurveKeys loadKeys(const std::string& keyFile, EKKeyFileUse use);

/// Makes @p socket a CURVE server with @p keys.
void makeCurveServer(zmq::socket_t& socket, const EKCurveKeys& keys);
/// Makes @p socket a CURVE client of the server whose public key @p keys holds.
void makeCurveClient(zmq::socket_t& socket, const EKCurveKeys& keys);

/// A handshake a socket failed: the monitor's event and its value (a protocol error code, or
/// the authentication handler's status code).
struct HandshakeFailure {
  std::uint16_t event = 0;
  std::uint32_t value = 0;
};

/// @brief Watches one socket's failed handshakes through ZeroMQ's socket monitor. Its socket
/// goes into the owner's poll set; read() on the owner's thread.
class HandshakeMonitor {
 public:
  HandshakeMonitor(zmq::context_t& context, zmq::socket_t& watched);
  /// The monitor's socket, to poll.
  zmq::socket_t& socket() { return monitor_; }
  /// The next failure waiting, if any.
  bool read(HandshakeFailure& failure);

 private:
  zmq::socket_t monitor_;
};

/// @brief Why a client's handshake failed, in words for its user; @p usesCurve when the
/// client has a key file. Empty for an event that says nothing of the cause.
std::string clientRefusal(const HandshakeFailure& failure, bool usesCurve);

/// @brief The ZAP handler of a context (the `client` list) and the monitor of one socket's
/// failed handshakes; both are served by poll() on the caller's thread.
class Gatekeeper {
 public:
  using Log = std::function<void(const std::string& line)>;

  /// Lets in only @p allowed public keys (Z85) when not empty, and watches @p watched.
  Gatekeeper(zmq::context_t& context, zmq::socket_t& watched, const std::string& what,
             const std::vector<std::string>& allowed, Log log);

  /// The sockets poll() reads, to add to the caller's poll set.
  std::vector<zmq::socket_t*> sockets();
  /// Handles whatever is waiting on them.
  void poll();

 private:
  void answerZap();
  // Logs @p line, or counts it when it repeats the last one within kRepeatWindow: a refused
  // client retries several times a second.
  void report(const std::string& line);

  std::string what_;
  std::vector<std::string> allowed_;
  Log log_;
  zmq::socket_t zap_;
  HandshakeMonitor monitor_;
  bool zapBound_ = false;
  std::string lastLine_;
  std::chrono::steady_clock::time_point lastLogged_{};
  long long repeats_ = 0;
};

}  // namespace remote
}  // namespace EK

#endif  // EKVIDEODEVICE_REMOTE_CURVESECURITY_H
