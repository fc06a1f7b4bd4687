// The ekvision command-line tool: its subcommands and how they report.
#ifndef EKVISION_TOOLS_TOOL_H
#define EKVISION_TOOLS_TOOL_H

#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

namespace ektool {

/// A failure of a subcommand: one line on standard error, exit code 1.
class ToolError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

/// A command line that does not say what to do: one line on standard error, exit code 2.
class UsageError : public ToolError {
 public:
  using ToolError::ToolError;
};

/// Where a subcommand writes: results to @p out, the progress bar to @p progress (only when
/// @p progressShown, i.e. standard error is a terminal).
struct Output {
  std::ostream& out;
  std::ostream& progress;
  bool progressShown;
};

/// A subcommand: takes the arguments after its name, returns the exit code or throws.
using CommandFunction = int (*)(const std::vector<std::string>& args, Output& output);

int runInfo(const std::vector<std::string>& args, Output& output);
int runExport(const std::vector<std::string>& args, Output& output);
int runImport(const std::vector<std::string>& args, Output& output);
int runRecover(const std::vector<std::string>& args, Output& output);
int runConvert(const std::vector<std::string>& args, Output& output);
int runRun(const std::vector<std::string>& args, Output& output);
int runRecord(const std::vector<std::string>& args, Output& output);
int runCameras(const std::vector<std::string>& args, Output& output);

/// @brief Runs a whole command line (without the program name).
///
/// Errors become one line on @p err: "ekvision <command>: <message>".
/// @return the exit code: 0 success, 1 failure, 2 bad command line
int runTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
            bool errIsTerminal);

/// The last message that the library logged during this command, without its newline.
std::string lastLibraryMessage();

}  // namespace ektool

#endif  // EKVISION_TOOLS_TOOL_H
