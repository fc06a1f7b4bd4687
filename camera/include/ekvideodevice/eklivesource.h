/// @file
/// The frame sources that run on a thread of their own and keep only their newest frame:
/// what a host needs of any live camera, whatever brings its frames.
#ifndef EKVIDEODEVICE_EKLIVESOURCE_H
#define EKVIDEODEVICE_EKLIVESOURCE_H

#include <chrono>
#include <map>
#include <string>

#include <ekvideodevice/ekframesource.h>
#include <ekvideodevice/ekvideodevice_api.h>
#include <ekvision/ekstatus.h>

namespace EK {

/// @brief What a live source has done so far.
struct EKLiveStatus {
  long long framesCaptured = 0;  ///< frames taken from the camera since construction
  long long failures = 0;        ///< failures so far (open, end, error, stall)
  bool failing = false;          ///< the last frame came before the last failure
  std::string lastFailure;       ///< text of the last failure, empty when none
  int deviceWidth = 0;           ///< size of the frames as the camera delivers them
  int deviceHeight = 0;          ///< see deviceWidth
  std::string deviceFormat;      ///< "YUYV as delivered", "zstd over tcp://..."...
  long long lastStamp = -1;      ///< time stamp of the latest frame, microseconds
};

/// @brief Throws @p cause as a failure of the camera's getImageRemote: an EKFailure of module
/// "EKVideoDevice", as a live source reports what keeps it from giving a picture.
[[noreturn]] EKVIDEODEVICE_API void throwGrabFailure(const EKStatus& cause);

/// @brief The failures of a live source, and which subscriber was told of which: each
/// failure reaches each subscriber once, as an EKError of the camera's getImageRemote.
///
/// Not thread-safe: the source's own lock guards it.
class EKVIDEODEVICE_API EKLiveFailures {
 public:
  /// A new failure of @p cause, unless one is going on.
  void fail(const EKStatus& cause);
  /// Frames flow again: the failure, if any, is over.
  void recover() { failing_ = false; }

  /// @brief Throws the failure going on to @p subscriberId when it was not told of it yet.
  /// @throws EKFailure (module "EKVideoDevice", method "getImageRemote") with the cause
  void throwOnceTo(const std::string& subscriberId);

  /// Whether a failure is going on.
  bool failing() const { return failing_; }
  /// Failures so far.
  long long count() const { return count_; }
  /// The last failure; ok when there was none.
  const EKStatus& last() const { return last_; }
  /// failing(), count() and last() into @p status.
  void describe(EKLiveStatus& status) const;

 private:
  bool failing_ = false;
  long long count_ = 0;
  EKStatus last_;
  std::map<std::string, long long> told_;  // subscriber: failures it was told of
};

/// @brief A frame source that captures on a thread of its own and hands every caller the
/// newest frame: a caller slower than the camera skips frames, never falls behind.
///
/// All operations are safe from any thread.
class EKVIDEODEVICE_API EKLiveSource : public EKFrameSource {
 public:
  ~EKLiveSource() override;

  /// @brief grab(), and the number of the frame delivered (counted from 1) in
  /// @p frameNumber, so that a caller can tell a new frame from one it had and count the
  /// frames it missed.
  virtual EKValue grabNumbered(const EKFrameRequest& request, long long& frameNumber) = 0;

  /// @brief Waits until a frame after frame number @p seen (counted from 1) was captured,
  /// or until @p timeout.
  /// @return the number of the latest frame
  virtual long long waitForFrame(long long seen, std::chrono::milliseconds timeout) const = 0;

  /// What the source has done so far.
  virtual EKLiveStatus status() const = 0;

  /// True when the source's frames come to an end of their own (a video file played once):
  /// its failure is then the end, not a camera to wait for.
  virtual bool ends() const;
};

}  // namespace EK

#endif  // EKVIDEODEVICE_EKLIVESOURCE_H
