#include <ekvideodevice/ekcapturesource.h>

#include <opencv2/imgproc.hpp>

#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>

#include <ekerror/ekerror.h>
#include <ekvision/ekimage.h>
#include <ekvision/ekimagevalue.h>
#include <ekvision/ekstatus.h>
#include <ekvision/ekvisiondefinitions.h>

#include "capturedevice.h"

namespace EK {
namespace capture {

// A frame as published to the callers: never changed once published, but for the pixels
// of a frame lent to a subscriber.
struct Published {
  explicit Published(EKFramePool& pool) : raw(pool) {}
  RawFrame raw;
  long long stamp = 0;
  long long number = 0;
  // Its buffer went to a subscriber, who may have written into it: nobody else gets it.
  mutable bool lent = false;  // guarded by the source's mutex
};

}  // namespace capture
namespace {

using capture::Published;

using SteadyClock = std::chrono::steady_clock;

// How long the destructor waits for the capture thread to end.
const std::chrono::seconds kStopTimeout(2);

// The YUV422 picture @p frame scaled to width x height into @p pixels: unpacked to BGR,
// resized, packed.
void scaleYuv(const Published& frame, int width, int height, unsigned char* pixels) {
  EKImage source(frame.raw.width, frame.raw.height, kColorSpaceYUV422, true);
  source.frame = frame.raw.yuv.get();
  cv::Mat bgr(frame.raw.height, frame.raw.width, CV_8UC3);
  source.computeBGRimageFromYUV422(bgr.data);
  cv::Mat sized;
  const bool shrinking = width <= frame.raw.width && height <= frame.raw.height;
  cv::resize(bgr, sized, cv::Size(width, height), 0, 0,
             shrinking ? cv::INTER_AREA : cv::INTER_LINEAR);
  EKImage target(width, height, kColorSpaceYUV422, true);
  target.frame = pixels;
  target.computeYUV422imageFromBGR(height, width, reinterpret_cast<char*>(sized.data));
}

}  // namespace

class EKCaptureSource::Impl : public std::enable_shared_from_this<EKCaptureSource::Impl> {
 public:
  Impl(const EKCaptureTarget& target, const EKCaptureSettings& settings, const EKFramePool& pool)
      : target_(target),
        settings_(settings),
        pool_(pool),
        device_(target, settings.frameRate),
        wantedWidth_(settings.width),
        wantedHeight_(settings.height) {}

  // The thread shares the state, so that a read that never returns can be left behind.
  void start() {
    std::shared_ptr<Impl> self = shared_from_this();
    thread_ = std::thread([self] {
      self->captureLoop();
      std::lock_guard<std::mutex> lock(self->mutex_);
      self->finished_ = true;
      self->changed_.notify_all();
    });
  }

  void stop() {
    std::unique_lock<std::mutex> lock(mutex_);
    stopping_ = true;
    changed_.notify_all();
    if (!thread_.joinable()) {
      return;
    }
    // A read blocked in a stalled stream cannot be cut short: after a while the thread is
    // left to end when the read does, and then releases the camera itself.
    const bool finished = changed_.wait_for(lock, kStopTimeout, [&] { return finished_; });
    lock.unlock();
    if (finished) {
      thread_.join();
    } else {
      thread_.detach();
    }
  }

  // Waits for the first frame or the first failure; false with the cause otherwise.
  bool waitUntilOpen(EKStatus& cause) {
    std::unique_lock<std::mutex> lock(mutex_);
    const bool settled = changed_.wait_for(
        lock, settings_.openTimeout, [&] { return latest_ != nullptr || failures_.count() > 0; });
    if (latest_ != nullptr) {
      return true;
    }
    cause = settled ? failures_.last()
                    : EKStatus(EKCause::kUnavailable,
                               std::string("no frame from the ") + toString(target_.kind) + " " +
                                   target_.location + " within " +
                                   std::to_string(settings_.openTimeout.count()) + " ms");
    return false;
  }

  EKValue grab(const EKFrameRequest& request, long long& frameNumber) {
    std::shared_ptr<const Published> frame;
    bool lend = false;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      noticeStall();
      failures_.throwOnceTo(request.subscriberId);
      if (target_.kind == EKCaptureKind::kV4L2Device &&
          (request.width != wantedWidth_ || request.height != wantedHeight_)) {
        wantedWidth_ = request.width;
        wantedHeight_ = request.height;
      }
      if (latest_ && latest_->lent) {
        // Whoever had it may have drawn on it: wait for a clean frame, as long as the camera
        // is not yet called stalled, and take a copy of the lent one only after that.
        const std::shared_ptr<const Published> spent = latest_;
        changed_.wait_for(lock, settings_.stallTimeout,
                          [&] { return latest_ != spent || stopping_ || failures_.failing(); });
      }
      frame = latest_;
      if (frame) {
        lend = !frame->lent && request.subscribers <= 1 &&
               request.colorSpace == kColorSpaceYUV422 && request.width == frame->raw.width &&
               request.height == frame->raw.height;
        frame->lent |= lend;
      }
    }
    if (!frame) {
      throwGrabFailure(EKStatus(EKCause::kUnavailable, "no frame captured yet"));
    }
    frameNumber = frame->number;
    if (lend) {
      return imageArray(request, frame->stamp, frame->raw.yuv,
                        static_cast<int>(frame->raw.bytes()));
    }
    return deliver(*frame, request);
  }

