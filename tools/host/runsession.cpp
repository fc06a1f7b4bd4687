#include "runsession.h"

#include <ekcommon/ekmodule.h>
#include <ekerror/ekerror.h>
#include <ekvision/ekvisiondefinitions.h>
#include <ru/log.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <limits>
#include <mutex>

#include "anycamera.h"
#include "interrupt.h"
#include "livecamera.h"
#include "motiondetectormodule.h"
#include "pacing.h"
#include "pathguard.h"
#include "recording.h"
#include "textio.h"

namespace ekhost {
namespace {

const char* const kSubscriber = "ekvision-run";
const char* const kDefaultName = "MotionDetector";
const std::size_t kSheetFrames = 8;
const int kSheetColumns = 4;
// How often the detections are collected while the module runs.
const auto kPollPeriod = std::chrono::milliseconds(50);

// Hands the records of failures (level 2 and below) to the listener while a run lasts. A failure
// that repeats (every frame, say) is shown once, and its count when the run ends. The recorder's
// records ("EKVideo") go to the tool's own error line instead.
class FailureLog {
 public:
  explicit FailureLog(Listener& listener) : state_(std::make_shared<State>(listener)) {
    // The handler keeps the state alive: a thread may be inside it while it is replaced.
    std::shared_ptr<State> state = state_;
    state->previous = ru::log::setHandler(
        [state](int level, const std::string& category, const std::string& message,
                const std::string& file, const std::string& function, int line) {
          if (category == "EKVideo" && state->previous) {
            state->previous(level, category, message, file, function, line);
          } else if (level <= 2) {
            state->show(category, message);
          }
        });
  }
  ~FailureLog() {
    ru::log::setHandler(state_->previous);
    std::lock_guard<std::mutex> lock(state_->mutex);
    for (const Failure& failure : state_->failures) {
      if (failure.count > 1) {
        state_->listener.warn(failure.text + " (" + std::to_string(failure.count) +
                              " times in all)");
      }
    }
  }
  FailureLog(const FailureLog&) = delete;
  FailureLog& operator=(const FailureLog&) = delete;

 private:
  struct Failure {
    std::string key;
    std::string text;
    std::size_t count;
  };

  struct State {
    explicit State(Listener& to) : listener(to) {}

    void show(const std::string& category, const std::string& message) {
      std::string text = category + ": " + message;
      text.erase(std::remove(text.begin(), text.end(), '\n'), text.end());
      // Failures that differ only in their numbers (a frame index) are one failure.
      std::string key = text;
      std::replace_if(
          key.begin(), key.end(), [](unsigned char c) { return std::isdigit(c) != 0; }, '#');
      std::lock_guard<std::mutex> lock(mutex);
      for (Failure& failure : failures) {
        if (failure.key == key) {
          ++failure.count;
          return;
        }
      }
      failures.push_back({key, text, 1});
      listener.warn(text);
    }

    Listener& listener;
    std::mutex mutex;
    std::vector<Failure> failures;
    ru::log::Handler previous;
  };

