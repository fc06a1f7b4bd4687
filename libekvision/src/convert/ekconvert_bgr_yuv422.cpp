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

#if HWY_ARCH_X86
// x86: every output byte gets its own 16-bit lane, laid out Y0 U Y1 V per pair, and the sums A
// and S come from byte-pair multiply-adds (vpmaddubsw) with per-lane coefficients: lanes of
// (B, G) and lanes of (R, 128). The constant byte 128 with coefficient 16 (Y) or 127 (U, V) adds
// k / 64 to A (16384 = 128 * 127 + 128, the remaining 128 entering S as 128 * 64 = 8192), so no
// separate additions are needed:
//   A = (B, G) . (ab, ag) + (R, 128) . (ar, 16 | 127)
//   S = (B, G) . (bb, bg) + (R, 128) . (br, 0 | 64)
// Every partial sum stays below the instruction's saturation (largest: 30536).

// Coefficient bytes of one pair's four lanes (Y0, U, Y1, V), as a repeating 64-bit pattern.
constexpr long long lanePattern(int y0, int y1, int u0, int u1, int v0, int v1) {
  const int bytes[8] = {y0, y1, u0, u1, y0, y1, v0, v1};
  unsigned long long out = 0;
  for (int i = 0; i < 8; ++i) {
    out |= static_cast<unsigned long long>(bytes[i] & 0xFF) << (8 * i);
  }
  return static_cast<long long>(out);
}

// The output lanes from the lanes of (B, G) bytes and of (R, 128) bytes.
template <class V8>
HWY_INLINE auto outputLanes(V8 blueGreen, V8 red128) {
  const hn::DFromV<V8> d8;
  const hn::Repartition<uint16_t, decltype(d8)> du16;
  const V8 coarseBG = hn::BitCast(
      d8, hn::Set(hn::Repartition<int64_t, decltype(d8)>(), lanePattern(12, 64, 56, -37, -9, -47)));
  const V8 coarseR = hn::BitCast(d8, hn::Set(hn::Repartition<int64_t, decltype(d8)>(),
                                             lanePattern(32, 16, -19, 127, 56, 127)));
  const V8 fineBG = hn::BitCast(
      d8, hn::Set(hn::Repartition<int64_t, decltype(d8)>(), lanePattern(34, 34, 14, -16, -9, -5)));
  const V8 fineR = hn::BitCast(
      d8, hn::Set(hn::Repartition<int64_t, decltype(d8)>(), lanePattern(56, 0, 2, 64, 14, 64)));
  const auto coarse = hn::BitCast(
      du16, hn::Add(mulAddBytePairs(blueGreen, coarseBG), mulAddBytePairs(red128, coarseR)));
  const auto fine = hn::BitCast(
      du16, hn::Add(mulAddBytePairs(blueGreen, fineBG), mulAddBytePairs(red128, fineR)));
  return hn::ShiftRight<7>(hn::Add(coarse, hn::ShiftRight<6>(fine)));
}
#endif

#if HWY_TARGET == HWY_AVX3_DL

// With byte permutes across registers (VBMI), the lanes come straight from the loads.
//
// A block is 64 pixels: three 64-byte loads and two 64-byte stores. Each store packs two lane
// vectors, packus interleaving them 8 lanes at a time per 128-bit block, so the permutes place
// pairs {0, 1, 4, 5, 8, 9, 12, 13} (plus 16 for the second store) in the first lane vector and the
// remaining pairs in the second. The pixels of each store lie within two adjacent loads.
struct PackPermutes {
  uint8_t blueGreen[2][2][64];  // [store][lane vector]: indices into two loads, bytes (B, G)
  uint8_t red[2][2][64];        // same for (R, 128); the 128 bytes are kept by the mask below
};