  long long waitForFrame(long long seen, std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, timeout, [&] { return framesCaptured_ > seen || stopping_; });
    return framesCaptured_;
  }

  EKCaptureStatus status() {
    std::lock_guard<std::mutex> lock(mutex_);
    noticeStall();
    EKCaptureStatus status;
    status.framesCaptured = framesCaptured_;
    failures_.describe(status);
    if (latest_) {
      status.deviceWidth = latest_->raw.width;
      status.deviceHeight = latest_->raw.height;
      status.lastStamp = latest_->stamp;
    }
    status.deviceFormat = format_;
    return status;
  }

  const EKCaptureTarget& target() const { return target_; }

  bool ends() const { return target_.kind == EKCaptureKind::kVideoFile && !settings_.loop; }

 private:
  // The picture @p request asks for, made from @p frame into a buffer of its own.
  EKValue deliver(const Published& frame, const EKFrameRequest& request) const {
    const int layers = getNumLayersInColorSpace(request.colorSpace);
    if (layers <= 0 || request.width <= 0 || request.height <= 0) {
      throwGrabFailure(EKStatus(EKCause::kUnsupported, "cannot make this picture format"));
    }
    const std::size_t count = static_cast<std::size_t>(request.width) * request.height;
    const std::size_t bytes = count * static_cast<std::size_t>(layers);
    std::shared_ptr<unsigned char> pixels = pool_.acquire(bytes);
    const bool sameSize = request.width == frame.raw.width && request.height == frame.raw.height;
    if (request.colorSpace == kColorSpaceYUV422) {
      if (sameSize) {
        std::memcpy(pixels.get(), frame.raw.yuv.get(), bytes);
      } else {
        scaleYuv(frame, request.width, request.height, pixels.get());
      }
    } else {
      std::shared_ptr<unsigned char> scaled;
      const unsigned char* source = frame.raw.yuv.get();
      if (!sameSize) {
        scaled = pool_.acquire(count * 2);
        scaleYuv(frame, request.width, request.height, scaled.get());
        source = scaled.get();
      }
      for (std::size_t i = 0; i < count; ++i) {
        std::memset(pixels.get() + i * static_cast<std::size_t>(layers), source[2 * i],
                    static_cast<std::size_t>(layers));
      }
    }
    return imageArray(request, frame.stamp, std::move(pixels), static_cast<int>(bytes));
  }

  EKValue imageArray(const EKFrameRequest& request, long long stamp,
                     std::shared_ptr<unsigned char> pixels, int bytes) const {
    return makeImageArray(request.width, request.height, request.colorSpace, stamp,
                          settings_.cameraId, settings_.leftAngle, settings_.topAngle,
                          settings_.rightAngle, settings_.bottomAngle, std::move(pixels), bytes);
  }

  // A running source that brought no frame for the stall timeout has failed. Called with
  // the lock held.
  void noticeStall() {
    if (failures_.failing() || latest_ == nullptr || stopping_) {
      return;
    }
    const auto quiet = SteadyClock::now() - lastArrival_;
    if (quiet > settings_.stallTimeout) {
      failures_.fail(EKStatus(
          EKCause::kUnavailable,
          std::string("no frame from the ") + toString(target_.kind) + " " + target_.location +
              " for " +
              std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(quiet).count()) +
              " ms (stalled)"));
    }
  }

  void fail(const EKStatus& cause) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      failures_.fail(cause);
    }
    changed_.notify_all();
  }

  // Sleeps until @p deadline (wall clock, microseconds); false when stopping.
  bool sleepUntil(long long deadline) {
    std::unique_lock<std::mutex> lock(mutex_);
    const long long wait = deadline - capture::wallMicroseconds();
    if (wait > 0) {
      changed_.wait_for(lock, std::chrono::microseconds(wait), [&] { return stopping_; });
    }
    return !stopping_;
  }

  void publish(std::shared_ptr<Published> frame, long long arrival) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      frame->stamp = clock_.stamp(arrival, frame->raw.ownMicroseconds);
      frame->number = ++framesCaptured_;
      // The frame before goes back to the pool once its last holder drops it.
      latest_ = std::move(frame);
      lastArrival_ = SteadyClock::now();
      failures_.recover();
      format_ = device_.format();
    }
    changed_.notify_all();
  }

  void captureLoop() {
    const auto sleeper = [this](long long deadline) { return sleepUntil(deadline); };
    int askedWidth = settings_.width;
    int askedHeight = settings_.height;
    bool ended = false;
    while (sleepUntil(0)) {
      if (ended) {
        waitForFrame(framesCaptured(), std::chrono::hours(1));  // until stopped
        continue;
      }
      try {
        if (!device_.isOpen()) {
          device_.open(askedWidth, askedHeight);
          clockReset();
        }
        if (takeWantedSize(askedWidth, askedHeight)) {
          // Outside the lock: a device may restart its stream for a new size.
          device_.askSize(askedWidth, askedHeight);
        }
        auto frame = std::make_shared<Published>(pool_);
        const capture::ReadResult result = device_.read(frame->raw, sleeper);
        const long long arrival = capture::wallMicroseconds();
        if (result == capture::ReadResult::kFrame) {
          publish(std::move(frame), arrival);
          continue;
        }
        if (result == capture::ReadResult::kStopped) {
          break;
        }
        if (target_.kind == EKCaptureKind::kVideoFile) {
          if (settings_.loop && framesCaptured() > 0) {
            device_.rewind();
            clockReset();
            continue;
          }
          fail(EKStatus(EKCause::kUnavailable, "end of the video file " + target_.location));
          ended = true;
          continue;
        }
        throw capture::CaptureFailure(EKCause::kUnavailable,
                                      std::string("the ") + toString(target_.kind) + " " +
                                          target_.location + " ended or failed");
      } catch (const capture::CaptureFailure& failure) {
        fail(EKStatus(failure.cause(), failure.what()));
      } catch (const std::exception& error) {
        fail(EKStatus(EKCause::kUnavailable, std::string("the ") + toString(target_.kind) + " " +
                                                 target_.location + " failed: " + error.what()));
      }
      device_.close();
      sleepUntil(
          capture::wallMicroseconds() +
          std::chrono::duration_cast<std::chrono::microseconds>(settings_.reopenInterval).count());
    }
    device_.close();
  }

  // Takes the size a subscriber asked for into @p width, @p height; true when it changed.
  bool takeWantedSize(int& width, int& height) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (wantedWidth_ == width && wantedHeight_ == height) {
      return false;
    }
    width = wantedWidth_;
    height = wantedHeight_;
    return true;
  }

  long long framesCaptured() {
    std::lock_guard<std::mutex> lock(mutex_);
    return framesCaptured_;
  }

  void clockReset() {
    std::lock_guard<std::mutex> lock(mutex_);
    clock_.reset();
  }

  const EKCaptureTarget target_;
  const EKCaptureSettings settings_;
  EKFramePool pool_;               // the source's frame buffers
  capture::CaptureDevice device_;  // the capture thread's alone

  std::mutex mutex_;  // guards everything below
  std::condition_variable changed_;
  bool stopping_ = false;
  bool finished_ = false;
  std::shared_ptr<const Published> latest_;
  SteadyClock::time_point lastArrival_;
  EKStampClock clock_;
  long long framesCaptured_ = 0;
  EKLiveFailures failures_;
  std::string format_;
  int wantedWidth_;
  int wantedHeight_;
  std::thread thread_;
};

