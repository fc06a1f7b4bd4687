#include "curvesecurity.h"

#include <ekerror/ekerror.h>

#include <cstdint>

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

Gatekeeper::Gatekeeper(zmq::context_t& context, zmq::socket_t& watched, const std::string& what,
                       const std::vector<std::string>& allowed, Log log)
    : what_(what),
      allowed_(allowed),
      log_(std::move(log)),
      zap_(context, zmq::socket_type::rep),
      monitor_(context, zmq::socket_type::pair) {
  if (!allowed_.empty()) {
    zap_.bind(kZapEndpoint);
    zapBound_ = true;
  }
  // Each gatekeeper watches its own socket under an address of its own.
  const std::string monitorEndpoint =
      "inproc://ekvision-monitor-" + std::to_string(reinterpret_cast<std::uintptr_t>(this));
  if (zmq_socket_monitor(
          watched.handle(), monitorEndpoint.c_str(),
          ZMQ_EVENT_HANDSHAKE_FAILED_NO_DETAIL | ZMQ_EVENT_HANDSHAKE_FAILED_PROTOCOL) != 0) {
    throw zmq::error_t();
  }
  monitor_.connect(monitorEndpoint);
}

std::vector<zmq::socket_t*> Gatekeeper::sockets() {
  std::vector<zmq::socket_t*> sockets{&monitor_};
  if (zapBound_) {
    sockets.push_back(&zap_);
  }
  return sockets;
}

void Gatekeeper::poll() {
  while (zapBound_ && (zap_.get(zmq::sockopt::events) & ZMQ_POLLIN) != 0) {
    answerZap();
  }
  while ((monitor_.get(zmq::sockopt::events) & ZMQ_POLLIN) != 0) {
    readMonitor();
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

void Gatekeeper::readMonitor() {
  zmq::message_t event;
  zmq::message_t address;
  if (!monitor_.recv(event, zmq::recv_flags::dontwait)) {
    return;
  }
  if (event.more()) {
    (void)monitor_.recv(address, zmq::recv_flags::none);
  }
  report("refused a client of " + what_ +
         ": the handshake failed (a client without CURVE, or without this server's public key)");
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
