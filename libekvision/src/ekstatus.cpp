// Failure causes, and the one text of each system error.
#include <ekvision/ekstatus.h>

#include <errno.h>

#include <cctype>
#include <cstring>
#include <utility>

namespace EK {

EKStatus::EKStatus(EKCause cause, std::string message, int systemError)
    : cause_(cause), systemError_(systemError), message_(std::move(message)) {}

EKStatus EKStatus::fromSystemError(int systemError, const std::string& context) {
  const std::string text = systemErrorText(systemError);
  return EKStatus(causeOfSystemError(systemError), context.empty() ? text : context + ": " + text,
                  systemError);
}

EKCause causeOfSystemError(int systemError) {
  switch (systemError) {
    case 0:
      return EKCause::kOk;
    case ENOENT:
    case ENOTDIR:
      return EKCause::kNotFound;
    case EACCES:
    case EPERM:
    case EROFS:
      return EKCause::kPermissionDenied;
    case EISDIR:
      return EKCause::kIsDirectory;
    case ENXIO:
    case ESPIPE:
      return EKCause::kNotRegularFile;
    case ENOSPC:
    case EFBIG:
    case EDQUOT:
      return EKCause::kNoSpace;
    case EWOULDBLOCK:
      return EKCause::kBusy;
    case EINVAL:
      return EKCause::kInvalidArgument;
    default:
      return EKCause::kSystem;
  }
}

std::string systemErrorText(int systemError) {
  switch (systemError) {
    case ENOENT:
      return "no such file";
    case EACCES:
    case EPERM:
      return "permission denied";
    case EISDIR:
      return "is a directory";
    case ENOTDIR:
      return "a part of the path is not a directory";
    case ENXIO:
      return "not seekable (a FIFO without reader, or a device that is absent)";
    case ESPIPE:
      return "not seekable";
    case ELOOP:
      return "too many symbolic links";
    case ENAMETOOLONG:
      return "the name is too long";
    case EROFS:
      return "read-only file system";
    case ENOSPC:
      return "no space left on the device";
    case EFBIG:
      return "file too large";
    case EDQUOT:
      return "disk quota exceeded";
    case EIO:
      return "input/output error";
    default: {
      std::string text = std::strerror(systemError);
      if (!text.empty()) {
        text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
      }
      return text;
    }
  }
}

const char* causeName(EKCause cause) {
  switch (cause) {
    case EKCause::kOk:
      return "ok";
    case EKCause::kNotFound:
      return "not-found";
    case EKCause::kPermissionDenied:
      return "permission-denied";
    case EKCause::kIsDirectory:
      return "is-directory";
    case EKCause::kNotRegularFile:
      return "not-regular-file";
    case EKCause::kNoSpace:
      return "no-space";
    case EKCause::kBusy:
      return "busy";
    case EKCause::kBadFormat:
      return "bad-format";
    case EKCause::kUnsupported:
      return "unsupported";
    case EKCause::kInvalidArgument:
      return "invalid-argument";
    case EKCause::kUnavailable:
      return "unavailable";
    case EKCause::kSystem:
      return "system";
  }
  return "system";
}

EKFailure::EKFailure(std::string moduleName, std::string methodName, EKStatus status,
                     std::string fileName, int lineNumber)
    : EKError(std::move(moduleName), std::move(methodName), status.message(), std::move(fileName),
              lineNumber),
      status_(std::move(status)) {}

EKFailure::~EKFailure() = default;

}  // namespace EK