  std::shared_ptr<State> state_;
};

}  // namespace

RunSession::RunSession(const RunOptions& options, Listener& listener)
    : options_(options), listener_(listener) {}

RunSession::~RunSession() {
  shutDown();
}

ModuleMethods RunSession::methods() {
  buildCamera();
  buildModule();
  return {name_, module_->getMethodInfos()};
}

void RunSession::guardFiles() const {
  std::vector<GuardedFile> inputs;
  if (options_.camera) {
    inputs.push_back({*options_.camera, isRecordingSpec(*options_.camera)
                                            ? "the recording that --camera plays"
                                            : "the camera that --camera names"});
  }
  if (options_.module) {
    inputs.push_back({*options_.module, "the plugin that --module loads"});
  }
  std::vector<GuardedFile> outputs;
  if (options_.record) {
    outputs.push_back({recordingBaseName(*options_.record) + ".arv", "--record"});
  }
  if (options_.contactSheet) {
    outputs.push_back({*options_.contactSheet, "--contact-sheet"});
  }
  if (options_.detections) {
    outputs.push_back({*options_.detections, "--detections"});
  }
  if (options_.summaryJson) {
    outputs.push_back({*options_.summaryJson, "--summary-json"});
  }
  refuseOverwrites(inputs, outputs);
}

RunReport RunSession::run() {
  guardFiles();
  FailureLog failures(listener_);
  InterruptScope interrupts;
  buildCamera();
  buildModule();
  const std::vector<EK::EKValue> arguments = checkCalls();
  report_.module = name_;
  report_.modulePath = options_.module.value_or("");
  if (options_.everyFrame) {
    runEveryFrame(arguments);
    return report_;
  }
  attachObservers();
  report_.camera = cameraLine_;
  listener_.note("camera: " + cameraLine_);
  listener_.note(moduleLine());
  startControl();
  module_->subscribe(kSubscriber, std::max(1, 1000 / options_.fps), 0.0f);
  subscribed_ = true;
  startWatcher();
  const std::vector<FrameTiming> first = source_->timings();
  firstStamp_ = first.empty() ? 0 : first.front().timeStamp;
  applyCalls(arguments);
  const std::size_t firstFrameAfterCalls = std::max<std::size_t>(source_->timings().size(), 1) - 1;
  waitForTheEnd();
  report(firstFrameAfterCalls);
  if (source_->timings().empty()) {
    report_.status =
        EK::EKStatus(EK::EKCause::kUnavailable, "no frame reached the module " + name_);
  }
  finishFiles();
  return report_;
}

std::string RunSession::moduleLine() const {
  return "module: " + name_ +
         (options_.module ? " from " + *options_.module : std::string(" (built in)"));
}

void RunSession::buildCamera() {
  OpenedCamera camera = openCamera(options_.camera, options_.resolution, options_.fps,
                                   /*loop=*/true);
  width_ = camera.width;
  height_ = camera.height;
  cameraLine_ = camera.description;
  liveCamera_ = camera.live != nullptr;
  scene_ = camera.scene;
  std::shared_ptr<EK::EKFrameSource> inner = camera.source;
  if (options_.record) {
    checkRecordable(width_, height_, "--record");
  }
  broker_.reset(new EK::EKBroker("ekvision"));
  source_ = std::make_shared<ObservedSource>(inner);
  camera_ = EK::createModule<EK::EKVideoDevice>(broker_, source_);
}

void RunSession::buildModule() {
  if (options_.moduleSource) {
    name_ = options_.name.value_or(options_.moduleSource->defaultName);
    module_ = options_.moduleSource->create(broker_, name_);
  } else if (options_.module) {
    plugin_ = std::make_unique<VisionPlugin>(*options_.module);
    name_ = options_.name.value_or(VisionPlugin::defaultModuleName(*options_.module));
    module_ = plugin_->create(broker_, name_);
  } else {
    name_ = options_.name.value_or(kDefaultName);
    module_ = EK::createModule<ekmotion::MotionDetectorModule>(broker_, name_);
  }
  if (module_->hasExited()) {
    fail(EK::EKCause::kUnavailable, "the module " + name_ + " exited while it was built");
  }
  proxy_ = broker_->getProxy(name_, 0);
  if (!bool(proxy_->call("setResolution", options_.resolution))) {
    fail(EK::EKCause::kUnsupported,
         "the camera refused resolution " + std::to_string(options_.resolution));
  }
  if (!bool(proxy_->call("setFrameRate", options_.fps))) {
    fail(EK::EKCause::kUnsupported,
         "the camera refused " + std::to_string(options_.fps) + " frames/s");
  }
  hasDetections_ = module_->getMethod("getDetections") != nullptr;
}

std::vector<EK::EKValue> RunSession::checkCalls() const {
  std::vector<EK::EKValue> arguments;
  for (const CallSpec& call : options_.calls) {
    const boost::shared_ptr<const EK::EKMethodInfo> method = module_->getMethod(call.method);
    if (!method) {
      fail(EK::EKCause::kUnsupported, "the module " + name_ + " has no remote method '" +
                                          call.method +
                                          "' (ekvision run --list-methods lists them)");
    }
    arguments.push_back(callArguments(call, *method));
  }
  return arguments;
}

void RunSession::openDetectionLog() {
  if (options_.detections) {
    detectionLog_ = std::make_unique<DetectionLog>(*options_.detections);
  }
}

void RunSession::attachObservers() {
  openDetectionLog();
  if (scene_) {
    sceneScore_ = std::make_unique<SceneScore>(scene_);
    SceneScore* score = sceneScore_.get();
    source_->addObserver([score](const EK::EKValue& image) { score->noteFrame(image); });
  }
  if (options_.record) {
    recorder_ = std::make_unique<FrameRecorder>(*options_.record, width_, height_,
                                                module_->getColorSpace());
    FrameRecorder* recorder = recorder_.get();
    source_->addObserver([recorder](const EK::EKValue& image) { recorder->offer(image); });
  }
  if (options_.watcher) {
    RunWatcher* watcher = options_.watcher;
    source_->addObserver([watcher](const EK::EKValue& image) { watcher->fetched(image); });
  }
  if (options_.contactSheet) {
    sampler_ = std::make_unique<FrameSampler>(kSheetFrames);
    FrameSampler* sampler = sampler_.get();
    source_->addObserver([sampler](const EK::EKValue& image) { sampler->offer(image); });
  }
}

void RunSession::startWatcher() {
  if (!options_.watcher) {
    return;
  }
  // A proxy of its own: the watcher calls from its threads while this one collects.
  boost::shared_ptr<EK::EKProxy> proxy = broker_->getProxy(name_, 0);
  auto mutex = std::make_shared<std::mutex>();
  options_.watcher->started(
      name_, options_.fps, [proxy, mutex](const std::string& method, const EK::EKValue& arguments) {
        std::lock_guard<std::mutex> lock(*mutex);
        EK::EKValue result;
        proxy->execute(method, arguments, result);
        return result;
      });
  watching_ = true;
}

void RunSession::applyCalls(const std::vector<EK::EKValue>& arguments) {
  for (std::size_t i = 0; i < options_.calls.size(); ++i) {
    const CallSpec& call = options_.calls[i];
    EK::EKValue result;
    try {
      proxy_->execute(call.method, arguments[i], result);
    } catch (const EK::EKError& error) {
      throw HostError(
          statusOf(error, EK::EKCause::kUnavailable, "call " + describeCall(call) + " failed"));
    }
    listener_.note("call " + describeCall(call) + " -> " + callResultText(result));
  }
}

void RunSession::startControl() {
  if (!options_.control) {
    return;
  }
  Listener& listener = listener_;
  try {
    control_ = std::make_unique<EK::EKMethodServer>(
        broker_, EK::EKMethodServerSettings{*options_.control, options_.controlKeyFile},
        [&listener](const std::string& line) { listener.warn("control: " + line); });
  } catch (const EK::EKFailure& failure) {
    throw HostError(failure.status());
  }
  listener_.note("control: the remote methods of " + name_ + " and EKVideoDevice on " +
                 control_->endpoint() + " (ekvision call " + control_->endpoint() + " --list)");
}

void RunSession::waitForTheEnd() {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline =
      options_.seconds ? Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                            std::chrono::duration<double>(*options_.seconds))
                       : Clock::time_point::max();
  const std::size_t target = options_.frames ? static_cast<std::size_t>(*options_.frames)
                                             : std::numeric_limits<std::size_t>::max();
  std::size_t released = 0;
  for (;;) {
    const Clock::time_point wake = std::min(deadline, Clock::now() + kPollPeriod);
    std::size_t fetched = 0;
    if (watching_) {
      // A watcher shows each frame once the module is done with it: wake at every release.
      released = source_->waitForRelease(released, wake);
      fetched = source_->timings().size();
    } else {
      fetched = source_->waitForFrames(target, wake);
    }
    // Frames done before the detections are collected: their detections are among them.
    const std::size_t done = source_->framesDone();
    collectDetections();
    if (watching_) {
      options_.watcher->processed(done);
    }
    if (fetched >= target || Clock::now() >= deadline || !module_->isProcessing() ||
        InterruptScope::requested()) {
      break;
    }
  }
  module_->unsubscribe(kSubscriber);
  subscribed_ = false;
  collectDetections();
}

