// The recording that crash_recorder writes and the crash test checks: two streams, with
// time stamps and pixels that follow from the frame and stream indexes alone.
#ifndef EKVISION_TESTS_RELIABILITY_CRASHCLIP_H
#define EKVISION_TESTS_RELIABILITY_CRASHCLIP_H

#include <cstddef>
#include <vector>

#include <ekvision/ekvideo.h>

namespace ekcrash {

/// A YUV422 stream and a grey one, 38400 and 19200 bytes a record.
inline std::vector<EK::streamHeader> streams() {
  return {{160, 120, EK::kColorSpaceYUV422, 8}, {160, 120, 0, 8}};
}

/// Bytes of the record of @p stream.
inline std::size_t recordBytes(unsigned int stream) {
  return stream == 0 ? 160 * 120 * 2 : 160 * 120;
}

/// The time stamp of a record, microseconds: 25 frames a second from one second on.
inline long long stamp(unsigned int frame, unsigned int stream) {
  return 1000000LL + 40000LL * frame + stream;
}

/// The pixel byte at @p offset of a record (the first 25 bytes carry the record header).
inline unsigned char pixel(unsigned int frame, unsigned int stream, std::size_t offset) {
  return static_cast<unsigned char>(offset * 31 + frame * 7 + stream * 101);
}

}  // namespace ekcrash

#endif  // EKVISION_TESTS_RELIABILITY_CRASHCLIP_H
