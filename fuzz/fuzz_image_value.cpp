// Fuzzes EKImage::fromEKValue with values of every shape, and reads every pixel of each image
// it accepts, so that an image over a block too short for it shows as a buffer overflow.
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <vector>

#include <ekerror/ekerror.h>
#include <ekvision/ekimage.h>
#include <ekvision/ekimagevalue.h>
#include <ru/log.h>

#include "fuzzcheck.h"
#include "fuzzvalue.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool silenced = (ru::log::setVerbosity(0), true);
  (void)silenced;
  ekfuzz::ValueReader reader(data, size);
  EK::EKValue value;
  // Mostly image-shaped arrays, so that the checks past the shape test are reached.
  if (reader.byte() % 4 != 0) {
    value.arraySetSize(EK::kImageArraySize + reader.byte() % 3);
    for (int i = 0; i < static_cast<int>(value.getSize()); ++i) {
      value[i] = reader.value(1);
    }
    value[EK::kImageArrayWidth] = reader.integer() % 64;
    value[EK::kImageArrayHeight] = reader.integer() % 64;
    value[EK::kImageArrayColorSpace] = reader.integer() % 21;
  } else {
    value = reader.value();
  }
  std::unique_ptr<EK::EKImage> image;
  try {
    image.reset(EK::EKImage::fromEKValue(value));
  } catch (const std::invalid_argument&) {
    return 0;
  } catch (const EK::EKError&) {
    return 0;
  }
  if (!image) {
    return 0;
  }
  const std::size_t bytes = ekfuzz::pictureBytes(*image);
  ekfuzz::touch(image->frame, bytes);
  if (image->colorSpace == EK::kColorSpaceYUV422) {
    std::vector<unsigned char> bgr(bytes / 2 * 3 + 3);
    image->computeBGRimageFromYUV422(bgr.data());
  }
  (void)image->toString();
  const EK::EKValue again = image->toEKValue();
  return static_cast<int>(again.getSize() & 0);
}
