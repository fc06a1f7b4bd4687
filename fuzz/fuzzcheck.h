// Fuzz support: what a target does with what the code under test gave it, so that a wrong
// answer shows: invariants that trap, and reads of every byte an answer claims to hold.
#ifndef EKVISION_FUZZ_FUZZCHECK_H
#define EKVISION_FUZZ_FUZZCHECK_H

#include <cstddef>

#include <ekvision/ekimage.h>

namespace ekfuzz {

/// Stops the run with a crash that libFuzzer reports when @p invariant does not hold.
inline void check(bool invariant) {
  if (!invariant) {
    __builtin_trap();
  }
}

/// Where touch() leaves its sum, so that the reads are not optimised away.
inline volatile unsigned touchSink;

/// @brief Reads @p count bytes from @p bytes: AddressSanitizer reports any of them that lies
/// outside its buffer.
inline void touch(const unsigned char* bytes, std::size_t count) {
  unsigned sum = 0;
  for (std::size_t i = 0; i < count; ++i) {
    sum += bytes[i];
  }
  touchSink = sum;
}

/// Bytes of the picture that @p image claims: width x height x layers.
inline std::size_t pictureBytes(const EK::EKImage& image) {
  return static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height) *
         static_cast<std::size_t>(image.nbLayers);
}

}  // namespace ekfuzz

#endif  // EKVISION_FUZZ_FUZZCHECK_H
