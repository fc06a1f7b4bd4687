/// @file
/// EKVisionExtractor: the base class of vision modules.
#ifndef EKVISION_EKVISIONEXTRACTOR_H
#define EKVISION_EKVISIONEXTRACTOR_H

#include <string>

#include <boost/shared_ptr.hpp>

#include <ekcommon/ekextractor.h>
#include <ekvalue/ekvalue.h>
#include <ekvision/ekvision_api.h>

namespace EK {

class EKBroker;
class EKImage;
class EKVisionExtractorPrivate;

/// @brief The base of every vision module: camera subscription, processing loop, remote
/// methods. A concrete module implements the three hooks and nothing else.
///
/// Life of a module: it is built with the broker and its name and registered with the
/// broker (EK::createModule does both; the loop is started through the broker, so an
/// unregistered module cannot start). Clients subscribe to it as to any EKExtractor; the
/// first subscription starts detection, the last unsubscription stops it. While detection
/// runs, a framework task thread fetches one camera image per frame period, hands it to
/// processImage(), releases it and sleeps for the rest of the period. The camera
/// subscription is made at the first start (or the first camera setter) and lasts until
/// the module is destroyed. Stop detection before destroying the module.
///
/// Hooks, their threads and what holds while they run:
/// - onStartDetection(): on the thread that starts detection (the one that called
///   subscribe()), before the loop is launched. The loop does not run yet.
/// - processImage(): on the loop's task thread, once per frame, never with null, with the
///   loop's internal locks held. The image and its pixels are deleted right after the hook
///   returns: do not keep the pointer or the pixel address. The pixels are often the
///   camera's own frame buffer, lent without a copy; they are this module's alone while the
///   hook runs (no other subscriber is lent that buffer or shown what is drawn on it), and
///   the buffer goes back to the camera when the image is released. From inside the hook, pause(),
///   isPaused(), isProcessing() and the camera setters and getters are safe; stopping
///   detection (unsubscribing the last client) is not: it would wait for the hook itself.
/// - onStopDetection(): on the thread that stops detection, after the loop has ended.
/// Exceptions thrown by a hook reach the caller of the start or stop; one thrown by
/// processImage() ends the loop (the framework logs it) and a later stop still returns.
///
/// Remote methods registered by the constructor, under the class name "EKVisionExtractor":
/// "setFrameRate", "setResolution", "setActiveCamera", "setParameter", "getFrameRate",
/// "getResolution", "getActiveCamera", "isPaused", "isProcessing", "pause", "_run".
/// They may be called from any thread at any time, also while detection is stopped.
///
/// Camera failures when the camera module cannot be reached, subscribed to or
/// unsubscribed from are logged (category "EKVisionExtractor") and make the module exit().
class EKVISION_API EKVisionExtractor : public EKExtractor {
 public:
  /// @brief A vision module.
  /// @param broker the broker the module lives in; it must list the camera "EKVideoDevice"
  /// @param name the module's name
  /// @param resolution resolution code of the images asked of the camera
  /// @param colorSpace color-space code of the images asked of the camera
  /// @param frameRate frames per second asked of the camera; also the loop's pace (none
  ///   when not positive)
  EKVisionExtractor(boost::shared_ptr<EKBroker> broker, const std::string& name, int resolution,
                    int colorSpace, int frameRate);
  /// Unsubscribes from the camera. Does not stop the loop and calls no hook.
  ~EKVisionExtractor() override;
  EKVisionExtractor(const EKVisionExtractor&) = delete;
  EKVisionExtractor& operator=(const EKVisionExtractor&) = delete;

  /// @brief Pauses (true) or resumes (false) the loop; takes effect at its next frame.
  ///
  /// Without a running loop nothing changes and a level-2 record says so.
  void pause(const bool& paused);
  /// @brief Deprecated: "pause" with [1] pauses, with any other integer resumes;
  /// "resolution" with [code] sets the resolution. Bad names or values are logged.
  void setParameter(const std::string& paramName, const EKValue& value);
  /// Whether the processing loop runs.
  bool isProcessing();
  /// Whether the loop is paused.
  bool isPaused();

  /// The camera's active camera. @throws EKError from the camera
  int getActiveCamera();
  /// The camera's resolution code for this module. @throws EKError from the camera
  int getResolution();
  /// The camera's frame rate for this module. @throws EKError from the camera
  int getFrameRate();
  /// The camera's color-space code for this module. @throws EKError from the camera
  int getColorSpace();
  /// @brief Selects camera @p cameraId (subscribing first if needed).
  /// @return the camera's answer @throws EKError from the camera
  bool setActiveCamera(const int& cameraId);
  /// @brief Asks the camera for resolution @p resolution (subscribing first if needed).
  /// @return the camera's answer @throws EKError from the camera
  bool setResolution(const int& resolution);
  /// @brief Asks the camera for frame rate @p frameRate; when it agrees, the loop takes
  /// the new pace from its next frame.
  /// @return the camera's answer @throws EKError from the camera
  bool setFrameRate(const int& frameRate);
  /// @brief Asks the camera for color space @p colorSpace (not a remote method).
  /// @return the camera's answer @throws EKError from the camera
  bool setColorSpace(const int& colorSpace);

  /// Runs the processing loop on the calling thread until it is stopped (remote "_run").
  void xRun();

  /// @brief Runs onStartDetection(), launches the loop as a framework task and returns once
  /// its first frame has gone through, pacing included. @p period and @p precision are
  /// not used: the frame rate sets the pace.
  void xStartDetection(int period, float precision) override;
  /// Does nothing: the frame rate alone sets the pace.
  void xUpdateParameters(int period, float precision) override;
  /// Stops the loop, waiting until it has ended, then runs onStopDetection().
  void xStopDetection() override;

  /// Called when detection starts, before the loop is launched.
  virtual void onStartDetection() = 0;
  /// @brief Called on the loop thread with each camera image.
  /// @param image the image, owned by the loop and deleted after the hook returns
  virtual void processImage(EKImage* image) = 0;
  /// Called when detection stops, after the loop has ended.
  virtual void onStopDetection() = 0;

 private:
  void registerMethods();

  EKVisionExtractorPrivate* engine;
};

}  // namespace EK

#endif  // EKVISION_EKVISIONEXTRACTOR_H
