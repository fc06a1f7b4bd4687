// Serving a camera: frames grabbed at the rate asked (a live source's own, thinned), each
// encoded and published without a copy of a raw picture; settings requests answered between
// frames, on the same thread, so that the camera's state needs no lock.
#include "serve.h"

#include <ekerror/ekerror.h>
#include <ekvideodevice/ekframepublisher.h>
#include <ekvision/ekimage.h>
#include <ekvision/ekimagevalue.h>
#include <ekvision/ekvisiondefinitions.h>

#include <chrono>
#include <memory>

#include "anycamera.h"
#include "interrupt.h"
#include "thinning.h"

namespace ekhost {
namespace {

using Clock = std::chrono::steady_clock;

// Longest wait between two looks at Ctrl-C, the time limit and the settings socket.
constexpr std::chrono::milliseconds kSlice(20);

long long wallMicroseconds() {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

std::string sizeText(int width, int height) {
  return std::to_string(width) + "x" + std::to_string(height);
}

// The settings a server keeps, and the requests it takes.
class ServedSettings {
 public:
  ServedSettings(const OpenedCamera& camera, int frameRate)
      : width_(camera.width),
        height_(camera.height),
        frameRate_(frameRate),
        // The scene and a recording stamp any camera index they are asked for; a live
        // camera is one camera.
        cameras_(camera.live ? 1 : 2),
        fixedSize_(camera.recording) {}

  EK::EKSettingsReply answer(const EK::EKSettingsRequest& request) {
    const int width = request.width.value_or(width_);
    const int height = request.height.value_or(height_);
    std::string refusal;
    if ((width != width_ || height != height_) && fixedSize_) {
      refusal = "a recording plays at its own size, " + sizeText(width_, height_);
    } else if (EK::getResolutionFromSize(width, height) < 0) {
      refusal = sizeText(width, height) + " is not a camera size (160x120, 320x240, 640x480, " +
                "1280x960)";
    } else if (request.frameRate &&
               (*request.frameRate < kMinFrameRate || *request.frameRate > kMaxFrameRate)) {
      refusal = "the frame rate must be from " + std::to_string(kMinFrameRate) + " to " +
                std::to_string(kMaxFrameRate) + ", not " + std::to_string(*request.frameRate);
    } else if (request.cameraId && *request.cameraId >= cameras_) {
      refusal = "no camera " + std::to_string(*request.cameraId) + ": this source has " +
                (cameras_ == 1 ? "camera 0 only" : "cameras 0 and 1");
    } else {
      width_ = width;
      height_ = height;
      frameRate_ = request.frameRate.value_or(frameRate_);
      cameraId_ = request.cameraId.value_or(cameraId_);
    }
    ++answered_;
    return EK::EKSettingsReply{refusal.empty(), refusal, width_, height_, frameRate_, cameraId_};
  }

  int width() const { return width_; }
  int height() const { return height_; }
  int frameRate() const { return frameRate_; }
  int cameraId() const { return cameraId_; }
  long long answered() const { return answered_; }

 private:
  int width_;
  int height_;
  int frameRate_;
  int cameraId_ = 0;
  const int cameras_;
  const bool fixedSize_;
  long long answered_ = 0;
};

// Encodes the image array @p image and publishes it; its pixel block is sent from where it
// is, kept alive by the message.
void publishImage(EK::EKFramePublisher& publisher, EK::EKValue image, unsigned long long sequence,
                  const EK::EKEncodingChoice& encoding) {
  auto owner = std::make_shared<EK::EKValue>(std::move(image));
  const std::unique_ptr<EK::EKImage> picture(EK::EKImage::fromEKValue(*owner));
  if (!picture || picture->colorSpace != EK::kColorSpaceYUV422) {
    fail(EK::EKCause::kBadFormat, "the camera gave a picture that is not YUV422");
  }
  EK::EKFrameHeader header;
  header.sequence = sequence;
  header.timeStamp = picture->timeStamp;
  header.cameraId = static_cast<unsigned char>(picture->cameraId);
  header.leftAngle = picture->leftAngle;
  header.topAngle = picture->topAngle;
  header.rightAngle = picture->rightAngle;
  header.bottomAngle = picture->bottomAngle;
  header.width = picture->width;
  header.height = picture->height;
  publisher.publish(EK::encodeFrame(header, picture->frame, owner, encoding));
}

}  // namespace

ServeReport serveCamera(const ServeOptions& options, Listener& listener) {
  std::string error;
  const std::optional<EK::EKEncodingChoice> encoding = EK::parseEncoding(options.encoding, error);
  if (!encoding) {
    fail(EK::EKCause::kInvalidArgument, "--encoding: " + error);
  }
  const int frameRate = options.fps.value_or(kDefaultServeRate);
  const OpenedCamera camera = openCamera(options.spec, options.resolution, frameRate, true);
  EK::EKPublisherSettings where;
  where.endpoint = options.bind.value_or(EK::defaultFrameEndpoint());
  where.keyFile = options.curve.value_or("");
  std::unique_ptr<EK::EKFramePublisher> publisher;
  try {
    publisher = std::make_unique<EK::EKFramePublisher>(
        where, [&listener](const std::string& line) { listener.warn(line); });
  } catch (const EK::EKError& failure) {
    throw HostError(statusOf(failure, EK::EKCause::kUnavailable, "cannot serve"));
  }
  ServeReport report;
  report.camera = camera.description;
  report.frameEndpoint = publisher->frameEndpoint();
  report.settingsEndpoint = publisher->settingsEndpoint();
  listener.note("serving " + camera.description + " as " + EK::toString(*encoding) + " at " +
                std::to_string(frameRate) + " frames/s on " + report.frameEndpoint +
                " (settings on " + report.settingsEndpoint + ")" +
                (options.curve ? ", CURVE clients only" : ""));

  ServedSettings settings(camera, frameRate);
  const auto answer = [&settings](const EK::EKSettingsRequest& request) {
    return settings.answer(request);
  };
  InterruptScope interrupts;
  const Clock::time_point start = Clock::now();
  const Clock::time_point deadline =
      options.seconds ? start + std::chrono::duration_cast<Clock::duration>(
                                    std::chrono::duration<double>(*options.seconds))
                      : Clock::time_point::max();
  FrameThinner thinner(frameRate);
  int thinnedRate = frameRate;
  Clock::time_point nextTick = start;
  long long frameIndex = 0;
  // The frame the live source holds now is the first one served.
  long long lastNumber = camera.live ? camera.live->status().framesCaptured - 1 : 0;
  while (!InterruptScope::requested() && Clock::now() < deadline &&
         (!options.frames || report.published < *options.frames)) {
    publisher->serve(std::chrono::milliseconds(0), answer);
    const EK::EKFrameRequest request{"ekvision-serve",      settings.width(),    settings.height(),
                                     EK::kColorSpaceYUV422, settings.cameraId(), frameIndex,
                                     wallMicroseconds()};
    EK::EKValue image;
    if (camera.live) {
      // A live source keeps its own pace: the newest frame once it is new, at most the
      // rate asked. A failing source is asked too, so that its failure is told.
      if (camera.live->waitForFrame(lastNumber, kSlice) <= lastNumber &&
          !camera.live->status().failing) {
        continue;
      }
      long long number = 0;
      try {
        image = camera.live->grabNumbered(request, number);
      } catch (const EK::EKError& failure) {
        listener.warn(failure.getDescription());  // once a failure; it is reopened
        continue;
      }
      if (thinnedRate != settings.frameRate()) {
        thinnedRate = settings.frameRate();
        thinner = FrameThinner(thinnedRate);
      }
      if (number <= lastNumber || !thinner.keep(EK::imageArrayTimeStamp(image))) {
        continue;
      }
      lastNumber = number;
    } else {
      const Clock::time_point now = Clock::now();
      if (now < nextTick) {
        publisher->serve(std::min(std::chrono::duration_cast<std::chrono::milliseconds>(
                                      nextTick - now + std::chrono::microseconds(999)),
                                  kSlice),
                         answer);
        continue;
      }
      const Clock::duration period = std::chrono::duration_cast<Clock::duration>(
          std::chrono::duration<double>(1.0 / settings.frameRate()));
      // A server that fell behind skips ahead rather than sending a burst.
      nextTick = std::max(nextTick + period, now);
      ++frameIndex;
      try {
        image = camera.source->grab(request);
      } catch (const EK::EKError& failure) {
        listener.warn(failure.getDescription());
        continue;
      }
    }
    publishImage(*publisher, std::move(image), static_cast<unsigned long long>(report.published),
                 *encoding);
    ++report.published;
  }
  report.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  report.settingsAnswered = settings.answered();
  if (camera.live) {
    const EK::EKLiveStatus status = camera.live->status();
    report.cameraFailures = status.failures;
    report.lastCameraFailure = status.lastFailure;
  }
  if (report.published == 0) {
    report.status =
        EK::EKStatus(EK::EKCause::kUnavailable, "no frame was served from " + camera.description);
  }
  return report;
}

}  // namespace ekhost
