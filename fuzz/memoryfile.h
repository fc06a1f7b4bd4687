// Fuzz support: the input as a file that the code under test opens by path.
#ifndef EKVISION_FUZZ_MEMORYFILE_H
#define EKVISION_FUZZ_MEMORYFILE_H

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace ekfuzz {

/// @brief Puts @p size bytes into an anonymous in-memory file and returns a path to it.
///
/// One file per process, rewritten for every input and reached through /proc: no disk
/// traffic, no clean-up, nothing shared between fuzzing processes.
inline std::string memoryFilePath(const std::uint8_t* data, std::size_t size) {
  static const int fd = memfd_create("ekfuzz", 0);
  if (ftruncate(fd, 0) != 0 ||
      (size > 0 && pwrite(fd, data, size, 0) != static_cast<ssize_t>(size))) {
    __builtin_trap();  // the harness itself failed; no finding of the library
  }
  return "/proc/self/fd/" + std::to_string(fd);
}

}  // namespace ekfuzz

#endif  // EKVISION_FUZZ_MEMORYFILE_H
