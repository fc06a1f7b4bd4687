// One frame, one buffer: a live frame reaches a vision module's processImage in the buffer
// the capture thread packed it into, and a buffer is only ever in one subscriber's hands.
#include <ekvideodevice/ekcapturesource.h>

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <ekcommon/ekbroker.h>
#include <ekproxies/ekvideodeviceproxy.h>
#include <ekvideodevice/ekvideodevice.h>
#include <ekvision/ekimage.h>
#include <ekvision/ekimagevalue.h>
#include <ekvision/ekvisionextractor.h>

namespace {

using std::chrono::milliseconds;

const int kLentWidth = 320;
const int kLentHeight = 240;
const int kLentRedLuma = 81;  // red in BT.601, as videotestsrc draws it

std::string lendingPipeline(int frameRate) {
  return "gst:videotestsrc is-live=true pattern=red ! video/x-raw,format=YUY2,width=" +
         std::to_string(kLentWidth) + ",height=" + std::to_string(kLentHeight) +
         ",framerate=" + std::to_string(frameRate) + "/1";
}

const unsigned char* pixelAddress(const EK::EKValue& image) {
  return static_cast<const unsigned char*>(image[EK::kImageArrayPixels].GetBinary());
}

// Notes, for each frame, where its pixels were and what the source's pool knew of them.
class WatchingExtractor : public EK::EKVisionExtractor {
 public:
  WatchingExtractor(boost::shared_ptr<EK::EKBroker> broker, const EK::EKFramePool& pool)
      : EKVisionExtractor(std::move(broker), "Watcher", EK::kResolution320x240,
                          EK::kColorSpaceYUV422, 30),
        pool_(pool) {}

  struct Seen {
    const unsigned char* pixels;
    bool fromPool;
    unsigned char luma;
  };

  void onStartDetection() override {}
  void onStopDetection() override {}
  void processImage(EK::EKImage* image) override {
    const Seen seen{image->frame, pool_.isHandedOut(image->frame), image->frame[0]};
    // A module may draw on its picture: the next subscriber must not see it.
    image->frame[0] = 0;
    std::lock_guard<std::mutex> lock(mutex_);
    seen_.push_back(seen);
    changed_.notify_all();
  }

  std::vector<Seen> waitFor(std::size_t count) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, std::chrono::seconds(10), [&] { return seen_.size() >= count; });
    return seen_;
  }

 private:
  const EK::EKFramePool& pool_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Seen> seen_;
};

TEST(CaptureZeroCopy, AModuleSeesTheCaptureBufferItselfAndGivesItBack) {
  auto source = std::make_shared<EK::EKCaptureSource>(lendingPipeline(30), EK::EKCaptureSettings());
  boost::shared_ptr<EK::EKBroker> broker(new EK::EKBroker);
  auto device = EK::createModule<EK::EKVideoDevice>(broker, source);
  auto module = EK::createModule<WatchingExtractor>(broker, source->framePool());
  const EK::EKFramePool::Stats before = source->framePool().stats();
  const long long capturedBefore = source->status().framesCaptured;
  module->subscribe("test", 30, 0.0f);
  const std::vector<WatchingExtractor::Seen> seen = module->waitFor(12);
  module->unsubscribe("test");
  broker->joinTasks();
  ASSERT_GE(seen.size(), 12u);

  const EK::EKFramePool::Stats after = source->framePool().stats();
  const long long captured = source->status().framesCaptured - capturedBefore;
  // Every buffer the pool gave was for a frame the camera packed (one more may be filling):
  // none was taken to copy a frame for the module.
  const std::size_t given = after.allocated + after.reused - before.allocated - before.reused;
  EXPECT_LE(given, static_cast<std::size_t>(captured) + 1);
  for (const WatchingExtractor::Seen& frame : seen) {
    EXPECT_TRUE(frame.fromPool) << "the module's pixels are a buffer of the capture pool";
    EXPECT_EQ(frame.luma, kLentRedLuma) << "a clean frame, never one the module drew on";
  }
  // Once the module is done, its buffers are back: at most the newest frame is still out.
  EXPECT_LE(after.out, 2u);
  EXPECT_GT(after.reused, before.reused) << "buffers come back and are used again";
}

TEST(CaptureZeroCopy, TwoSubscribersNeverHoldTheSameBufferNorSeeTheOthersDrawing) {
  // Five frames a second: a second request comes long before the camera's next frame.
  auto source = std::make_shared<EK::EKCaptureSource>(lendingPipeline(5), EK::EKCaptureSettings());
  boost::shared_ptr<EK::EKBroker> broker(new EK::EKBroker);
  auto device = EK::createModule<EK::EKVideoDevice>(broker, source);
  EK::EKVideoDeviceProxy proxy(broker);
  const std::string first =
      proxy.subscribe("first", EK::kResolution320x240, EK::kColorSpaceYUV422, 30);

  // Alone, the subscriber is lent the capture buffer, and draws on it.
  EK::EKValue lent = proxy.getImageRemote(first);
  ASSERT_TRUE(source->framePool().isHandedOut(pixelAddress(lent)));
  const_cast<unsigned char*>(pixelAddress(lent))[0] = 0;
  // Asked again before the camera's next frame, it waits for that frame rather than get
  // the one it drew on.
  const EK::EKValue next = proxy.getImageRemote(first);
  EXPECT_NE(pixelAddress(next), pixelAddress(lent));
  EXPECT_EQ(pixelAddress(next)[0], kLentRedLuma);
  EXPECT_GT(EK::imageArrayTimeStamp(next), EK::imageArrayTimeStamp(lent));

  // A second subscriber arrives while the first still holds its frame: it gets a clean
  // picture in a buffer of its own, and so does the first from then on.
  const std::string second =
      proxy.subscribe("second", EK::kResolution320x240, EK::kColorSpaceYUV422, 30);
  for (int round = 0; round < 4; ++round) {
    source->waitForFrame(source->status().framesCaptured, milliseconds(2000));
    const EK::EKValue a = proxy.getImageRemote(second);
    const EK::EKValue b = proxy.getImageRemote(first);
    ASSERT_NE(pixelAddress(a), pixelAddress(lent));
    ASSERT_NE(pixelAddress(a), pixelAddress(b));
    ASSERT_NE(pixelAddress(b), pixelAddress(lent));
    ASSERT_NE(pixelAddress(b), pixelAddress(next));
    EXPECT_EQ(EK::imageArrayTimeStamp(a), EK::imageArrayTimeStamp(b))
        << "both get the newest frame, without waiting for the next";
    EXPECT_EQ(pixelAddress(a)[0], kLentRedLuma) << "round " << round;
    EXPECT_EQ(pixelAddress(b)[0], kLentRedLuma) << "round " << round;
    const_cast<unsigned char*>(pixelAddress(a))[0] = 1;
    proxy.releaseImage(second);
    proxy.releaseImage(first);
  }
  // Alone again, the last one is lent frames again.
  proxy.unsubscribe(second);
  source->waitForFrame(source->status().framesCaptured, milliseconds(2000));
  const EK::EKValue alone = proxy.getImageRemote(first);
  EXPECT_EQ(pixelAddress(alone)[0], kLentRedLuma);
  const EK::EKFramePool::Stats before = source->framePool().stats();
  const EK::EKValue again = proxy.getImageRemote(first);
  EXPECT_EQ(pixelAddress(again)[0], kLentRedLuma) << "a frame lent before is not lent twice";
  EXPECT_NE(pixelAddress(again), pixelAddress(alone));
  EXPECT_GE(source->framePool().stats().out, before.out) << "both still held";
}

}  // namespace
