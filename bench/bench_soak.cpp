// Soak run: the example motion detector on the synthetic camera at 30 frames per second for
// a long time (EKVISION_SOAK_SECONDS, default 600), while another thread pauses and resumes
// it and calls its setters and getters every second. It reports the frames processed, the
// pacing (mean period and 99th percentile of its deviation, intervals across a pause left
// out) and the resident memory at the start and at the end, which must not grow.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include <ekcommon/ekbroker.h>
#include <ekvideodevice/eksyntheticsource.h>
#include <ekvideodevice/ekvideodevice.h>
#include <ru/log.h>

#include "motiondetectormodule.h"

namespace {

using Clock = std::chrono::steady_clock;

const int kFrameRate = 30;

int soakSeconds() {
  const char* text = std::getenv("EKVISION_SOAK_SECONDS");
  const int seconds = text != nullptr ? std::atoi(text) : 600;
  return seconds > 0 ? seconds : 600;
}

double residentMegabytes() {
  std::ifstream statm("/proc/self/statm");
  long pages = 0;
  long resident = 0;
  statm >> pages >> resident;
  return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / 1048576.0;
}

/// The example module, noting when each frame reached it.
class TimedDetector : public ekmotion::MotionDetectorModule {
 public:
  TimedDetector(boost::shared_ptr<EK::EKBroker> broker, std::size_t capacity)
      : MotionDetectorModule(std::move(broker), "SoakDetector", EK::kResolution640x480,
                             kFrameRate) {
    arrivals_.reserve(capacity);
  }
  void processImage(EK::EKImage* image) override {
    MotionDetectorModule::processImage(image);
    std::lock_guard<std::mutex> lock(mutex_);
    if (arrivals_.size() < arrivals_.capacity()) {
      arrivals_.push_back(Clock::now());
    }
  }
  std::vector<Clock::time_point> arrivals() {
    std::lock_guard<std::mutex> lock(mutex_);
    return arrivals_;
  }

 private:
  std::mutex mutex_;
  std::vector<Clock::time_point> arrivals_;
};

void BM_Soak_MotionDetector30fps(benchmark::State& state) {
  ru::log::setVerbosity(1);  // the pause notices would flood the output
  const int seconds = soakSeconds();
  for (auto _ : state) {
    boost::shared_ptr<EK::EKBroker> broker(new EK::EKBroker);
    auto camera =
        EK::createModule<EK::EKVideoDevice>(broker, std::make_shared<EK::EKSyntheticSource>());
    auto detector = EK::createModule<TimedDetector>(
        broker, static_cast<std::size_t>(seconds + 10) * kFrameRate * 2);
    detector->subscribe("soak", 1000 / kFrameRate, 0.0f);
    std::this_thread::sleep_for(std::chrono::seconds(1));  // let allocations settle
    const double rssStart = residentMegabytes();

    // Every second: pause for a fifth of a second, resume, and call the setters and getters.
    std::atomic<bool> done{false};
    std::mutex pausesMutex;
    std::vector<std::pair<Clock::time_point, Clock::time_point>> pauses;
    std::thread control([&] {
      for (int i = 0; !done; ++i) {
        const Clock::time_point pausedAt = Clock::now();
        detector->pause(true);
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        detector->pause(false);
        {
          std::lock_guard<std::mutex> lock(pausesMutex);
          pauses.emplace_back(pausedAt, Clock::now());
        }
        detector->setFrameRate(kFrameRate);
        detector->setResolution(EK::kResolution640x480);
        detector->setActiveCamera(i % 2);
        benchmark::DoNotOptimize(detector->getFrameRate() + detector->getResolution() +
                                 detector->getActiveCamera() + detector->isPaused());
        std::this_thread::sleep_for(std::chrono::milliseconds(800));
      }
    });
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    done = true;
    control.join();
    const double rssEnd = residentMegabytes();
    detector->unsubscribe("soak");
    broker->joinTasks();

    // Intervals that overlap a pause are not pacing: they are the pause.
    const std::vector<Clock::time_point> arrivals = detector->arrivals();
    const double periodMs = 1000.0 / kFrameRate;
    std::vector<double> deviations;
    double periodSum = 0;
    std::size_t pauseIndex = 0;
    for (std::size_t i = 1; i < arrivals.size(); ++i) {
      while (pauseIndex < pauses.size() && pauses[pauseIndex].second < arrivals[i - 1]) {
        ++pauseIndex;
      }
      if (pauseIndex < pauses.size() && pauses[pauseIndex].first <= arrivals[i]) {
        continue;
      }
      const double period =
          std::chrono::duration<double, std::milli>(arrivals[i] - arrivals[i - 1]).count();
      periodSum += period;
      deviations.push_back(std::fabs(period - periodMs));
    }
    std::sort(deviations.begin(), deviations.end());
    const double p99 = deviations.empty()
                           ? 0
                           : deviations[static_cast<std::size_t>(0.99 * (deviations.size() - 1))];
    state.counters["frames"] = static_cast<double>(detector->getFrameCount());
    state.counters["pauses"] = static_cast<double>(pauses.size());
    state.counters["mean_period_ms"] = deviations.empty() ? 0 : periodSum / deviations.size();
    state.counters["requested_period_ms"] = periodMs;
    state.counters["p99_deviation_ms"] = p99;
    state.counters["rss_start_MB"] = rssStart;
    state.counters["rss_end_MB"] = rssEnd;
    state.counters["rss_growth_MB"] = rssEnd - rssStart;
  }
}
BENCHMARK(BM_Soak_MotionDetector30fps)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
