// Per-target helpers shared by the vectorised conversions: the block walker that avoids a scalar
// tail, and the saturating narrowing of two 16-bit vectors into one byte vector in lane order.
// Included once per Highway target, hence the toggle guard instead of a plain include guard.
#if defined(EKVISION_CONVERT_BLOCKS_INL_H_) == defined(HWY_TARGET_TOGGLE)
#ifdef EKVISION_CONVERT_BLOCKS_INL_H_
#undef EKVISION_CONVERT_BLOCKS_INL_H_
#else
#define EKVISION_CONVERT_BLOCKS_INL_H_
#endif

#include <cstddef>

#include "hwy/highway.h"

HWY_BEFORE_NAMESPACE();
namespace EK::convert::HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

/// @brief Calls `block(k)` for pair offsets k covering [0, pairs) in steps of `blockPairs`.
///
/// A last partial block is handled by running one full block that ends exactly at `pairs`, so it
/// recomputes a few pairs instead of reading or writing past the end; this is why the buffers of a
/// conversion must not overlap. Returns false (and calls nothing) when `pairs` is smaller than one
/// block: the caller then uses the scalar code.
template <class Block>
HWY_INLINE bool forEachBlock(std::size_t pairs, std::size_t blockPairs, const Block& block) {
  if (pairs < blockPairs) {
    return false;
  }
  std::size_t k = 0;
  for (; k + blockPairs <= pairs; k += blockPairs) {
    block(k);
  }
  if (k != pairs) {
    block(pairs - blockPairs);
  }
  return true;
}

// The scalar and emulated targets use the reference code and need no vector helpers.
#if HWY_TARGET != HWY_SCALAR && HWY_TARGET != HWY_EMU128
/// @brief Narrows two signed 16-bit vectors to one byte vector with unsigned saturation (values
/// below 0 become 0, above 255 become 255), keeping lane order: `lo` fills the lower half.
template <class D8, class V16>
HWY_INLINE hn::VFromD<D8> demoteTwoToU8(D8 d8, V16 lo, V16 hi) {
#if HWY_TARGET == HWY_AVX3 || HWY_TARGET == HWY_AVX3_DL
  // packus interleaves the two inputs per 128-bit block; one qword permute restores the order.
  const __m512i packed = _mm512_packus_epi16(lo.raw, hi.raw);
  const __m512i order = _mm512_setr_epi64(0, 2, 4, 6, 1, 3, 5, 7);
  return hn::VFromD<D8>{_mm512_permutexvar_epi64(order, packed)};
#elif HWY_TARGET == HWY_AVX2
  return hn::VFromD<D8>{
      _mm256_permute4x64_epi64(_mm256_packus_epi16(lo.raw, hi.raw), _MM_SHUFFLE(3, 1, 2, 0))};
#else
  const hn::Half<D8> dh;
  return hn::Combine(d8, hn::DemoteTo(dh, hi), hn::DemoteTo(dh, lo));
#endif
}
#endif

}  // namespace EK::convert::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#endif  // toggle guard