void RunSession::collectDetections() {
  if (!hasDetections_) {
    return;
  }
  const EK::EKValue list = proxy_->call("getDetections");
  for (unsigned i = 0; list.isArray() && i < list.getSize(); ++i) {
    EK::EKDetection detection;
    if (EK::EKDetection::fromEKValue(list[static_cast<int>(i)], detection)) {
      detections_.emplace(detection.timeStamp, detection);
      listener_.detected(detection, firstStamp_);
      if (watching_) {
        options_.watcher->detected(detection);
      }
      if (detectionLog_) {
        detectionLog_->add(detection);
      }
      if (sceneScore_) {
        sceneScore_->add(detection);
      }
    }
  }
  if (detectionLog_) {
    detectionLog_->flush();
  }
}

void RunSession::report(std::size_t firstFrameAfterCalls) {
  const std::vector<FrameTiming> all = source_->timings();
  const std::vector<FrameTiming> measured(
      all.begin() + static_cast<long>(std::min(firstFrameAfterCalls, all.size())), all.end());
  report_.framesProcessed = module_->getMethod("getFrameCount")
                                ? int(proxy_->call("getFrameCount"))
                                : static_cast<long long>(all.size());
  report_.detections = detections_.size();
  report_.requestedRate = module_->getFrameRate();
  report_.cameraOnModuleGrid = !liveCamera_;
  report_.pacing = measurePacing(measured, report_.requestedRate);
  report_.seconds = report_.pacing->seconds;
  report_.rate = report_.pacing->rate;
  if (sceneScore_) {
    report_.scene = SceneMatch{sceneScore_->count(), sceneScore_->mean(), sceneScore_->minimum()};
  }
}

