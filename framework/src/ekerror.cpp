#include <ekerror/ekerror.h>

#include <utility>

namespace EK {

EKError::EKError(std::string moduleName, std::string methodName, std::string message,
                 std::string fileName, int lineNumber)
    : moduleName_(std::move(moduleName)),
      methodName_(std::move(methodName)),
      message_(std::move(message)),
      fileName_(std::move(fileName)),
      lineNumber_(lineNumber) {
  text_ = moduleName_ + "::" + methodName_ + " " + message_;
  if (!fileName_.empty()) {
    text_ += " (" + fileName_ + ":" + std::to_string(lineNumber_) + ")";
  }
}

EKError::~EKError() = default;

const char* EKError::what() const noexcept {
  return text_.c_str();
}

}  // namespace EK
