// The command table of the ekvision tool, and how failures become exit codes.
#include <ekerror/ekerror.h>
#include <ru/log.h>

#include <opencv2/core/utils/logger.hpp>

#include <algorithm>
#include <ostream>

#include "tool.h"

#ifndef EKVISION_VERSION
#define EKVISION_VERSION "unknown"
#endif

namespace ektool {
namespace {

struct Command {
  const char* name;
  CommandFunction run;
  const char* summary;
};

const Command kCommands[] = {
    {"info", runInfo, "describe a .ari picture or a .arv recording"},
    {"export", runExport, "write frames of a recording as PNG or PPM pictures"},
    {"import", runImport, "record a video file (any OpenCV can read) as a .arv recording"},
    {"recover", runRecover, "give a recording that was never closed its frame count"},
    {"convert", runConvert, "write a .ari picture as PNG or PPM"},
    {"run", runRun, "run a vision module on the synthetic scene, a recording or a camera"},
    {"record", runRecord, "record a live camera, pipeline, stream or video into a recording"},
    {"cameras", runCameras, "list the V4L2 cameras with their formats and sizes"},
};

std::string& libraryMessage() {
  static std::string message;
  return message;
}

void printUsage(std::ostream& out) {
  out << "usage: ekvision COMMAND [ARGUMENTS]\n"
      << "\n"
      << "Tools for the vision library's .ari pictures and .arv recordings, and a host\n"
      << "that runs vision modules.\n"
      << "\n"
      << "commands:\n";
  for (const Command& command : kCommands) {
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

// Keeps the library's log records (the reason of a refused file) instead of printing them.
class LibraryLogCapture {
 public:
  LibraryLogCapture() {
    libraryMessage().clear();
    previous_ = ru::log::setHandler([](int, const std::string&, const std::string& message,
                                       const std::string&, const std::string&,
                                       int) { libraryMessage() = oneLine(message); });
  }
  ~LibraryLogCapture() { ru::log::setHandler(previous_); }
  LibraryLogCapture(const LibraryLogCapture&) = delete;
  LibraryLogCapture& operator=(const LibraryLogCapture&) = delete;

 private:
  ru::log::Handler previous_;
};

}  // namespace

std::string lastLibraryMessage() {
  return libraryMessage();
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
  const Command* command = nullptr;
  for (const Command& candidate : kCommands) {
    if (name == candidate.name) {
      command = &candidate;
    }
  }
  if (command == nullptr) {
    err << "ekvision: unknown command '" << oneLine(name) << "' (see ekvision --help)\n";
    return 2;
  }
  LibraryLogCapture capture;
  // OpenCV reports a file it cannot open with several lines of its own; the tool's error
  // line says it instead.
  cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_SILENT);
  Output output{out, err, errIsTerminal};
  const std::string prefix = std::string("ekvision ") + command->name + ": ";
  try {
    return command->run(std::vector<std::string>(args.begin() + 1, args.end()), output);
  } catch (const UsageError& error) {
    err << prefix << oneLine(error.what()) << " (see ekvision " << command->name << " --help)\n";
    return 2;
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
