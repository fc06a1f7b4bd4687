/// @file
/// The storage of an EKValue byte block: its own bytes, or bytes shared with their owner.
#ifndef EKVALUE_DETAIL_EKBYTEBLOCK_H
#define EKVALUE_DETAIL_EKBYTEBLOCK_H

#include <cstddef>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

namespace EK {
namespace detail {

/// @brief Bytes held by a value: a vector of its own, or a share of a buffer another owns.
///
/// A shared block lets a camera hand its frame buffer to a subscriber without copying the
/// pixels; the buffer goes back to its owner when the last share is dropped. Copies are deep
/// whichever the storage, so a copy never writes into a buffer someone else holds.
class EKByteBlock {
 public:
  EKByteBlock() = default;
  explicit EKByteBlock(std::vector<unsigned char>&& bytes) : owned_(std::move(bytes)) {}
  EKByteBlock(std::shared_ptr<unsigned char> shared, std::size_t size)
      : shared_(size > 0 ? std::move(shared) : nullptr), sharedSize_(shared_ ? size : 0) {}

  EKByteBlock(const EKByteBlock& other) : owned_(other.begin(), other.end()) {}
  EKByteBlock(EKByteBlock&& other) noexcept = default;
  EKByteBlock& operator=(const EKByteBlock& other) {
    if (this != &other) {
      *this = EKByteBlock(other);
    }
    return *this;
  }
  EKByteBlock& operator=(EKByteBlock&& other) noexcept = default;

  const unsigned char* data() const { return shared_ ? shared_.get() : owned_.data(); }
  std::size_t size() const { return shared_ ? sharedSize_ : owned_.size(); }
  bool empty() const { return size() == 0; }
  const unsigned char* begin() const { return data(); }
  const unsigned char* end() const { return data() + size(); }

  /// The owner's buffer when the bytes are shared, null when they are the value's own.
  const std::shared_ptr<unsigned char>& shared() const { return shared_; }

  bool operator==(const EKByteBlock& other) const {
    return size() == other.size() && (empty() || std::memcmp(data(), other.data(), size()) == 0);
  }

 private:
  std::vector<unsigned char> owned_;
  std::shared_ptr<unsigned char> shared_;
  std::size_t sharedSize_ = 0;
};

}  // namespace detail
}  // namespace EK

#endif  // EKVALUE_DETAIL_EKBYTEBLOCK_H
