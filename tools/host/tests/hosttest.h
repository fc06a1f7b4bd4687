// Test support for the host's engines, called in process: a listener that keeps what it is
// told.
#ifndef EKVISION_TOOLS_HOST_TESTS_HOSTTEST_H
#define EKVISION_TOOLS_HOST_TESTS_HOSTTEST_H

#include <ekvision/ekdetection.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "host.h"

namespace ektest {

/// Keeps every line, warning and detection an engine reports.
class Collector : public ekhost::Listener {
 public:
  void note(const std::string& line) override {
    std::lock_guard<std::mutex> lock(mutex_);
    notes.push_back(line);
  }
  void warn(const std::string& line) override {
    std::lock_guard<std::mutex> lock(mutex_);
    warnings.push_back(line);
  }
  void detected(const EK::EKDetection& detection, long long) override {
    std::lock_guard<std::mutex> lock(mutex_);
    detections.push_back(detection);
  }
  /// The notes, one a line.
  std::string text() const {
    std::string all;
    for (const std::string& line : notes) {
      all += line + "\n";
    }
    return all;
  }

  std::vector<std::string> notes;
  std::vector<std::string> warnings;
  std::vector<EK::EKDetection> detections;

 private:
  std::mutex mutex_;
};

/// Makes @p path with ffmpeg from a lavfi test source: `-f lavfi -i <source> <options>`.
inline void makeClip(const std::string& path, const std::string& source,
                     const std::string& options) {
  const std::string command =
      "ffmpeg -nostdin -y -v error -f lavfi -i " + source + " " + options + " '" + path + "'";
  ASSERT_EQ(std::system(command.c_str()), 0) << "ffmpeg failed: " << command;
}

}  // namespace ektest

#endif  // EKVISION_TOOLS_HOST_TESTS_HOSTTEST_H
