// Test support: a vision module that records what its hooks see, and a fixture with a
// scripted camera.
#ifndef EKVISION_TESTS_TESTEXTRACTOR_H
#define EKVISION_TESTS_TESTEXTRACTOR_H

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <boost/thread/condition_variable.hpp>
#include <boost/thread/mutex.hpp>

#include <gtest/gtest.h>

#include <ekvideodevice/ekscriptedsource.h>
#include <ekvideodevice/ekvideodevice.h>
#include <ekvision/ekimage.h>
#include <ekvision/ekvisionextractor.h>

#include "logcapture.h"

namespace ektest {

/// Deadline of every wait in these tests; generous, because sanitizers slow things down.
const int kDeadlineMs = 10000;

/// A vision module that counts its hooks and exits and lets a test act inside processImage().
class TestExtractor : public EK::EKVisionExtractor {
 public:
  using EKVisionExtractor::EKVisionExtractor;

  void onStartDetection() override { ++starts; }
  void onStopDetection() override { ++stops; }
  void exit() override {
    ++exits;
    EKVisionExtractor::exit();
  }
  void processImage(EK::EKImage* /*image*/) override {
    // Only the loop writes the count (one loop at a time); it becomes visible after the
    // action, so that a test woken by it sees what the action did, also when the action throws.
    const int count = images_ + 1;
    struct Publish {
      TestExtractor& self;
      int count;
      ~Publish() {
        boost::lock_guard<boost::mutex> lock(self.mutex_);
        self.images_ = count;
        self.changed_.notify_all();
      }
    } publish{*this, count};
    if (onImage) {
      onImage(count);
    }
  }

  /// Images seen so far.
  int images() const {
    boost::lock_guard<boost::mutex> lock(mutex_);
    return images_;
  }
  /// Waits until at least @p count images were seen; false when @p timeoutMs passed first.
  bool waitForImages(int count, int timeoutMs = kDeadlineMs) {
    boost::unique_lock<boost::mutex> lock(mutex_);
    return changed_.wait_for(lock, boost::chrono::milliseconds(timeoutMs),
                             [&] { return images_ >= count; });
  }

  /// Runs on the loop thread after each image with the image's count; set it before start.
  std::function<void(int)> onImage;
  std::atomic<int> starts{0};
  std::atomic<int> stops{0};
  std::atomic<int> exits{0};

 private:
  mutable boost::mutex mutex_;
  boost::condition_variable changed_;
  int images_ = 0;
};

/// Polls @p condition every millisecond until it holds; false after @p timeoutMs.
inline bool eventually(const std::function<bool()>& condition, int timeoutMs = kDeadlineMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) {
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

/// A broker with a scripted camera, and a vision module "Detector" built on demand.
class ExtractorFixture : public testing::Test {
 protected:
  static constexpr const char* kCameraId = "VisionExtractorDetector";

  boost::shared_ptr<TestExtractor> makeDetector(int frameRate = 100) {
    return EK::createModule<TestExtractor>(broker, "Detector", 0, 9, frameRate);
  }
  int cameraCalls(EK::EKCameraCall call) const { return source->getCallCount(call); }
  /// Records of the engine's category, each with no file or line.
  std::vector<LogRecord> engineRecords() const {
    std::vector<LogRecord> kept;
    for (const LogRecord& record : capture.records()) {
      if (record.category == "EKVisionExtractor") {
        EXPECT_TRUE(record.file.empty() && record.line == 0) << record.message;
        kept.push_back(record);
      }
    }
    return kept;
  }
  /// Whether an engine record with this level, function and message was made.
  bool logged(int level, const std::string& function, const std::string& message) const {
    for (const LogRecord& record : engineRecords()) {
      if (record.level == level && record.function == function && record.message == message) {
        return true;
      }
    }
    return false;
  }

  // Loop tasks may hold a module a moment after it stopped; let them go while the camera
  // and the log capture still exist.
  void TearDown() override { broker->joinTasks(); }

  LogCapture capture;
  boost::shared_ptr<EK::EKBroker> broker{new EK::EKBroker};
  std::shared_ptr<EK::EKScriptedSource> source = std::make_shared<EK::EKScriptedSource>();
  boost::shared_ptr<EK::EKVideoDevice> camera = EK::createModule<EK::EKVideoDevice>(broker, source);
};

}  // namespace ektest

#endif  // EKVISION_TESTS_TESTEXTRACTOR_H
