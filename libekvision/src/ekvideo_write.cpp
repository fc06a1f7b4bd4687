// The `.arv` recorder: appending frame records.
#include <ekvision/ekvideo.h>

// Only the declaration of OpenCV's C image record is used: its fields are read, nothing of
// OpenCV is called or linked.
#include <opencv2/core/types_c.h>

#include <errno.h>

#include <cstdint>

#include "arvlayout.h"
#include "imagesize.h"

namespace EK {
namespace {

// Why a record cannot be made; written once for the three forms of write().
const char kNotRecording[] = "no recording is open";
const char kNoRecord[] = "the arguments cannot make a record";

// Appends the record header and @p pixelBytes pixel bytes; counts the record only when the
// stream took all of it. A stream that failed once takes nothing more, so that the file
// never holds a record after a broken one: @p status then keeps the failure that broke it.
bool appendRecord(EKVideo& video, EKStatus& status, const unsigned char* pixels,
                  std::size_t pixelBytes, long long timeStamp, char cameraId, float leftAngle,
                  float topAngle, float rightAngle, float bottomAngle) {
  if (!video.outputFile) {
    return false;
  }
  unsigned char header[detail::kArvRecordHeaderSize];
  encodeRecordHeader({timeStamp, cameraId, leftAngle, topAngle, rightAngle, bottomAngle}, header);
  errno = 0;
  video.outputFile.write(reinterpret_cast<const char*>(header), sizeof header);
  video.outputFile.write(reinterpret_cast<const char*>(pixels),
                         static_cast<std::streamsize>(pixelBytes));
  if (!video.outputFile) {
    status = EKStatus::fromSystemError(errno != 0 ? errno : EIO, "cannot append the record");
    return false;
  }
  ++video.frameCount;
  return true;
}

}  // namespace

bool EKVideo::write(char* buffer, int size, long long timeStamp, char cameraId, float leftAngle,
                    float topAngle, float rightAngle, float bottomAngle) {
  if (!isRecording || buffer == nullptr || size < detail::kArvRecordHeaderSize) {
    status_ = EKStatus(EKCause::kInvalidArgument, isRecording ? kNoRecord : kNotRecording);
    return false;
  }
  // The record header takes the place of the buffer's first 25 bytes.
  return appendRecord(*this, status_,
                      reinterpret_cast<const unsigned char*>(buffer) + detail::kArvRecordHeaderSize,
                      static_cast<std::size_t>(size - detail::kArvRecordHeaderSize), timeStamp,
                      cameraId, leftAngle, topAngle, rightAngle, bottomAngle);
}

bool EKVideo::write(int height, int width, char* bgrPixels, long long timeStamp, char cameraId,
                    float leftAngle, float topAngle, float rightAngle, float bottomAngle) {
  int bytes = 0;
  if (!isRecording || bgrPixels == nullptr || !detail::pictureByteCount(width, height, 2, bytes) ||
      bytes < detail::kArvRecordHeaderSize) {
    status_ = EKStatus(EKCause::kInvalidArgument, isRecording ? kNoRecord : kNotRecording);
    return false;
  }
  // An empty picture allocates nothing; the conversion sizes the buffer once.
  EKImage picture(0, 0, 2, false, 0.0f, 0.0f, 0.0f, 0.0f);
  if (!picture.computeYUV422imageFromBGR(height, width, bgrPixels)) {
    status_ = EKStatus(EKCause::kInvalidArgument, kNoRecord);
    return false;
  }
  return appendRecord(*this, status_, picture.frame + detail::kArvRecordHeaderSize,
                      static_cast<std::size_t>(bytes - detail::kArvRecordHeaderSize), timeStamp,
                      cameraId, leftAngle, topAngle, rightAngle, bottomAngle);
}

bool EKVideo::write(_IplImage* image, long long timeStamp, char cameraId, float leftAngle,
                    float topAngle, float rightAngle, float bottomAngle) {
  if (image == nullptr) {
    status_ = EKStatus(EKCause::kInvalidArgument, kNoRecord);
    return false;
  }
  return write(image->height, image->width, image->imageData, timeStamp, cameraId, leftAngle,
               topAngle, rightAngle, bottomAngle);
}

}  // namespace EK
