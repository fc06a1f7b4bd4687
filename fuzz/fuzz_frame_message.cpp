// Fuzzes the remote camera's frame decoder with messages of any part count, header and
// pixel part, and reads every pixel of each frame it accepts, so that a frame decoded into
// a buffer shorter than its header claims shows as a buffer overflow. The same bytes go to
// the settings decoders, which read what clients send a frame server.
//
// Input: one byte of part count (taken modulo 4), a 16-bit little-endian header length,
// the header part, then the pixel part.
#include <cstdint>
#include <cstring>

#include <ekvideodevice/ekframewire.h>
#include <ekvideodevice/eksettingswire.h>

#include "fuzzcheck.h"

namespace {

// Small enough that the fuzzer does not spend its time on huge allocations, large enough
// for every seed.
constexpr std::size_t kFrameLimit = std::size_t{1} << 20;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  EK::EKSettingsRequest request;
  (void)EK::decodeSettingsRequest(data, size, request);
  EK::EKSettingsReply reply;
  (void)EK::decodeSettingsReply(data, size, reply);
  if (size < 3) {
    return 0;
  }
  const std::size_t count = data[0] % 4;
  std::size_t headerSize = data[1] | static_cast<std::size_t>(data[2]) << 8;
  headerSize = std::min(headerSize, size - 3);
  const EK::EKWirePart parts[] = {
      {data + 3, headerSize}, {data + 3 + headerSize, size - 3 - headerSize}, {data, 1}};
  EK::EKDecodedFrame frame;
  const EK::EKStatus status = EK::decodeFrame(parts, count, kFrameLimit, frame);
  if (!status.ok()) {
    ekfuzz::check(!status.message().empty() && frame.header.width >= 0);
    return 0;
  }
  ekfuzz::check(count == EK::kFrameWireParts);
  ekfuzz::check(frame.pixels.size() == EK::pictureBytes(frame.header));
  ekfuzz::check(frame.pixels.size() <= kFrameLimit);
  ekfuzz::touch(frame.pixels.data(), frame.pixels.size());
  return 0;
}
