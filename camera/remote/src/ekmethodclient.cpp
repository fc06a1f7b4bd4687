#include <ekvideodevice/ekmethodclient.h>

#include <zmq.hpp>

#include <cerrno>
#include <optional>

#include <ekerror/ekerror.h>
#include <ekvideodevice/ekcurvekeys.h>
#include <ekvideodevice/ekremotespec.h>
#include <ekvision/ekstatus.h>

#include "curvesecurity.h"

namespace EK {
namespace {

// How often a waiting call looks at the handshake's outcome.
constexpr std::chrono::milliseconds kAnswerPollInterval(50);

[[noreturn]] void failCall(const char* method, const EKStatus& status) {
  throw EKFailure("EKMethodClient", method, status, __FILE__, __LINE__);
}

}  // namespace

class EKMethodClient::Impl {
 public:
  Impl(const std::string& spec, std::chrono::milliseconds timeout) : timeout_(timeout) {
    const EKStatus parsed = parseRemoteSpec(spec, target_);
    if (!parsed.ok()) {
      failCall("connect", parsed);
    }
    if (!target_.keyFile.empty()) {
      keys_ = remote::loadKeys(target_.keyFile, EKKeyFileUse::kClient);
    }
    connect();
  }

  EKMethodReply ask(const EKMethodRequest& request, const char* method) {
    const std::vector<std::uint8_t> bytes = encodeMethodRequest(request);
    if (!socket_->send(zmq::buffer(bytes), zmq::send_flags::dontwait)) {
      failCall(method, EKStatus(EKCause::kUnavailable,
                                "cannot send to " + target_.endpoint + ": no connection"));
    }
    std::vector<zmq::pollitem_t> items{{socket_->handle(), 0, ZMQ_POLLIN, 0},
                                       {monitor_->socket().handle(), 0, ZMQ_POLLIN, 0}};
    const auto deadline = std::chrono::steady_clock::now() + timeout_;
    while (std::chrono::steady_clock::now() < deadline) {
      try {
        zmq::poll(items, kAnswerPollInterval);
      } catch (const zmq::error_t& error) {
        if (error.num() != EINTR) {
          throw;
        }
      }
      remote::HandshakeFailure failure;
      while (monitor_->read(failure)) {
        const std::string refusal = remote::clientRefusal(failure, keys_.has_value());
        if (!refusal.empty()) {
          reconnect();
          failCall(method, EKStatus(EKCause::kUnavailable, target_.endpoint + ": " + refusal));
        }
      }
      zmq::message_t reply;
      if (socket_->recv(reply, zmq::recv_flags::dontwait)) {
        EKMethodReply answer;
        const EKStatus status =
            reply.more() ? EKStatus(EKCause::kBadFormat, "refused method reply: several parts")
                         : decodeMethodReply(reply.data(), reply.size(), answer);
        if (!status.ok()) {
          reconnect();
          failCall(method, status);
        }
        return answer;
      }
    }
    // The answer may still come; a socket made anew never takes it for the next call's.
    reconnect();
    // A server that cannot read a client's greeting (a wrong server key) says nothing.
    failCall(method, EKStatus(EKCause::kUnavailable,
                              "no answer from " + target_.endpoint + " within " +
                                  std::to_string(timeout_.count()) + " ms: " +
                                  (keys_ ? "no host answers there, or it refused this client's key"
                                         : "is a host answering there (ekvision run --control)?")));
  }

 private:
  void connect() {
    socket_ = std::make_unique<zmq::socket_t>(context_, zmq::socket_type::dealer);
    socket_->set(zmq::sockopt::linger, 0);
    socket_->set(zmq::sockopt::maxmsgsize, static_cast<std::int64_t>(kMaxMethodReplyBytes));
    if (keys_) {
      remote::makeCurveClient(*socket_, *keys_);
    }
    monitor_ = std::make_unique<remote::HandshakeMonitor>(context_, *socket_);
    try {
      socket_->connect(target_.endpoint);
    } catch (const zmq::error_t& error) {
      failCall("connect", EKStatus(EKCause::kInvalidArgument,
                                   "cannot connect to " + target_.endpoint + ": " + error.what()));
    }
  }

  void reconnect() {
    monitor_.reset();
    socket_.reset();
    connect();
  }

  std::chrono::milliseconds timeout_;
  EKRemoteTarget target_;
  std::optional<EKCurveKeys> keys_;
  zmq::context_t context_;
  std::unique_ptr<remote::HandshakeMonitor> monitor_;  // declared before the socket it watches
  std::unique_ptr<zmq::socket_t> socket_;
};

EKMethodClient::EKMethodClient(const std::string& spec, std::chrono::milliseconds timeout)
    : impl_(std::make_unique<Impl>(spec, timeout)) {}

EKMethodClient::~EKMethodClient() = default;

std::vector<EKModuleDescription> EKMethodClient::list() {
  EKMethodReply reply = impl_->ask(EKMethodRequest(), "list");
  if (!reply.status.ok()) {
    failCall("list", reply.status);
  }
  if (!reply.isList) {
    failCall("list", EKStatus(EKCause::kBadFormat, "refused method reply: a result, not a list"));
  }
  return std::move(reply.modules);
}

EKValue EKMethodClient::call(const std::string& module, const std::string& method,
                             const EKValue& arguments) {
  EKMethodRequest request;
  request.kind = EKMethodRequestKind::kCall;
  request.module = module;
  request.method = method;
  request.arguments = arguments;
  if (!request.arguments.isArray()) {
    request.arguments.arraySetSize(0);
  }
  EKMethodReply reply = impl_->ask(request, "call");
  if (!reply.status.ok()) {
    failCall("call", reply.status);
  }
  if (reply.isList) {
    failCall("call", EKStatus(EKCause::kBadFormat, "refused method reply: a list, not a result"));
  }
  return std::move(reply.result);
}

}  // namespace EK
