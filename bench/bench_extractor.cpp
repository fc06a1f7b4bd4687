// The vision extractor's processing loop: CPU cost per frame beside a plain copy of the
// frame, pacing at 15 and 30 frames per second, and CPU used while paused.
#include <benchmark/benchmark.h>

#include <pthread.h>
#include <sys/resource.h>
#include <time.h>

#include <cerrno>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include <ekcommon/ekbroker.h>
#include <ekproxies/ekvideodeviceproxy.h>
#include <ekvideodevice/ekframesource.h>
#include <ekvideodevice/ekscriptedsource.h>
#include <ekvideodevice/eksyntheticsource.h>
#include <ekvideodevice/ekvideodevice.h>
#include <ekvision/ekimage.h>
#include <ekvision/ekimagevalue.h>
#include <ekvision/ekvisionextractor.h>
#include <ru/log.h>

#include "peers.h"

namespace {

// CPU time the calling thread has spent inside nanosleep, added up by the interposer below.
thread_local double sleepingCpuSeconds = 0.0;

double cpuSeconds(clockid_t clock) {
  timespec now;
  clock_gettime(clock, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

double threadCpuSeconds() {
  return cpuSeconds(CLOCK_THREAD_CPUTIME_ID);
}

}  // namespace

// The extractor paces its loop with nanosleep, through the framework's msleep. This
// definition takes the place of the C library's in the whole process, so that each thread
// knows the CPU time its sleeps cost it: the loop's own work per frame is its CPU time less
// that of its pacing sleep, both measured on the same thread over the same frames.
extern "C" __attribute__((visibility("default"))) int nanosleep(const timespec* request,
                                                                timespec* remaining) {
  const double before = threadCpuSeconds();
  const int error = clock_nanosleep(CLOCK_REALTIME, 0, request, remaining);
  sleepingCpuSeconds += threadCpuSeconds() - before;
  if (error != 0) {
    errno = error;
    return -1;
  }
  return 0;
}

namespace {

using benchsupport::percentile;
using Clock = std::chrono::steady_clock;

const int kWidth = 640;
const int kHeight = 480;
const int kFrameBytes = kWidth * kHeight * 2;
const int kYuv422 = 9;
const int kVga = 2;

double processCpuSeconds() {
  rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

/// Records, on the loop thread, when each frame arrived and the thread's CPU time then.
class BenchExtractor : public EK::EKVisionExtractor {
 public:
  BenchExtractor(boost::shared_ptr<EK::EKBroker> broker, const std::string& name, int frameRate)
      : EKVisionExtractor(std::move(broker), name, kVga, kYuv422, frameRate) {}

  void onStartDetection() override {}
  void onStopDetection() override {}
  void processImage(EK::EKImage* image) override {
    benchmark::DoNotOptimize(image->frame[image->width * image->height]);
    const Clock::time_point now = Clock::now();
    const double cpu = threadCpuSeconds();
    const double sleeping = sleepingCpuSeconds;
    std::lock_guard<std::mutex> lock(mutex_);
    if (arrivals_.empty()) {
      pthread_getcpuclockid(pthread_self(), &loopClock_);
    }
    arrivals_.push_back(now);
    loopCpu_.push_back(cpu);
    loopSleepingCpu_.push_back(sleeping);
    // Waking the waiting thread costs the loop a system call and the host an interrupt, so
    // it is woken once, when its count is reached, not for every frame it measures.
    if (arrivals_.size() == awaited_) {
      changed_.notify_all();
    }
  }

  /// Waits for @p count frames in all; false after 60 s.
  bool waitFrames(std::size_t count) {
    std::unique_lock<std::mutex> lock(mutex_);
    awaited_ = count;
    return changed_.wait_for(lock, std::chrono::seconds(60),
                             [&] { return arrivals_.size() >= count; });
  }
  std::vector<Clock::time_point> arrivals() {
    std::lock_guard<std::mutex> lock(mutex_);
    return arrivals_;
  }
  std::vector<double> loopCpu() {
    std::lock_guard<std::mutex> lock(mutex_);
    return loopCpu_;
  }
  /// The loop thread's CPU time inside its sleeps so far, at each frame's arrival.
  std::vector<double> loopSleepingCpu() {
    std::lock_guard<std::mutex> lock(mutex_);
    return loopSleepingCpu_;
  }
  clockid_t loopClock() {
    std::lock_guard<std::mutex> lock(mutex_);
    return loopClock_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Clock::time_point> arrivals_;
  std::vector<double> loopCpu_;
  std::vector<double> loopSleepingCpu_;
  std::size_t awaited_ = 0;
  clockid_t loopClock_{};
};

/// A broker, a camera with the given source and a vision module at @p frameRate.
struct Rig {
  Rig(std::shared_ptr<EK::EKFrameSource> source, int frameRate)
      : camera(EK::createModule<EK::EKVideoDevice>(broker, std::move(source))),
        extractor(EK::createModule<BenchExtractor>(broker, "Bench", frameRate)) {}
  ~Rig() {
    extractor->unsubscribe("bench");
    broker->joinTasks();
  }
  void start() { extractor->subscribe("bench", 30, 0.0f); }

  boost::shared_ptr<EK::EKBroker> broker{new EK::EKBroker};
  boost::shared_ptr<EK::EKVideoDevice> camera;
  boost::shared_ptr<BenchExtractor> extractor;
};

void BM_Memcpy_Frame(benchmark::State& state) {
  std::vector<unsigned char> source(kFrameBytes, 7);
  std::vector<unsigned char> destination(kFrameBytes);
  for (auto _ : state) {
    std::memcpy(destination.data(), source.data(), kFrameBytes);
    benchmark::DoNotOptimize(destination.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * kFrameBytes);
}
BENCHMARK(BM_Memcpy_Frame);

// The camera alone: one fetch through the proxy (the scripted source copies its pattern
// into a pooled pixel block) and its release, on the calling thread.
void BM_CameraFetch_Frame(benchmark::State& state) {
  boost::shared_ptr<EK::EKBroker> broker(new EK::EKBroker);
  auto camera =
      EK::createModule<EK::EKVideoDevice>(broker, std::make_shared<EK::EKScriptedSource>());
  EK::EKVideoDeviceProxy proxy(broker);
  const std::string id = proxy.subscribe("bench", kVga, kYuv422, 120);
  for (auto _ : state) {
    EK::EKValue image = proxy.getImageRemote(id);
    benchmark::DoNotOptimize(image[EK::kImageArrayPixels].GetBinary());
    proxy.releaseImage(id);
  }
  state.SetBytesProcessed(state.iterations() * kFrameBytes);
}
BENCHMARK(BM_CameraFetch_Frame);

/// Lends frames painted ahead of the request, as the live camera lends the buffer its capture
/// thread filled: fetching one costs the loop no painting. The frame pool gives a buffer again
/// only once nobody holds it; only a buffer it has just allocated needs painting.
class PaintedAheadSource : public EK::EKFrameSource {
 public:
  EK::EKValue grab(const EK::EKFrameRequest& request) override {
    const std::size_t allocated = framePool().stats().allocated;
    std::shared_ptr<unsigned char> frame = takeFrameBuffer(kFrameBytes);
    if (framePool().stats().allocated != allocated) {
      std::memset(frame.get(), 0x80, kFrameBytes);
    }
    return EK::makeImageValue(request.width, request.height, request.colorSpace, request.timeStamp,
                              request.cameraId, std::move(frame));
  }
};

std::shared_ptr<EK::EKFrameSource> scriptedCamera() {
  return std::make_shared<EK::EKScriptedSource>();
}
std::shared_ptr<EK::EKFrameSource> paintedAheadCamera() {
  return std::make_shared<PaintedAheadSource>();
}

// CPU time the loop thread spends on one frame: fetch, wrap without copying, hook, release
// and delete (its work), and the pacing sleep, at 120 frames per second. The sleep's cost is
// the host's: it is measured on the loop thread itself and reported apart. With the scripted
// camera the fetch also paints the frame, a write of all its bytes, on the loop's thread; with
// frames painted ahead (the live camera's case: its capture thread fills the buffer it lends)
// the work is the loop's own. Medians of fifteen runs of 240 frames: a single run moves with the
// host's scheduling by tens of microseconds.
void BM_ExtractorLoop_CpuPerFrame(benchmark::State& state,
                                  std::shared_ptr<EK::EKFrameSource> (*camera)()) {
  const std::size_t kWarmUp = 10;
  const std::size_t kFrames = 240;
  std::vector<double> totals;
  std::vector<double> sleeps;
  std::vector<double> works;
  for (auto _ : state) {
    Rig rig(camera(), 120);
    rig.start();
    if (!rig.extractor->waitFrames(kWarmUp + kFrames)) {
      state.SkipWithError("the loop stopped delivering frames");
      return;
    }
    const std::vector<double> cpu = rig.extractor->loopCpu();
    const std::vector<double> sleeping = rig.extractor->loopSleepingCpu();
    const std::size_t first = kWarmUp - 1;
    const std::size_t last = kWarmUp + kFrames - 1;
    const double total = (cpu[last] - cpu[first]) / static_cast<double>(kFrames);
    const double sleep = (sleeping[last] - sleeping[first]) / static_cast<double>(kFrames);
    if (sleep <= 0.0) {
      state.SkipWithError("the loop's pacing sleep went unseen: its work would include it");
      return;
    }
    totals.push_back(total);
    sleeps.push_back(sleep);
    works.push_back(total - sleep);
    state.SetIterationTime(total);
  }
  const double copy = benchsupport::frameMemcpySeconds(kFrameBytes);
  const double total = percentile(totals, 0.5);
  const double work = percentile(works, 0.5);
  state.counters["cpu_us_per_frame"] = total * 1e6;
  state.counters["sleep_us_per_frame"] = percentile(sleeps, 0.5) * 1e6;
  state.counters["work_us_per_frame"] = work * 1e6;
  state.counters["memcpy_us"] = copy * 1e6;
  state.counters["ratio_to_memcpy"] = total / copy;
  state.counters["work_ratio_to_memcpy"] = work / copy;
}
BENCHMARK_CAPTURE(BM_ExtractorLoop_CpuPerFrame, scripted, scriptedCamera)
    ->Iterations(15)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_ExtractorLoop_CpuPerFrame, painted_ahead, paintedAheadCamera)
    ->Iterations(15)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);

// Achieved period against the requested one over 300 frames of the synthetic scene.
void BM_ExtractorLoop_Pacing(benchmark::State& state) {
  const int frameRate = static_cast<int>(state.range(0));
  const std::size_t kFrames = 300;
  const double requestedMs = 1000.0 / frameRate;
  double meanMs = 0.0;
  double p99DeviationMs = 0.0;
  double maxDeviationMs = 0.0;
  for (auto _ : state) {
    Rig rig(std::make_shared<EK::EKSyntheticSource>(), frameRate);
    rig.start();
    if (!rig.extractor->waitFrames(kFrames + 1)) {
      state.SkipWithError("the loop stopped delivering frames");
      return;
    }
    const std::vector<Clock::time_point> arrivals = rig.extractor->arrivals();
    std::vector<double> deviations;
    double total = 0.0;
    for (std::size_t i = 1; i <= kFrames; ++i) {
      const double period =
          std::chrono::duration<double, std::milli>(arrivals[i] - arrivals[i - 1]).count();
      total += period;
      deviations.push_back(std::fabs(period - requestedMs));
    }
    std::sort(deviations.begin(), deviations.end());
    meanMs = total / kFrames;
    p99DeviationMs = deviations[static_cast<std::size_t>(0.99 * (kFrames - 1))];
    maxDeviationMs = deviations.back();
    state.SetIterationTime(meanMs / 1000.0);
  }
  state.counters["requested_ms"] = requestedMs;
  state.counters["mean_ms"] = meanMs;
  state.counters["mean_over_requested"] = meanMs / requestedMs;
  state.counters["p99_dev_ms"] = p99DeviationMs;
  state.counters["max_dev_ms"] = maxDeviationMs;
}
BENCHMARK(BM_ExtractorLoop_Pacing)
    ->Arg(15)
    ->Arg(30)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// CPU used during one second of pause: the loop waits on a condition, it does not spin.
void BM_ExtractorLoop_PausedCpu(benchmark::State& state) {
  double loopMicros = 0.0;
  double processMicros = 0.0;
  for (auto _ : state) {
    Rig rig(std::make_shared<EK::EKScriptedSource>(), 30);
    rig.start();
    rig.extractor->pause(true);
    // The iteration under way ends within a period; then the loop sits in its pause wait.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const clockid_t loop = rig.extractor->loopClock();
    const double loopBefore = cpuSeconds(loop);
    const double processBefore = processCpuSeconds();
    std::this_thread::sleep_for(std::chrono::seconds(1));
    loopMicros = (cpuSeconds(loop) - loopBefore) * 1e6;
    processMicros = (processCpuSeconds() - processBefore) * 1e6;
    state.SetIterationTime(1.0);
    rig.extractor->pause(false);
  }
  state.counters["loop_cpu_us_per_s"] = loopMicros;
  state.counters["process_cpu_us_per_s"] = processMicros;
}
BENCHMARK(BM_ExtractorLoop_PausedCpu)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  ru::log::setVerbosity(2);  // pause notices (level 4) would flood the report
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
    return 1;
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
