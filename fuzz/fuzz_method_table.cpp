// Fuzzes the remote methods of a vision module through its method table: a small detector
// lives in a broker beside a camera module with a scripted source, and the input chooses the
// module's settings, then a sequence of calls by name with argument lists of any shape
// (wrong kinds, missing and extra arguments, nested arrays), camera failures and non-image
// answers on demand. Every EKError is an answer, not a finding; a crash, a sanitizer report,
// a leak, a hang (libFuzzer's -timeout) or a broken invariant (a trap) is.
//
// "_run" runs the processing loop until someone stops it, so the harness executes it, like
// the framework does, on a thread of its own, waits until the loop runs (or the call has
// returned: a second loop is refused at once), and at the end of the input stops every loop
// with xStopDetection() before it joins the threads and destroys the module. A stop that
// never returns is a hang and reported as such.
//
// The loop sleeps out the rest of each frame period, and a stop waits for that sleep; at the
// slowest rate the camera accepts (1 frame a second) that would cost a second an input. The
// harness therefore defines the framework's ru::os::msleep itself, with a sleep of at most
// a millisecond: the dynamic linker prefers the executable's definition to the one in the
// framework library, so the library's loop calls it. Pacing is covered by the unit tests.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <ekcommon/ekbroker.h>
#include <ekerror/ekerror.h>
#include <ekvideodevice/ekscriptedsource.h>
#include <ekvideodevice/ekvideodevice.h>
#include <ekvision/ekimage.h>
#include <ekvision/ekvisionextractor.h>
#include <ru/log.h>
#include <ru/os.h>

#include "fuzzcheck.h"
#include "fuzzvalue.h"
#include "methodscript.h"

namespace ru {
namespace os {

void msleep(unsigned int milliseconds) {
  std::this_thread::sleep_for(std::chrono::microseconds(milliseconds > 0 ? 1000 : 0));
}

}  // namespace os
}  // namespace ru

namespace {

using ekfuzz::check;

// Reads every pixel the image claims, so that an image over a block too short shows.
class FuzzDetector : public EK::EKVisionExtractor {
 public:
  using EKVisionExtractor::EKVisionExtractor;
  void onStartDetection() override {}
  void onStopDetection() override {}
  void processImage(EK::EKImage* image) override {
    check(image != nullptr);
    ekfuzz::touch(image->frame, ekfuzz::pictureBytes(*image));
  }
};

// One execution of "_run" on its own thread.
class LoopRunner {
 public:
  LoopRunner(FuzzDetector& detector, EK::EKValue arguments)
      : thread_([this, &detector, arguments] {
          EK::EKValue result;
          try {
            detector.execute("_run", arguments, result);
          } catch (const EK::EKError&) {
            // A camera failure that ends the loop, e.g. releaseImage.
          }
          done_ = true;
        }) {}
  ~LoopRunner() { thread_.join(); }
  LoopRunner(const LoopRunner&) = delete;
  LoopRunner& operator=(const LoopRunner&) = delete;

  bool done() const { return done_; }

 private:
  std::atomic<bool> done_{false};
  std::thread thread_;
};

bool allDone(const std::vector<std::unique_ptr<LoopRunner>>& runners) {
  for (const auto& runner : runners) {
    if (!runner->done()) {
      return false;
    }
  }
  return true;
}

void call(FuzzDetector& detector, const std::string& method, const EK::EKValue& arguments) {
  EK::EKValue result;
  try {
    detector.execute(method, arguments, result);
  } catch (const EK::EKError&) {
    return;
  }
  (void)result.toString();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool silenced = (ru::log::setVerbosity(0), true);
  (void)silenced;
  ekfuzz::ValueReader reader(data, size);
  boost::shared_ptr<EK::EKBroker> broker(new EK::EKBroker("fuzz"));
  auto source = std::make_shared<EK::EKScriptedSource>();
  auto camera = EK::createModule<EK::EKVideoDevice>(broker, source);
  // Settings the camera refuses (resolution 4, color space 19, frame rate 0) make the
  // subscription fail: the module exits and its loop runs without images.
  const int resolution = reader.byte() % 5;
  const int colorSpace = reader.byte() % 20;
  const int frameRate = reader.byte() % 122;
  auto detector =
      EK::createModule<FuzzDetector>(broker, "Detector", resolution, colorSpace, frameRate);
  std::vector<std::unique_ptr<LoopRunner>> runners;
  const int calls = reader.byte() % 24;
  for (int i = 0; i < calls; ++i) {
    const int choice = reader.byte() % ekfuzz::kChoiceCount;
    if (choice < ekfuzz::kMethodCount && std::string(ekfuzz::kMethods[choice]) == "_run") {
      runners.push_back(std::make_unique<LoopRunner>(*detector, ekfuzz::readArguments(reader)));
      const LoopRunner& runner = *runners.back();
      while (!detector->isProcessing() && !runner.done()) {
        std::this_thread::yield();
      }
    } else if (choice < ekfuzz::kMethodCount) {
      call(*detector, ekfuzz::kMethods[choice], ekfuzz::readArguments(reader));
    } else if (choice == ekfuzz::kFailCamera) {
      const auto failing = static_cast<EK::EKCameraCall>(reader.byte() % EK::kCameraCallCount);
      source->failNext(failing, reader.byte() % 4);
    } else if (choice == ekfuzz::kNonImages) {
      source->deliverNonImages(reader.byte() % 3);
    } else {
      const char* const name = ekfuzz::kUnknownMethods[reader.byte() % ekfuzz::kUnknownMethodCount];
      call(*detector, name, ekfuzz::readArguments(reader));
    }
  }
  // Failures still scripted are dropped: the clean-up below is the harness's, not fuzzed.
  for (int c = 0; c < EK::kCameraCallCount; ++c) {
    source->failNext(static_cast<EK::EKCameraCall>(c), 0);
  }
  while (!allDone(runners)) {
    detector->xStopDetection();
  }
  runners.clear();
  check(!detector->isProcessing() && !detector->isPaused());
  detector.reset();
  camera.reset();
  broker->joinTasks();
  return 0;
}
