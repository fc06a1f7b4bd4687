#include "pyembed.h"

#include <pybind11/embed.h>

#include <unistd.h>

#include <climits>
#include <filesystem>
#include <utility>

#include <host.h>

#include "pymodulefactory.h"

namespace py = pybind11;

namespace ekpy {
namespace {

// Where the ekvision package is: installed beside the tool (PREFIX/bin/ekvision and
// PREFIX/<install dir>/ekvision), or else in the build tree the tool comes from.
std::string packageDirectory() {
  char self[PATH_MAX] = {};
  const ssize_t length = ::readlink("/proc/self/exe", self, sizeof self - 1);
  if (length > 0) {
    const std::filesystem::path installed =
        std::filesystem::path(std::string(self, length)).parent_path().parent_path() /
        EKVISION_PYTHON_INSTALL_DIR;
    std::error_code error;
    if (std::filesystem::exists(installed / "ekvision" / "__init__.py", error)) {
      return installed.string();
    }
  }
  return EKVISION_PYTHON_BUILD_DIR;
}

std::string failureText(py::error_already_set& error) {
  return py::str(error.value());
}

}  // namespace

struct EmbeddedPythonModule::State {
  py::object instance;
  PythonModuleFactory factory = nullptr;
  PyThreadState* released = nullptr;  // the main thread's state while the GIL is free
};

void EmbeddedPythonModule::load(const std::string& path,
                                const std::optional<std::string>& className) {
  // Every Python failure becomes a HostError here: none may outlive the interpreter.
  py::module_ modules;
  try {
    py::list searchPath = py::module_::import("sys").attr("path");
    searchPath.insert(0, packageDirectory());
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(path, error);
    searchPath.insert(0, absolute.parent_path().string());
    modules = py::module_::import("ekvision._module");
    const py::capsule factory = py::module_::import("ekvision._ekvision")
                                    .attr(kPythonModuleFactoryAttribute)
                                    .cast<py::capsule>();
    state_->factory = reinterpret_cast<PythonModuleFactory>(
        PyCapsule_GetPointer(factory.ptr(), kPythonModuleFactoryCapsule));
    if (state_->factory == nullptr) {
      throw py::error_already_set();
    }
  } catch (py::error_already_set& failure) {
    ekhost::fail(EK::EKCause::kUnavailable, "cannot run the Python module " + path +
                                                ": the ekvision Python package does not "
                                                "import: " +
                                                failureText(failure));
  }
  try {
    py::object name = className ? py::object(py::str(*className)) : py::object(py::none());
    state_->instance = modules.attr("_instantiate")(path, name);
    name_ = state_->instance.attr("name").cast<std::string>();
    const py::tuple settings = modules.attr("_settings")(state_->instance);
    resolution_ = settings[0].cast<int>();
    frameRate_ = settings[2].cast<int>();
  } catch (py::error_already_set& failure) {
    if (failure.matches(modules.attr("_LoadError"))) {
      ekhost::fail(EK::EKCause::kInvalidArgument, failureText(failure));
    }
    ekhost::fail(EK::EKCause::kUnavailable,
                 "cannot run the Python module " + path + ": " + failureText(failure));
  }
}

EmbeddedPythonModule::EmbeddedPythonModule(const std::string& path,
                                           const std::optional<std::string>& className)
    : state_(new State) {
  // No Python signal handlers: Ctrl-C is the run's, which ends it cleanly.
  py::initialize_interpreter(/*init_signal_handlers=*/false);
  try {
    load(path, className);
  } catch (...) {
    state_->instance = py::object();
    py::finalize_interpreter();
    delete state_;
    throw;
  }
  state_->released = PyEval_SaveThread();
}

EmbeddedPythonModule::~EmbeddedPythonModule() {
  PyEval_RestoreThread(state_->released);
  state_->instance = py::object();
  py::finalize_interpreter();
  delete state_;
}

ekhost::ModuleSource EmbeddedPythonModule::source() {
  State* state = state_;
  return ekhost::ModuleSource{
      name_, [state](const boost::shared_ptr<EK::EKBroker>& broker, const std::string& name) {
        py::gil_scoped_acquire gil;
        boost::shared_ptr<EK::EKVisionExtractor> module;
        std::string error;
        if (!state->factory(broker, name, state->instance.ptr(), &module, &error)) {
          ekhost::fail(EK::EKCause::kInvalidArgument,
                       "cannot build the Python module " + name + ": " + error);
        }
        return module;
      }};
}

}  // namespace ekpy
