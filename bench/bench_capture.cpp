// The capture source on a live GStreamer pipeline (640x480 YUY2, 30 frames/s): latency from
// a frame's stamp to the module's processImage, the module loop's CPU per frame beside a
// memcpy of the frame, and CPU per frame of the capture path beside a plain
// cv::VideoCapture read loop on the same pipeline.
#include <benchmark/benchmark.h>

#include <pthread.h>
#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <opencv2/core/utils/logger.hpp>
#include <opencv2/videoio.hpp>

#include <ekcommon/ekbroker.h>
#include <ekproxies/ekvideodeviceproxy.h>
#include <ekvideodevice/ekcapturesource.h>
#include <ekvideodevice/ekvideodevice.h>
#include <ekvision/ekimage.h>
#include <ekvision/ekimagevalue.h>
#include <ekvision/ekvisionextractor.h>

#include "peers.h"

namespace {

using benchsupport::percentile;

const char kPipeline[] =
    "videotestsrc is-live=true ! video/x-raw,format=YUY2,width=640,height=480,framerate=30/1";

long long wallMicroseconds() {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

double processCpuSeconds() {
  rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

double threadCpuSeconds() {
  timespec now;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// Notes, for each frame the first time the module sees it, how old its stamp is and the
// CPU time its loop thread had used by then.
class LatencyModule : public EK::EKVisionExtractor {
 public:
  LatencyModule(boost::shared_ptr<EK::EKBroker> broker, int frameRate)
      : EKVisionExtractor(std::move(broker), "Latency", EK::kResolution640x480,
                          EK::kColorSpaceYUV422, frameRate) {}
  void onStartDetection() override {}
  void onStopDetection() override {}
  void processImage(EK::EKImage* image) override {
    const long long now = wallMicroseconds();
    benchmark::DoNotOptimize(image->frame[image->width * image->height]);
    std::lock_guard<std::mutex> lock(mutex_);
    if (seen_.insert(image->timeStamp).second) {
      latencies_.push_back(static_cast<double>(now - image->timeStamp) / 1000.0);
      loopCpu_.push_back(threadCpuSeconds());
      changed_.notify_all();
    }
  }
  bool waitForFrames(std::size_t count) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(60),
                             [&] { return latencies_.size() >= count; });
  }
  std::vector<double> latencies() {
    std::lock_guard<std::mutex> lock(mutex_);
    return latencies_;
  }
  std::vector<double> loopCpu() {
    std::lock_guard<std::mutex> lock(mutex_);
    return loopCpu_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::set<long long> seen_;
  std::vector<double> latencies_;
  std::vector<double> loopCpu_;
};

// Latency from a frame's stamp to processImage, p50 and p99 over 150 frames, with the
// module's loop at the argument's rate (30: the camera's; 120: polling faster than it), and
// the loop thread's CPU per frame: fetch, wrap, hook, release and pacing, with the frame
// lent from the capture buffer.
void BM_Capture_HookLatency(benchmark::State& state) {
  const int loopRate = static_cast<int>(state.range(0));
  const std::size_t kFrames = 150;
  std::vector<double> latencies;
  double loopCpu = 0;
  for (auto _ : state) {
    boost::shared_ptr<EK::EKBroker> broker(new EK::EKBroker);
    auto source = std::make_shared<EK::EKCaptureSource>(std::string("gst:") + kPipeline);
    auto camera = EK::createModule<EK::EKVideoDevice>(broker, source);
    auto module = EK::createModule<LatencyModule>(broker, loopRate);
    module->subscribe("bench", 1000 / loopRate, 0.0f);
    const bool complete = module->waitForFrames(kFrames + 10);
    module->unsubscribe("bench");
    broker->joinTasks();
    if (!complete) {
      state.SkipWithError("the module stopped getting frames");
      return;
    }
    const std::vector<double> all = module->latencies();
    latencies.assign(all.begin() + 10, all.end());  // the first frames warm up
    const std::vector<double> cpu = module->loopCpu();
    loopCpu = (cpu.back() - cpu[9]) / static_cast<double>(cpu.size() - 10);
    state.SetIterationTime(percentile(latencies, 0.5) / 1000.0);
  }
  state.counters["p50_ms"] = percentile(latencies, 0.5);
  state.counters["p99_ms"] = percentile(latencies, 0.99);
  const double copy = benchsupport::frameMemcpySeconds(640 * 480 * 2);
  state.counters["loop_cpu_us"] = loopCpu * 1e6;
  state.counters["memcpy_us"] = copy * 1e6;
  state.counters["loop_ratio_to_memcpy"] = loopCpu / copy;
  // The loop sleeps in its pacing and, when it asks before the camera's next frame, once
  // more until that frame comes: the host's cost of a sleep is measured beside it.
  const double sleep = benchsupport::pacedSleepCpuSeconds(std::chrono::microseconds(1000000 / 30));
  state.counters["sleep_us"] = sleep * 1e6;
  state.counters["work_ratio_to_memcpy"] = (loopCpu - 2 * sleep) / copy;
}
BENCHMARK(BM_Capture_HookLatency)->Arg(30)->Arg(120)->Iterations(1)->UseManualTime();

// Process CPU per frame over @p frames frames of a plain read loop.
double plainLoopCpu(int frames) {
  cv::VideoCapture capture(std::string(kPipeline) + " ! appsink", cv::CAP_GSTREAMER);
  capture.set(cv::CAP_PROP_CONVERT_RGB, 0);
  cv::Mat frame;
  for (int i = 0; i < 10; ++i) {
    capture.read(frame);
  }
  const double start = processCpuSeconds();
  for (int i = 0; i < frames; ++i) {
    capture.read(frame);
    benchmark::DoNotOptimize(frame.data);
  }
  return (processCpuSeconds() - start) / frames;
}

// Process CPU per frame of the capture source over @p frames frames: its thread alone, or
// with one subscriber that takes every frame through the camera module on a thread of its
// own, as a vision module's loop does (lent the capture buffer itself, no copy).
// On the main thread glibc would give each frame's block back to the kernel when it is
// freed (a brk down and up a frame, 150 page faults), which a module's thread does not see.
double captureSourceCpu(int frames, bool subscribed) {
  boost::shared_ptr<EK::EKBroker> broker(new EK::EKBroker);
  auto source = std::make_shared<EK::EKCaptureSource>(std::string("gst:") + kPipeline);
  auto camera = EK::createModule<EK::EKVideoDevice>(broker, source);
  double perFrame = 0;
  std::thread subscriber([&] {
    EK::EKVideoDeviceProxy proxy(broker);
    const std::string id =
        proxy.subscribe("bench", EK::kResolution640x480, EK::kColorSpaceYUV422, 30);
    long long seen = 0;
    for (int i = 0; i < 10; ++i) {
      seen = source->waitForFrame(seen, std::chrono::seconds(5));
    }
    const double start = processCpuSeconds();
    for (int i = 0; i < frames; ++i) {
      seen = source->waitForFrame(seen, std::chrono::seconds(5));
      if (subscribed) {
        EK::EKValue image = proxy.getImageRemote(id);
        benchmark::DoNotOptimize(image[EK::kImageArrayPixels].GetBinary());
        proxy.releaseImage(id);
      }
    }
    perFrame = (processCpuSeconds() - start) / frames;
  });
  subscriber.join();
  return perFrame;
}

// The three in one run, so that the ratios compare like with like on a shared machine, in
// three alternating rounds: one round's figures move by a tenth with the host's other load,
// so each is the median of its three.
void BM_Capture_CpuPerFrame(benchmark::State& state) {
  const int frames = static_cast<int>(state.range(0));
  const int kRounds = 3;
  std::vector<double> plain;
  std::vector<double> alone;
  std::vector<double> subscribed;
  for (auto _ : state) {
    for (int round = 0; round < kRounds; ++round) {
      plain.push_back(plainLoopCpu(frames));
      alone.push_back(captureSourceCpu(frames, false));
      subscribed.push_back(captureSourceCpu(frames, true));
    }
    state.SetIterationTime(percentile(subscribed, 0.5));
  }
  const double plainMedian = percentile(plain, 0.5);
  const double aloneMedian = percentile(alone, 0.5);
  const double subscribedMedian = percentile(subscribed, 0.5);
  state.counters["plain_read_us"] = plainMedian * 1e6;
  state.counters["source_us"] = aloneMedian * 1e6;
  state.counters["source_ratio"] = aloneMedian / plainMedian;
  state.counters["subscribed_us"] = subscribedMedian * 1e6;
  state.counters["subscribed_ratio"] = subscribedMedian / plainMedian;
}
BENCHMARK(BM_Capture_CpuPerFrame)->Arg(150)->Iterations(1)->UseManualTime();

}  // namespace

int main(int argc, char** argv) {
  cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_ERROR);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
