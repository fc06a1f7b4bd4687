#include "pyerrors.h"

#include <ru/log.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace py = pybind11;

namespace ekpy {
namespace {

thread_local std::string lastMessage;

// A reference that lives as long as the process: the module object owns the class too.
PyObject* formatErrorType = nullptr;

}  // namespace

void captureLibraryLog() {
  ru::log::setHandler([](int level, const std::string&, const std::string& message,
                         const std::string&, const std::string&, int) {
    if (level <= 2) {
      lastMessage = message;
      while (!lastMessage.empty() && lastMessage.back() == '\n') {
        lastMessage.pop_back();
      }
    }
  });
}

void forgetLibraryMessage() {
  lastMessage.clear();
}

std::string libraryMessage(const std::string& fallback) {
  return lastMessage.empty() ? fallback : lastMessage;
}

void raiseOSError(int error, const std::string& message, const std::string& path) {
  py::object exception = py::reinterpret_borrow<py::object>(PyExc_OSError)(error, message, path);
  PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(exception.ptr())), exception.ptr());
  throw py::error_already_set();
}

void raiseFormatError(const std::string& message, const std::string& path) {
  PyErr_SetString(formatErrorType != nullptr ? formatErrorType : PyExc_OSError,
                  (path + ": " + message).c_str());
  throw py::error_already_set();
}

void requireReadableFile(const std::string& path) {
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0) {
    const int error = errno;
    raiseOSError(error, std::strerror(error), path);
  }
  if (S_ISDIR(status.st_mode)) {
    raiseOSError(EISDIR, std::strerror(EISDIR), path);
  }
  if (!S_ISREG(status.st_mode)) {
    raiseFormatError("not a regular file", path);
  }
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    const int error = errno;
    raiseOSError(error, std::strerror(error), path);
  }
  ::close(fd);
}

void setFormatErrorType(py::object type) {
  formatErrorType = type.release().ptr();
}

}  // namespace ekpy
