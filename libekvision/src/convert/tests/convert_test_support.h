// Helpers of the conversion tests: running a check on every implementation the dispatcher can
// pick, and buffers whose last (or first) byte touches an inaccessible page.
#ifndef EKVISION_SRC_CONVERT_TESTS_CONVERT_TEST_SUPPORT_H_
#define EKVISION_SRC_CONVERT_TESTS_CONVERT_TEST_SUPPORT_H_

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ekconvert.h"
#include "hwy/targets.h"

namespace EK::convert::test {

/// @brief Runs `check` once per compiled target the processor supports, with the dispatcher
/// pinned to it, then once with the vector paths disabled. The argument is the path's name.
template <class Check>
void forEveryPath(const Check& check) {
  for (const std::int64_t target : availableTargets()) {
    hwy::SetSupportedTargetsForTest(target);
    const std::string name = hwy::TargetName(target);
    ASSERT_EQ(name, activeTarget()) << "the dispatcher ignored the pinned target";
    SCOPED_TRACE("target " + name);
    check(name);
  }
  hwy::SetSupportedTargetsForTest(0);
  setVectorPathsEnabled(false);
  ASSERT_STREQ("scalar", activeTarget());
  {
    SCOPED_TRACE("vector paths disabled");
    check(std::string("scalar"));
  }
  setVectorPathsEnabled(true);
}

/// @brief The targets the tests must run on this machine, by name, in dispatch order (best
/// first), when the lane that runs them knows it: EKVISION_EXPECTED_TARGETS, e.g. "SVE2 SVE NEON"
/// under an emulated processor. Empty when unset.
inline std::vector<std::string> expectedTargetsFromEnvironment() {
  std::vector<std::string> names;
  if (const char* list = std::getenv("EKVISION_EXPECTED_TARGETS")) {
    std::istringstream words(list);
    for (std::string name; words >> name;) {
      names.push_back(name);
    }
  }
  return names;
}

/// Where a GuardedBuffer puts its bytes relative to its inaccessible page.
enum class Guard { kAfterEnd, kBeforeStart };

/// @brief `size` usable bytes placed against a PROT_NONE page, so that any access just past the
/// end (or just before the start) faults instead of passing unnoticed.
class GuardedBuffer {
 public:
  GuardedBuffer(std::size_t size, Guard guard) : size_(size) {
    const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    const std::size_t dataPages = (size + page - 1) / page;
    mappedSize_ = (dataPages + 1) * page;
    void* base =
        mmap(nullptr, mappedSize_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (base == MAP_FAILED) {
      throw std::runtime_error("mmap failed");
    }
    base_ = static_cast<unsigned char*>(base);
    unsigned char* guardPage = guard == Guard::kAfterEnd ? base_ + dataPages * page : base_;
    if (mprotect(guardPage, page, PROT_NONE) != 0) {
      munmap(base_, mappedSize_);
      throw std::runtime_error("mprotect failed");
    }
    data_ = guard == Guard::kAfterEnd ? guardPage - size : base_ + page;
  }
  GuardedBuffer(const GuardedBuffer&) = delete;
  GuardedBuffer& operator=(const GuardedBuffer&) = delete;
  ~GuardedBuffer() { munmap(base_, mappedSize_); }

  unsigned char* data() { return data_; }
  std::size_t size() const { return size_; }
  std::vector<unsigned char> bytes() const { return {data_, data_ + size_}; }

 private:
  unsigned char* base_ = nullptr;
  unsigned char* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t mappedSize_ = 0;
};

/// Random bytes from a fixed seed, so that a failure reproduces.
inline std::vector<unsigned char> randomBytes(std::size_t size, std::uint32_t seed) {
  std::mt19937 engine(seed);
  std::uniform_int_distribution<int> byte(0, 255);
  std::vector<unsigned char> out(size);
  for (auto& b : out) {
    b = static_cast<unsigned char>(byte(engine));
  }
  return out;
}

}  // namespace EK::convert::test

#endif  // EKVISION_SRC_CONVERT_TESTS_CONVERT_TEST_SUPPORT_H_
