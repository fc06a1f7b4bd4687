// ekvision run: a vision module on a camera, in a process of its own.
#include <liveview.h>
#include <run.h>
#include <viewerserver.h>

#include <CLI/CLI.hpp>
#ifdef EKVISION_TOOL_PYTHON_MODULES
#include <pyembed.h>
#endif

#include <memory>
#include <ostream>

#include "commands.h"
#include "options.h"
#include "printer.h"
#include "runreport.h"

namespace ektool {
namespace {

const char kRunDescription[] =
    "Runs a vision module as the robot's framework would: builds a broker, the camera module "
    "EKVideoDevice and the module, subscribes to the module (which starts detection), lets it "
    "run, unsubscribes and shuts everything down.";

const char kRunFooter[] =
    "Prints the camera and the module, each call with its result, one line per detection\n"
    "(modules with the remote method getDetections, see ekvision/ekdetection.h):\n"
    "  detection t=SECONDS.MICROS (+S since the first frame) box x= y= w= h=\n"
    "            angles left= top= right= bottom= rad pixels=N\n"
    "and a summary: frames processed, the frame rate achieved, the pacing (|period - asked\n"
    "period| between fetches, mean, 99th percentile and maximum; repeated and skipped camera\n"
    "frames by their time stamps), the detections, on the synthetic scene their mean\n"
    "intersection over union with the rectangle drawn at each one's time stamp, and the\n"
    "files written. Library failures are shown on standard error as they happen. Ctrl-C\n"
    "ends the run early, cleanly. A file that could not be written whole makes the run\n"
    "exit 1 with one line naming the cause.";

class RunCommand : public Command {
 public:
  void define(CLI::App& app) override {
    app.description(kRunDescription);
    app.footer(kRunFooter);
    CLI::Option* module =
        app.add_option("--module", options_.module,
                       "a vision module plugin (built with EKVISION_PLUGIN), or a Python file "
                       "defining an ekvision.Module subclass; default: the built-in motion "
                       "detector")
            ->type_name("PLUGIN.so|FILE.py");
    app.add_option("--class", className_,
                   "the ekvision.Module subclass to run from a --module FILE.py (default: "
                   "the only one it defines)")
        ->type_name("NAME")
        ->needs(module);
    addCameraOption(app, options_.camera, "--camera",
                    std::string("default: the synthetic scene, a bright rectangle moving over a "
                                "dark texture. A FILE.arv plays in a loop at its own size, a "
                                "video file in a loop at its own rate. ") +
                        kCameraSpecHelp);
    addSecondsOption(app, options_.seconds,
                     "run for S seconds (default 5 when --frames is not given)");
    addFramesOption(app, options_.frames,
                    "run until N frames were processed; with --seconds, whichever comes first");
    addFpsOption(app, fps_, "frames per second (default 15, or a Python module's own)");
    // The parser is gone when the command runs: whether --resolution was given is kept.
    addResolutionOption(app, options_.resolution,
                        "the size asked of the camera (default 2, or a Python module's own)")
        ->each([this](const std::string&) { resolutionGiven_ = true; });
    app.add_option("--call", calls_,
                   "call a remote method of the module once detection runs; repeat for more "
                   "calls, made in order. Arguments are read as true or false, whole or decimal "
                   "numbers, or else text (always text for a string parameter); e.g. --call "
                   "setFrameRate 30 --call pause true")
        ->type_name("METHOD [ARG...]")
        ->allow_extra_args()
        ->expected(1, -1);
    CLI::Option* record = app.add_option(
        "--record", options_.record,
        "record every frame the module fetched, on a thread of its own: when the disk falls "
        "behind frames are dropped, never the pace");
    record->type_name("OUT.arv");
    CLI::Option* sheet =
        app.add_option("--contact-sheet", options_.contactSheet,
                       "a grid of 8 frames spread over the run, detected boxes in green")
            ->type_name("OUT.png")
            ->check([](const std::string& path) {
              return path.size() > 4 && path.compare(path.size() - 4, 4, ".png") == 0
                         ? std::string()
                         : "must name a .png file: " + path;
            });
    app.add_option("--detections", options_.detections,
                   "write every detection as one line of JSON: timeStamp (us), x, y, w, h "
                   "(pixels), leftAngle, topAngle, rightAngle, bottomAngle (radians), "
                   "pixelCount; and the summary as the last line, {\"summary\": {...}}")
        ->type_name("OUT.jsonl");
    app.add_option("--summary-json", options_.summaryJson,
                   "write the summary as one JSON object: frames, detections, seconds, rate, "
                   "everyFrame, error (null, or its cause and message)")
        ->type_name("OUT.json");
    app.add_option("--name", options_.name,
                   "the module's name (default: MotionDetector, or the plugin's file name "
                   "without lib and extension)")
        ->check([](const std::string& name) {
          return name.empty() ? std::string("needs a non-empty name") : std::string();
        });
    app.add_flag("--list-methods", listMethods_, "list the module's remote methods and exit");
    CLI::Option* control =
        app.add_option("--control", options_.control,
                       "answer the remote methods of the module and the camera on ENDPOINT "
                       "while the run lasts (tcp://127.0.0.1:PORT, :* for any free port, or "
                       "ipc://PATH): 'ekvision call ENDPOINT MODULE METHOD [ARG...]' calls them")
            ->type_name("ENDPOINT");
    app.add_option("--curve", options_.controlKeyFile,
                   "take CURVE clients only on --control, with the server's key pair in "
                   "KEYFILE (ekvision keys); its 'client = KEY' lines, when there are any, are "
                   "the only clients let in")
        ->type_name("KEYFILE")
        ->needs(control);
    CLI::Option* everyFrame = app.add_flag(
        "--every-frame", options_.everyFrame,
        "offline: hand every frame of the --camera recording to the module once, in order, as "
        "fast as it goes (no pacing, no loop thread), each with its recorded time stamp, "
        "camera and angles; the run ends at the last frame (or --frames/--seconds)");
    CLI::Option* view =
        addViewerAddressOption(app, viewAddress_, "--view",
                               std::string("show the frames the module sees, with its boxes, "
                                           "in a web page on ADDR:PORT (default ") +
                                   ekviewer::kDefaultViewerAddress +
                                   "), with buttons for pause and the frame rate; the run "
                                   "then lasts until Ctrl-C unless --seconds or --frames")
            ->expected(0, 1);
    everyFrame->excludes(record)->excludes(sheet)->excludes(control)->excludes(view);
    // The options live only while the command line is parsed.
    app.parse_complete_callback([this, view] { viewing_ = view->count() > 0; });
  }

