#include <ekvideodevice/ekremotesource.h>

#include <zmq.hpp>

#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

#include <ekerror/ekerror.h>
#include <ekvideodevice/ekremotespec.h>
#include <ekvideodevice/eksettingswire.h>
#include <ekvision/ekimagevalue.h>
#include <ekvision/ekvisiondefinitions.h>
#include <ru/log.h>

#include "curvesecurity.h"
#include "pixelscaling.h"

namespace EK {
namespace {

using SteadyClock = std::chrono::steady_clock;

// Frames ZeroMQ may hold for this client: the thread drains them at once, keeping the newest.
constexpr int kReceiveHighWaterMark = 2;
// A settings request without an answer after this long is sent again.
constexpr std::chrono::milliseconds kSettingsTimeout(1000);
// How often the thread looks at its stop flag and at settings to send.
constexpr std::chrono::milliseconds kReceivePollInterval(50);
// ZeroMQ's heartbeats find a dead connection that TCP alone would keep for minutes.
constexpr int kHeartbeatIntervalMs = 500;
constexpr int kHeartbeatTimeoutMs = 1500;

std::string seconds(std::chrono::milliseconds duration) {
  const long long ms = duration.count();
  return ms % 1000 == 0 ? std::to_string(ms / 1000) + " s" : std::to_string(ms) + " ms";
}

}  // namespace

namespace remote {

// A frame as received, with its number among the frames received; never changed once kept.
struct ReceivedFrame {
  EKDecodedFrame frame;
  long long number = 0;
};

}  // namespace remote

class EKRemoteSource::Impl : public std::enable_shared_from_this<EKRemoteSource::Impl> {
 public:
  Impl(const EKRemoteTarget& target, const EKRemoteSettings& settings, const EKFramePool& pool)
      : target_(target),
        settings_(settings),
        pool_(pool),
        wantedWidth_(settings.width),
        wantedHeight_(settings.height) {
    if (!target_.keyFile.empty()) {
      keys_ = remote::loadKeys(target_.keyFile, EKKeyFileUse::kClient);
    }
  }

  void start() {
    std::shared_ptr<Impl> self = shared_from_this();
    thread_ = std::thread([self] { self->receiveLoop(); });
  }

