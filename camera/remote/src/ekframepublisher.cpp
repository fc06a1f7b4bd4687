#include <ekvideodevice/ekframepublisher.h>

#include <zmq.hpp>

#include <cerrno>
#include <optional>

#include <ekerror/ekerror.h>

#include "curvesecurity.h"

namespace EK {
namespace {

[[noreturn]] void failToBind(EKCause cause, const std::string& message) {
  throw EKFailure("EKFramePublisher", "bind", EKStatus(cause, message), __FILE__, __LINE__);
}

void freeOwner(void* /*data*/, void* hint) {
  delete static_cast<std::shared_ptr<const void>*>(hint);
}

std::string bindOrFail(zmq::socket_t& socket, const std::string& endpoint) {
  try {
    socket.bind(endpoint);
  } catch (const zmq::error_t& error) {
    failToBind(EKCause::kUnavailable, "cannot listen on " + endpoint + ": " + error.what());
  }
  return socket.get(zmq::sockopt::last_endpoint);
}

}  // namespace

class EKFramePublisher::Impl {
 public:
  Impl(const EKPublisherSettings& settings, Log log)
      : log_(std::move(log)),
        frames_(context_, zmq::socket_type::pub),
        settings_(context_, zmq::socket_type::rep) {
    std::optional<EKCurveKeys> keys;
    if (!settings.keyFile.empty()) {
      keys = remote::loadKeys(settings.keyFile, EKKeyFileUse::kServer);
    }
    for (zmq::socket_t* socket : {&frames_, &settings_}) {
      socket->set(zmq::sockopt::linger, 0);
      if (keys) {
        remote::makeCurveServer(*socket, *keys);
      }
    }
    frames_.set(zmq::sockopt::sndhwm, kPublisherHighWaterMark);
    frames_.set(zmq::sockopt::sndbuf, kFrameSocketBufferBytes);
    frames_.set(zmq::sockopt::maxmsgsize, remote::kSmallSocketMessageLimit);
    settings_.set(zmq::sockopt::maxmsgsize, remote::kSmallSocketMessageLimit);
    std::string wanted;
    EKStatus status = settingsEndpointOf(settings.endpoint, wanted);
    const bool anyPort = settings.endpoint.size() > 2 &&
                         settings.endpoint.compare(settings.endpoint.size() - 2, 2, ":*") == 0;
    if (!status.ok() && !anyPort) {
      failToBind(EKCause::kInvalidArgument, status.message());
    }
    if (keys) {
      gatekeeper_.emplace(context_, frames_, settings.endpoint, keys->clientKeys, log_);
    }
    frameEndpoint_ = bindOrFail(frames_, settings.endpoint);
    status = settingsEndpointOf(frameEndpoint_, wanted);
    if (!status.ok()) {
      failToBind(EKCause::kInvalidArgument, status.message());
    }
    settingsEndpoint_ = bindOrFail(settings_, wanted);
  }

  void publish(EKEncodedFrame frame) {
    zmq::message_t header(frame.header.data(), frame.header.size());
    auto* owner = new std::shared_ptr<const void>(std::move(frame.owner));
    zmq::message_t pixels(const_cast<std::uint8_t*>(frame.payload), frame.payloadSize, freeOwner,
                          owner);
    // PUB drops a frame for a subscriber whose queue is full; it never blocks.
    (void)frames_.send(header, zmq::send_flags::sndmore | zmq::send_flags::dontwait);
    (void)frames_.send(pixels, zmq::send_flags::dontwait);
  }

  void serve(std::chrono::milliseconds timeout, const SettingsHandler& handler) {
    std::vector<zmq::pollitem_t> items{{settings_.handle(), 0, ZMQ_POLLIN, 0}};
    if (gatekeeper_) {
      for (zmq::socket_t* socket : gatekeeper_->sockets()) {
        items.push_back({socket->handle(), 0, ZMQ_POLLIN, 0});
      }
    }
    try {
      zmq::poll(items, timeout);
    } catch (const zmq::error_t& error) {
      if (error.num() != EINTR) {
        throw;
      }
      return;  // a signal (Ctrl-C): the caller decides whether to go on
    }
    if (gatekeeper_) {
      gatekeeper_->poll();
    }
    while ((settings_.get(zmq::sockopt::events) & ZMQ_POLLIN) != 0) {
      answerSettings(handler);
    }
  }

  const std::string& frameEndpoint() const { return frameEndpoint_; }
  const std::string& settingsEndpoint() const { return settingsEndpoint_; }

 private:
  void answerSettings(const SettingsHandler& handler) {
    zmq::message_t request;
    if (!settings_.recv(request, zmq::recv_flags::dontwait)) {
      return;
    }
    std::size_t parts = 1;
    while (request.more()) {
      (void)settings_.recv(request, zmq::recv_flags::none);
      ++parts;
    }
    EKSettingsRequest asked;
    EKStatus status =
        parts == 1
            ? decodeSettingsRequest(request.data(), request.size(), asked)
            : EKStatus(EKCause::kBadFormat,
                       "refused settings message: " + std::to_string(parts) + " parts, not 1");
    EKSettingsReply reply;
    if (status.ok()) {
      reply = handler(asked);
    } else {
      log_(status.message());
      reply = handler(EKSettingsRequest());  // the settings in force
      reply.ok = false;
      reply.message = status.message();
    }
    const std::vector<std::uint8_t> bytes = encodeSettingsReply(reply);
    (void)settings_.send(zmq::buffer(bytes), zmq::send_flags::dontwait);
  }

  Log log_;
  zmq::context_t context_;
  zmq::socket_t frames_;
  zmq::socket_t settings_;
  std::optional<remote::Gatekeeper> gatekeeper_;
  std::string frameEndpoint_;
  std::string settingsEndpoint_;
};

EKFramePublisher::EKFramePublisher(const EKPublisherSettings& settings, Log log)
    : impl_(std::make_unique<Impl>(settings, std::move(log))) {}

EKFramePublisher::~EKFramePublisher() = default;

const std::string& EKFramePublisher::frameEndpoint() const {
  return impl_->frameEndpoint();
}

const std::string& EKFramePublisher::settingsEndpoint() const {
  return impl_->settingsEndpoint();
}

void EKFramePublisher::publish(EKEncodedFrame frame) {
  impl_->publish(std::move(frame));
}

void EKFramePublisher::serve(std::chrono::milliseconds timeout, const SettingsHandler& handler) {
  impl_->serve(timeout, handler);
}

}  // namespace EK
