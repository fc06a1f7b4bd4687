#include "pyerrors.h"

#include <ru/log.h>

#include <errno.h>

#include <memory>
#include <utility>

namespace py = pybind11;

namespace ekpy {
namespace {

// A reference that lives as long as the process: the module object owns the class too.
PyObject* formatErrorType = nullptr;

// The errno that a cause stands for when its status carries none: Python picks the
// OSError subclass from it.
int defaultErrno(EK::EKCause cause) {
  switch (cause) {
    case EK::EKCause::kNotFound:
      return ENOENT;
    case EK::EKCause::kPermissionDenied:
      return EACCES;
    case EK::EKCause::kIsDirectory:
      return EISDIR;
    case EK::EKCause::kNoSpace:
      return ENOSPC;
    case EK::EKCause::kBusy:
      return EAGAIN;
    case EK::EKCause::kUnavailable:
    case EK::EKCause::kSystem:
      return EIO;
    default:
      return 0;
  }
}

// The Python callable that receives the library's records. The reference is dropped with
// the GIL held, also when the last copy of the handler goes on a thread without it.
struct LogRoute {
  py::object callable;
  ~LogRoute() {
    if (Py_IsInitialized()) {
      py::gil_scoped_acquire gil;
      callable = py::object();
    } else {
      callable.release();
    }
  }
};

// The handler that routing replaced, given back when routing stops; the GIL guards it.
ru::log::Handler& handlerBeforeRouting() {
  static ru::log::Handler handler;
  return handler;
}
bool routing = false;

void routeLog(const py::object& callable) {
  if (callable.is_none()) {
    if (routing) {
      routing = false;
      ru::log::setHandler(std::exchange(handlerBeforeRouting(), ru::log::Handler()));
    }
    return;
  }
  auto route = std::make_shared<LogRoute>();
  route->callable = callable;
  ru::log::Handler previous = ru::log::setHandler(
      [route](int level, const std::string& category, const std::string& message,
              const std::string&, const std::string& function, int) {
        if (!Py_IsInitialized()) {
          return;
        }
        std::string text = message;
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
          text.pop_back();
        }
        py::gil_scoped_acquire gil;
        try {
          route->callable(level, category, text, function);
        } catch (py::error_already_set& error) {
          // A logging failure must not become the library's failure.
          error.discard_as_unraisable("ekvision log routing");
        }
      });
  // Routing again replaces the callable, not the handler to give back.
  if (!routing) {
    handlerBeforeRouting() = std::move(previous);
    routing = true;
  }
}

// Text from the file system (a path, a message naming one) as Python gives file names
// back: bytes that are not UTF-8 become surrogates, as os.fsdecode() makes them, where
// pybind11's own conversion would fail on them.
py::str fsText(const std::string& text) {
  PyObject* decoded =
      PyUnicode_DecodeFSDefaultAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
  if (decoded == nullptr) {
    throw py::error_already_set();
  }
  return py::reinterpret_steal<py::str>(decoded);
}

}  // namespace

void raiseStatus(const EK::EKStatus& status, const std::string& path) {
  const int error = status.systemError() != 0 ? status.systemError() : defaultErrno(status.cause());
  if (error != 0) {
    py::object exception = py::reinterpret_borrow<py::object>(PyExc_OSError)(
        error, fsText(status.message()), fsText(path));
    PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(exception.ptr())), exception.ptr());
    throw py::error_already_set();
  }
  if (status.cause() == EK::EKCause::kInvalidArgument) {
    PyErr_SetObject(PyExc_ValueError, fsText(status.message()).ptr());
    throw py::error_already_set();
  }
  raiseFormatError(status.message(), path);
}

void raiseFormatError(const std::string& message, const std::string& path) {
  PyErr_SetObject(formatErrorType != nullptr ? formatErrorType : PyExc_OSError,
                  fsText(path + ": " + message).ptr());
  throw py::error_already_set();
}

void setFormatErrorType(py::object type) {
  formatErrorType = type.release().ptr();
}

void bindLog(py::module_& module) {
  module.def("_route_log", &routeLog, py::arg("callable"),
             "Sends the library's log records to callable(level, category, message, "
             "function); None gives them back to the handler that was there before.");
  module.def(
      "_log_record",
      [](int level, const std::string& category, const std::string& message) {
        // Released as around every library call: records come from threads without it.
        py::gil_scoped_release release;
        ru::log::LogStream(level, category, "", "", 0) << message;
      },
      py::arg("level"), py::arg("category"), py::arg("message"),
      "Writes one record to the library's log, as the library's own code does.");
}

}  // namespace ekpy
