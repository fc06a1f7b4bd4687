// Fuzz support: turns arbitrary bytes into a dynamic value, so that every shape of value
// (kinds, nesting, array lengths, byte blocks of any size) can reach the code under test.
#ifndef EKVISION_FUZZ_FUZZVALUE_H
#define EKVISION_FUZZ_FUZZVALUE_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include <ekvalue/ekvalue.h>

namespace ekfuzz {

/// Reads values from a byte string; running out of bytes yields zeros and empty values.
class ValueReader {
 public:
  ValueReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  std::uint8_t byte() { return position_ < size_ ? data_[position_++] : 0; }

  int integer() {
    std::uint32_t value = 0;
    for (int i = 0; i < 4; ++i) {
      value |= static_cast<std::uint32_t>(byte()) << (8 * i);
    }
    int result;
    std::memcpy(&result, &value, sizeof result);
    return result;
  }

  /// One value; arrays nest at most @p depth levels.
  EK::EKValue value(int depth = 3) {
    switch (byte() % 8) {
      case 0:
        return EK::EKValue();
      case 1:
        return EK::EKValue(static_cast<bool>(byte() & 1));
      case 2:
      case 7:
        return EK::EKValue(integer());
      case 3: {
        const int bits = integer();
        float f;
        std::memcpy(&f, &bits, sizeof f);
        return EK::EKValue(f);
      }
      case 4:
        // Up to 15 characters from the input, so that names a method compares with can
        // be found.
        return EK::EKValue(bytes(byte() % 16));
      case 5: {
        // A byte block of up to 64 KiB, filled from the input.
        const std::string block = bytes((static_cast<std::size_t>(byte()) << 8) | byte());
        return EK::EKValue(block.data(), static_cast<int>(block.size()));
      }
      default: {
        EK::EKValue array;
        const int length = depth > 0 ? byte() % 16 : 0;
        array.arraySetSize(length);
        for (int i = 0; i < length; ++i) {
          array[i] = value(depth - 1);
        }
        return array;
      }
    }
  }

 private:
  // The next @p length bytes of the input, zeros once it runs out.
  std::string bytes(std::size_t length) {
    const std::size_t available = position_ < size_ ? size_ - position_ : 0;
    const std::size_t taken = length < available ? length : available;
    std::string text(length, '\0');
    if (taken > 0) {
      std::memcpy(text.data(), data_ + position_, taken);
    }
    position_ += taken;
    return text;
  }

  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t position_ = 0;
};

}  // namespace ekfuzz

#endif  // EKVISION_FUZZ_FUZZVALUE_H
