// Internal: positioned reads on the input of an `.arv` reader that never leave it failed.
#ifndef EKVISION_SRC_ARVIO_H
#define EKVISION_SRC_ARVIO_H

#include <cstdint>
#include <fstream>

namespace EK {
namespace detail {

/// Places @p in at the absolute byte @p offset.
inline void seekInput(std::ifstream& in, std::uint64_t offset) {
  in.seekg(static_cast<std::streamoff>(offset), std::ios::beg);
}

/// @brief Reads @p size bytes at @p offset into @p destination.
///
/// @p position is where the input stands when the caller knows it (-1 otherwise): reading
/// on from there saves a seek, which is a system call. A read cut short by the end of the
/// file returns false and puts the input back where it stood (at @p position when known,
/// else at @p offset), in a good state: later seeks and reads work, and a retry reads the
/// bytes that were appended meanwhile.
inline bool readAt(std::ifstream& in, std::uint64_t offset, void* destination, std::size_t size,
                   std::streamoff position = -1) {
  if (position < 0 || static_cast<std::uint64_t>(position) != offset) {
    seekInput(in, offset);
  }
  in.read(static_cast<char*>(destination), static_cast<std::streamsize>(size));
  if (in.gcount() == static_cast<std::streamsize>(size)) {
    return true;
  }
  in.clear();
  seekInput(in, position >= 0 ? static_cast<std::uint64_t>(position) : offset);
  return false;
}

}  // namespace detail
}  // namespace EK

#endif  // EKVISION_SRC_ARVIO_H
