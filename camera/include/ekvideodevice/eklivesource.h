/// @file
/// The frame sources that run on a thread of their own and keep only their newest frame:
/// what a host needs of any live camera, whatever brings its frames.
#ifndef EKVIDEODEVICE_EKLIVESOURCE_H
#define EKVIDEODEVICE_EKLIVESOURCE_H

#include <chrono>
#include <string>

#include <ekvideodevice/ekframesource.h>
#include <ekvideodevice/ekvideodevice_api.h>

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
