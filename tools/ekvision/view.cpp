// ekvision view: a recording to scrub, or a camera live, in a web browser.
#include <cameraview.h>
#include <livecamera.h>
#include <viewerserver.h>

#include <CLI/CLI.hpp>

#include <memory>
#include <ostream>

#include "commands.h"
#include "options.h"
#include "printer.h"

namespace ektool {
namespace {

const char kViewDescription[] =
    "Serves a web page that shows a recording or a camera. For FILE.arv: a timeline to scrub "
    "by time, a step back and forward (buttons, arrow keys), the frame's stamp, index, camera "
    "and angles, its detections as boxes and as a list, Save PNG, and an MP4 export of a "
    "range. For a camera: its frames live, newest first (a slow page skips frames), with the "
    "frame rate achieved, its pacing and skipped frames.";

const char kViewFooter[] =
    "Listens on 127.0.0.1 only unless --listen says otherwise. The page is built into the\n"
    "tool and loads nothing from elsewhere; it reaches the recording only by frame numbers\n"
    "and times. Prints the page's address, then refused requests as they come. Ctrl-C (or\n"
    "--seconds) ends it. `ekvision run --view` shows a module at work, with its boxes.";

class ViewCommand : public Command {
 public:
  void define(CLI::App& app) override {
    app.description(kViewDescription);
    app.footer(kViewFooter);
    addCameraOption(app, target_, "",
                    std::string("a recording FILE.arv, or a camera (default: the synthetic "
                                "scene). ") +
                        kCameraSpecHelp)
        ->required(false);
    app.add_option("--detections", recording_.detections,
                   "FILE.arv only: the boxes of this log of ekvision run --detections, each "
                   "shown on the frame of its time stamp")
        ->type_name("D.jsonl");
    app.add_option("--stream", recording_.stream, "FILE.arv only: the stream shown (default 0)")
        ->type_name("S")
        ->check(wholeNumber(0, std::numeric_limits<std::uint32_t>::max()));
    addViewerAddressOption(
        app, listen_, "--listen",
        std::string("where the page is served (default ") + ekviewer::kDefaultViewerAddress + ")");
    addFpsOption(app, fps_, "a camera only: frames a second (default 15)");
    addResolutionOption(app, camera_.resolution, "a camera only: the size asked (default 2)");
    addSecondsOption(app, camera_.seconds, "serve for S seconds (default: until Ctrl-C)");
  }

  int run(Output& output) override {
    Printer printer(output);
    const ekviewer::ListenAddress address = ekviewer::parseListenAddress(listen_);
    if (target_ && ekhost::isRecordingSpec(*target_)) {
      if (fps_) {
        throw UsageError("--fps applies to a camera: a recording shows its own frames");
      }
      recording_.recording = *target_;
      ekviewer::RecordingView recording(recording_);
      ekviewer::ViewerServer server(address, {nullptr, &recording, *target_}, printer);
      output.out << "viewer: " << server.url() << " shows " << *target_ << " ("
                 << recording.frames() << " frames)" << std::endl;
      ekviewer::waitForTheEnd(camera_.seconds);
      return 0;
    }
    if (!recording_.detections.empty()) {
      throw UsageError("--detections applies to a recording FILE.arv");
    }
    camera_.camera = target_;
    camera_.fps = fps_.value_or(camera_.fps);
    ekviewer::LiveView live;
    ekviewer::ViewerServer server(address, {&live, nullptr, target_.value_or("synthetic scene")},
                                  printer);
    output.out << "viewer: " << server.url() << std::endl;
    const long long shown = ekviewer::watchCamera(camera_, live, printer);
    output.out << "showed " << shown << " frames" << std::endl;
    return 0;
  }

 private:
  std::optional<std::string> target_;
  ekviewer::RecordingViewOptions recording_;
  ekviewer::CameraViewOptions camera_;
  std::optional<int> fps_;
  std::string listen_;
};

}  // namespace

std::unique_ptr<Command> makeViewCommand() {
  return std::make_unique<ViewCommand>();
}

}  // namespace ektool
