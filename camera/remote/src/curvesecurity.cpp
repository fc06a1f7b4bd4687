#include "curvesecurity.h"

#include <ekerror/ekerror.h>

#include <atomic>
#include <cstdint>
#include <cstring>

namespace EK {
namespace remote {
namespace {

// A refusal that repeats within this time is counted, not logged again.
constexpr std::chrono::seconds kRepeatWindow(10);

// Where ZeroMQ looks for a context's authentication handler.
const char kZapEndpoint[] = "inproc://zeromq.zap.01";

std::string z85(const zmq::message_t& binaryKey) {
  if (binaryKey.size() != 32) {
    return "?";
  }
  char text[41];
  zmq_z85_encode(text, static_cast<const std::uint8_t*>(binaryKey.data()), 32);
  return text;
}

}  // namespace

EKCurveKeys loadKeys(const std::string& keyFile, EKKeyFileUse use) {
  EKStatus status = checkCurveAvailable();
  EKCurveKeys keys;
  if (status.ok()) {
    status = readCurveKeys(keyFile, use, keys);
  }
  if (!status.ok()) {
    throw EKFailure("EKRemote", "curve", status, __FILE__, __LINE__);
  }
  return keys;
}

void makeCurveServer(zmq::socket_t& socket, const EKCurveKeys& keys) {
  socket.set(zmq::sockopt::curve_server, 1);
  socket.set(zmq::sockopt::curve_secretkey, keys.secretKey);
}

void makeCurveClient(zmq::socket_t& socket, const EKCurveKeys& keys) {
  socket.set(zmq::sockopt::curve_serverkey, keys.serverKey);
  socket.set(zmq::sockopt::curve_publickey, keys.publicKey);
  socket.set(zmq::sockopt::curve_secretkey, keys.secretKey);
}

HandshakeMonitor::HandshakeMonitor(zmq::context_t& context, zmq::socket_t& watched)
    : monitor_(context, zmq::socket_type::pair) {
  // Each monitor listens at an address of its own, never reused: a closed socket's monitor
  // may still hold its address for a moment.
  static std::atomic<unsigned long> made{0};
  const std::string endpoint = "inproc://ekvision-monitor-" + std::to_string(++made);
  if (zmq_socket_monitor(watched.handle(), endpoint.c_str(),
                         ZMQ_EVENT_HANDSHAKE_FAILED_NO_DETAIL |
                             ZMQ_EVENT_HANDSHAKE_FAILED_PROTOCOL |
                             ZMQ_EVENT_HANDSHAKE_FAILED_AUTH) != 0) {
    throw zmq::error_t();
  }
  monitor_.connect(endpoint);
}

bool HandshakeMonitor::read(HandshakeFailure& failure) {
  zmq::message_t event;
  if ((monitor_.get(zmq::sockopt::events) & ZMQ_POLLIN) == 0 ||
      !monitor_.recv(event, zmq::recv_flags::dontwait)) {
    return false;
  }
  zmq::message_t address;
  if (event.more()) {
    (void)monitor_.recv(address, zmq::recv_flags::none);
  }
  failure = HandshakeFailure();
  if (event.size() >= sizeof failure.event + sizeof failure.value) {
    std::memcpy(&failure.event, event.data(), sizeof failure.event);
    std::memcpy(&failure.value, static_cast<const char*>(event.data()) + sizeof failure.event,
                sizeof failure.value);
  }
  return true;
}

std::string clientRefusal(const HandshakeFailure& failure, bool usesCurve) {
  if (failure.event == ZMQ_EVENT_HANDSHAKE_FAILED_AUTH) {
    return "the server refused this client's key (it is not in the server's client list)";
  }
  if (failure.event == ZMQ_EVENT_HANDSHAKE_FAILED_PROTOCOL &&
      failure.value == ZMQ_PROTOCOL_ERROR_ZMTP_MECHANISM_MISMATCH) {
    return usesCurve
               ? "the server does not use CURVE: drop ?curve= from the camera address"
               : "the server takes CURVE clients only: add ?curve=KEYFILE to the camera address";
  }
  if (failure.event == ZMQ_EVENT_HANDSHAKE_FAILED_PROTOCOL && usesCurve) {
    return "the CURVE handshake failed: is the key file's server key this server's?";
  }
  return std::string();
}

Gatekeeper::Gatekeeper(zmq::context_t& context, zmq::socket_t& watched, const std::string& what,
                       const std::vector<std::string>& allowed, Log log)
    : what_(what),
      allowed_(allowed),
      log_(std::move(log)),
      zap_(context, zmq::socket_type::rep),
      monitor_(context, watched) {
  if (!allowed_.empty()) {
    zap_.bind(kZapEndpoint);
    zapBound_ = true;
  }
}

std::vector<zmq::socket_t*> Gatekeeper::sockets() {
  std::vector<zmq::socket_t*> sockets{&monitor_.socket()};
  if (zapBound_) {
    sockets.push_back(&zap_);
  }
  return sockets;
}

void Gatekeeper::poll() {
  while (zapBound_ && (zap_.get(zmq::sockopt::events) & ZMQ_POLLIN) != 0) {
    answerZap();
  }
  HandshakeFailure failure;
  while (monitor_.read(failure)) {
    // The ZAP handler has said why it refused a client already.
    if (failure.event != ZMQ_EVENT_HANDSHAKE_FAILED_AUTH) {
      report("refused a client of " + what_ +
             ": the handshake failed (a client without CURVE, or without this server's public "
             "key)");
    }
  }
}

void Gatekeeper::answerZap() {
  // The request: version, id, domain, address, identity, mechanism, then the client key.
  std::vector<zmq::message_t> request;
  do {
    request.emplace_back();
    if (!zap_.recv(request.back(), zmq::recv_flags::dontwait)) {
      return;
    }
  } while (request.back().more() && request.size() < 8);
  const bool wellFormed = request.size() == 7 && request[5].to_string() == "CURVE";
  const std::string key = wellFormed ? z85(request[6]) : "?";
  bool allowed = false;
  for (const std::string& known : allowed_) {
    allowed = allowed || known == key;
  }
  if (!allowed) {
    report("refused a client of " + what_ + " from " +
           (request.size() > 3 ? request[3].to_string() : std::string("?")) + ": its key " + key +
           " is not in the key file's client list");
  }
  const std::string id = request.size() > 1 ? request[1].to_string() : std::string();
  const char* const status = allowed ? "200" : "400";
  zap_.send(zmq::buffer(std::string("1.0")), zmq::send_flags::sndmore);
  zap_.send(zmq::buffer(id), zmq::send_flags::sndmore);
  zap_.send(zmq::buffer(std::string(status)), zmq::send_flags::sndmore);
  zap_.send(zmq::buffer(std::string(allowed ? "OK" : "not in the client list")),
            zmq::send_flags::sndmore);
  zap_.send(zmq::buffer(std::string()), zmq::send_flags::sndmore);
  zap_.send(zmq::buffer(std::string()), zmq::send_flags::none);
}

}  // namespace remote
}  // namespace EK

namespace EK {
namespace remote {

void Gatekeeper::report(const std::string& line) {
  const auto now = std::chrono::steady_clock::now();
  if (line == lastLine_ && now - lastLogged_ < kRepeatWindow) {
    ++repeats_;
    return;
  }
  log_(repeats_ == 0 || line != lastLine_ ? line
                                          : line + " (again; " + std::to_string(repeats_) +
                                                " refusals before this one not shown)");
  lastLine_ = line;
  lastLogged_ = now;
  repeats_ = 0;
}

}  // namespace remote
}  // namespace EK