EKCaptureSource::EKCaptureSource(const std::string& spec, const EKCaptureSettings& settings) {
  const std::optional<EKCaptureTarget> target = parseCaptureSpec(spec);
  if (!target) {
    throw EKFailure("EKCaptureSource", "open",
                    EKStatus(EKCause::kNotFound, "no camera named: '" + spec + "'"), __FILE__,
                    __LINE__);
  }
  impl_ = std::make_shared<Impl>(*target, settings, framePool());
  impl_->start();
  EKStatus cause;
  if (!impl_->waitUntilOpen(cause)) {
    impl_->stop();
    throw EKFailure("EKCaptureSource", "open", cause, __FILE__, __LINE__);
  }
}

EKCaptureSource::~EKCaptureSource() {
  impl_->stop();
}

EKValue EKCaptureSource::grab(const EKFrameRequest& request) {
  long long frameNumber = 0;
  return impl_->grab(request, frameNumber);
}

EKValue EKCaptureSource::grabNumbered(const EKFrameRequest& request, long long& frameNumber) {
  return impl_->grab(request, frameNumber);
}

long long EKCaptureSource::waitForFrame(long long seen, std::chrono::milliseconds timeout) const {
  return impl_->waitForFrame(seen, timeout);
}

EKCaptureStatus EKCaptureSource::status() const {
  return impl_->status();
}

bool EKCaptureSource::ends() const {
  return impl_->ends();
}

const EKCaptureTarget& EKCaptureSource::target() const {
  return impl_->target();
}

}  // namespace EK
