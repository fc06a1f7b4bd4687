// The ekvision command-line tool: each command parses its options, calls the module host
// (tools/host) or the library, and prints what it was given back.
#ifndef EKVISION_TOOLS_TOOL_H
#define EKVISION_TOOLS_TOOL_H

#include <ekvision/ekstatus.h>

#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

namespace CLI {
class App;
}

namespace ektool {

/// A failure of a command: one line on standard error, exit code 1.
class ToolError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

/// A command line that does not say what to do: one line on standard error, exit code 2.
class UsageError : public ToolError {
 public:
  using ToolError::ToolError;
};

/// @brief Where a command writes: results to @p out, failures it survives and the progress
/// bar to @p err (the bar only when @p errIsTerminal).
struct Output {
  std::ostream& out;
  std::ostream& err;
  bool errIsTerminal;
  std::string command;  ///< the command's name, for the lines on @p err
};

/// @brief A command of the tool, in one shape: define() declares its arguments on @p app,
/// which fills the command's options as it parses; run() calls the host or the library with
/// them and prints the report.
class Command {
 public:
  virtual ~Command() = default;
  /// Declares the arguments, the description and the closing notes of the help.
  virtual void define(CLI::App& app) = 0;
  /// @brief Does the work and prints it. @return the exit code, 0
  /// @throws ToolError, ekhost::HostError or EK::EKError for what went wrong
  virtual int run(Output& output) = 0;
};

/// @brief Throws a failure of @p status, when it is one: its message becomes the error
/// line and its cause the exit code (2 for EKCause::kInvalidArgument, else 1).
void check(const EK::EKStatus& status);

/// @brief Runs a whole command line (without the program name).
///
/// Errors become one line on @p err: "ekvision <command>: <message>".
/// @return the exit code: 0 success, 1 failure, 2 bad command line
int runTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
            bool errIsTerminal);

}  // namespace ektool

#endif  // EKVISION_TOOLS_TOOL_H
