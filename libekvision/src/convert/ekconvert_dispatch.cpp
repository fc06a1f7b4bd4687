// Process-wide switch of the vectorised paths and the name of the implementation in use.
#include <atomic>

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
// -1: the processor rule of preferNarrowVectors; 0 or 1: forced by the tests.
std::atomic<int> gNarrowForced{-1};
}  // namespace

HWY_EXPORT(targetName);

bool detail::vectorPathsEnabled() noexcept {
  return gVectorPathsEnabled.load(std::memory_order_relaxed);
}

// The planar unpackers move bytes with few shuffles between each load and store. On Intel's
// cores their 512-bit form was measured well below their 256-bit form, and the 4:4:4 unpacker's
// 256-bit form below its 128-bit form on small frames (Xeon of the Sapphire Rapids class under
// KVM, 640x480: YYYYUUVV 12.2 against 18.1 Gpixel/s; 320x240: YYYUUUVVV 10.1 against 12.5),
// so that the higher targets lost to SSE4. On AMD's Zen 4 the 512-bit forms were the faster
// (see the README's Benchmarks), so the rule follows the vendor.
bool detail::preferNarrowVectors() noexcept {
  const int forced = gNarrowForced.load(std::memory_order_relaxed);
  if (forced >= 0) {
    return forced != 0;
  }
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

void detail::forceNarrowVectors(int force) noexcept {
  gNarrowForced.store(force, std::memory_order_relaxed);
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
