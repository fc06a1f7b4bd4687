// The command table of the ekvision tool, and how failures become exit codes.
#include <ekerror/ekerror.h>
#include <ru/log.h>

#include <opencv2/core/utils/logger.hpp>

#include <host.h>
#include <CLI/CLI.hpp>

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <ostream>

#include <ekvideodevice/ekmedialog.h>

#include "commands.h"
#include "helpformat.h"
#include "tool.h"

#ifndef EKVISION_VERSION
#define EKVISION_VERSION "unknown"
#endif

namespace ektool {
namespace {

struct CommandEntry {
  const char* name;
  std::unique_ptr<Command> (*make)();
  const char* summary;
};

const CommandEntry kCommands[] = {
    {"info", makeInfoCommand, "describe a .ari picture or a .arv recording"},
    {"export", makeExportCommand, "write frames of a recording as PNG or PPM pictures"},
    {"import", makeImportCommand, "record a video file (any FFmpeg reads) as a .arv recording"},
    {"recover", makeRecoverCommand, "give a recording that was never closed its frame count"},
    {"convert", makeConvertCommand, "write a .ari picture as PNG or PPM"},
    {"run", makeRunCommand, "run a vision module on the synthetic scene, a recording or a camera"},
    {"record", makeRecordCommand,
     "record a live camera, pipeline, stream or video into a recording"},
    {"cameras", makeCamerasCommand, "list the V4L2 cameras with their formats and sizes"},
    {"serve", makeServeCommand, "publish a camera's frames to other machines over ZeroMQ"},
    {"keys", makeKeysCommand, "write a CURVE key pair for serve and its clients"},
    {"call", makeCallCommand, "call a remote method of a module that a run answers for"},
    {"view", makeViewCommand, "show a recording or a camera in a web browser"},
};

void printUsage(std::ostream& out) {
  out << "usage: ekvision COMMAND [ARGUMENTS]\n"
      << "\n"
      << "Tools for the vision library's .ari pictures and .arv recordings, and a host\n"
      << "that runs vision modules.\n"
      << "\n"
      << "commands:\n";
  for (const CommandEntry& command : kCommands) {
    out << "  " << command.name << std::string(10 - std::string(command.name).size(), ' ')
        << command.summary << "\n";
  }
  out << "\n"
      << "'ekvision COMMAND --help' describes a command. Exit codes: 0 success, 1 failure,\n"
      << "2 bad command line.\n";
}

// Error lines are one line, whatever the text they quote.
std::string oneLine(std::string text) {
  std::replace(text.begin(), text.end(), '\n', ' ');
  while (!text.empty() && text.back() == ' ') {
    text.pop_back();
  }
  return text;
}

// The variable that asks for the libraries' own log lines, like --verbose.
const char kLogVariable[] = "EKVISION_LOG";

// Where the log records of the libraries go while a command runs. By default nowhere: a
// failure is the tool's one line, which names the cause that the records would repeat in
// their own words (OpenCV's, GStreamer's and FFmpeg's several lines among them). Verbose:
// every record, the media libraries' details included, on standard error.
class LibraryLogScope {
 public:
  explicit LibraryLogScope(bool verbose) : verbosity_(ru::log::getVerbosity()) {
    EK::routeMediaLogs();
    if (verbose) {
      ru::log::setVerbosity(EK::kMediaLogLevel);
      previous_ = ru::log::setHandler({});
      cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_WARNING);
    } else {
      previous_ = ru::log::setHandler([](int, const std::string&, const std::string&,
                                         const std::string&, const std::string&, int) {});
      cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_SILENT);
    }
  }
  ~LibraryLogScope() {
    ru::log::setHandler(previous_);
    ru::log::setVerbosity(verbosity_);
  }
  LibraryLogScope(const LibraryLogScope&) = delete;
  LibraryLogScope& operator=(const LibraryLogScope&) = delete;

 private:
  ru::log::Handler previous_;
  int verbosity_;
};

