// YUV422 -> BGR, vectorised for every Highway target and dispatched at run time.
//
// Exact 16-bit formulation. Each channel is floor(T / 256) for T = 298 Y' + c1 U' + c2 V', whose
// range (about -71000..137000) does not fit 16 bits. Writing every coefficient as 256 a + b splits
// T = 256 h + l with small integers h and l, and floor(T / 256) = h + floor(l / 256) exactly.
// With Y, U, V the raw bytes (the -16 / -128 offsets folded into constants):
//   blue : h = Y + 2U - 277,  l = 42Y + 5U - 32
//   green: h = Y - V + 135,   l = 42Y - 100U + 48V + 96
//   red  : h = Y + 2V - 223,  l = 42Y - 103V - 32
// Every h and l stays within -26300..28000, so 16-bit lanes compute all of them without overflow,
// and the saturating narrowing to bytes is the clamp to 0..255.
#include <cstddef>
#include <cstdint>

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "ekconvert_yuv422_bgr.cpp"
#include "hwy/foreach_target.h"  // IWYU pragma: keep
#include "hwy/highway.h"

#include "ekconvert.h"
#include "ekconvert_blocks-inl.h"

HWY_BEFORE_NAMESPACE();
namespace EK::convert::HWY_NAMESPACE {

#if HWY_TARGET == HWY_EMU128 || HWY_TARGET == HWY_SCALAR
// Without real vectors the emulation would only be slower than the scalar code.
void yuv422ToBgrKernel(const unsigned char* yuv, unsigned char* bgr, std::size_t pairs) {
  reference::yuv422ToBgr(yuv, bgr, pairs);
}
#else

using V16 = hn::Vec<hn::ScalableTag<int16_t> >;

// Converts the pixels of one vector of YUV422 bytes (one 16-bit lane per pixel). Out-parameters
// rather than a struct because scalable vector types cannot be struct members.
HWY_INLINE void convertPixels(hn::Vec<hn::ScalableTag<uint8_t> > packed, V16& b, V16& g, V16& r) {
  const hn::ScalableTag<int16_t> d16;
  const hn::Repartition<uint8_t, decltype(d16)> du8;
  // Byte indices within every 4-byte group: the group's U (or V) zero-extended into both lanes.
  alignas(16) static constexpr uint8_t kU[16] = {1, 0x80, 1, 0x80, 5,  0x80, 5,  0x80,
                                                 9, 0x80, 9, 0x80, 13, 0x80, 13, 0x80};
  alignas(16) static constexpr uint8_t kV[16] = {3,  0x80, 3,  0x80, 7,  0x80, 7,  0x80,
                                                 11, 0x80, 11, 0x80, 15, 0x80, 15, 0x80};
  const auto y = hn::And(hn::BitCast(d16, packed), hn::Set(d16, 0xFF));
  const auto u = hn::BitCast(d16, hn::TableLookupBytesOr0(packed, hn::LoadDup128(du8, kU)));
  const auto v = hn::BitCast(d16, hn::TableLookupBytesOr0(packed, hn::LoadDup128(du8, kV)));

  const auto y42 = hn::Mul(y, hn::Set(d16, 42));
  const auto u2 = hn::Add(u, u);
  const auto v2 = hn::Add(v, v);

  const auto hB = hn::Add(hn::Add(y, u2), hn::Set(d16, -277));
  const auto lB = hn::Add(hn::Add(y42, hn::Mul(u, hn::Set(d16, 5))), hn::Set(d16, -32));
  const auto hG = hn::Add(hn::Sub(y, v), hn::Set(d16, 135));
  const auto lG = hn::Add(hn::Add(y42, hn::Set(d16, 96)),
                          hn::Add(hn::Mul(u, hn::Set(d16, -100)), hn::Mul(v, hn::Set(d16, 48))));
  const auto hR = hn::Add(hn::Add(y, v2), hn::Set(d16, -223));
  const auto lR = hn::Add(hn::Add(y42, hn::Mul(v, hn::Set(d16, -103))), hn::Set(d16, -32));
  b = hn::Add(hB, hn::ShiftRight<8>(lB));
  g = hn::Add(hG, hn::ShiftRight<8>(lG));
  r = hn::Add(hR, hn::ShiftRight<8>(lR));
}

void yuv422ToBgrKernel(const unsigned char* yuv, unsigned char* bgr, std::size_t pairs) {
  const hn::ScalableTag<uint8_t> d8;
  const std::size_t n8 = hn::Lanes(d8);
  // One block: two input vectors, i.e. n8 pixels = n8 / 2 pairs, stored as 3 * n8 bytes.
  const bool done = forEachBlock(pairs, n8 / 2, [&](std::size_t k) {
    const uint8_t* in = yuv + 4 * k;
    V16 b0, g0, r0, b1, g1, r1;
    convertPixels(hn::LoadU(d8, in), b0, g0, r0);
    convertPixels(hn::LoadU(d8, in + n8), b1, g1, r1);
    hn::StoreInterleaved3(demoteTwoToU8(d8, b0, b1), demoteTwoToU8(d8, g0, g1),
                          demoteTwoToU8(d8, r0, r1), d8, bgr + 6 * k);
  });
  if (!done) {
    reference::yuv422ToBgr(yuv, bgr, pairs);
  }
}
#endif

}  // namespace EK::convert::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
#include "ekconvert_dispatch.h"

namespace EK::convert {

HWY_EXPORT(yuv422ToBgrKernel);

void yuv422ToBgr(const unsigned char* yuv, unsigned char* bgr, std::size_t pairs) {
  if (!detail::vectorPathsEnabled()) {
    reference::yuv422ToBgr(yuv, bgr, pairs);
    return;
  }
  HWY_DYNAMIC_DISPATCH(yuv422ToBgrKernel)(yuv, bgr, pairs);
}

}  // namespace EK::convert
#endif  // HWY_ONCE
