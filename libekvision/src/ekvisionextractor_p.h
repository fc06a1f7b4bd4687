// Internal: the engine behind every vision module.
#ifndef EKVISION_SRC_EKVISIONEXTRACTOR_P_H
#define EKVISION_SRC_EKVISIONEXTRACTOR_P_H

#include <atomic>
#include <memory>
#include <string>

#include <boost/shared_ptr.hpp>
#include <boost/thread/condition_variable.hpp>
#include <boost/thread/mutex.hpp>

#include <ekproxies/ekvideodeviceproxy.h>
#include <ekvalue/ekvalue.h>
#include <ru/os.h>

namespace EK {

class EKBroker;
class EKImage;
class EKVisionExtractor;

/// @brief The camera subscription and the processing loop of a vision module.
///
/// The loop (run()) runs on a framework task thread; every other operation is called from
/// the framework's control threads, any number at once.
///
/// Locks, always taken in this order and never the other way round:
///   readyMutex -> subscriptionMutex (taken and released inside xSubscribe) -> loopMutex
///     -> runningFlagMutex
///   readyMutex -> loopMutex -> pauseWaitMutex -> pausedFlagMutex -> runningFlagMutex
/// stop() and waitUntilReady() take their single mutex holding no other. The loop thread
/// holds readyMutex from the start of run() to the end of its first iteration and loopMutex
/// while the loop runs, so the image hook runs with loopMutex held (and readyMutex during
/// the first iteration): it must not call stop() or waitUntilReady().
///
/// Decisions where the behaviour had a choice:
/// - owner->exit() is called after subscriptionMutex is released, so that an exit() which
///   comes back into the engine does not meet the held lock.
/// - An exception that escapes the loop (from releaseImage or the image hook) ends run()
///   with running, paused and ready false and the broadcasts done, every lock released,
///   so a later stop() returns; then it leaves run(). A first iteration cut short this way
///   still counts as ended for waitUntilReady().
/// - stop() waits on runningFlagMutex, not loopMutex, and returns at once when no loop runs.
///   It makes its request under runningFlagMutex, and the loop discards earlier requests
///   under the same lock as it starts, so a stop that arrives while the loop starts is either
///   made before the start (and returns at once) or seen by the loop; it is never discarded
///   while the stop waits for the loop.
/// - pause() reads `running` under the pause locks, and the loop clears the pause and
///   `running` together under them as it ends, so a pause never outlives its loop.
/// - waitUntilReady() waits for a count of ended first iterations to pass a ticket, not
///   only for the ready flag, so it returns for the run it waited on even when a stop
///   arrives during that run's first iteration and the loop clears ready again before the
///   waiter wakes.
/// - Without a positive frame rate framePeriod is 0: the loop does not pace itself.
/// - A wall clock stepped backwards during an iteration counts as 0 ms elapsed, so the loop
///   never sleeps longer than one period.
/// - The stored settings and the four flags are atomics, and subscriberId is an immutable
///   string swapped atomically, because the camera calls read it without a lock.
class EKVisionExtractorPrivate {
 public:
  /// Builds the camera proxy; on failure logs, calls owner->exit() and keeps a default proxy.
  EKVisionExtractorPrivate(boost::shared_ptr<EKBroker> broker, int resolution, int colorSpace,
                           int frameRate, EKVisionExtractor* owner);
  /// Unsubscribes from the camera. Does not stop a running loop.
  ~EKVisionExtractorPrivate();
  EKVisionExtractorPrivate(const EKVisionExtractorPrivate&) = delete;
  EKVisionExtractorPrivate& operator=(const EKVisionExtractorPrivate&) = delete;

  /// The processing loop, until stop(). Logs and returns at once when a loop already runs.
  void run();
  /// Returns once a loop is past its first iteration or a first iteration ends.
  void waitUntilReady();
  /// The count of ended first iterations, to be taken before a run is launched.
  unsigned readyTicket() const { return firstIterationsEnded.load(); }
  /// Waits until a loop is past its first iteration or a first iteration ended after
  /// @p ticket was taken.
  void waitUntilReady(unsigned ticket);
  /// Clears any pause, asks the loop to stop and waits until it has ended.
  void stop();
  /// Pauses or resumes the loop from its next iteration on.
  void pause(bool paused);
  bool isProcessing();
  bool isPaused();
  /// The deprecated string-keyed setter: "resolution" or "pause" with a one-element array.
  void setParameter(const std::string& name, const EKValue& value);

  bool setResolution(int resolution);
  bool setColorSpace(int colorSpace);
  bool setFrameRate(int frameRate);
  bool setActiveCamera(int cameraId);
  int getResolution();
  int getColorSpace();
  int getFrameRate();
  int getActiveCamera();

  /// Subscribes to the camera unless already subscribed.
  void xSubscribe();
  /// Ends the camera subscription, if any.
  void xUnsubscribe();
  /// @brief Fetches one image; null on a camera error or a value that is not an image.
  /// @param imageValue receives the value whose pixel block the image points into; it
  ///   must outlive the image
  EKImage* xGetImage(EKValue& imageValue);

 private:
  using Setter = bool (EKVideoDeviceProxy::*)(const std::string&, int);

  std::string currentSubscriberId() const;
  bool applySetting(Setter setter, std::atomic<int>& stored, int value);
  void iterate(boost::unique_lock<boost::mutex>& readyLock);
  void pace(const ru::os::timeval& t0, const ru::os::timeval& t1) const;
  void endLoop();
  void endFirstIteration(boost::unique_lock<boost::mutex>& readyLock);

  EKVideoDeviceProxy cameraProxy;
  std::shared_ptr<const std::string> subscriberId;  // read and replaced with atomic_load/store
  std::atomic<int> resolution;
  std::atomic<int> colorSpace;
  std::atomic<int> frameRate;
  std::atomic<int> activeCamera;
  std::atomic<float> framePeriod;
  bool subscribed;
  EKVisionExtractor* owner;
  std::atomic<bool> running;
  std::atomic<bool> paused;
  std::atomic<bool> stopRequested;
  std::atomic<bool> ready;
  boost::mutex subscriptionMutex;
  boost::mutex loopMutex;
  boost::condition_variable runningChanged;
  boost::mutex pauseWaitMutex;
  boost::condition_variable pauseChanged;
  boost::mutex readyMutex;
  boost::condition_variable readyChanged;
  boost::mutex runningFlagMutex;
  boost::mutex pausedFlagMutex;
  // Loops ended, written with `running` under runningFlagMutex: stop() waits for this
  // count to move on rather than for loopMutex, which a loop started later would hold.
  unsigned loopsEnded;
  // First iterations ended (completed or cut short), written under readyMutex.
  std::atomic<unsigned> firstIterationsEnded;
};

}  // namespace EK

#endif  // EKVISION_SRC_EKVISIONEXTRACTOR_P_H
