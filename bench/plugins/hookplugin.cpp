// The C++ peer of the Python module benchmarks: a vision module whose hook does nothing but
// sleep for EKVISION_BENCH_HOOK_SLEEP_US microseconds (0, the default: return at once).
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <utility>

#include <ekvision/ekvisiondefinitions.h>
#include <ekvision/ekvisionplugin.h>

namespace {

class SleepingHook : public EK::EKVisionExtractor {
 public:
  SleepingHook(boost::shared_ptr<EK::EKBroker> broker, const std::string& name)
      : EKVisionExtractor(std::move(broker), name, EK::kResolution640x480, EK::kColorSpaceYUV422,
                          30) {
    const char* sleep = std::getenv("EKVISION_BENCH_HOOK_SLEEP_US");
    sleep_ = std::chrono::microseconds(sleep != nullptr ? std::atol(sleep) : 0);
  }

  void onStartDetection() override {}
  void processImage(EK::EKImage*) override {
    if (sleep_.count() > 0) {
      std::this_thread::sleep_for(sleep_);
    }
  }
  void onStopDetection() override {}

 private:
  std::chrono::microseconds sleep_{0};
};

}  // namespace

EKVISION_PLUGIN(SleepingHook)
