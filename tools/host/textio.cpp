#include "textio.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>

#include "host.h"

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

std::string jsonNumber(double value) {
  if (!std::isfinite(value)) {
    return "null";
  }
  char text[32];
  std::snprintf(text, sizeof text, "%.9g", value);
  return text;
}

int writeAll(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t wrote = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (wrote < 0 && errno == EINTR) {
      continue;
    }
    if (wrote <= 0) {
      return wrote < 0 ? errno : EIO;
    }
    done += static_cast<std::size_t>(wrote);
  }
  return 0;
}

void writeTextFile(const std::string& path, const std::string& text) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    throw HostError(EK::EKStatus::fromSystemError(errno, "cannot write " + path));
  }
  int error = writeAll(fd, text);
  if (::close(fd) != 0 && error == 0) {
    error = errno;
  }
  if (error != 0) {
    throw HostError(EK::EKStatus::fromSystemError(error, "cannot write " + path));
  }
}

}  // namespace ekhost
