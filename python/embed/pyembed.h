// Vision modules written in Python, for programs that are not Python themselves: the
// ekvision tool starts an interpreter, loads the module's file and hands the engine a
// module that the extension ekvision._ekvision builds.
#ifndef EKVISION_PYTHON_PYEMBED_H
#define EKVISION_PYTHON_PYEMBED_H

#include <optional>
#include <string>

#include <runoptions.h>

namespace ekpy {

/// @brief A Python vision module loaded in an interpreter that this object started and
/// finalizes; one at a time in a process.
///
/// The constructor leaves the GIL free: the engine's threads take it for each hook. The
/// object must outlive every module built from source().
class EmbeddedPythonModule {
 public:
  /// @brief Starts Python, imports the ekvision package, runs the file @p path and builds
  /// its ekvision.Module subclass (@p className, or the only one) with no arguments.
  /// @throws ekhost::HostError, one line: EKCause::kInvalidArgument for a file that cannot
  ///   be loaded or holds no such class, EKCause::kUnavailable without the package
  EmbeddedPythonModule(const std::string& path, const std::optional<std::string>& className);
  ~EmbeddedPythonModule();
  EmbeddedPythonModule(const EmbeddedPythonModule&) = delete;
  EmbeddedPythonModule& operator=(const EmbeddedPythonModule&) = delete;

  /// The module for the run: its name, and the factory that builds it in a broker.
  ekhost::ModuleSource source();
  /// The frame rate that the module asks for in its constructor.
  int frameRate() const { return frameRate_; }
  /// The resolution code that the module asks for in its constructor.
  int resolution() const { return resolution_; }

 private:
  // Imports the package and builds the module; Python failures become HostError.
  void load(const std::string& path, const std::optional<std::string>& className);

  struct State;
  State* state_;
  std::string name_;
  int frameRate_ = 0;
  int resolution_ = 0;
};

}  // namespace ekpy

#endif  // EKVISION_PYTHON_PYEMBED_H
