#include "summary.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "host.h"
#include "run.h"

namespace ekhost {

std::string jsonString(const std::string& text) {
  std::string quoted = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') {
      quoted += '\\';
      quoted += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned char>(c));
      quoted += escaped;
    } else {
      quoted += c;
    }
  }
  return quoted + "\"";
}

void writeTextFile(const std::string& path, const std::string& text) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    throw HostError(EK::EKStatus::fromSystemError(errno, "cannot write " + path));
  }
  std::size_t done = 0;
  int error = 0;
  while (done < text.size()) {
    const ssize_t wrote = ::write(fd, text.data() + done, text.size() - done);
    if (wrote < 0 && errno == EINTR) {
      continue;
    }
    if (wrote <= 0) {
      error = wrote < 0 ? errno : EIO;
      break;
    }
    done += static_cast<std::size_t>(wrote);
  }
  if (::close(fd) != 0 && error == 0) {
    error = errno;
  }
  if (error != 0) {
    throw HostError(EK::EKStatus::fromSystemError(error, "cannot write " + path));
  }
}

std::string runSummaryJson(const RunReport& report) {
  char numbers[256];
  std::snprintf(numbers, sizeof numbers,
                "\"frames\":%lld,\"detections\":%zu,\"seconds\":%.6f,\"rate\":%.3f,"
                "\"everyFrame\":%s",
                report.framesProcessed, report.detections, report.seconds, report.rate,
                report.everyFrame ? "true" : "false");
  std::string json = std::string("{") + numbers + ",\"error\":";
  if (report.status.ok()) {
    json += "null";
  } else {
    json += std::string("{\"cause\":") + jsonString(EK::causeName(report.status.cause())) +
            ",\"message\":" + jsonString(report.status.message()) + "}";
  }
  return json + "}";
}

}  // namespace ekhost