  int run(Output& output) override {
    if (options_.everyFrame && !options_.camera) {
      throw UsageError("--every-frame needs --camera FILE.arv");
    }
    options_.fps = fps_.value_or(options_.fps);
    if (!options_.seconds && !options_.frames && !options_.everyFrame && !viewing_) {
      options_.seconds = ekhost::kDefaultRunSeconds;
    }
    for (const std::vector<std::string>& call : calls_) {
      options_.calls.push_back({call.front(), {call.begin() + 1, call.end()}});
    }
    std::unique_ptr<PythonModuleFile> python = loadPython();
    if (listMethods_) {
      const ekhost::ModuleMethods module = ekhost::moduleMethods(options_);
      output.out << "methods of " << module.name << ":\n" << methodList(module.methods);
      return 0;
    }
    Printer printer(output);
    ekviewer::LiveView live;
    std::unique_ptr<ekviewer::ViewerServer> viewer;
    if (viewing_) {
      const std::string title =
          "ekvision run: " + options_.module.value_or("the built-in motion detector") + " on " +
          options_.camera.value_or("the synthetic scene");
      viewer = std::make_unique<ekviewer::ViewerServer>(
          ekviewer::parseListenAddress(viewAddress_),
          ekviewer::ViewerContent{&live, nullptr, title}, printer);
      output.out << "viewer: " << viewer->url() << std::endl;
      options_.watcher = &live;
    }
    const ekhost::RunReport report = ekhost::runModule(options_, printer);
    viewer.reset();
    output.out << runSummary(report, options_) << std::flush;
    check(report.status);
    return 0;
  }

 private:
#ifdef EKVISION_TOOL_PYTHON_MODULES
  using PythonModuleFile = ekpy::EmbeddedPythonModule;
#else
  struct PythonModuleFile {};
#endif

  // A --module FILE.py: Python runs from here to the end of the run, the module's frame
  // rate and resolution standing unless --fps and --resolution are given.
  std::unique_ptr<PythonModuleFile> loadPython() {
    const bool python = options_.module && options_.module->size() > 3 &&
                        options_.module->compare(options_.module->size() - 3, 3, ".py") == 0;
    if (!python) {
      if (className_) {
        throw UsageError("--class needs a --module FILE.py");
      }
      return nullptr;
    }
#ifdef EKVISION_TOOL_PYTHON_MODULES
    auto file = std::make_unique<PythonModuleFile>(*options_.module, className_);
    options_.moduleSource = file->source();
    options_.fps = fps_.value_or(file->frameRate());
    if (!resolutionGiven_) {
      options_.resolution = file->resolution();
    }
    return file;
#else
    throw UsageError("this ekvision was built without Python: it cannot run " + *options_.module);
#endif
  }

  ekhost::RunOptions options_;
  std::optional<std::string> className_;
  bool resolutionGiven_ = false;
  std::optional<int> fps_;
  std::vector<std::vector<std::string>> calls_;
  bool listMethods_ = false;
  std::string viewAddress_;
  bool viewing_ = false;
};

}  // namespace

std::unique_ptr<Command> makeRunCommand() {
  return std::make_unique<RunCommand>();
}

}  // namespace ektool
