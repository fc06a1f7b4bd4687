/// @file
/// Where the camera module's pictures come from.
///
/// The camera module EKVideoDevice does the bookkeeping of subscribers, settings and held
/// images; a frame source makes the pictures. Three kinds exist:
/// - EKSyntheticSource: a moving test scene with a known ground truth;
/// - EKScriptedSource: pictures, failures and wrong answers on demand, for tests;
/// - EKArvSource: plays an `.arv` recording in a loop, at the recording's own size.
#ifndef EKVIDEODEVICE_EKFRAMESOURCE_H
#define EKVIDEODEVICE_EKFRAMESOURCE_H

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include <ekvalue/ekvalue.h>
#include <ekvideodevice/ekframepool.h>
#include <ekvideodevice/ekvideodevice_api.h>

namespace EK {

/// The camera operations, as a frame source sees them.
enum class EKCameraCall {
  kSubscribe,
  kUnsubscribe,
  kGetImage,
  kReleaseImage,
  kSetParameter,
  kGetParameter,
};

/// Number of EKCameraCall values.
const int kCameraCallCount = 6;

/// The name of a camera operation, e.g. "getImageRemote".
EKVIDEODEVICE_API const char* toString(EKCameraCall call);

/// @brief What the camera asks of its source for one picture.
struct EKFrameRequest {
  std::string subscriberId;  ///< who asks
  int width;                 ///< picture width in pixels, from the subscriber's resolution
  int height;                ///< picture height in pixels
  int colorSpace;            ///< color-space code of the subscriber
  int cameraId;              ///< the active camera
  long long frameIndex;      ///< number of the frame in the subscriber's stream, from 0
  long long timeStamp;       ///< capture time of that frame, microseconds of the wall clock
  /// How many subscribers the camera has: a source may lend its own frame buffer, without a
  /// copy, when the picture goes to one subscriber alone.
  int subscribers = 1;
};

/// @brief Makes the pictures of the camera module.
///
/// The camera calls a source from the threads of its callers, several at once: a source
/// must be safe to use from any number of threads.
class EKVIDEODEVICE_API EKFrameSource {
 public:
  /// Sources are owned and destroyed through this base.
  virtual ~EKFrameSource();

  /// @brief Called before every camera operation; may throw EKError to make it fail.
  virtual void checkCall(EKCameraCall call);

  /// @brief The picture for @p request, normally as the twelve-element image array.
  virtual EKValue grab(const EKFrameRequest& request) = 0;

  /// The buffers this source's pictures are made in, shared out one subscriber at a time.
  const EKFramePool& framePool() const { return framePool_; }

 protected:
  /// @brief A buffer for one picture of @p bytes from the source's pool.
  ///
  /// The buffer returns to the pool when the last image value sharing it is dropped.
  std::shared_ptr<unsigned char> takeFrameBuffer(std::size_t bytes) {
    return framePool_.acquire(bytes);
  }

 private:
  EKFramePool framePool_;
};

/// @brief An image array whose pixel block takes over @p pixels without copying them.
///
/// The header elements are those EKImage::toEKValue writes for an image of that size,
/// color space, time stamp and camera index, with the camera's field-of-view angles.
EKVIDEODEVICE_API EKValue makeImageValue(int width, int height, int colorSpace, long long timeStamp,
                                         int cameraId, std::vector<unsigned char>&& pixels);

/// @brief An image array whose pixel block shares @p pixels, a buffer from a frame pool.
///
/// As the overload above, with a block of width x height x layers bytes that keeps a share
/// of the buffer instead of owning a copy (see EKFrameSource::takeFrameBuffer).
EKVIDEODEVICE_API EKValue makeImageValue(int width, int height, int colorSpace, long long timeStamp,
                                         int cameraId, std::shared_ptr<unsigned char> pixels);

}  // namespace EK

#endif  // EKVIDEODEVICE_EKFRAMESOURCE_H
