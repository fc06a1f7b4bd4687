// What the dispatching functions of the conversion kernels share: the switch and their body.
#ifndef EKVISION_SRC_CONVERT_EKCONVERT_DISPATCH_H_
#define EKVISION_SRC_CONVERT_EKCONVERT_DISPATCH_H_

namespace EK::convert::detail {

/// Whether the dispatchers may use the vectorised paths (see setVectorPathsEnabled).
bool vectorPathsEnabled() noexcept;

/// @brief The body of every dispatching function: calls @p vectorised, the kernel that
/// HWY_DYNAMIC_DISPATCH picked for this processor, or @p scalar when the vector paths are
/// disabled.
template <typename Function, typename... Args>
inline void dispatch(Function* vectorised, Function* scalar, Args... args) {
  (vectorPathsEnabled() ? vectorised : scalar)(args...);
}

}  // namespace EK::convert::detail

#endif  // EKVISION_SRC_CONVERT_EKCONVERT_DISPATCH_H_
