// Per-target helpers shared by the vectorised conversions: the block walker that avoids a scalar
// tail, the saturating narrowing of two 16-bit vectors into one byte vector in lane order, and
// the x86 byte-pair multiply-add and block-wise packs and loads.
// Included once per Highway target, hence the toggle guard instead of a plain include guard.

// x86 targets of 128-bit blocks (SSSE3, SSE4, AVX2) whose kernels keep every byte within its
// 128-bit block: their shuffles (pshufb, packus) work per block, and crossing blocks costs extra
// permutes, so these kernels lay their data out block by block instead.
#ifndef EKVISION_CONVERT_BLOCKWISE_X86
#define EKVISION_CONVERT_BLOCKWISE_X86 \
  (HWY_TARGET == HWY_SSSE3 || HWY_TARGET == HWY_SSE4 || HWY_TARGET == HWY_AVX2)
#endif
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

#if HWY_ARCH_X86 && HWY_TARGET != HWY_SCALAR && HWY_TARGET != HWY_EMU128
/// @brief Lanes a0 * c0 + a1 * c1 for the unsigned byte pairs (a0, a1) of `bytes` and the signed
/// byte pairs (c0, c1) of `coefficients` (vpmaddubsw; saturates beyond the int16 range).
template <class V8>
HWY_INLINE auto mulAddBytePairs(V8 bytes, V8 coefficients) {
  using V16 = hn::VFromD<hn::Repartition<int16_t, hn::DFromV<V8>>>;
#if HWY_TARGET == HWY_AVX3 || HWY_TARGET == HWY_AVX3_DL
  return V16{_mm512_maddubs_epi16(bytes.raw, coefficients.raw)};
#elif HWY_TARGET == HWY_AVX2
  return V16{_mm256_maddubs_epi16(bytes.raw, coefficients.raw)};
#else
  return V16{_mm_maddubs_epi16(bytes.raw, coefficients.raw)};
#endif
}
#endif

#if HWY_ARCH_X86 && HWY_TARGET != HWY_SCALAR && HWY_TARGET != HWY_EMU128
/// @brief Narrows two signed 16-bit vectors to bytes with unsigned saturation, block by block:
/// each 128-bit block of the result holds the block of `lo`, then the same block of `hi`.
template <class D8, class V16>
HWY_INLINE hn::VFromD<D8> packBlockwise(D8, V16 lo, V16 hi) {
#if HWY_TARGET == HWY_AVX3 || HWY_TARGET == HWY_AVX3_DL
  return hn::VFromD<D8>{_mm512_packus_epi16(lo.raw, hi.raw)};
#elif HWY_TARGET == HWY_AVX2
  return hn::VFromD<D8>{_mm256_packus_epi16(lo.raw, hi.raw)};
#else
  return hn::VFromD<D8>{_mm_packus_epi16(lo.raw, hi.raw)};
#endif
}

/// @brief Loads a vector whose 128-bit block j holds the 16 bytes at base + offset(j).
template <class D8, class Offset>
HWY_INLINE hn::VFromD<D8> loadBlocks(D8, const uint8_t* base, const Offset& offset) {
  const auto block = [&](int j) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(base + offset(j)));
  };
#if HWY_TARGET == HWY_AVX3 || HWY_TARGET == HWY_AVX3_DL
  const __m512i low = _mm512_castsi256_si512(
      _mm256_inserti128_si256(_mm256_castsi128_si256(block(0)), block(1), 1));
  return hn::VFromD<D8>{_mm512_inserti32x4(_mm512_inserti32x4(low, block(2), 2), block(3), 3)};
#elif HWY_TARGET == HWY_AVX2
  return hn::VFromD<D8>{_mm256_inserti128_si256(_mm256_castsi128_si256(block(0)), block(1), 1)};
#else
  return hn::VFromD<D8>{block(0)};
#endif
}
#endif

}  // namespace EK::convert::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#endif  // toggle guard
