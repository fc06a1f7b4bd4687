#include "detectionlog.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "host.h"
#include "textio.h"

namespace ekhost {
namespace {

std::string angle(float value) {
  if (!std::isfinite(value)) {
    return "null";
  }
  char text[32];
  std::snprintf(text, sizeof text, "%.9g", static_cast<double>(value));
  return text;
}

}  // namespace

std::string detectionJson(const EK::EKDetection& d) {
  return "{\"timeStamp\":" + std::to_string(d.timeStamp) + ",\"x\":" + std::to_string(d.x) +
         ",\"y\":" + std::to_string(d.y) + ",\"w\":" + std::to_string(d.w) +
         ",\"h\":" + std::to_string(d.h) + ",\"leftAngle\":" + angle(d.leftAngle) +
         ",\"topAngle\":" + angle(d.topAngle) + ",\"rightAngle\":" + angle(d.rightAngle) +
         ",\"bottomAngle\":" + angle(d.bottomAngle) +
         ",\"pixelCount\":" + std::to_string(d.pixelCount) + "}";
}

DetectionLog::DetectionLog(const std::string& path) : path_(path) {
  fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd_ < 0) {
    throw HostError(EK::EKStatus::fromSystemError(errno, "cannot write " + path));
  }
}

DetectionLog::~DetectionLog() {
  if (fd_ >= 0) {
    ::close(fd_);
  }
}

void DetectionLog::add(const EK::EKDetection& detection) {
  buffer_ += detectionJson(detection);
  buffer_ += '\n';
  ++lines_;
}

void DetectionLog::addSummary(const std::string& summaryJson) {
  buffer_ += "{\"summary\":" + summaryJson + "}\n";
}

void DetectionLog::flush() {
  if (error_ == 0 && fd_ >= 0) {
    error_ = writeAll(fd_, buffer_);
  }
  buffer_.clear();
}

void DetectionLog::finish() {
  flush();
  if (fd_ >= 0) {
    if (::close(fd_) != 0 && error_ == 0) {
      error_ = errno;
    }
    fd_ = -1;
  }
  if (error_ != 0) {
    throw HostError(EK::EKStatus::fromSystemError(error_, "cannot write " + path_));
  }
}

}  // namespace ekhost
