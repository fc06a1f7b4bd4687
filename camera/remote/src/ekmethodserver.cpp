#include <ekvideodevice/ekmethodserver.h>

#include <zmq.hpp>

#include <atomic>
#include <cerrno>
#include <optional>
#include <thread>
#include <vector>

#include <ekcommon/ekmodulecore.h>
#include <ekcommon/ekproxy.h>
#include <ekerror/ekerror.h>
#include <ekvideodevice/ekcurvekeys.h>
#include <ekvideodevice/ekmethodcall.h>
#include <ekvideodevice/ekmethodwire.h>
#include <ekvision/ekstatus.h>

#include "curvesecurity.h"

namespace EK {
namespace {

// How often the server's thread looks whether it is to stop.
constexpr std::chrono::milliseconds kServePollInterval(100);

[[noreturn]] void failToListen(EKCause cause, const std::string& message) {
  throw EKFailure("EKMethodServer", "bind", EKStatus(cause, message), __FILE__, __LINE__);
}

std::string joined(const std::vector<std::string>& names) {
  std::string text;
  for (const std::string& name : names) {
    text += (text.empty() ? "" : ", ") + name;
  }
  return text.empty() ? "none" : text;
}

}  // namespace

class EKMethodServer::Impl {
 public:
  Impl(boost::shared_ptr<EKBroker> broker, const EKMethodServerSettings& settings, Log log)
      : broker_(std::move(broker)),
        log_(std::move(log)),
        socket_(context_, zmq::socket_type::router) {
    std::optional<EKCurveKeys> keys;
    if (!settings.keyFile.empty()) {
      keys = remote::loadKeys(settings.keyFile, EKKeyFileUse::kServer);
      remote::makeCurveServer(socket_, *keys);
    }
    socket_.set(zmq::sockopt::linger, 0);
    // ZeroMQ drops a longer message before it is read, and the client with it.
    socket_.set(zmq::sockopt::maxmsgsize, static_cast<std::int64_t>(kMaxMethodRequestBytes));
    // A reply to a client that went away is dropped, not queued.
    socket_.set(zmq::sockopt::router_mandatory, false);
    if (keys) {
      gatekeeper_.emplace(context_, socket_, settings.endpoint, keys->clientKeys, log_);
    }
    try {
      socket_.bind(settings.endpoint);
    } catch (const zmq::error_t& error) {
      failToListen(error.num() == EINVAL || error.num() == EPROTONOSUPPORT
                       ? EKCause::kInvalidArgument
                       : EKCause::kUnavailable,
                   "cannot listen on " + settings.endpoint + ": " + error.what());
    }
    endpoint_ = socket_.get(zmq::sockopt::last_endpoint);
    thread_ = std::thread([this] { serve(); });
  }

  ~Impl() {
    stopping_ = true;
    thread_.join();
  }

  const std::string& endpoint() const { return endpoint_; }
  std::size_t answered() const { return answered_.load(); }

 private:
  void serve() {
    std::vector<zmq::pollitem_t> items{{socket_.handle(), 0, ZMQ_POLLIN, 0}};
    if (gatekeeper_) {
      for (zmq::socket_t* socket : gatekeeper_->sockets()) {
        items.push_back({socket->handle(), 0, ZMQ_POLLIN, 0});
      }
    }
    while (!stopping_) {
      try {
        zmq::poll(items, kServePollInterval);
      } catch (const zmq::error_t& error) {
        if (error.num() == EINTR) {
          continue;
        }
        log_(std::string("the method server stops: ") + error.what());
        return;
      }
      if (gatekeeper_) {
        gatekeeper_->poll();
      }
      while ((socket_.get(zmq::sockopt::events) & ZMQ_POLLIN) != 0) {
        answerOne();
      }
    }
  }

  // Reads one message, [identity, request], and sends the reply to the identity.
  void answerOne() {
    std::vector<zmq::message_t> parts;
    do {
      parts.emplace_back();
      if (!socket_.recv(parts.back(), zmq::recv_flags::dontwait)) {
        return;
      }
    } while (parts.back().more());
    EKMethodReply reply;
    EKMethodRequest request;
    if (parts.size() != 2) {
      reply.status =
          EKStatus(EKCause::kBadFormat,
                   "refused method request: " + std::to_string(parts.size() - 1) + " parts, not 1");
    } else {
      reply.status = decodeMethodRequest(parts[1].data(), parts[1].size(), request);
    }
    if (reply.status.ok()) {
      answer(request, reply);
    } else {
      log_(reply.status.message());
    }
    const std::vector<std::uint8_t> bytes = encodeMethodReply(reply);
    (void)socket_.send(parts[0], zmq::send_flags::sndmore | zmq::send_flags::dontwait);
    (void)socket_.send(zmq::buffer(bytes), zmq::send_flags::dontwait);
    ++answered_;
  }

  void answer(EKMethodRequest& request, EKMethodReply& reply) {
    if (request.kind == EKMethodRequestKind::kList) {
      reply.isList = true;
      for (const std::string& name : broker_->getModuleNames()) {
        const boost::shared_ptr<EKModuleCore> module = broker_->getModule(name);
        if (module) {
          EKModuleDescription description{name, module->getMethodInfos()};
          for (EKMethodInfo& method : description.methods) {
            method.functor.reset();
          }
          reply.modules.push_back(std::move(description));
        }
      }
      return;
    }
    const boost::shared_ptr<EKModuleCore> module = broker_->getModule(request.module);
    if (!module) {
      reply.status = EKStatus(EKCause::kNotFound,
                              "no module named '" + request.module +
                                  "' here (modules: " + joined(broker_->getModuleNames()) + ")");
      return;
    }
    const boost::shared_ptr<const EKMethodInfo> method = module->getMethod(request.method);
    if (!method) {
      reply.status =
          EKStatus(EKCause::kNotFound, "the module " + request.module + " has no remote method '" +
                                           request.method + "'");
      return;
    }
    reply.status = checkCallArguments(*method, request.arguments);
    if (!reply.status.ok()) {
      return;
    }
    try {
      broker_->getProxy(request.module, 0)
          ->execute(request.method, request.arguments, reply.result);
    } catch (const EKFailure& failure) {
      reply.status = failure.status();
    } catch (const EKError& error) {
      reply.status = EKStatus(EKCause::kUnavailable, error.getDescription());
    } catch (const std::exception& error) {
      reply.status = EKStatus(EKCause::kSystem, request.method + " failed: " + error.what());
    }
  }

  boost::shared_ptr<EKBroker> broker_;
  Log log_;
  zmq::context_t context_;
  zmq::socket_t socket_;
  std::optional<remote::Gatekeeper> gatekeeper_;
  std::string endpoint_;
  std::atomic<bool> stopping_{false};
  std::atomic<std::size_t> answered_{0};
  std::thread thread_;
};

EKMethodServer::EKMethodServer(boost::shared_ptr<EKBroker> broker,
                               const EKMethodServerSettings& settings, Log log)
    : impl_(std::make_unique<Impl>(std::move(broker), settings, std::move(log))) {}

EKMethodServer::~EKMethodServer() = default;

const std::string& EKMethodServer::endpoint() const {
  return impl_->endpoint();
}

std::size_t EKMethodServer::answered() const {
  return impl_->answered();
}

}  // namespace EK
