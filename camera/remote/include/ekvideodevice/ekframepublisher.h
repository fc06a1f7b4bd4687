/// @file
/// The sockets of a frame server: frames published to every subscriber, camera settings
/// answered, CURVE enforced (docs/wire.md).
#ifndef EKVIDEODEVICE_EKFRAMEPUBLISHER_H
#define EKVIDEODEVICE_EKFRAMEPUBLISHER_H

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include <ekvideodevice/ekframewire.h>
#include <ekvideodevice/ekremote_api.h>
#include <ekvideodevice/ekremotespec.h>
#include <ekvideodevice/eksettingswire.h>

namespace EK {

/// Frames a subscriber may have queued at the server: a slow one skips frames, it never
/// builds a backlog.
constexpr int kPublisherHighWaterMark = 2;

/// @brief Where and how a frame server listens.
struct EKPublisherSettings {
  std::string endpoint = defaultFrameEndpoint();  ///< frames; `tcp://HOST:PORT`, `:*` for any
  std::string keyFile;                            ///< the server's CURVE key file; empty: no CURVE
};

/// @brief Binds the frame socket (PUB, at most kPublisherHighWaterMark frames queued per
/// subscriber) and the settings socket (REP, on the next port or `PATH.settings`).
///
/// Not thread-safe: one thread publishes and serves. Nothing a client sends stops it: a
/// refused settings message gets an answer saying why, a client that fails the CURVE
/// handshake or is not in the key file's `client` list is refused and reported to the log.
class EKREMOTE_API EKFramePublisher {
 public:
  /// Answers one settings request with the settings in force.
  using SettingsHandler = std::function<EKSettingsReply(const EKSettingsRequest& request)>;
  /// Takes one line about a refused client or message.
  using Log = std::function<void(const std::string& line)>;

  /// @brief Binds both sockets.
  /// @throws EKFailure: kInvalidArgument for an endpoint it cannot take, kUnavailable when
  ///   a bind fails (the address in use...), the key file's cause, kUnsupported without CURVE
  EKFramePublisher(const EKPublisherSettings& settings, Log log);
  ~EKFramePublisher();
  EKFramePublisher(const EKFramePublisher&) = delete;
  EKFramePublisher& operator=(const EKFramePublisher&) = delete;

  /// The frame endpoint as bound, its port resolved, e.g. "tcp://127.0.0.1:7410".
  const std::string& frameEndpoint() const;
  /// The settings endpoint as bound.
  const std::string& settingsEndpoint() const;

  /// @brief Sends @p frame to every subscriber without blocking and without copying its
  /// pixels; a subscriber whose queue is full misses it.
  void publish(EKEncodedFrame frame);

  /// @brief Waits up to @p timeout for settings requests and security events, answering
  /// each request with @p handler.
  void serve(std::chrono::milliseconds timeout, const SettingsHandler& handler);

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace EK

#endif  // EKVIDEODEVICE_EKFRAMEPUBLISHER_H
