// Fuzzes the .ari reader: the input is a file's contents, read into an owning image and
// into an image over an external buffer; then every pixel of the result is read.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include <ekvision/ekimage.h>
#include <ru/log.h>

namespace {

// The input lives in an anonymous in-memory file reached through /proc: no disk traffic,
// no clean-up, nothing shared between fuzzing processes.
std::string memoryFilePath(const std::uint8_t* data, std::size_t size) {
  static const int fd = memfd_create("ari", 0);
  ftruncate(fd, 0);
  pwrite(fd, data, size, 0);
  return "/proc/self/fd/" + std::to_string(fd);
}

unsigned readEveryPixel(const EK::EKImage& image) {
  unsigned sum = 0;
  const long long bytes = static_cast<long long>(image.width) * image.height * image.nbLayers;
  for (long long i = 0; i < bytes; ++i) {
    sum += image.frame[i];
  }
  return sum;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool silenced = (ru::log::setVerbosity(0), true);
  (void)silenced;
  const std::string path = memoryFilePath(data, size);
  EK::EKImage owning(4, 4, 0);
  if (owning.readFile(path.c_str())) {
    readEveryPixel(owning);
    owning.toString();
  }
  std::vector<unsigned char> pixels(8 * 8 * 2);
  EK::EKImage external(8, 8, EK::kColorSpaceYUV422, true);
  external.frame = pixels.data();
  if (external.readFile(path.c_str())) {
    readEveryPixel(external);
  }
  return 0;
}
