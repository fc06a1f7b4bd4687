// Process-wide switch of the vectorised paths and the name of the implementation in use.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <initializer_list>

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "ekconvert_dispatch.cpp"
#include "hwy/foreach_target.h"  // IWYU pragma: keep
#include "hwy/highway.h"

HWY_BEFORE_NAMESPACE();
namespace EK::convert::HWY_NAMESPACE {

// Evaluated in the table of every compiled target so that HWY_DYNAMIC_DISPATCH reports the
// target it would pick for the kernels, which are compiled for the same set of targets.
const char* targetName() {
  return hwy::TargetName(HWY_TARGET);
}

}  // namespace EK::convert::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
#if HWY_ARCH_X86
#include <cpuid.h>

#include <cstring>
#endif

#include "ekconvert.h"
#include "ekconvert_dispatch.h"

namespace EK::convert {
namespace {
std::atomic<bool> gVectorPathsEnabled{true};
// 0: the rule of planarVectorBytes; otherwise the width forced by the tests.
std::atomic<std::size_t> gPlanarVectorBytesForced{0};
// -1: the rule of preferBlockwiseBgrToYuv; otherwise the choice forced by the tests.
std::atomic<int> gBlockwiseBgrToYuvForced{-1};

// Whether the processor says it is Intel's (CPUID vendor), the processors with the rules below.
bool isIntel() {
#if HWY_ARCH_X86
  static const bool intel = [] {
    unsigned int maxLeaf = 0;
    unsigned int vendor[3] = {};  // EBX, EDX, ECX spell the vendor's name in this order
    if (__get_cpuid(0, &maxLeaf, &vendor[0], &vendor[2], &vendor[1]) == 0) {
      return false;
    }
    return std::memcmp(vendor, "GenuineIntel", sizeof(vendor)) == 0;
  }();
  return intel;
#else
  return false;
#endif
}
}  // namespace

HWY_EXPORT(targetName);

bool detail::vectorPathsEnabled() noexcept {
  return gVectorPathsEnabled.load(std::memory_order_relaxed);
}

// The planar unpackers do little else than load and store, so on Intel's cores their speed
// follows the number of accesses that straddle two cache lines: with buffers 16 bytes past a
// 64-byte boundary (as large heap blocks are), every 64-byte access and every other 32-byte one
// straddles, and the 512-bit forms fell well below SSE4, while with aligned buffers they were the
// fastest. AMD's Zen 4 ran the 512-bit forms faster on the same unaligned buffers, so the limit
// applies to Intel's processors only. Figures in the README's Benchmarks.
std::size_t detail::planarVectorBytes(std::initializer_list<const void*> buffers) noexcept {
  const std::size_t forced = gPlanarVectorBytesForced.load(std::memory_order_relaxed);
  if (forced != 0) {
    return forced;
  }
  if (isIntel()) {
    std::uintptr_t addresses = 0;
    for (const void* buffer : buffers) {
      addresses |= reinterpret_cast<std::uintptr_t>(buffer);
    }
    const std::uintptr_t alignment = addresses & (~addresses + 1);  // lowest set bit
    return alignment >= 64 || addresses == 0 ? 64 : (alignment >= 32 ? 32 : 16);
  }
  return 64;
}

// On an Intel Xeon (Sapphire Rapids class) the VBMI form of BGR->YUV422 ran 3% to 7% slower than
// the block-wise AVX3 form at 320x240 and 640x480, and no faster at 1280x960: the two permutes
// per 64 output bytes and the block-wise byte shuffles all wait for the same single port for
// 512-bit shuffles. AMD's Zen 4 runs the permutes on more ports. Figures in the README.
bool detail::preferBlockwiseBgrToYuv() noexcept {
  const int forced = gBlockwiseBgrToYuvForced.load(std::memory_order_relaxed);
  return forced >= 0 ? forced == 1 : isIntel();
}

void detail::forceBlockwiseBgrToYuv(int prefer) noexcept {
  gBlockwiseBgrToYuvForced.store(prefer, std::memory_order_relaxed);
}

void detail::forcePlanarVectorBytes(std::size_t bytes) noexcept {
  gPlanarVectorBytesForced.store(bytes, std::memory_order_relaxed);
}

void setVectorPathsEnabled(bool enabled) {
  gVectorPathsEnabled.store(enabled, std::memory_order_relaxed);
}

const char* activeTarget() {
  if (!detail::vectorPathsEnabled()) {
    return "scalar";
  }
  return HWY_DYNAMIC_DISPATCH(targetName)();
}

std::vector<std::int64_t> availableTargets() {
  return hwy::SupportedAndGeneratedTargets();
}

}  // namespace EK::convert
#endif  // HWY_ONCE
