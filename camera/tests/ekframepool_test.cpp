// The camera's frame pool: a buffer is in one holder's hands at a time, comes back when
// its last holder drops it, and is used again.
#include <ekvideodevice/ekframepool.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include <ekcommon/ekbroker.h>
#include <ekproxies/ekvideodeviceproxy.h>
#include <ekvideodevice/eksyntheticsource.h>
#include <ekvideodevice/ekvideodevice.h>
#include <ekvision/ekimagevalue.h>
#include <ekvision/ekvisiondefinitions.h>

namespace {

using EK::EKFramePool;

TEST(FramePool, BuffersAreHeldByOneAtATimeAndReusedOnceDropped) {
  EKFramePool pool(2);
  std::shared_ptr<unsigned char> a = pool.acquire(1000);
  std::shared_ptr<unsigned char> b = pool.acquire(1000);
  ASSERT_NE(a.get(), b.get());
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(a.get()) % 64, 0u) << "aligned for SIMD";
  EXPECT_TRUE(pool.isHandedOut(a.get()));
  EXPECT_FALSE(pool.isHandedOut(a.get() + 1)) << "only a buffer's first byte names it";

  unsigned char* const first = a.get();
  std::shared_ptr<unsigned char> share = a;
  a.reset();
  EXPECT_NE(pool.acquire(1000).get(), first) << "still shared: not handed out again";
  share.reset();
  EXPECT_FALSE(pool.isHandedOut(first));
  EXPECT_EQ(pool.stats().idle, 2u) << "the dropped one and the one just made and dropped";
  std::shared_ptr<unsigned char> again = pool.acquire(1000);
  EXPECT_EQ(pool.stats().reused, 1u);
  EXPECT_EQ(pool.stats().allocated, 3u);
  EXPECT_EQ(pool.stats().out, 2u);

  // A larger picture needs a new buffer; the smallest that fits is taken.
  std::shared_ptr<unsigned char> big = pool.acquire(5000);
  EXPECT_EQ(pool.stats().allocated, 4u);
  big.reset();
  std::shared_ptr<unsigned char> small = pool.acquire(10);
  EXPECT_NE(small.get(), nullptr);
  EXPECT_EQ(pool.stats().idle, 1u);
  EXPECT_TRUE(pool.acquire(4000) != nullptr);
  EXPECT_EQ(pool.stats().allocated, 4u) << "the idle 5000-byte buffer fits 4000";
}

TEST(FramePool, KeepsFewIdleAndOutlivesItsHandles) {
  std::vector<std::shared_ptr<unsigned char>> out;
  {
    EKFramePool pool(1);
    for (int i = 0; i < 4; ++i) {
      out.push_back(pool.acquire(64));
    }
    out.pop_back();
    out.pop_back();
    EXPECT_EQ(pool.stats().idle, 1u) << "the second dropped is freed";
    EKFramePool handle = pool;
    EXPECT_EQ(handle.stats().out, 2u) << "a copy is a handle to the same pool";
  }
  // The pool's handles are gone; the buffers still out stay valid and are freed when
  // dropped (the sanitizer lanes see any leak or use after free).
  out[0].get()[63] = 1;
  out.clear();
}

// Two subscribers grabbing at once from the camera module: a buffer is never in both hands.
TEST(FramePoolThreads, TheCameraNeverHandsOneBufferToTwoSubscribersAtOnce) {
  boost::shared_ptr<EK::EKBroker> broker(new EK::EKBroker);
  auto source = std::make_shared<EK::EKSyntheticSource>();
  auto device = EK::createModule<EK::EKVideoDevice>(broker, source);
  std::mutex mutex;
  std::set<const void*> held;
  std::atomic<int> clashes{0};
  auto subscriber = [&](const char* name) {
    EK::EKVideoDeviceProxy proxy(broker);
    const std::string id =
        proxy.subscribe(name, EK::kResolution320x240, EK::kColorSpaceYUV422, 120);
    for (int i = 0; i < 300; ++i) {
      const EK::EKValue image = proxy.getImageRemote(id);
      const void* pixels = image[EK::kImageArrayPixels].GetBinary();
      {
        std::lock_guard<std::mutex> lock(mutex);
        clashes += held.insert(pixels).second ? 0 : 1;
      }
      std::this_thread::yield();
      {
        std::lock_guard<std::mutex> lock(mutex);
        held.erase(pixels);
      }
      proxy.releaseImage(id);
    }
    proxy.unsubscribe(id);
  };
  std::thread first(subscriber, "first");
  std::thread second(subscriber, "second");
  first.join();
  second.join();
  EXPECT_EQ(clashes, 0);
  const EKFramePool::Stats stats = source->framePool().stats();
  EXPECT_GT(stats.reused, 500u) << "600 pictures from a handful of buffers";
  EXPECT_LE(stats.allocated, 8u);
  EXPECT_EQ(stats.out, 0u) << "every buffer came back";
}

}  // namespace
