#include "host.h"

#include <utility>

namespace ekhost {

HostError::HostError(EK::EKStatus status)
    : std::runtime_error(status.message()), status_(std::move(status)) {}

HostError::HostError(EK::EKCause cause, const std::string& message, int systemError)
    : HostError(EK::EKStatus(cause, message, systemError)) {}

void fail(EK::EKCause cause, const std::string& message, int systemError) {
  throw HostError(cause, message, systemError);
}

EK::EKStatus statusOf(const EK::EKError& error, EK::EKCause fallback, const std::string& context) {
  const std::string message = context + ": " + error.getDescription();
  if (const auto* failure = dynamic_cast<const EK::EKFailure*>(&error)) {
    return EK::EKStatus(failure->cause(), message, failure->systemError());
  }
  return EK::EKStatus(fallback, message);
}

}  // namespace ekhost
