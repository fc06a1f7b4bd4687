// Keeping at most N frames a second of a stream of time-stamped frames.
#ifndef EKVISION_TOOLS_HOST_THINNING_H
#define EKVISION_TOOLS_HOST_THINNING_H

namespace ekhost {

/// @brief Decides which frames to keep so that at most @p framesPerSecond are kept a second,
/// on a grid of periods that starts at the first frame kept.
///
/// A frame up to a quarter period early is kept (a camera's stamps jitter); a gap in the
/// stream restarts the grid at the next frame, so that a pause is not followed by a burst.
class FrameThinner {
 public:
  /// @p framesPerSecond of 0 keeps every frame.
  explicit FrameThinner(int framesPerSecond);

  /// Whether to keep the frame stamped @p timeStamp (microseconds), stamps ascending.
  bool keep(long long timeStamp);

 private:
  long long period_;
  long long next_ = 0;
  bool started_ = false;
};

}  // namespace ekhost

#endif  // EKVISION_TOOLS_HOST_THINNING_H
