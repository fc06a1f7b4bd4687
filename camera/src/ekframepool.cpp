#include <ekvideodevice/ekframepool.h>

#include <algorithm>
#include <mutex>
#include <new>
#include <vector>

namespace EK {
namespace {

// Cache-line alignment, which the SIMD conversions like as well.
constexpr std::align_val_t kAlignment{64};

}  // namespace

// Shared by the pool's handles and every buffer out, so that a buffer dropped after the
// last handle still finds where to go; the last of them frees the idle buffers.
struct EKFramePool::State {
  struct Block {
    unsigned char* bytes;
    std::size_t capacity;
  };

  static void freeBlock(const Block& block) { ::operator delete[](block.bytes, kAlignment); }

  explicit State(std::size_t keptIdle) : keptIdle(keptIdle) {}
  ~State() {
    for (const Block& block : idle) {
      freeBlock(block);
    }
  }

  // The smallest idle buffer of at least @p bytes, counted as handed out; none when no idle
  // buffer fits. A pool serving two sizes so keeps both in use.
  Block takeIdle(std::size_t bytes) {
    std::lock_guard<std::mutex> lock(mutex);
    auto best = idle.end();
    for (auto it = idle.begin(); it != idle.end(); ++it) {
      if (it->capacity >= bytes && (best == idle.end() || it->capacity < best->capacity)) {
        best = it;
      }
    }
    if (best == idle.end()) {
      return Block{nullptr, 0};
    }
    out.push_back(best->bytes);  // first: should it throw, the buffer stays idle
    const Block block = *best;
    idle.erase(best);
    ++reused;
    return block;
  }

  // A new buffer of at least @p bytes, counted as handed out.
  Block allocate(std::size_t bytes) {
    const std::size_t capacity = std::max<std::size_t>(bytes, 1);
    const Block block{static_cast<unsigned char*>(::operator new[](capacity, kAlignment)),
                      capacity};
    try {
      std::lock_guard<std::mutex> lock(mutex);
      out.push_back(block.bytes);
      ++allocated;
    } catch (...) {
      freeBlock(block);
      throw;
    }
    return block;
  }

  // Called by the deleter of a buffer handed out: its last holder dropped it.
  void giveBack(const Block& block) {
    {
      std::lock_guard<std::mutex> lock(mutex);
      out.erase(std::find(out.begin(), out.end(), block.bytes));
      if (idle.size() < keptIdle) {
        idle.push_back(block);
        return;
      }
    }
    freeBlock(block);
  }

  const std::size_t keptIdle;
  std::mutex mutex;  // guards what follows
  std::vector<Block> idle;
  std::vector<const unsigned char*> out;  // buffers handed out, a few at most
  std::size_t allocated = 0;
  std::size_t reused = 0;
};

EKFramePool::EKFramePool(std::size_t keptIdle) : state_(std::make_shared<State>(keptIdle)) {}

std::shared_ptr<unsigned char> EKFramePool::acquire(std::size_t bytes) const {
  State::Block block = state_->takeIdle(bytes);
  if (block.bytes == nullptr) {
    block = state_->allocate(bytes);
  }
  // Should the pointer's own bookkeeping fail to allocate, it calls the deleter.
  std::shared_ptr<State> state = state_;
  return std::shared_ptr<unsigned char>(block.bytes,
                                        [state, block](unsigned char*) { state->giveBack(block); });
}

EKFramePool::Stats EKFramePool::stats() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  Stats stats;
  stats.allocated = state_->allocated;
  stats.reused = state_->reused;
  stats.idle = state_->idle.size();
  stats.out = state_->out.size();
  return stats;
}

bool EKFramePool::isHandedOut(const void* bytes) const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  const auto& out = state_->out;
  return std::find(out.begin(), out.end(), bytes) != out.end();
}

}  // namespace EK
