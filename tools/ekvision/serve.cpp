// ekvision serve: a camera's frames published to other machines.
#include <serve.h>

#include <CLI/CLI.hpp>

#include <ostream>

#include "commands.h"
#include "options.h"
#include "printer.h"

namespace ektool {
namespace {

const char kServeDescription[] =
    "Publishes the frames of a camera over ZeroMQ (the synthetic scene when SPEC is omitted), "
    "each with its capture stamp, camera index, angles and a sequence number, and answers "
    "the clients' camera settings (resolution, frame rate, active camera) on the next port. "
    "A client that falls behind skips frames; it never builds a backlog. Clients open it as "
    "the camera SPEC tcp://HOST:PORT or ipc://PATH. The wire format: docs/wire.md.";

const char kServeFooter[] =
    "Listens on 127.0.0.1 only unless --bind says otherwise (e.g. tcp://0.0.0.0:7410); use\n"
    "--curve on any other network. Prints one line saying what it serves and where, refused\n"
    "clients and messages as they come, and a summary when Ctrl-C (or --seconds, --frames)\n"
    "ends it. Exits with 1 when no frame could be served.";

class ServeCommand : public Command {
 public:
  void define(CLI::App& app) override {
    app.description(kServeDescription);
    app.footer(kServeFooter);
    addCameraOption(
        app, options_.spec, "",
        std::string("the camera to serve (default: the synthetic scene). ") + kCameraSpecHelp)
        ->required(false);
    app.add_option("--bind", options_.bind,
                   "the frame endpoint, tcp://HOST:PORT or ipc://PATH (default "
                   "tcp://127.0.0.1:7410; settings on the next port, or PATH.settings)")
        ->type_name("ENDPOINT");
    addResolutionOption(app, options_.resolution,
                        "the size of the frames until a client asks another (default 2)");
    addFpsOption(app, options_.fps, "frames a second, at most (default 15)");
    app.add_option("--encoding", options_.encoding,
                   "raw, zstd (lossless) or jpeg[:QUALITY] (4:2:2, quality 1 to 100, default "
                   "80); default raw")
        ->type_name("ENCODING");
    app.add_option("--curve", options_.curve,
                   "take CURVE clients only, with the server's key pair in KEYFILE (ekvision "
                   "keys); its 'client = KEY' lines, when there are any, are the only clients "
                   "let in")
        ->type_name("KEYFILE");
    CLI::Option* seconds = addSecondsOption(app, options_.seconds, "serve for S seconds");
    addFramesOption(app, options_.frames, "serve N frames")->excludes(seconds);
  }

  int run(Output& output) override {
    Printer printer(output);
    const ekhost::ServeReport report = ekhost::serveCamera(options_, printer);
    output.out << "served " << report.published << " frames in "
               << timingText(report.published, report.seconds) << " on " << report.frameEndpoint
               << "; " << report.settingsAnswered << " settings requests answered\n";
    printCameraFailures(output.out, report.cameraFailures, report.lastCameraFailure);
    output.out.flush();
    check(report.status);
    return 0;
  }

 private:
  ekhost::ServeOptions options_;
};

}  // namespace

std::unique_ptr<Command> makeServeCommand() {
  return std::make_unique<ServeCommand>();
}

}  // namespace ektool
