/// @file
/// Frame buffers that a camera reuses instead of allocating one per picture.
#ifndef EKVIDEODEVICE_EKFRAMEPOOL_H
#define EKVIDEODEVICE_EKFRAMEPOOL_H

#include <cstddef>
#include <memory>

#include <ekvideodevice/ekvideodevice_api.h>

namespace EK {

/// @brief A small pool of frame buffers, shared out one holder at a time.
///
/// acquire() gives a buffer that nobody holds: one whose last holder has dropped it, or a
/// new one. A buffer comes back to the pool when the last copy of its pointer is gone, for
/// instance when a subscriber drops the image value that shares it (EKValue::SetBinary).
/// So a pooled buffer is never in two subscribers' hands at once.
///
/// Up to a few idle buffers are kept; more are freed as they come back. Buffers are aligned
/// to 64 bytes and not cleared. The pool is safe to use from any number of threads. Copies
/// are handles to one pool; buffers still out when the last handle goes are freed when
/// dropped.
class EKVIDEODEVICE_API EKFramePool {
 public:
  /// Counts, for tests and reports.
  struct Stats {
    std::size_t allocated = 0;  ///< buffers made since the pool was created
    std::size_t reused = 0;     ///< times an idle buffer was handed out again
    std::size_t idle = 0;       ///< buffers waiting in the pool now
    std::size_t out = 0;        ///< buffers held outside the pool now
  };

  /// A pool that keeps up to @p keptIdle idle buffers.
  explicit EKFramePool(std::size_t keptIdle = 4);
  /// A handle to the same pool: both hand out and take back the same buffers.
  EKFramePool(const EKFramePool& other) = default;
  /// Makes this a handle to the pool of @p other.
  EKFramePool& operator=(const EKFramePool& other) = default;

  /// @brief A buffer of at least @p bytes bytes, held by nobody else.
  ///
  /// Const because a pool object is a handle: the buffers belong to the pool it shares.
  /// @throws std::bad_alloc when memory runs out
  std::shared_ptr<unsigned char> acquire(std::size_t bytes) const;

  /// The counts as they are now.
  Stats stats() const;

  /// Whether @p bytes is the first byte of a buffer this pool handed out and has not got back.
  bool isHandedOut(const void* bytes) const;

 private:
  struct State;
  std::shared_ptr<State> state_;
};

}  // namespace EK

#endif  // EKVIDEODEVICE_EKFRAMEPOOL_H
