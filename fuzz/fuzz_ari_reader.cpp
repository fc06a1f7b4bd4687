// Fuzzes the .ari reader: the input is a file's contents, read into an owning image and
// into an image over an external buffer; then every pixel of the result is read.
#include <cstdint>
#include <string>
#include <vector>

#include <ekvision/ekimage.h>
#include <ru/log.h>

#include "fuzzcheck.h"
#include "memoryfile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool silenced = (ru::log::setVerbosity(0), true);
  (void)silenced;
  const std::string path = ekfuzz::memoryFilePath(data, size);
  EK::EKImage owning(4, 4, 0);
  if (owning.readFile(path.c_str())) {
    ekfuzz::touch(owning.frame, ekfuzz::pictureBytes(owning));
    owning.toString();
  }
  std::vector<unsigned char> pixels(8 * 8 * 2);
  EK::EKImage external(8, 8, EK::kColorSpaceYUV422, true);
  external.frame = pixels.data();
  if (external.readFile(path.c_str())) {
    ekfuzz::touch(external.frame, ekfuzz::pictureBytes(external));
  }
  return 0;
}
