#include "detectionlog.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <limits>

#include "host.h"
#include "textio.h"

namespace ekhost {
namespace {

const char kSummaryStart[] = "{\"summary\":";

// Sets the field of @p d that @p key names from @p value; false when the value does not fit.
// Keys of no field are accepted, so that a newer log still reads.
bool setField(EK::EKDetection& d, const std::string& key, const std::string& value) {
  if (key == "timeStamp")
    return parseNumber(value, d.timeStamp);
  if (key == "x")
    return parseNumber(value, d.x);
  if (key == "y")
    return parseNumber(value, d.y);
  if (key == "w")
    return parseNumber(value, d.w) && d.w >= 0;
  if (key == "h")
    return parseNumber(value, d.h) && d.h >= 0;
  if (key == "pixelCount")
    return parseNumber(value, d.pixelCount);
  float* angles[] = {&d.leftAngle, &d.topAngle, &d.rightAngle, &d.bottomAngle};
  const char* names[] = {"leftAngle", "topAngle", "rightAngle", "bottomAngle"};
  for (int i = 0; i < 4; ++i) {
    if (key == names[i]) {
      if (value == "null") {
        *angles[i] = std::numeric_limits<float>::quiet_NaN();
        return true;
      }
      return parseNumber(value, *angles[i]);
    }
  }
  return true;
}

// The detection on @p line as detectionJson() writes it; the empty string in @p why when
// it is one, else what is wrong.
EK::EKDetection parseDetection(const std::string& line, std::string& why) {
  EK::EKDetection d;
  d.found = true;
  if (line.size() < 2 || line.front() != '{' || line.back() != '}') {
    why = "not a JSON object on one line";
    return d;
  }
  const char* required[] = {"timeStamp", "x", "y", "w", "h"};
  bool seen[5] = {};
  std::size_t start = 1;
  while (start < line.size() - 1) {
    std::size_t end = line.find(',', start);
    if (end == std::string::npos)
      end = line.size() - 1;
    const std::string member = line.substr(start, end - start);
    const std::size_t colon = member.find(':');
    if (colon == std::string::npos || colon < 2 || member.front() != '"' ||
        member[colon - 1] != '"') {
      why = "\"" + member + "\" is not a \"key\":number member";
      return d;
    }
    const std::string key = member.substr(1, colon - 2);
    if (!setField(d, key, member.substr(colon + 1))) {
      why = "\"" + key + "\" is not a number of its kind";
      return d;
    }
    for (int i = 0; i < 5; ++i) {
      seen[i] = seen[i] || key == required[i];
    }
    start = end + 1;
  }
  for (int i = 0; i < 5; ++i) {
    if (!seen[i]) {
      why = std::string("no \"") + required[i] + "\"";
      return d;
    }
  }
  return d;
}

}  // namespace

std::string detectionJson(const EK::EKDetection& d) {
  return "{\"timeStamp\":" + std::to_string(d.timeStamp) + ",\"x\":" + std::to_string(d.x) +
         ",\"y\":" + std::to_string(d.y) + ",\"w\":" + std::to_string(d.w) +
         ",\"h\":" + std::to_string(d.h) + ",\"leftAngle\":" + jsonNumber(d.leftAngle) +
         ",\"topAngle\":" + jsonNumber(d.topAngle) + ",\"rightAngle\":" + jsonNumber(d.rightAngle) +
         ",\"bottomAngle\":" + jsonNumber(d.bottomAngle) +
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
  buffer_ += kSummaryStart + summaryJson + "}\n";
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

DetectionsByStamp readDetectionLog(const std::string& path) {
  std::ifstream file(path);
  if (!file) {
    throw HostError(EK::EKStatus::fromSystemError(errno, "cannot read " + path));
  }
  DetectionsByStamp detections;
  std::string line;
  for (long long number = 1; std::getline(file, line); ++number) {
    if (line.empty() || line.compare(0, sizeof kSummaryStart - 1, kSummaryStart) == 0) {
      continue;
    }
    std::string why;
    const EK::EKDetection detection = parseDetection(line, why);
    if (!why.empty()) {
      fail(EK::EKCause::kBadFormat,
           path + " line " + std::to_string(number) + ": " + why + ", not a detection");
    }
    detections.emplace(detection.timeStamp, detection);
  }
  if (file.bad()) {
    throw HostError(EK::EKStatus::fromSystemError(errno, "cannot read " + path));
  }
  return detections;
}

}  // namespace ekhost
