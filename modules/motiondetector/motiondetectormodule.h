// The motion detector, the host's default vision module: a moving-object detector that
// clients read through remote methods.
#ifndef EKVISION_MODULES_MOTIONDETECTORMODULE_H
#define EKVISION_MODULES_MOTIONDETECTORMODULE_H

#include <cstddef>
#include <mutex>
#include <string>

#include <boost/shared_ptr.hpp>

#include <ekcommon/ekbroker.h>
#include <ekvalue/ekvalue.h>
#include <ekvision/ekdetection.h>
#include <ekvision/ekvisionextractor.h>

#include "detectionqueue.h"
#include "motiondetection.h"

namespace ekmotion {

/// @brief Finds what moves in front of the camera, frame after frame, on the luma of YUV422
/// pictures (MotionDetector), and keeps the results for its clients.
///
/// Remote methods, besides those of every vision module (class name "MotionDetector"):
/// - "getLastDetection" → EKValue: the result of the last frame processed, found or not, as
///   the detection array of EK::EKDetection ([seconds, microseconds, found, x, y, w, h,
///   left, top, right, bottom angles, changed pixels]): its largest moving object; before
///   the first frame, a detection with time stamp -1 and found false;
/// - "getDetections" → EKValue: an array of the detection arrays found since the previous
///   call, one per moving object (a frame with two objects gives two arrays with the same
///   time stamp, the larger first), oldest frame first; at most kMaxPending are kept
///   between two calls, the oldest are dropped beyond that;
/// - "getFrameCount" → int: frames processed since the module was built.
///
/// Threads: processImage() runs on the loop thread; the remote methods on the framework's
/// threads, at any time. The last result and the frame count are guarded by one mutex, the
/// pending detections by their queue's, each held only to publish or read them, never
/// while a frame is examined.
class MotionDetectorModule : public EK::EKVisionExtractor {
 public:
  /// Detections kept between two calls of "getDetections".
  static constexpr std::size_t kMaxPending = DetectionQueue::kCapacity;

  /// @brief A detector asking the camera for YUV422 pictures of @p resolution at
  /// @p frameRate frames per second.
  MotionDetectorModule(boost::shared_ptr<EK::EKBroker> broker, const std::string& name,
                       int resolution = EK::kResolution640x480, int frameRate = 15);

  /// The last frame's result as a detection array.
  EK::EKValue getLastDetection();
  /// The detections found since the previous call, as an array of detection arrays.
  EK::EKValue getDetections();
  /// Frames processed so far.
  int getFrameCount();

  /// Forgets the previous frame, so that a new run does not compare with an old picture.
  void onStartDetection() override;
  /// Compares the frame with the previous one and publishes the result.
  void processImage(EK::EKImage* image) override;
  /// Nothing to do: the results stay readable after a stop.
  void onStopDetection() override;

 private:
  void registerMethods();

  // Touched only by the loop thread, and by onStartDetection() while no loop runs.
  MotionDetector detector_;

  std::mutex resultsMutex_;
  EK::EKDetection last_;
  int frames_ = 0;
  DetectionQueue pending_;
};

/// The detector's largest object in the form clients read; found false when none.
EK::EKDetection toEKDetection(const Detection& detection);

/// One moving object of a frame stamped @p timeStamp in the form clients read.
EK::EKDetection toEKDetection(const MovingObject& object, long long timeStamp);

}  // namespace ekmotion

#endif  // EKVISION_MODULES_MOTIONDETECTORMODULE_H
