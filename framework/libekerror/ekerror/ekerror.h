/// @file
/// The framework's exception type.
#ifndef EKERROR_EKERROR_H
#define EKERROR_EKERROR_H

#include <exception>
#include <string>

#include <ekcommon/api.h>

/// Builds an EKError that records the source file and line of the throw.
#define EKERROR(module, method, message) \
  ::EK::EKError((module), (method), (message), __FILE__, __LINE__)

namespace EK {

/// @brief Exception thrown by framework components and by EKVideo.
///
/// It carries the module that failed, the method, a message, and the source file and line
/// of the throw. what() joins them into one line:
/// "<module>::<method> <message>" followed by " (<file>:<line>)" when a file is known.
class EKFRAMEWORK_API EKError : public std::exception {
 public:
  /// @param moduleName  component that failed, e.g. "EKVideo"
  /// @param methodName  operation that failed, e.g. "readVideo"
  /// @param message     what went wrong, for a reader
  /// @param fileName    source file of the throw (may be empty)
  /// @param lineNumber  source line of the throw (0 when unknown)
  EKError(std::string moduleName, std::string methodName, std::string message,
          std::string fileName = std::string(), int lineNumber = 0);
  /// Nothing to release beyond the strings.
  ~EKError() override;

  /// The whole text: module, method, message, and file and line when known.
  const char* what() const noexcept override;

  /// Name of the component that failed.
  const std::string& getModuleName() const noexcept { return moduleName_; }
  /// Name of the operation that failed.
  const std::string& getMethodName() const noexcept { return methodName_; }
  /// The message alone, without module, method or location.
  const std::string& getDescription() const noexcept { return message_; }
  /// Source file of the throw; empty when unknown.
  const std::string& getFileName() const noexcept { return fileName_; }
  /// Source line of the throw; 0 when unknown.
  int getLineNumber() const noexcept { return lineNumber_; }

 private:
  std::string moduleName_;
  std::string methodName_;
  std::string message_;
  std::string fileName_;
  int lineNumber_;
  std::string text_;
};

}  // namespace EK

#endif  // EKERROR_EKERROR_H
