// How library failures become Python exceptions, and what the library last logged.
#ifndef EKVISION_PYTHON_PYERRORS_H
#define EKVISION_PYTHON_PYERRORS_H

#include <pybind11/pybind11.h>

#include <string>

namespace ekpy {

/// @brief Sends the library's log records to a per-thread slot instead of standard error.
///
/// Every failure of the library that has a message logs it; the binding turns it into the
/// text of the exception it raises, so the record itself is not printed.
void captureLibraryLog();

/// @brief Clears the calling thread's slot; call before a library operation.
void forgetLibraryMessage();

/// @brief What the library last logged on this thread since forgetLibraryMessage(), without
/// its final newline; @p fallback when nothing was logged.
std::string libraryMessage(const std::string& fallback);

/// @brief Raises OSError(errno, message, path); Python picks the subclass of the errno
/// (FileNotFoundError for ENOENT, PermissionError for EACCES...).
[[noreturn]] void raiseOSError(int error, const std::string& message, const std::string& path);

/// @brief Raises ekvision.FormatError (an OSError without errno): the file is there and
/// readable, but not what it should be.
[[noreturn]] void raiseFormatError(const std::string& message, const std::string& path);

/// @brief Checks that @p path names a readable regular file; raises the OSError of the
/// reason otherwise (no such file, is a directory, permission denied, not a regular file).
void requireReadableFile(const std::string& path);

/// The Python class of ekvision.FormatError, made when the module is built.
void setFormatErrorType(pybind11::object type);

}  // namespace ekpy

#endif  // EKVISION_PYTHON_PYERRORS_H
