// The module host: the engines behind the ekvision tool (run, record, import, export), as a
// library that the tool, the Python package and the tests call in process.
//
// Every engine takes an options struct and returns a report struct. It throws HostError
// when it could do nothing; when it did part of its work (a recording cut short by a full
// disk, say) it returns the report with the failure in its `status`, so that the caller can
// show what was done before saying what went wrong.
#ifndef EKVISION_TOOLS_HOST_HOST_H
#define EKVISION_TOOLS_HOST_HOST_H

#include <ekvision/ekdetection.h>
#include <ekvision/ekstatus.h>

#include <cstdint>
#include <stdexcept>
#include <string>

namespace ekhost {

/// @brief A failure of an engine: what() is one line for people, status() its cause and
/// the system error behind it. EKCause::kInvalidArgument means the request itself was
/// wrong (the tool's exit code 2); every other cause is a failure of the work (exit code 1).
class HostError : public std::runtime_error {
 public:
  explicit HostError(EK::EKStatus status);
  HostError(EK::EKCause cause, const std::string& message, int systemError = 0);

  const EK::EKStatus& status() const noexcept { return status_; }

 private:
  EK::EKStatus status_;
};

/// Frame rates a camera may be asked for, on the command line or by a remote client.
const int kMinFrameRate = 1;
const int kMaxFrameRate = 120;

/// @brief Throws a HostError of @p cause: a shorthand for the engines.
[[noreturn]] void fail(EK::EKCause cause, const std::string& message, int systemError = 0);

/// @brief The status of a library failure: its own cause when @p error is an EKFailure,
/// else @p fallback; the message is "<context>: <the error's description>".
EK::EKStatus statusOf(const EK::EKError& error, EK::EKCause fallback, const std::string& context);

/// @brief What an engine tells while it works; each method ignores what it is told unless
/// overridden. note(), progress() and detected() are called on the caller's thread; warn()
/// also from the module's and the camera's threads, so an override must be thread-safe.
class Listener {
 public:
  virtual ~Listener() = default;
  /// A line of the result as soon as it is known: the camera, the module, a call made.
  virtual void note(const std::string& line) { (void)line; }
  /// A failure that the work survives, such as a camera that failed and is reopened.
  virtual void warn(const std::string& line) { (void)line; }
  /// @p done of @p total units of work; @p total is 0 when unknown.
  virtual void progress(std::uint64_t done, std::uint64_t total) {
    (void)done;
    (void)total;
  }
  /// A detection of the module, as it is collected; @p firstStamp is the time stamp of the
  /// run's first frame.
  virtual void detected(const EK::EKDetection& detection, long long firstStamp) {
    (void)detection;
    (void)firstStamp;
  }
};

}  // namespace ekhost

#endif  // EKVISION_TOOLS_HOST_HOST_H
