// Pixel-format conversion kernels of the image model (internal to the library).
//
// Every buffer is packed and row-major with no padding between rows. A YUV422 "group" is the
// four bytes Y0 U Y1 V shared by two horizontally adjacent pixels; `pairs` counts these groups,
// which is also the number of pixel pairs. Input and output ranges must not overlap: the
// vectorised paths may compute the last block of a row twice to avoid a scalar tail.
//
// The dispatching functions pick, once per process, the fastest implementation that the
// processor supports; every implementation writes exactly the bytes of `reference`.
#ifndef EKVISION_SRC_CONVERT_EKCONVERT_H_
#define EKVISION_SRC_CONVERT_EKCONVERT_H_

#include <cstddef>
#include <cstdint>
#include <vector>

namespace EK::convert {

/// @brief Unpacks YUV422 to BGR with 8-bit fixed-point integer arithmetic.
/// @param yuv   4 * pairs bytes: Y0 U Y1 V per pair.
/// @param bgr   6 * pairs bytes: B G R of the first pixel, then B G R of the second.
/// @param pairs number of pixel pairs.
void yuv422ToBgr(const unsigned char* yuv, unsigned char* bgr, std::size_t pairs);

/// @brief Splits YUV422 into planar 4:2:2 planes.
/// @param y 2 * pairs bytes (Y0 Y1 of every pair); @param u, v pairs bytes each.
void yuv422ToYYYYUUVV(const unsigned char* yuv, unsigned char* y, unsigned char* u,
                      unsigned char* v, std::size_t pairs);

/// @brief Splits YUV422 into planar 4:4:4 planes, repeating each pair's U and V for both pixels.
/// @param y, u, v 2 * pairs bytes each.
void yuv422ToYYYUUUVVV(const unsigned char* yuv, unsigned char* y, unsigned char* u,
                       unsigned char* v, std::size_t pairs);

/// @brief Packs BGR into YUV422 with 13-bit fixed-point integer arithmetic.
///
/// U and V come from the first pixel of each pair (no averaging); the results need no clamping
/// (Y lies in 16..235, U and V in 16..240 for every input).
/// @param bgr 6 * pairs bytes; @param yuv 4 * pairs bytes.
void bgrToYuv422(const unsigned char* bgr, unsigned char* yuv, std::size_t pairs);

/// @brief Converts one pixel in place with the single-precision formula: on return *y holds red,
/// *u green and *v blue, each truncated toward zero and clamped to 0..255.
void yuvToRgbPixel(unsigned char* y, unsigned char* u, unsigned char* v);

/// Plain C++ versions of the pair conversions: the fallback and the oracle of the tests.
namespace reference {

/// Scalar yuv422ToBgr.
void yuv422ToBgr(const unsigned char* yuv, unsigned char* bgr, std::size_t pairs);
/// Scalar yuv422ToYYYYUUVV.
void yuv422ToYYYYUUVV(const unsigned char* yuv, unsigned char* y, unsigned char* u,
                      unsigned char* v, std::size_t pairs);
/// Scalar yuv422ToYYYUUUVVV.
void yuv422ToYYYUUUVVV(const unsigned char* yuv, unsigned char* y, unsigned char* u,
                       unsigned char* v, std::size_t pairs);
/// Scalar bgrToYuv422.
void bgrToYuv422(const unsigned char* bgr, unsigned char* yuv, std::size_t pairs);

}  // namespace reference

/// @brief Enables (default) or disables the vectorised paths for the whole process; when
/// disabled the dispatching functions call `reference`. Thread-safe.
void setVectorPathsEnabled(bool enabled);

/// Name of the implementation the dispatching functions use now, e.g. "AVX3_DL", "AVX2",
/// "NEON", or "scalar" when the vector paths are disabled.
const char* activeTarget();

/// @brief Targets (Highway target bits) compiled into this build that the processor supports.
///
/// Tests pin each of them in turn with hwy::SetSupportedTargetsForTest to check every path.
std::vector<std::int64_t> availableTargets();

}  // namespace EK::convert

#endif  // EKVISION_SRC_CONVERT_EKCONVERT_H_
