// ekvision call: a remote method of a module that another process runs.
#include <remotecall.h>

#include <CLI/CLI.hpp>

#include <chrono>
#include <cmath>
#include <ostream>

#include "commands.h"
#include "options.h"
#include "runreport.h"

namespace ektool {
namespace {

const char kCallDescription[] =
    "Calls a remote method of a module that 'ekvision run --control ENDPOINT' runs, and "
    "prints its result; with --list, lists the modules there and their remote methods. "
    "Arguments are read as true or false, whole or decimal numbers, or else text (always "
    "text for a string parameter), then checked against the method's parameter types.";

const char kCallFooter[] =
    "ENDPOINT is tcp://HOST:PORT or ipc://PATH; add ?curve=KEYFILE for a host that takes\n"
    "CURVE clients only (ekvision keys OUT --server SERVER.pub writes the client's file).\n"
    "Examples:\n"
    "  ekvision call tcp://127.0.0.1:7420 --list\n"
    "  ekvision call tcp://127.0.0.1:7420 MotionDetector pause true\n"
    "  ekvision call tcp://127.0.0.1:7420 MotionDetector isPaused\n"
    "Exits with 1 when the call failed or no answer came, 2 for arguments the method cannot\n"
    "take.";

class CallCommand : public Command {
 public:
  void define(CLI::App& app) override {
    app.description(kCallDescription);
    app.footer(kCallFooter);
    app.add_option("ENDPOINT", endpoint_, "where the host answers")->required();
    app.add_option("CALL", words_, "MODULE METHOD [ARG...]")->expected(0, -1);
    app.add_flag("--list", list_, "list the modules and their remote methods");
    addSecondsOption(app, timeout_, "wait at most S seconds for the answer (default 5)",
                     "--timeout");
  }

  int run(Output& output) override {
    if (list_ == !words_.empty()) {
      throw UsageError(list_ ? "--list takes no MODULE METHOD" : "give MODULE METHOD, or --list");
    }
    const auto timeout =
        std::chrono::milliseconds(std::llround(timeout_.value_or(kDefaultTimeoutSeconds) * 1000.0));
    if (list_) {
      for (const EK::EKModuleDescription& module : ekhost::listRemoteMethods(endpoint_, timeout)) {
        output.out << "methods of " << module.name << ":\n" << methodList(module.methods);
      }
      return 0;
    }
    if (words_.size() < 2) {
      throw UsageError("give MODULE METHOD [ARG...], not only MODULE");
    }
    const ekhost::CallSpec call{words_[1], {words_.begin() + 2, words_.end()}};
    const EK::EKValue result = ekhost::callRemoteMethod(endpoint_, words_[0], call, timeout);
    output.out << words_[0] << "." << ekhost::describeCall(call) << " -> "
               << ekhost::callResultText(result) << "\n";
    return 0;
  }

 private:
  static constexpr double kDefaultTimeoutSeconds = 5;
  std::string endpoint_;
  std::vector<std::string> words_;
  bool list_ = false;
  std::optional<double> timeout_;
};

}  // namespace

std::unique_ptr<Command> makeCallCommand() {
  return std::make_unique<CallCommand>();
}

}  // namespace ektool
