// Internal: little-endian encoding of file fields, and the default field-of-view angles that
// the readers of both file formats give pictures of their version 0.
#ifndef EKVISION_SRC_BYTES_H
#define EKVISION_SRC_BYTES_H

#include <cstdint>
#include <cstring>

namespace EK {
namespace detail {

/// Decodes an unsigned little-endian integer of sizeof(T) bytes.
template <typename T>
T loadLittleEndian(const unsigned char* bytes) {
  std::uint64_t value = 0;
  for (std::size_t i = sizeof(T); i-- > 0;) {
    value = (value << 8) | bytes[i];
  }
  T result;
  if constexpr (sizeof(T) == 8) {
    std::memcpy(&result, &value, sizeof result);
  } else {
    const auto narrow = static_cast<std::uint32_t>(value);
    std::memcpy(&result, &narrow, sizeof result);
  }
  return result;
}

/// Encodes @p value (4 or 8 bytes: an integer or a float) little-endian into @p bytes.
template <typename T>
void storeLittleEndian(T value, unsigned char* bytes) {
  static_assert(sizeof(T) == 4 || sizeof(T) == 8, "file fields are 4 or 8 bytes long");
  std::uint64_t raw = 0;
  if constexpr (sizeof(T) == 8) {
    std::memcpy(&raw, &value, sizeof value);
  } else {
    std::uint32_t narrow = 0;
    std::memcpy(&narrow, &value, sizeof value);
    raw = narrow;
  }
  for (std::size_t i = 0; i < sizeof(T); ++i) {
    bytes[i] = static_cast<unsigned char>(raw >> (8 * i));
  }
}

/// A float from its IEEE-754 bit pattern.
inline float floatFromBits(std::uint32_t bits) {
  float value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

/// @name Default field-of-view angles of version 0 pictures (radians)
/// @{
inline float defaultLeftAngle() {
  return floatFromBits(0x3ED576D4u);
}  // 0.4169222
inline float defaultTopAngle() {
  return floatFromBits(0x3EA45733u);
}  // 0.3209778
inline float defaultRightAngle() {
  return floatFromBits(0xBED576D4u);
}  // -0.4169222
inline float defaultBottomAngle() {
  return floatFromBits(0xBEA45733u);
}  // -0.3209778
/// @}

}  // namespace detail
}  // namespace EK

#endif  // EKVISION_SRC_BYTES_H
