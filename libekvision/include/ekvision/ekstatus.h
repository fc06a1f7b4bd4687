/// @file
/// Failures as causes: a code that programs test, the system error behind it, and one line
/// for people.
///
/// The library's inspection and recovery functions, the capture library and the tool's
/// host library report a failure as an EKStatus, or throw it inside an EKFailure (an
/// EKError, so callers that catch EKError keep working). Callers test `cause()` and
/// `systemError()`; they never read `errno` after a library call, which no function of the
/// library promises to leave meaningful.
#ifndef EKVISION_EKSTATUS_H
#define EKVISION_EKSTATUS_H

#include <string>

#include <ekerror/ekerror.h>
#include <ekvision/ekvision_api.h>

namespace EK {

/// @brief Why an operation failed, as a code that does not depend on the message's words.
enum class EKCause : int {
  kOk = 0,            ///< no failure
  kNotFound,          ///< the file, directory or device is not there
  kPermissionDenied,  ///< the system refused access
  kIsDirectory,       ///< a directory where a file was expected
  kNotRegularFile,    ///< a FIFO, socket or device where a regular file was expected
  kNoSpace,           ///< the disk, the quota or the file size limit is full
  kBusy,              ///< another writer holds the recording
  kBadFormat,         ///< the bytes are not (or no longer) what the format says
  kUnsupported,       ///< a well-formed file or source that this library cannot play
  kInvalidArgument,   ///< a value outside what the operation takes
  kUnavailable,       ///< a camera, pipeline or stream that cannot be opened or read
  kSystem,            ///< any other system error; systemError() tells which
};

/// @brief The result of an operation: success, or a cause with the system error behind it
/// and a message for people.
class EKVISION_API EKStatus {
 public:
  /// Success.
  EKStatus() = default;
  /// A failure of @p cause; @p systemError is the errno value behind it, 0 when none.
  EKStatus(EKCause cause, std::string message, int systemError = 0);

  /// @brief The status of a failed system call: the cause that @p systemError means, and
  /// "<context>: <the cause in a few words>" as its message ("cannot write x.arv: no space
  /// left on the device"). With an empty @p context the message is the cause alone.
  static EKStatus fromSystemError(int systemError, const std::string& context = std::string());

  /// Whether the operation succeeded.
  bool ok() const noexcept { return cause_ == EKCause::kOk; }
  /// Why it failed; kOk on success.
  EKCause cause() const noexcept { return cause_; }
  /// The errno value behind the failure; 0 when the cause is not a system error.
  int systemError() const noexcept { return systemError_; }
  /// One line for people; empty on success.
  const std::string& message() const noexcept { return message_; }

 private:
  EKCause cause_ = EKCause::kOk;
  int systemError_ = 0;
  std::string message_;
};

/// @brief The cause that the system error @p systemError stands for (ENOENT: kNotFound,
/// ENOSPC, EDQUOT and EFBIG: kNoSpace...); kSystem for the others, kOk for 0.
EKVISION_API EKCause causeOfSystemError(int systemError);

/// @brief The system error @p systemError in a few lowercase words, the same everywhere the
/// library and its tools print it: "no such file", "permission denied", "is a directory",
/// "no space left on the device", "file too large"...
EKVISION_API std::string systemErrorText(int systemError);

/// @brief A stable lowercase name of @p cause ("not-found", "no-space"...), for logs and
/// machine-readable reports.
EKVISION_API const char* causeName(EKCause cause);

/// @brief An EKError that carries an EKStatus: catch it to test the cause, or catch EKError
/// as before. getDescription() is the status's message.
class EKVISION_API EKFailure : public EKError {
 public:
  /// An EKError of @p moduleName and @p methodName, thrown at @p fileName : @p lineNumber,
  /// whose description is the message of @p status.
  EKFailure(std::string moduleName, std::string methodName, EKStatus status,
            std::string fileName = std::string(), int lineNumber = 0);
  ~EKFailure() override;

  /// The status of the failure.
  const EKStatus& status() const noexcept { return status_; }
  /// Why the operation failed.
  EKCause cause() const noexcept { return status_.cause(); }
  /// The errno value behind the failure; 0 when the cause is not a system error.
  int systemError() const noexcept { return status_.systemError(); }

 private:
  EKStatus status_;
};

}  // namespace EK

#endif  // EKVISION_EKSTATUS_H
