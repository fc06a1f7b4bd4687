// Makes an image, sends it through the value form in which images cross module boundaries,
// and prints what came back.
#include <cstdio>
#include <memory>

#include <ekvision/ekimage.h>

int main() {
  EK::EKImage image(EK::kResolution160x120, EK::kColorSpaceYUV422);
  image.timeStamp = 42;
  const EK::EKValue value = image.toEKValue();
  std::unique_ptr<EK::EKImage> back(EK::EKImage::fromEKValue(value));
  if (!back || back->timeStamp != 42) {
    return 1;
  }
  std::puts(back->toString().c_str());
  return 0;
}