constexpr PackPermutes makePackPermutes() {
  PackPermutes p{};
  for (int store = 0; store < 2; ++store) {
    for (int half = 0; half < 2; ++half) {
      for (int lane = 0; lane < 32; ++lane) {
        const int quad = lane / 4;  // the pair whose four outputs these lanes hold
        const int pair = 16 * store + 4 * (quad / 2) + 2 * half + quad % 2;
        const int pixel = 2 * pair + (lane % 4 == 2 ? 1 : 0);  // only Y1 reads the second pixel
        const int byte = 3 * pixel - 64 * store;  // relative to the first of the two loads
        p.blueGreen[store][half][2 * lane] = static_cast<uint8_t>(byte);
        p.blueGreen[store][half][2 * lane + 1] = static_cast<uint8_t>(byte + 1);
        p.red[store][half][2 * lane] = static_cast<uint8_t>(byte + 2);
        p.red[store][half][2 * lane + 1] = 128;
      }
    }
  }
  return p;
}

void bgrToYuv422Kernel(const unsigned char* bgr, unsigned char* yuv, std::size_t pairs) {
  alignas(64) static constexpr PackPermutes kPermutes = makePackPermutes();
  const __mmask64 redBytes = 0x5555555555555555ull;  // even bytes: R; odd bytes: the constant
  const auto lanes = [&](__m512i lo, __m512i hi, int store, int half) {
    const __m512i bg =
        _mm512_permutex2var_epi8(lo, _mm512_load_si512(kPermutes.blueGreen[store][half]), hi);
    const __m512i r = _mm512_mask2_permutex2var_epi8(
        lo, _mm512_load_si512(kPermutes.red[store][half]), redBytes, hi);
    const hn::ScalableTag<uint8_t> d8;
    return outputLanes(hn::Vec<decltype(d8)>{bg}, hn::Vec<decltype(d8)>{r}).raw;
  };
  const bool done = forEachBlock(pairs, 32, [&](std::size_t k) {
    const unsigned char* in = bgr + 6 * k;
    const __m512i p0 = _mm512_loadu_si512(in);
    const __m512i p1 = _mm512_loadu_si512(in + 64);
    const __m512i p2 = _mm512_loadu_si512(in + 128);
    _mm512_storeu_si512(yuv + 4 * k, _mm512_packus_epi16(lanes(p0, p1, 0, 0), lanes(p0, p1, 0, 1)));
    _mm512_storeu_si512(yuv + 4 * k + 64,
                        _mm512_packus_epi16(lanes(p1, p2, 1, 0), lanes(p1, p2, 1, 1)));
  });
  if (!done) {
    reference::bgrToYuv422(bgr, yuv, pairs);
  }
}

#elif EKVISION_CONVERT_BLOCKWISE_X86 || HWY_TARGET == HWY_AVX3

// Byte shuffles work within 128-bit blocks (AVX3 has no byte permute across them), so every block
// of a lane vector loads its own 16 input bytes: the 8 lanes of a block are the outputs of two
// pairs (12 input bytes). A kernel block is 16 pixels per 128-bit block, i.e. 48 input and 32
// output bytes; its four lane vectors v give two stores, store s packing v = 2s and 2s + 1, packus
// putting block j of v = 2s first and of v = 2s + 1 second. So block j of lane vector v holds the
// pairs
//   P = 4 * kBlocks * (v / 2) + 2 * (v % 2) + 4 * j,
// read from input offset min(6P, 48 * kBlocks - 16), never past the kernel block's end.
constexpr int kBlocks = HWY_MAX_BYTES / 16;

struct LaneShuffles {
  uint8_t blueGreen[4][16 * kBlocks];  // [lane vector]: indices of (B, G) within each block's load
  uint8_t red[4][16 * kBlocks];        // (R, zero): the zero becomes 128 with an Or
  int offset[4][kBlocks];              // input offset of each block's 16-byte load
};

