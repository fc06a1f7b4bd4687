// What the dispatching functions of the conversion kernels share: the switch, the processor rule
// for the AVX-512 kernels and the dispatchers' body.
#ifndef EKVISION_SRC_CONVERT_EKCONVERT_DISPATCH_H_
#define EKVISION_SRC_CONVERT_EKCONVERT_DISPATCH_H_

namespace EK::convert::detail {

/// Whether the dispatchers may use the vectorised paths (see setVectorPathsEnabled).
bool vectorPathsEnabled() noexcept;

/// @brief Whether the AVX2 and AVX-512 targets run the planar unpackers on narrower vectors
/// than their own: decided once per process from the processor, unless forced.
bool preferNarrowVectors() noexcept;

/// @brief Forces preferNarrowVectors to false (0) or true (1), or restores the processor's rule
/// (-1), so that the tests check both schedules on any processor.
void forceNarrowVectors(int force) noexcept;

/// @brief The body of every dispatching function: calls @p vectorised, the kernel that
/// HWY_DYNAMIC_DISPATCH picked for this processor, or @p scalar when the vector paths are
/// disabled.
template <typename Function, typename... Args>
inline void dispatch(Function* vectorised, Function* scalar, Args... args) {
  (vectorPathsEnabled() ? vectorised : scalar)(args...);
}

}  // namespace EK::convert::detail

#endif  // EKVISION_SRC_CONVERT_EKCONVERT_DISPATCH_H_