// True when the environment asks for the libraries' log lines; a value the tool does not
// know is said once and ignored.
bool verboseByEnvironment(std::ostream& err) {
  const char* value = std::getenv(kLogVariable);
  if (value == nullptr || *value == '\0') {
    return false;
  }
  if (std::string(value) == "debug") {
    return true;
  }
  err << "ekvision: " << kLogVariable << "=" << oneLine(value)
      << " is not a log level the tool knows (debug); ignored\n";
  return false;
}

// The command's arguments parsed into its options; help is printed here. @return the exit
// code when the command line was all there is to do (help, a usage error), else nothing.
std::optional<int> parseCommand(const CommandEntry& entry, Command& command,
                                const std::vector<std::string>& args, std::ostream& out,
                                std::ostream& err, bool& verbose) {
  CLI::App app(entry.summary, std::string("ekvision ") + entry.name);
  auto formatter = std::make_shared<HelpFormatter>();
  formatter->column_width(26);
  app.formatter(formatter);
  command.define(app);
  app.add_flag("-v,--verbose", verbose,
               std::string("also print the libraries' own log lines (GStreamer, FFmpeg, "
                           "OpenCV) around a failure; ") +
                   kLogVariable + "=debug does the same");
  // CLI11 takes the arguments last first.
  std::vector<std::string> reversed(args.rbegin(), args.rend());
  try {
    app.parse(reversed);
  } catch (const CLI::CallForHelp&) {
    out << app.help();
    return 0;
  } catch (const CLI::ParseError& error) {
    err << "ekvision " << entry.name << ": " << oneLine(error.what()) << " (see ekvision "
        << entry.name << " --help)\n";
    return 2;
  }
  return std::nullopt;
}

}  // namespace

void check(const EK::EKStatus& status) {
  if (!status.ok()) {
    throw ekhost::HostError(status);
  }
}

int runTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
            bool errIsTerminal) {
  if (args.empty()) {
    printUsage(err);
    return 2;
  }
  const std::string& name = args[0];
  if (name == "-h" || name == "--help" || name == "help") {
    printUsage(out);
    return 0;
  }
  if (name == "--version") {
    out << "ekvision " << EKVISION_VERSION << "\n";
    return 0;
  }
  const CommandEntry* entry = nullptr;
  for (const CommandEntry& candidate : kCommands) {
    if (name == candidate.name) {
      entry = &candidate;
    }
  }
  if (entry == nullptr) {
    err << "ekvision: unknown command '" << oneLine(name) << "' (see ekvision --help)\n";
    return 2;
  }
  const std::unique_ptr<Command> command = entry->make();
  bool verbose = false;
  if (const std::optional<int> done =
          parseCommand(*entry, *command, std::vector<std::string>(args.begin() + 1, args.end()),
                       out, err, verbose)) {
    return *done;
  }
  LibraryLogScope logScope(verbose || verboseByEnvironment(err));
  Output output{out, err, errIsTerminal, entry->name};
  const std::string prefix = std::string("ekvision ") + entry->name + ": ";
  const std::string seeHelp = std::string(" (see ekvision ") + entry->name + " --help)";
  try {
    return command->run(output);
  } catch (const UsageError& error) {
    err << prefix << oneLine(error.what()) << seeHelp << "\n";
    return 2;
  } catch (const ekhost::HostError& error) {
    if (error.status().cause() == EK::EKCause::kInvalidArgument) {
      err << prefix << oneLine(error.what()) << seeHelp << "\n";
      return 2;
    }
    err << prefix << oneLine(error.what()) << "\n";
  } catch (const ToolError& error) {
    err << prefix << oneLine(error.what()) << "\n";
  } catch (const EK::EKError& error) {
    err << prefix << oneLine(error.getDescription()) << "\n";
  } catch (const std::exception& error) {
    err << prefix << oneLine(error.what()) << "\n";
  }
  return 1;
}

}  // namespace ektool