constexpr LaneShuffles makeLaneShuffles() {
  LaneShuffles s{};
  for (int v = 0; v < 4; ++v) {
    for (int j = 0; j < kBlocks; ++j) {
      const int pair = 4 * kBlocks * (v / 2) + 2 * (v % 2) + 4 * j;
      const int limit = 48 * kBlocks - 16;
      s.offset[v][j] = 6 * pair < limit ? 6 * pair : limit;
      const int shift = 6 * pair - s.offset[v][j];
      for (int lane = 0; lane < 8; ++lane) {
        // Lanes Y0 U Y1 V of the block's first pair, then of its second; only Y1 reads the
        // second pixel of its pair.
        const int pixel = 2 * (lane / 4) + (lane % 4 == 2 ? 1 : 0);
        const int byte = shift + 3 * pixel;
        s.blueGreen[v][16 * j + 2 * lane] = static_cast<uint8_t>(byte);
        s.blueGreen[v][16 * j + 2 * lane + 1] = static_cast<uint8_t>(byte + 1);
        s.red[v][16 * j + 2 * lane] = static_cast<uint8_t>(byte + 2);
        s.red[v][16 * j + 2 * lane + 1] = 0x80;
      }
    }
  }
  return s;
}

void bgrToYuv422Kernel(const unsigned char* bgr, unsigned char* yuv, std::size_t pairs) {
  alignas(64) static constexpr LaneShuffles kShuffles = makeLaneShuffles();
  const hn::ScalableTag<uint8_t> d8;
  const hn::Repartition<uint16_t, decltype(d8)> du16;
  const auto constantByte = hn::BitCast(d8, hn::Set(du16, 0x8000));
  const auto lanes = [&](const uint8_t* in, int v) {
    const auto bytes = loadBlocks(d8, in, [&](int j) { return kShuffles.offset[v][j]; });
    const auto blueGreen = hn::TableLookupBytes(bytes, hn::Load(d8, kShuffles.blueGreen[v]));
    const auto red =
        hn::Or(hn::TableLookupBytesOr0(bytes, hn::Load(d8, kShuffles.red[v])), constantByte);
    return hn::BitCast(hn::Repartition<int16_t, decltype(d8)>(), outputLanes(blueGreen, red));
  };
  const std::size_t n8 = hn::Lanes(d8);
  // One kernel block: 8 * kBlocks pairs, written as two vectors.
  const bool done = forEachBlock(pairs, 8 * kBlocks, [&](std::size_t k) {
    const uint8_t* in = bgr + 6 * k;
    hn::StoreU(packBlockwise(d8, lanes(in, 0), lanes(in, 1)), d8, yuv + 4 * k);
    hn::StoreU(packBlockwise(d8, lanes(in, 2), lanes(in, 3)), d8, yuv + 4 * k + n8);
  });
  if (!done) {
    reference::bgrToYuv422(bgr, yuv, pairs);
  }
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
#endif

}  // namespace EK::convert::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
#include "ekconvert_dispatch.h"

namespace EK::convert {

HWY_EXPORT(bgrToYuv422Kernel);

void bgrToYuv422(const unsigned char* bgr, unsigned char* yuv, std::size_t pairs) {
#if HWY_ARCH_X86 && (HWY_TARGETS & HWY_AVX3) && (HWY_TARGETS & HWY_AVX3_DL)
  // The best target this processor runs, as the dispatcher sees it (lower bits are better).
  const std::int64_t usable = hwy::SupportedTargets() & HWY_TARGETS;
  if ((usable & -usable) == HWY_AVX3_DL && detail::vectorPathsEnabled() &&
      detail::preferBlockwiseBgrToYuv()) {
    N_AVX3::bgrToYuv422Kernel(bgr, yuv, pairs);
    return;
  }
#endif
  detail::dispatch(HWY_DYNAMIC_DISPATCH(bgrToYuv422Kernel), reference::bgrToYuv422, bgr, yuv,
                   pairs);
}

}  // namespace EK::convert
#endif  // HWY_ONCE
