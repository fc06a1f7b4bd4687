// How library failures become Python exceptions, and where the library's log goes.
#ifndef EKVISION_PYTHON_PYERRORS_H
#define EKVISION_PYTHON_PYERRORS_H

#include <pybind11/pybind11.h>

#include <string>

#include <ekvision/ekstatus.h>

namespace ekpy {

/// @brief Raises the Python exception of @p status, the one place where causes become
/// exception classes: OSError(errno, message, path) for a system cause, whose subclass
/// Python picks from the errno (FileNotFoundError, PermissionError, IsADirectoryError,
/// BlockingIOError for a busy recording...); ekvision.FormatError for a file that is not
/// what it should be; ValueError for an argument the library refused.
[[noreturn]] void raiseStatus(const EK::EKStatus& status, const std::string& path);

/// @brief Raises ekvision.FormatError (an OSError without errno): the file is there and
/// readable, but not what it should be.
[[noreturn]] void raiseFormatError(const std::string& message, const std::string& path);

/// The Python class of ekvision.FormatError, made when the module is built.
void setFormatErrorType(pybind11::object type);

/// @brief Binds `_route_log(callable or None)`, which sends the library's log records to a
/// Python callable or gives them back to the handler that was there before, and
/// `_log_record(level, category, message)`, which writes one record as the library does.
void bindLog(pybind11::module_& module);

}  // namespace ekpy

#endif  // EKVISION_PYTHON_PYERRORS_H
