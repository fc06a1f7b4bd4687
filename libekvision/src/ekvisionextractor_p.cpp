#include "ekvisionextractor_p.h"

#include <algorithm>
#include <cstdint>

#include <ekerror/ekerror.h>
#include <ekvision/ekimage.h>
#include <ekvision/ekvisionextractor.h>

#include "logrecord.h"

namespace EK {
namespace {

const char* const kExtractorCategory = "EKVisionExtractor";

void logLine(int level, const char* function, const std::string& message) {
  detail::logRecord(level, kExtractorCategory, function, message);
}

float periodOf(int frameRate) {
  return frameRate > 0 ? 1.0f / static_cast<float>(frameRate) : 0.0f;
}

}  // namespace

EKVisionExtractorPrivate::EKVisionExtractorPrivate(boost::shared_ptr<EKBroker> broker,
                                                   int resolution, int colorSpace, int frameRate,
                                                   EKVisionExtractor* owner)
    : cameraProxy(),
      subscriberId(std::make_shared<const std::string>("VisionExtractor" + owner->getName())),
      resolution(resolution),
      colorSpace(colorSpace),
      frameRate(frameRate),
      activeCamera(-1),
      framePeriod(0.0f),
      subscribed(false),
      owner(owner),
      running(false),
      paused(false),
      stopRequested(false),
      ready(false),
      loopsEnded(0),
      firstIterationsEnded(0) {
  try {
    cameraProxy = EKVideoDeviceProxy(broker);
  } catch (const EKError& error) {
    logLine(1, "EKVisionExtractorPrivate",
            std::string("Could not create proxy to EKVideoDevice ") + error.what() + "\n");
    owner->exit();
    return;
  }
  framePeriod = periodOf(frameRate);
}

EKVisionExtractorPrivate::~EKVisionExtractorPrivate() {
  xUnsubscribe();
}

std::string EKVisionExtractorPrivate::currentSubscriberId() const {
  return *std::atomic_load(&subscriberId);
}

void EKVisionExtractorPrivate::xSubscribe() {
  bool failed = false;
  {
    boost::lock_guard<boost::mutex> lock(subscriptionMutex);
    if (subscribed) {
      return;
    }
    try {
      std::string id =
          cameraProxy.subscribe(currentSubscriberId(), resolution, colorSpace, frameRate);
      std::atomic_store(&subscriberId, std::make_shared<const std::string>(std::move(id)));
      subscribed = true;
    } catch (const EKError&) {
      logLine(2, "xSubscribe", "Could not subscribe to EKVideoDevice\n");
      failed = true;
    }
  }
  if (failed) {
    owner->exit();
  }
}

void EKVisionExtractorPrivate::xUnsubscribe() {
  bool failed = false;
  {
    boost::lock_guard<boost::mutex> lock(subscriptionMutex);
    if (!subscribed) {
      return;
    }
    try {
      cameraProxy.unsubscribe(currentSubscriberId());
      subscribed = false;
    } catch (const EKError&) {
      logLine(2, "xUnsubscribe", "Could not unsubscribe to EKVideoDevice\n");
      failed = true;
    }
  }
  if (failed) {
    owner->exit();
  }
}

EKImage* EKVisionExtractorPrivate::xGetImage(EKValue& imageValue) {
  try {
    imageValue = cameraProxy.getImageRemote(currentSubscriberId());
    return EKImage::fromEKValue(imageValue);
  } catch (const EKError& error) {
    logLine(2, "xGetImage", std::string("Could not retrieve image ") + error.what());
    return nullptr;
  }
}

void EKVisionExtractorPrivate::run() {
  if (running) {
    logLine(3, "run", "Extractor is already running\n");
    return;
  }
  boost::unique_lock<boost::mutex> readyLock(readyMutex);
  try {
    xSubscribe();
    boost::unique_lock<boost::mutex> loopLock(loopMutex);
    {
      // An earlier stop request is discarded together with the start, under the lock with
      // which stop() makes its request: a stop that has seen this loop running is kept.
      boost::lock_guard<boost::mutex> flag(runningFlagMutex);
      stopRequested = false;
      running = true;
    }
    runningChanged.notify_all();
    {
      boost::lock_guard<boost::mutex> wait(pauseWaitMutex);
      boost::lock_guard<boost::mutex> flag(pausedFlagMutex);
      paused = false;
      pauseChanged.notify_all();
    }
    try {
      do {
        iterate(readyLock);
      } while (!stopRequested);
    } catch (...) {
      endLoop();
      throw;
    }
    endLoop();
  } catch (...) {
    // Whoever waits for this run's first frame must not wait for ever.
    endFirstIteration(readyLock);
    throw;
  }
}

void EKVisionExtractorPrivate::iterate(boost::unique_lock<boost::mutex>& readyLock) {
  {
    boost::unique_lock<boost::mutex> lock(pauseWaitMutex);
    while (paused) {
      pauseChanged.wait(lock);
    }
  }
  ru::os::timeval t0;
  ru::os::timeval t1;
  ru::os::gettimeofday(&t0);
  {
    // Declared before the image so that the image goes first, on every path.
    EKValue imageValue;
    std::unique_ptr<EKImage> image(xGetImage(imageValue));
    if (image) {
      owner->processImage(image.get());
    }
    ru::os::gettimeofday(&t1);
    cameraProxy.releaseImage(currentSubscriberId());
  }
  pace(t0, t1);
  endFirstIteration(readyLock);
}

void EKVisionExtractorPrivate::pace(const ru::os::timeval& t0, const ru::os::timeval& t1) const {
  // Whole seconds as a 32-bit count of milliseconds, plus the truncated microsecond part.
  const long long elapsedMs =
      static_cast<std::int32_t>((t1.tv_sec - t0.tv_sec) * 1000) + (t1.tv_usec - t0.tv_usec) / 1000;
  const float measuredMs = static_cast<float>(std::max(elapsedMs, 0LL));
  const float periodMs = 1000.0f * framePeriod.load();
  if (periodMs > measuredMs) {
    ru::os::msleep(static_cast<unsigned int>(periodMs - measuredMs));
  }
}

void EKVisionExtractorPrivate::endFirstIteration(boost::unique_lock<boost::mutex>& readyLock) {
  if (!readyLock.owns_lock()) {
    return;
  }
  if (!ready && running) {
    ready = true;
  }
  ++firstIterationsEnded;
  readyChanged.notify_all();
  readyLock.unlock();
}

void EKVisionExtractorPrivate::endLoop() {
  // The loop's state is reset before it says it has ended, and under the pause locks, with
  // which pause() reads `running`: a stop() that returns, and a start that follows it, find
  // neither a pause nor the ready flag of this run.
  {
    boost::lock_guard<boost::mutex> wait(pauseWaitMutex);
    boost::lock_guard<boost::mutex> pausedFlag(pausedFlagMutex);
    paused = false;
    ready = false;
    boost::lock_guard<boost::mutex> runningFlag(runningFlagMutex);
    running = false;
    ++loopsEnded;
  }
  readyChanged.notify_all();
  runningChanged.notify_all();
}

void EKVisionExtractorPrivate::waitUntilReady() {
  waitUntilReady(readyTicket());
}

void EKVisionExtractorPrivate::waitUntilReady(unsigned ticket) {
  boost::unique_lock<boost::mutex> lock(readyMutex);
  while (!ready && firstIterationsEnded == ticket) {
    readyChanged.wait(lock);
  }
}

void EKVisionExtractorPrivate::stop() {
  pause(false);
  // The request is made under runningFlagMutex, which the loop holds when it discards
  // earlier requests and starts: a request made while a loop runs is never discarded, and
  // one made while no loop runs is not made at all, so that stop() returns at once instead
  // of waiting for a loop that starts later. The wait ends with the loop that was running,
  // also when another one has started since.
  boost::unique_lock<boost::mutex> lock(runningFlagMutex);
  if (!running) {
    return;
  }
  const unsigned loop = loopsEnded;
  stopRequested = true;
  while (running && loopsEnded == loop) {
    runningChanged.wait(lock);
  }
}

void EKVisionExtractorPrivate::pause(bool pausedNow) {
  {
    // `running` is read under the pause locks, under which the loop also clears the pause
    // as it ends: a pause lands on a loop that still runs, and its end clears it, or it is
    // refused. It can never outlive the loop.
    boost::lock_guard<boost::mutex> wait(pauseWaitMutex);
    boost::lock_guard<boost::mutex> flag(pausedFlagMutex);
    if (running) {
      paused = pausedNow;
      pauseChanged.notify_all();
      logLine(4, "pause", std::string("Extractor pause status ") + (pausedNow ? "1" : "0") + "\n");
      return;
    }
  }
  logLine(2, "pause", "Extractor is not running, cannot change pause status.\n");
}

bool EKVisionExtractorPrivate::isProcessing() {
  boost::lock_guard<boost::mutex> flag(runningFlagMutex);
  return running;
}

bool EKVisionExtractorPrivate::isPaused() {
  boost::lock_guard<boost::mutex> flag(pausedFlagMutex);
  return paused;
}

void EKVisionExtractorPrivate::setParameter(const std::string& name, const EKValue& value) {
  if (!value.isValid() || !value.isArray()) {
    logLine(2, "setParameter", "Parameter is not valid, parameter must be a valid array.\n");
    return;
  }
  if (value.getSize() == 0) {
    logLine(2, "setParameter",
            "Wrong parameter size, parameter must be an array of size 1. Current size is " +
                std::to_string(value.getSize()) + "\n");
    return;
  }
  if (name == "resolution") {
    setResolution(static_cast<int>(value[0]));
  } else if (name == "pause") {
    pause(static_cast<int>(value[0]) == 1);
  } else {
    logLine(2, "setParameter",
            "Unknown parameter value. Parameter must be resolution or pause, but current "
            "parameter is " +
                name + "\n");
  }
}

bool EKVisionExtractorPrivate::applySetting(Setter setter, std::atomic<int>& stored, int value) {
  xSubscribe();
  if (!(cameraProxy.*setter)(currentSubscriberId(), value)) {
    return false;
  }
  stored = value;
  return true;
}

bool EKVisionExtractorPrivate::setResolution(int value) {
  return applySetting(&EKVideoDeviceProxy::setResolution, resolution, value);
}

bool EKVisionExtractorPrivate::setColorSpace(int value) {
  return applySetting(&EKVideoDeviceProxy::setColorSpace, colorSpace, value);
}

bool EKVisionExtractorPrivate::setFrameRate(int value) {
  if (!applySetting(&EKVideoDeviceProxy::setFrameRate, frameRate, value)) {
    return false;
  }
  framePeriod = periodOf(value);
  return true;
}

bool EKVisionExtractorPrivate::setActiveCamera(int value) {
  return applySetting(&EKVideoDeviceProxy::setActiveCamera, activeCamera, value);
}

int EKVisionExtractorPrivate::getResolution() {
  return cameraProxy.getResolution(currentSubscriberId());
}

int EKVisionExtractorPrivate::getColorSpace() {
  return cameraProxy.getColorSpace(currentSubscriberId());
}

int EKVisionExtractorPrivate::getFrameRate() {
  return cameraProxy.getFrameRate(currentSubscriberId());
}

int EKVisionExtractorPrivate::getActiveCamera() {
  return cameraProxy.getActiveCamera(currentSubscriberId());
}

}  // namespace EK
