// Builds an image, turns it into the value in which images cross module boundaries, and
// back, printing both dumps.
#include <cstdio>
#include <memory>

#include <ekvision/ekimage.h>

int main() {
  EK::EKImage image(EK::kResolution320x240, EK::kColorSpaceYUV422);
  image.timeStamp = 1500000;
  for (int i = 0; i < image.allocatedSize; ++i) {
    image.frame[i] = static_cast<unsigned char>(i);
  }
  const EK::EKValue value = image.toEKValue();
  std::unique_ptr<EK::EKImage> back(EK::EKImage::fromEKValue(value));
  if (!back) {
    std::fprintf(stderr, "the image value could not be read back\n");
    return 1;
  }
  std::printf("%s\n\n%s\n", image.toString().c_str(), back->toString().c_str());
  return 0;
}
