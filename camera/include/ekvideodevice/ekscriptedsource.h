/// @file
/// A frame source for tests: failures, wrong answers and counts on demand.
#ifndef EKVIDEODEVICE_EKSCRIPTEDSOURCE_H
#define EKVIDEODEVICE_EKSCRIPTEDSOURCE_H

#include <array>
#include <mutex>

#include <ekvideodevice/ekframesource.h>

namespace EK {

/// @brief Delivers numbered test pictures and fails camera operations when told to.
///
/// Every picture is a fixed pattern (byte i of the block is i modulo 251) whose first
/// four bytes hold the picture's sequence number, little-endian, counted from 1 over all
/// subscribers. A failing operation throws EKError (module "EKVideoDevice", the operation's
/// name, "scripted failure"). All operations are safe from any thread.
class EKVIDEODEVICE_API EKScriptedSource : public EKFrameSource {
 public:
  /// A source whose operations all succeed until told otherwise.
  EKScriptedSource();

  /// Makes the next @p times calls of @p call fail.
  void failNext(EKCameraCall call, int times = 1);
  /// Makes every call of @p call fail from now on, or none.
  void setFailing(EKCameraCall call, bool failing);
  /// Makes the next @p count pictures an integer value instead of an image array.
  void deliverNonImages(int count);

  /// Number of calls of @p call so far, failed ones included.
  int getCallCount(EKCameraCall call) const;
  /// Number of image arrays delivered so far.
  int getImageCount() const;

  /// Counts the call and throws when it is to fail.
  void checkCall(EKCameraCall call) override;
  /// The next numbered picture, or a non-image value when told so.
  EKValue grab(const EKFrameRequest& request) override;

  /// The sequence number stored in a picture's first four bytes.
  static unsigned readSequenceNumber(const unsigned char* pixels);

 private:
  mutable std::mutex mutex_;
  std::array<int, kCameraCallCount> calls_{};
  std::array<int, kCameraCallCount> failNext_{};
  std::array<bool, kCameraCallCount> failing_{};
  int nonImages_ = 0;
  int images_ = 0;
};

}  // namespace EK

#endif  // EKVIDEODEVICE_EKSCRIPTEDSOURCE_H