  void stop() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
    }
    changed_.notify_all();
    if (thread_.joinable()) {
      thread_.join();
    }
  }

  bool waitUntilOpen(EKStatus& cause) {
    std::unique_lock<std::mutex> lock(mutex_);
    // A refused handshake is an answer: no need to wait for frames that will not come.
    changed_.wait_for(lock, settings_.openTimeout,
                      [&] { return latest_ != nullptr || !refusedBy_.empty(); });
    if (latest_ != nullptr) {
      return true;
    }
    if (!refusedBy_.empty()) {
      cause = EKStatus(EKCause::kPermissionDenied,
                       target_.endpoint + " refused this client: " + refusedBy_);
      return false;
    }
    cause = EKStatus(EKCause::kUnavailable, "no frame from " + target_.endpoint + " within " +
                                                seconds(settings_.openTimeout) + ": " +
                                                absenceCauses() + refusalNote());
    return false;
  }

  EKValue grab(const EKFrameRequest& request, long long& frameNumber) {
    std::shared_ptr<const remote::ReceivedFrame> frame;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      noticeStall();
      failures_.throwOnceTo(request.subscriberId);
      frame = latest_;
      if (request.width > 0 && request.height > 0 &&
          (request.width != wantedWidth_ || request.height != wantedHeight_)) {
        wantedWidth_ = request.width;
        wantedHeight_ = request.height;
        askSettings_ = true;
      }
    }
    if (!frame) {
      throwGrabFailure(EKStatus(EKCause::kUnavailable, "no frame received yet"));
    }
    frameNumber = frame->number;
    return deliver(frame->frame, request);
  }

  long long waitForFrame(long long seen, std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, timeout, [&] { return framesReceived_ > seen || stopping_; });
    return framesReceived_;
  }

  EKLiveStatus status() {
    std::lock_guard<std::mutex> lock(mutex_);
    noticeStall();
    EKLiveStatus status;
    status.framesCaptured = framesReceived_;
    failures_.describe(status);
    if (latest_) {
      status.deviceWidth = latest_->frame.header.width;
      status.deviceHeight = latest_->frame.header.height;
      status.lastStamp = latest_->frame.header.timeStamp;
      status.deviceFormat =
          std::string(toString(latest_->frame.header.encoding)) + " from " + target_.endpoint;
    }
    return status;
  }

  unsigned long long lastSequence() {
    std::lock_guard<std::mutex> lock(mutex_);
    return latest_ ? latest_->frame.header.sequence : 0;
  }

  long long refused(std::string* reason) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (reason != nullptr) {
      *reason = lastRefusal_;
    }
    return refused_;
  }

  const std::string& endpoint() const { return target_.endpoint; }

 private:
  // Called with the lock held.
  std::string absenceCauses() const {
    if (!refusedBy_.empty()) {
      return refusedBy_;
    }
    return keys_ ? "the server is gone, silent, or refused this client's key"
                 : "the server is gone or silent";
  }

  // The server refused the handshake for @p cause (empty: for no cause known).
  void noteRefusal(const std::string& cause) {
    if (cause.empty()) {
      return;
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      refusedBy_ = cause;
    }
    changed_.notify_all();
  }

  // Called with the lock held.
  std::string refusalNote() const {
    return refused_ == 0 ? std::string()
                         : " (" + std::to_string(refused_) +
                               " messages refused, the last: " + lastRefusal_ + ")";
  }

  // Called with the lock held.
  void noticeStall() {
    if (failures_.failing() || latest_ == nullptr || stopping_) {
      return;
    }
    if (SteadyClock::now() - lastArrival_ > settings_.stallTimeout) {
      failures_.fail(EKStatus(EKCause::kUnavailable, "no frame from " + target_.endpoint + " for " +
                                                         seconds(settings_.stallTimeout) + ": " +
                                                         absenceCauses()));
    }
  }

  EKValue deliver(const EKDecodedFrame& frame, const EKFrameRequest& request) const {
    const int layers = getNumLayersInColorSpace(request.colorSpace);
    if (layers <= 0 || request.width <= 0 || request.height <= 0 ||
        (request.colorSpace == kColorSpaceYUV422 && request.width % 2 != 0)) {
      throwGrabFailure(EKStatus(EKCause::kUnsupported, "cannot make this picture format"));
    }
    const EKFrameHeader& h = frame.header;
    const int scaledLayers = request.colorSpace == kColorSpaceYUV422 ? 0 : layers;
    const std::size_t bytes = remote::scaledPixelBytes(request.width, request.height, scaledLayers);
    std::shared_ptr<unsigned char> pixels = pool_.acquire(bytes);
    remote::scalePixels(frame.pixels.data(), h.width, h.height, request.width, request.height,
                        scaledLayers, pixels.get());
    return makeImageArray(request.width, request.height, request.colorSpace, h.timeStamp,
                          h.cameraId, h.leftAngle, h.topAngle, h.rightAngle, h.bottomAngle,
                          std::move(pixels), static_cast<int>(bytes));
  }

  void receiveLoop() {
    try {
      receiveFrames();
    } catch (const std::exception& error) {
      // Nothing more will come: callers are told once the stall timeout has passed.
      recordRefusal("stopped receiving from " + target_.endpoint + ": " + error.what());
    }
  }

  void receiveFrames() {
    zmq::context_t context;
    std::unique_ptr<remote::HandshakeMonitor> monitor;  // before the socket it watches
    std::unique_ptr<zmq::socket_t> frames;
    std::string settingsEndpoint;
    const bool hasSettings = settingsEndpointOf(target_.endpoint, settingsEndpoint).ok();
    std::unique_ptr<zmq::socket_t> asker;
    // When the unanswered request went out; the epoch when none is waiting.
    SteadyClock::time_point askedAt{};
    SteadyClock::time_point connectedAt{};
    while (!stopRequested()) {
      // ZeroMQ reconnects after a lost connection, not after one it ended itself (a message
      // over the size limit): a socket silent for the stall timeout is made anew.
      if (!frames || silentSince(connectedAt)) {
        monitor.reset();
        if (!connectFrames(context, frames, monitor)) {
          return;
        }
        connectedAt = SteadyClock::now();
      }
      if (hasSettings && shouldAsk(askedAt)) {
        if (!asker) {
          asker = std::make_unique<zmq::socket_t>(context, zmq::socket_type::req);
          asker->set(zmq::sockopt::linger, 0);
          asker->set(zmq::sockopt::req_relaxed, 1);
          asker->set(zmq::sockopt::req_correlate, 1);
          asker->set(zmq::sockopt::maxmsgsize, remote::kSmallSocketMessageLimit);
          configureConnection(*asker);
          asker->connect(settingsEndpoint);
        }
        const EKSettingsRequest request = currentRequest();
        const std::vector<std::uint8_t> bytes = encodeSettingsRequest(request);
        if (asker->send(zmq::buffer(bytes), zmq::send_flags::dontwait)) {
          askedAt = SteadyClock::now();
          requestSent(request);
        }
      }
      std::vector<zmq::pollitem_t> items{{frames->handle(), 0, ZMQ_POLLIN, 0},
                                         {monitor->socket().handle(), 0, ZMQ_POLLIN, 0}};
      if (asker) {
        items.push_back({asker->handle(), 0, ZMQ_POLLIN, 0});
      }
      try {
        zmq::poll(items, kReceivePollInterval);
      } catch (const zmq::error_t& error) {
        if (error.num() != EINTR) {
          throw;
        }
        continue;  // a signal meant for the process; this thread goes on
      }
      while ((frames->get(zmq::sockopt::events) & ZMQ_POLLIN) != 0) {
        receiveFrame(*frames);
      }
      remote::HandshakeFailure failure;
      while (monitor->read(failure)) {
        noteRefusal(remote::clientRefusal(failure, keys_.has_value()));
      }
      if (asker && (asker->get(zmq::sockopt::events) & ZMQ_POLLIN) != 0) {
        readReply(*asker);
        askedAt = SteadyClock::time_point{};
      }
    }
  }

  bool silentSince(SteadyClock::time_point connectedAt) {
    std::lock_guard<std::mutex> lock(mutex_);
    return SteadyClock::now() - std::max(connectedAt, lastArrival_) > settings_.stallTimeout;
  }

  // Makes the frame socket and its handshake monitor, then connects: a monitor attached
  // after the connection could miss the first refusal.
  bool connectFrames(zmq::context_t& context, std::unique_ptr<zmq::socket_t>& frames,
                     std::unique_ptr<remote::HandshakeMonitor>& monitor) {
    frames = std::make_unique<zmq::socket_t>(context, zmq::socket_type::sub);
    frames->set(zmq::sockopt::linger, 0);
    frames->set(zmq::sockopt::rcvhwm, kReceiveHighWaterMark);
    frames->set(zmq::sockopt::rcvbuf, kFrameSocketBufferBytes);
    frames->set(zmq::sockopt::maxmsgsize,
                static_cast<std::int64_t>(std::max(settings_.maxFrameBytes, kMaxFrameHeaderBytes)));
    configureConnection(*frames);
    frames->set(zmq::sockopt::subscribe, "");
    monitor = std::make_unique<remote::HandshakeMonitor>(context, *frames);
    try {
      frames->connect(target_.endpoint);
    } catch (const zmq::error_t& error) {
      recordRefusal("cannot connect to " + target_.endpoint + ": " + error.what());
      return false;
    }
    return true;
  }

  void configureConnection(zmq::socket_t& socket) {
    socket.set(zmq::sockopt::reconnect_ivl, static_cast<int>(settings_.reconnectInterval.count()));
    socket.set(zmq::sockopt::reconnect_ivl_max,
               static_cast<int>(settings_.reconnectInterval.count()));
    socket.set(zmq::sockopt::heartbeat_ivl, kHeartbeatIntervalMs);
    socket.set(zmq::sockopt::heartbeat_timeout, kHeartbeatTimeoutMs);
    if (keys_) {
      remote::makeCurveClient(socket, *keys_);
    }
  }

  bool stopRequested() {
    std::lock_guard<std::mutex> lock(mutex_);
    return stopping_;
  }

  // Whether to send the settings now: they changed, or a request went unanswered.
  bool shouldAsk(SteadyClock::time_point askedAt) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (askedAt != SteadyClock::time_point{}) {
      return SteadyClock::now() - askedAt > kSettingsTimeout;
    }
    return askSettings_;
  }

  // @p sent is on its way; a size asked for since is still to send. A request that could
  // not be sent stays to send.
  void requestSent(const EKSettingsRequest& sent) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (sent.width == wantedWidth_ && sent.height == wantedHeight_) {
      askSettings_ = false;
    }
  }

  EKSettingsRequest currentRequest() {
    std::lock_guard<std::mutex> lock(mutex_);
    EKSettingsRequest request;
    request.width = wantedWidth_;
    request.height = wantedHeight_;
    if (settings_.frameRate > 0) {
      request.frameRate = settings_.frameRate;
    }
    return request;
  }

  void readReply(zmq::socket_t& asker) {
    zmq::message_t message;
    if (!asker.recv(message, zmq::recv_flags::dontwait)) {
      return;
    }
    EKSettingsReply reply;
    const EKStatus status = decodeSettingsReply(message.data(), message.size(), reply);
    if (!status.ok() || !reply.ok) {
      // Frames keep coming at the server's settings; they are scaled here.
      ru::log::log(3, "vision.remote",
                   target_.endpoint +
                       " kept its settings: " + (status.ok() ? reply.message : status.message()),
                   __FILE__, __func__, __LINE__);
    }
  }

  void receiveFrame(zmq::socket_t& socket) {
    // Parts beyond a frame's are drained into the last slot: never more than three kept.
    zmq::message_t parts[kFrameWireParts + 1];
    std::size_t count = 0;
    bool more = true;
    while (more) {
      zmq::message_t& slot = parts[std::min(count, kFrameWireParts)];
      if (!socket.recv(slot, count == 0 ? zmq::recv_flags::dontwait : zmq::recv_flags::none)) {
        return;
      }
      ++count;
      more = slot.more();
    }
    EKWirePart wire[kFrameWireParts];
    for (std::size_t i = 0; i < kFrameWireParts; ++i) {
      wire[i] = {parts[i].data(), parts[i].size()};
    }
    auto received = std::make_shared<remote::ReceivedFrame>();
    const EKStatus status = decodeFrame(wire, count, settings_.maxFrameBytes, received->frame);
    if (!status.ok()) {
      recordRefusal(status.message() + " from " + target_.endpoint);
      return;
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (failures_.failing()) {
        askSettings_ = true;  // a server that came back starts from its own settings
      }
      received->number = ++framesReceived_;
      refusedBy_.clear();
      latest_ = std::move(received);
      lastArrival_ = SteadyClock::now();
      failures_.recover();
    }
    changed_.notify_all();
  }

  void recordRefusal(const std::string& reason) {
    bool first = false;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ++refused_;
      first = reason != lastRefusal_;
      lastRefusal_ = reason;
    }
    if (first) {
      ru::log::log(3, "vision.remote", reason, __FILE__, __func__, __LINE__);
    }
  }

  const EKRemoteTarget target_;
  const EKRemoteSettings settings_;
  EKFramePool pool_;  // the source's frame buffers
  std::optional<EKCurveKeys> keys_;

  mutable std::mutex mutex_;  // guards everything below
  std::condition_variable changed_;
  bool stopping_ = false;
  std::shared_ptr<const remote::ReceivedFrame> latest_;
  SteadyClock::time_point lastArrival_;
  long long framesReceived_ = 0;
  EKLiveFailures failures_;
  long long refused_ = 0;
  std::string lastRefusal_;
  std::string refusedBy_;  // why the server refused the last handshake; empty when it did not
  int wantedWidth_;
  int wantedHeight_;
  bool askSettings_ = true;
  std::thread thread_;
};

