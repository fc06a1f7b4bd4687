/// @file
/// A frame source that receives the frames a frame server publishes (`ekvision serve`).
#ifndef EKVIDEODEVICE_EKREMOTESOURCE_H
#define EKVIDEODEVICE_EKREMOTESOURCE_H

#include <chrono>
#include <memory>
#include <string>

#include <ekvideodevice/ekframewire.h>
#include <ekvideodevice/eklivesource.h>
#include <ekvideodevice/ekremote_api.h>

namespace EK {

/// @brief How a remote camera connects, and what it asks of the server.
struct EKRemoteSettings {
  int width = 640;    ///< frame size asked of the server until a subscriber asks another
  int height = 480;   ///< see width
  int frameRate = 0;  ///< frames a second asked of the server; 0: the server's own
  std::size_t maxFrameBytes = kDefaultMaxFrameBytes;  ///< larger pictures are refused
  std::chrono::milliseconds stallTimeout{2000};       ///< no frame for this long is a failure
  std::chrono::milliseconds openTimeout{5000};        ///< the constructor waits this long
  std::chrono::milliseconds reconnectInterval{100};   ///< ZeroMQ's wait between reconnections
};

/// @brief Receives a frame server's frames on a thread of its own and hands every caller the
/// newest: a caller slower than the server skips frames, never falls behind.
///
/// The camera is named `tcp://HOST:PORT` or `ipc://PATH`, with `?curve=KEYFILE` for a server that
/// takes CURVE clients only (EKCurveKeys: the client's pair and the server's public key).
///
/// Frames keep the server's capture stamp, camera index and angles. A request whose size
/// differs from the frames' makes the source ask the server for that size (the server's
/// settings socket); until such frames come, the newest is scaled by picking the nearest
/// pixel pairs. YUV422 requests get the frame's bytes; other color spaces the luma in each
/// layer.
///
/// Failures: no frame for EKRemoteSettings::stallTimeout (a server gone, silent, or that
/// refused this client's key). The next grab() of each subscriber throws EKError (module
/// "EKVideoDevice", method "getImageRemote", cause kUnavailable) naming it, once per
/// failure; its following calls get the last frame again, until frames flow again, which
/// they do by themselves when the server is back (ZeroMQ reconnects). Messages that are
/// not frames are refused without being allocated, counted and logged.
///
/// All operations are safe from any thread.
class EKREMOTE_API EKRemoteSource : public EKLiveSource {
 public:
  /// @brief Connects to @p spec and waits for its first frame.
  /// @throws EKError (module "EKRemoteSource", method "open"), an EK::EKFailure whose
  ///   cause() is kInvalidArgument for a spec it cannot take, the key file's cause,
  ///   kPermissionDenied at once when the server refuses the handshake for a cause the
  ///   client can tell (no CURVE keys, a key not in its list), or kUnavailable when no frame
  ///   came within EKRemoteSettings::openTimeout
  explicit EKRemoteSource(const std::string& spec, const EKRemoteSettings& settings = {});
  ~EKRemoteSource() override;
  EKRemoteSource(const EKRemoteSource&) = delete;
  EKRemoteSource& operator=(const EKRemoteSource&) = delete;

  EKValue grab(const EKFrameRequest& request) override;
  EKValue grabNumbered(const EKFrameRequest& request, long long& frameNumber) override;
  long long waitForFrame(long long seen, std::chrono::milliseconds timeout) const override;
  EKLiveStatus status() const override;

  /// The sequence number the server gave the newest frame.
  unsigned long long lastSequence() const;
  /// Messages refused as not being sound frames, and the last reason.
  long long refusedMessages(std::string* lastReason = nullptr) const;
  /// The frame endpoint, without the key file.
  const std::string& endpoint() const;

 private:
  class Impl;
  std::shared_ptr<Impl> impl_;  // shared with the receiving thread
};

}  // namespace EK

#endif  // EKVIDEODEVICE_EKREMOTESOURCE_H
