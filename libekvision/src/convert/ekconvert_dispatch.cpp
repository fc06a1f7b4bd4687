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
#include "ekconvert.h"
#include "ekconvert_dispatch.h"

namespace EK::convert {
namespace {
std::atomic<bool> gVectorPathsEnabled{true};
}  // namespace

HWY_EXPORT(targetName);

bool detail::vectorPathsEnabled() noexcept {
  return gVectorPathsEnabled.load(std::memory_order_relaxed);
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
