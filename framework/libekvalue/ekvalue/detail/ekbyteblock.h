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
  /// An empty block.
  EKByteBlock() = default;
  /// A block that takes over @p bytes as its own.
  explicit EKByteBlock(std::vector<unsigned char>&& bytes) : owned_(std::move(bytes)) {}
  /// A block of the first @p size bytes of @p shared, kept alive by this share.
  EKByteBlock(std::shared_ptr<unsigned char> shared, std::size_t size)
      : shared_(size > 0 ? std::move(shared) : nullptr), sharedSize_(shared_ ? size : 0) {}

  /// A block of its own holding a copy of the bytes of @p other.
  EKByteBlock(const EKByteBlock& other) : owned_(other.begin(), other.end()) {}
  /// Takes over the bytes, or the share, of @p other.
  EKByteBlock(EKByteBlock&& other) noexcept = default;
  /// Makes this a block of its own holding a copy of the bytes of @p other.
  EKByteBlock& operator=(const EKByteBlock& other) {
    if (this != &other) {
      *this = EKByteBlock(other);
    }
    return *this;
  }
  /// Takes over the bytes, or the share, of @p other.
  EKByteBlock& operator=(EKByteBlock&& other) noexcept = default;

  /// The first byte; may be null for an empty block.
  const unsigned char* data() const { return shared_ ? shared_.get() : owned_.data(); }
  /// Number of bytes.
  std::size_t size() const { return shared_ ? sharedSize_ : owned_.size(); }
  /// Whether the block has no byte.
  bool empty() const { return size() == 0; }
  /// The first byte, for iteration.
  const unsigned char* begin() const { return data(); }
  /// One past the last byte.
  const unsigned char* end() const { return data() + size(); }

  /// The owner's buffer when the bytes are shared, null when they are the value's own.
  const std::shared_ptr<unsigned char>& shared() const { return shared_; }

  /// Same bytes, whichever the storage.
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