void RunSession::finishFiles() {
  if (recorder_) {
    report_.recording = recorder_->finish();
    report_.recordingPath = recordingBaseName(*options_.record) + ".arv";
    if (report_.recording->writeFailed && report_.status.ok()) {
      report_.status = writeFailure(report_.recordingPath, report_.recording->writeStatus);
    }
  }
  if (sampler_) {
    try {
      const std::vector<SampledFrame> picked =
          pickForSheet(sampler_->frames(), detections_, kSheetFrames);
      writeContactSheet(picked, detections_, firstStamp_, kSheetColumns, *options_.contactSheet);
      report_.contactSheet = picked.size();
    } catch (const HostError& error) {
      if (report_.status.ok()) {
        report_.status = error.status();
      }
    }
  }
  // The summary records come last: they carry the status of everything before them.
  if (detectionLog_) {
    report_.detectionLog = detectionLog_->lines();
    try {
      detectionLog_->addSummary(runSummaryJson(report_));
      detectionLog_->finish();
    } catch (const HostError& error) {
      report_.detectionLog.reset();
      if (report_.status.ok()) {
        report_.status = error.status();
      }
    }
  }
  if (options_.summaryJson) {
    try {
      writeTextFile(*options_.summaryJson, runSummaryJson(report_) + "\n");
      report_.summaryWritten = true;
    } catch (const HostError& error) {
      if (report_.status.ok()) {
        report_.status = error.status();
      }
    }
  }
}

void RunSession::shutDown() {
  control_.reset();
  if (watching_) {
    options_.watcher->finished();
    watching_ = false;
  }
  if (subscribed_) {
    try {
      module_->unsubscribe(kSubscriber);
    } catch (const std::exception& error) {
      listener_.warn(std::string("stopping the module failed: ") + error.what());
    }
    subscribed_ = false;
  }
  // The loop's task may still hold the module; it must end before the camera goes, and
  // everything must go before the plugin that holds the module's code.
  if (broker_) {
    broker_->joinTasks();
  }
  proxy_.reset();
  module_.reset();
  camera_.reset();
  if (recorder_) {
    recorder_->finish();
  }
  source_.reset();
  broker_.reset();
  plugin_.reset();
}

}  // namespace ekhost

namespace ekhost {

RunReport runModule(const RunOptions& options, Listener& listener) {
  RunSession session(options, listener);
  return session.run();
}

ModuleMethods moduleMethods(const RunOptions& options) {
  Listener quiet;
  RunSession session(options, quiet);
  return session.methods();
}

}  // namespace ekhost
