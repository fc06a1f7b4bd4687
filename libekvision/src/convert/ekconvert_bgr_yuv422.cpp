// BGR -> YUV422, vectorised for every Highway target and dispatched at run time.
//
// Exact 16-bit formulation. Each output is floor(T / 8192) for T = cr R + cg G + cb B + k, a
// 21-bit quantity. Writing every coefficient as 64 a + b gives T = 64 A + S + k with
// A = ar R + ag G + ab B and S = br R + bg G + bb B, and since k is a multiple of 64,
//   floor(T / 8192) = (A + k / 64 + (S >> 6)) >> 7    (arithmetic shifts)
// exactly. The splits keep A + k / 64 and S within 16 bits:
//   Y: 2104 = 64*32 + 56, 4130 = 64*64 + 34, 802 = 64*12 + 34, k / 64 = 2048
//   U: -1214 = 64*-19 + 2, -2384 = 64*-37 - 16, 3598 = 64*56 + 14, k / 64 = 16384
//   V: 3598 = 64*56 + 14, -3013 = 64*-47 - 5, -585 = 64*-9 - 9, k / 64 = 16384
#include <cstddef>
#include <cstdint>

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "ekconvert_bgr_yuv422.cpp"
#include "hwy/foreach_target.h"  // IWYU pragma: keep
#include "hwy/highway.h"

#include "ekconvert.h"
#include "ekconvert_blocks-inl.h"

HWY_BEFORE_NAMESPACE();
namespace EK::convert::HWY_NAMESPACE {

#if HWY_TARGET == HWY_EMU128 || HWY_TARGET == HWY_SCALAR
// Without real vectors the emulation would only be slower than the scalar code.
void bgrToYuv422Kernel(const unsigned char* bgr, unsigned char* yuv, std::size_t pairs) {
  reference::bgrToYuv422(bgr, yuv, pairs);
}
#else

using D16 = hn::ScalableTag<int16_t>;
using V16 = hn::Vec<D16>;

// One output byte per lane from the lanes' R, G, B (each 0..255), with the split coefficients
// (ar, ag, ab) and (br, bg, bb) and the offset k / 64 described above.
template <int kAr, int kAg, int kAb, int kBr, int kBg, int kBb, int kOffset>
HWY_INLINE V16 weightedSum(V16 r, V16 g, V16 b) {
  const D16 d;
  const auto coarse = hn::Add(hn::Add(hn::Mul(r, hn::Set(d, kAr)), hn::Mul(g, hn::Set(d, kAg))),
                              hn::Add(hn::Mul(b, hn::Set(d, kAb)), hn::Set(d, kOffset)));
  const auto fine = hn::Add(hn::Add(hn::Mul(r, hn::Set(d, kBr)), hn::Mul(g, hn::Set(d, kBg))),
                            hn::Mul(b, hn::Set(d, kBb)));
  return hn::ShiftRight<7>(hn::Add(coarse, hn::ShiftRight<6>(fine)));
}

HWY_INLINE V16 luma(V16 r, V16 g, V16 b) {
  return weightedSum<32, 64, 12, 56, 34, 34, 2048>(r, g, b);
}

void bgrToYuv422Kernel(const unsigned char* bgr, unsigned char* yuv, std::size_t pairs) {
  const hn::ScalableTag<uint8_t> d8;
  const D16 d16;
  const hn::RebindToUnsigned<D16> du16;
  const std::size_t n8 = hn::Lanes(d8);
  const auto lowByte = hn::Set(d16, 0xFF);
  // One block: n8 pixels = n8 / 2 pairs; every 16-bit lane then holds one pair.
  const bool done = forEachBlock(pairs, n8 / 2, [&](std::size_t k) {
    hn::Vec<decltype(d8)> b8, g8, r8;
    hn::LoadInterleaved3(d8, bgr + 6 * k, b8, g8, r8);
    const auto b = hn::BitCast(d16, b8);
    const auto g = hn::BitCast(d16, g8);
    const auto r = hn::BitCast(d16, r8);
    const auto b0 = hn::And(b, lowByte), g0 = hn::And(g, lowByte), r0 = hn::And(r, lowByte);
    const auto b1 = hn::BitCast(d16, hn::ShiftRight<8>(hn::BitCast(du16, b)));
    const auto g1 = hn::BitCast(d16, hn::ShiftRight<8>(hn::BitCast(du16, g)));
    const auto r1 = hn::BitCast(d16, hn::ShiftRight<8>(hn::BitCast(du16, r)));
    const auto u = weightedSum<-19, -37, 56, 2, -16, 14, 16384>(r0, g0, b0);
    const auto v = weightedSum<56, -47, -9, 14, -5, -9, 16384>(r0, g0, b0);
    // Little-endian 16-bit words Y0 | U << 8 and Y1 | V << 8 interleave into Y0 U Y1 V.
    const auto first =
        hn::Or(hn::BitCast(du16, luma(r0, g0, b0)), hn::ShiftLeft<8>(hn::BitCast(du16, u)));
    const auto second =
        hn::Or(hn::BitCast(du16, luma(r1, g1, b1)), hn::ShiftLeft<8>(hn::BitCast(du16, v)));
    hn::StoreInterleaved2(first, second, du16, reinterpret_cast<uint16_t*>(yuv + 4 * k));
  });
  if (!done) {
    reference::bgrToYuv422(bgr, yuv, pairs);
  }
}
#endif

}  // namespace EK::convert::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
#include "ekconvert_dispatch.h"

namespace EK::convert {

HWY_EXPORT(bgrToYuv422Kernel);

void bgrToYuv422(const unsigned char* bgr, unsigned char* yuv, std::size_t pairs) {
  if (!detail::vectorPathsEnabled()) {
    reference::bgrToYuv422(bgr, yuv, pairs);
    return;
  }
  HWY_DYNAMIC_DISPATCH(bgrToYuv422Kernel)(bgr, yuv, pairs);
}

}  // namespace EK::convert
#endif  // HWY_ONCE
