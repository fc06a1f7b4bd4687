// What the dispatching functions of the conversion kernels share: the switch, the processor rules
// for the AVX-512 kernels and the dispatchers' body.
#ifndef EKVISION_SRC_CONVERT_EKCONVERT_DISPATCH_H_
#define EKVISION_SRC_CONVERT_EKCONVERT_DISPATCH_H_

#include <cstddef>
#include <initializer_list>

namespace EK::convert::detail {

/// Whether the dispatchers may use the vectorised paths (see setVectorPathsEnabled).
bool vectorPathsEnabled() noexcept;

/// @brief The widest vector, in bytes (16, 32 or 64), with which the planar unpackers should
/// access @p buffers: narrower than 64 only on the processors where accesses that straddle
/// cache lines are costly, and only as far as the buffers' common alignment requires.
std::size_t planarVectorBytes(std::initializer_list<const void*> buffers) noexcept;

/// @brief Forces planarVectorBytes to return @p bytes (16, 32 or 64), or restores its rule (0),
/// so that the tests check every width on any processor.
void forcePlanarVectorBytes(std::size_t bytes) noexcept;

/// @brief Whether BGR->YUV422 should run the block-wise AVX3 kernel where the dispatcher would
/// pick the VBMI (AVX3_DL) one: on Intel's processors, where both forms' 512-bit byte shuffles
/// issue on one port and the block-wise form was the faster.
bool preferBlockwiseBgrToYuv() noexcept;

/// @brief Forces preferBlockwiseBgrToYuv to @p prefer (0 or 1), or restores its rule (-1), so
/// that the tests check both kernels on any processor.
void forceBlockwiseBgrToYuv(int prefer) noexcept;

/// @brief The body of every dispatching function: calls @p vectorised, the kernel that
/// HWY_DYNAMIC_DISPATCH picked for this processor, or @p scalar when the vector paths are
/// disabled.
template <typename Function, typename... Args>
inline void dispatch(Function* vectorised, Function* scalar, Args... args) {
  (vectorPathsEnabled() ? vectorised : scalar)(args...);
}

}  // namespace EK::convert::detail

#endif  // EKVISION_SRC_CONVERT_EKCONVERT_DISPATCH_H_
