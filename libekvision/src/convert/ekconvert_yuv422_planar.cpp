// YUV422 -> planar YYYYUUVV and YYYUUUVVV, vectorised for every Highway target and dispatched at
// run time. Pure byte shuffles: even bytes of the packed stream are Y, odd bytes alternate U, V.
#include <cstddef>
#include <cstdint>
#include <initializer_list>

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "ekconvert_yuv422_planar.cpp"
#include "hwy/foreach_target.h"  // IWYU pragma: keep
#include "hwy/highway.h"

#include "ekconvert.h"
#include "ekconvert_blocks-inl.h"
#include "ekconvert_dispatch.h"

HWY_BEFORE_NAMESPACE();
namespace EK::convert::HWY_NAMESPACE {

#if HWY_TARGET == HWY_EMU128 || HWY_TARGET == HWY_SCALAR
// Without real vectors the emulation would only be slower than the scalar code.
void yuv422ToYYYYUUVVKernel(const unsigned char* yuv, unsigned char* y, unsigned char* u,
                            unsigned char* v, std::size_t pairs) {
  reference::yuv422ToYYYYUUVV(yuv, y, u, v, pairs);
}
void yuv422ToYYYUUUVVVKernel(const unsigned char* yuv, unsigned char* y, unsigned char* u,
                             unsigned char* v, std::size_t pairs) {
  reference::yuv422ToYYYUUUVVV(yuv, y, u, v, pairs);
}
#else

// Both kernels take the vector width as a tag: the wider x86 targets may run them on narrower
// vectors (see detail::planarVectorBytes).

template <class D8>
HWY_INLINE bool splitTo422(D8 d8, const uint8_t* yuv, uint8_t* y, uint8_t* u, uint8_t* v,
                           std::size_t pairs) {
  const std::size_t n = hn::Lanes(d8);
  // One block: four input vectors = n pairs, giving 2n Y bytes and n bytes of U and of V.
  return forEachBlock(pairs, n, [&](std::size_t k) {
    const uint8_t* in = yuv + 4 * k;
    const auto p0 = hn::LoadU(d8, in);
    const auto p1 = hn::LoadU(d8, in + n);
    const auto p2 = hn::LoadU(d8, in + 2 * n);
    const auto p3 = hn::LoadU(d8, in + 3 * n);
    hn::StoreU(hn::ConcatEven(d8, p1, p0), d8, y + 2 * k);
    hn::StoreU(hn::ConcatEven(d8, p3, p2), d8, y + 2 * k + n);
    const auto chroma0 = hn::ConcatOdd(d8, p1, p0);  // U V U V ...
    const auto chroma1 = hn::ConcatOdd(d8, p3, p2);
    hn::StoreU(hn::ConcatEven(d8, chroma1, chroma0), d8, u + k);
    hn::StoreU(hn::ConcatOdd(d8, chroma1, chroma0), d8, v + k);
  });
}

template <class D8>
HWY_INLINE bool splitTo444(D8 d8, const uint8_t* yuv, uint8_t* y, uint8_t* u, uint8_t* v,
                           std::size_t pairs) {
  const std::size_t n = hn::Lanes(d8);
  const hn::Repartition<uint16_t, D8> d16;
  // Byte indices within every 4-byte group: U U V V, so that the 16-bit lanes alternate a
  // doubled U and a doubled V.
  alignas(16) static constexpr uint8_t kDoubled[16] = {1, 1, 3,  3,  5,  5,  7,  7,
                                                       9, 9, 11, 11, 13, 13, 15, 15};
  const auto doubled = hn::LoadDup128(d8, kDoubled);
  // One block: two input vectors = n / 2 pairs, giving n bytes of each plane.
  return forEachBlock(pairs, n / 2, [&](std::size_t k) {
    const uint8_t* in = yuv + 4 * k;
    const auto p0 = hn::LoadU(d8, in);
    const auto p1 = hn::LoadU(d8, in + n);
    hn::StoreU(hn::ConcatEven(d8, p1, p0), d8, y + 2 * k);
    const auto c0 = hn::BitCast(d16, hn::TableLookupBytes(p0, doubled));
    const auto c1 = hn::BitCast(d16, hn::TableLookupBytes(p1, doubled));
    hn::StoreU(hn::BitCast(d8, hn::ConcatEven(d16, c1, c0)), d8, u + 2 * k);
    hn::StoreU(hn::BitCast(d8, hn::ConcatOdd(d16, c1, c0)), d8, v + 2 * k);
  });
}

#if HWY_TARGET == HWY_AVX3_DL
// Bytes of two loads (128 bytes, 32 pairs) picked for one plane: the pair's byte at `offset`
// (1: U, 3: V) repeated for both of its pixels.
struct DoubledChroma {
  uint8_t u[64];
  uint8_t v[64];
};

constexpr DoubledChroma makeDoubledChroma() {
  DoubledChroma d{};
  for (int i = 0; i < 64; ++i) {
    d.u[i] = static_cast<uint8_t>(4 * (i / 2) + 1);
    d.v[i] = static_cast<uint8_t>(4 * (i / 2) + 3);
  }
  return d;
}

// With byte permutes across the whole register (VBMI): one two-source permute per plane.
HWY_INLINE bool splitTo444(hn::Full512<uint8_t> d8, const uint8_t* yuv, uint8_t* y, uint8_t* u,
                           uint8_t* v, std::size_t pairs) {
  const std::size_t n = hn::Lanes(d8);
  alignas(64) static constexpr DoubledChroma kDoubled = makeDoubledChroma();
  const __m512i uIndices = _mm512_load_si512(kDoubled.u);
  const __m512i vIndices = _mm512_load_si512(kDoubled.v);
  return forEachBlock(pairs, n / 2, [&](std::size_t k) {
    const uint8_t* in = yuv + 4 * k;
    const auto p0 = hn::LoadU(d8, in);
    const auto p1 = hn::LoadU(d8, in + n);
    hn::StoreU(hn::ConcatEven(d8, p1, p0), d8, y + 2 * k);
    _mm512_storeu_si512(u + 2 * k, _mm512_permutex2var_epi8(p0.raw, uIndices, p1.raw));
    _mm512_storeu_si512(v + 2 * k, _mm512_permutex2var_epi8(p0.raw, vIndices, p1.raw));
  });
}
#endif

// Runs `split` with the target's vectors, or with narrower ones where detail::planarVectorBytes
// says so for these buffers.
template <class Split>
HWY_INLINE bool withPreferredWidth(std::initializer_list<const void*> buffers, const Split& split) {
#if HWY_TARGET == HWY_AVX2 || HWY_TARGET == HWY_AVX3 || HWY_TARGET == HWY_AVX3_DL
  const std::size_t bytes = detail::planarVectorBytes(buffers);
  const std::size_t lanes = hn::Lanes(hn::ScalableTag<uint8_t>());
  if (bytes < lanes && bytes <= 16) {
    return split(hn::FixedTag<uint8_t, 16>());
  }
#if HWY_TARGET != HWY_AVX2
  if (bytes < lanes) {
    return split(hn::FixedTag<uint8_t, 32>());
  }
#endif
#else
  static_cast<void>(buffers);
#endif
  return split(hn::ScalableTag<uint8_t>());
}

void yuv422ToYYYYUUVVKernel(const unsigned char* yuv, unsigned char* y, unsigned char* u,
                            unsigned char* v, std::size_t pairs) {
  const bool done = withPreferredWidth(
      {yuv, y, u, v}, [&](auto d8) { return splitTo422(d8, yuv, y, u, v, pairs); });
  if (!done) {
    reference::yuv422ToYYYYUUVV(yuv, y, u, v, pairs);
  }
}

void yuv422ToYYYUUUVVVKernel(const unsigned char* yuv, unsigned char* y, unsigned char* u,
                             unsigned char* v, std::size_t pairs) {
  const bool done = withPreferredWidth(
      {yuv, y, u, v}, [&](auto d8) { return splitTo444(d8, yuv, y, u, v, pairs); });
  if (!done) {
    reference::yuv422ToYYYUUUVVV(yuv, y, u, v, pairs);
  }
}
#endif

}  // namespace EK::convert::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace EK::convert {

HWY_EXPORT(yuv422ToYYYYUUVVKernel);
HWY_EXPORT(yuv422ToYYYUUUVVVKernel);

void yuv422ToYYYYUUVV(const unsigned char* yuv, unsigned char* y, unsigned char* u,
                      unsigned char* v, std::size_t pairs) {
  detail::dispatch(HWY_DYNAMIC_DISPATCH(yuv422ToYYYYUUVVKernel), reference::yuv422ToYYYYUUVV, yuv,
                   y, u, v, pairs);
}

void yuv422ToYYYUUUVVV(const unsigned char* yuv, unsigned char* y, unsigned char* u,
                       unsigned char* v, std::size_t pairs) {
  detail::dispatch(HWY_DYNAMIC_DISPATCH(yuv422ToYYYUUUVVVKernel), reference::yuv422ToYYYUUUVVV, yuv,
                   y, u, v, pairs);
}

}  // namespace EK::convert
#endif  // HWY_ONCE
