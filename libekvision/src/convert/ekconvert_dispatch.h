// State shared by the dispatching functions of the conversion kernels.
#ifndef EKVISION_SRC_CONVERT_EKCONVERT_DISPATCH_H_
#define EKVISION_SRC_CONVERT_EKCONVERT_DISPATCH_H_

namespace EK::convert::detail {

/// Whether the dispatchers may use the vectorised paths (see setVectorPathsEnabled).
bool vectorPathsEnabled() noexcept;

}  // namespace EK::convert::detail

#endif  // EKVISION_SRC_CONVERT_EKCONVERT_DISPATCH_H_