EKRemoteSource::EKRemoteSource(const std::string& spec, const EKRemoteSettings& settings) {
  EKRemoteTarget target;
  const EKStatus parsed = parseRemoteSpec(spec, target);
  if (!parsed.ok()) {
    throw EKFailure("EKRemoteSource", "open", parsed, __FILE__, __LINE__);
  }
  impl_ = std::make_shared<Impl>(target, settings, framePool());
  impl_->start();
  EKStatus cause;
  if (!impl_->waitUntilOpen(cause)) {
    impl_->stop();
    throw EKFailure("EKRemoteSource", "open", cause, __FILE__, __LINE__);
  }
}

EKRemoteSource::~EKRemoteSource() {
  impl_->stop();
}

EKValue EKRemoteSource::grab(const EKFrameRequest& request) {
  long long frameNumber = 0;
  return impl_->grab(request, frameNumber);
}

EKValue EKRemoteSource::grabNumbered(const EKFrameRequest& request, long long& frameNumber) {
  return impl_->grab(request, frameNumber);
}

long long EKRemoteSource::waitForFrame(long long seen, std::chrono::milliseconds timeout) const {
  return impl_->waitForFrame(seen, timeout);
}

EKLiveStatus EKRemoteSource::status() const {
  return impl_->status();
}

unsigned long long EKRemoteSource::lastSequence() const {
  return impl_->lastSequence();
}

long long EKRemoteSource::refusedMessages(std::string* lastReason) const {
  return impl_->refused(lastReason);
}

const std::string& EKRemoteSource::endpoint() const {
  return impl_->endpoint();
}

}  // namespace EK
