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
// Green saves one add: its l + 135 * 256 always lies within 0..65535, so a logical shift of that
// 16-bit value is floor(l / 256) + 135, and green's h needs no constant of its own.
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

using D8 = hn::ScalableTag<uint8_t>;
using D16 = hn::ScalableTag<int16_t>;
using V8 = hn::Vec<D8>;
using V16 = hn::Vec<D16>;

// Green's l offset 96 with its h offset 135 folded in (96 + 135 * 256, as a 16-bit pattern).
constexpr int16_t kGreenLowOffset = static_cast<int16_t>(96 + 135 * 256 - 65536);

// floor(l / 256) + 135 for green's l, whose 16-bit pattern lG holds l + 135 * 256 (0..65535).
HWY_INLINE V16 shiftGreenLow(V16 lG) {
  const hn::RebindToUnsigned<D16> du16;
  return hn::BitCast(D16(), hn::ShiftRight<8>(hn::BitCast(du16, lG)));
}

#if HWY_ARCH_X86
// x86 has a multiply-add of byte pairs (vpmaddubsw: unsigned byte times signed byte, adjacent
// products summed into 16 bits), which computes every h and l above in one instruction from
// lanes holding the bytes (Y, U) or (Y, V). None of the sums reaches the instruction's saturation.
// The other processors (NEON, SVE) use the portable formulation below.

// Lanes a0 * kC0 + a1 * kC1 for the byte pairs (a0, a1) of `bytes`.
template <int kC0, int kC1>
HWY_INLINE V16 dotBytePairs(V8 bytes) {
  const D16 d16;
  const auto coefficients = hn::Set(d16, static_cast<int16_t>(((kC1 & 0xFF) << 8) | (kC0 & 0xFF)));
  return mulAddBytePairs(bytes, hn::BitCast(D8(), coefficients));
}

// Converts the pixels of one vector of YUV422 bytes (one 16-bit lane per pixel). Out-parameters
// rather than a struct because scalable vector types cannot be struct members.
HWY_INLINE void convertPixels(V8 packed, V16& b, V16& g, V16& r) {
  const D16 d16;
  const D8 d8;
  // Byte indices within every 4-byte group Y0 U Y1 V: (Y0, U) (Y1, U), and (Y0, V) (Y1, V).
  alignas(16) static constexpr uint8_t kYU[16] = {0, 1, 2,  1, 4,  5,  6,  5,
                                                  8, 9, 10, 9, 12, 13, 14, 13};
  alignas(16) static constexpr uint8_t kYV[16] = {0, 3,  2,  3,  4,  7,  6,  7,
                                                  8, 11, 10, 11, 12, 15, 14, 15};
  const V8 yu = hn::TableLookupBytes(packed, hn::LoadDup128(d8, kYU));
  const V8 yv = hn::TableLookupBytes(packed, hn::LoadDup128(d8, kYV));
  const auto hB = hn::Add(dotBytePairs<1, 2>(yu), hn::Set(d16, -277));
  const auto lB = hn::Add(dotBytePairs<42, 5>(yu), hn::Set(d16, -32));
  const auto hG = dotBytePairs<1, -1>(yv);
  const auto lG = hn::Add(hn::Add(dotBytePairs<42, -100>(yu), dotBytePairs<0, 48>(yv)),
                          hn::Set(d16, kGreenLowOffset));
  const auto hR = hn::Add(dotBytePairs<1, 2>(yv), hn::Set(d16, -223));
  const auto lR = hn::Add(dotBytePairs<42, -103>(yv), hn::Set(d16, -32));
  b = hn::Add(hB, hn::ShiftRight<8>(lB));
  g = hn::Add(hG, shiftGreenLow(lG));
  r = hn::Add(hR, hn::ShiftRight<8>(lR));
}

#else

// Converts the pixels of one vector of YUV422 bytes (one 16-bit lane per pixel). Out-parameters
// rather than a struct because scalable vector types cannot be struct members.
HWY_INLINE void convertPixels(V8 packed, V16& b, V16& g, V16& r) {
  const D16 d16;
  const D8 d8;
  // Byte indices within every 4-byte group: the group's U (or V) zero-extended into both lanes.
  alignas(16) static constexpr uint8_t kU[16] = {1, 0x80, 1, 0x80, 5,  0x80, 5,  0x80,
                                                 9, 0x80, 9, 0x80, 13, 0x80, 13, 0x80};
  alignas(16) static constexpr uint8_t kV[16] = {3,  0x80, 3,  0x80, 7,  0x80, 7,  0x80,
                                                 11, 0x80, 11, 0x80, 15, 0x80, 15, 0x80};
  const auto y = hn::And(hn::BitCast(d16, packed), hn::Set(d16, 0xFF));
  const auto u = hn::BitCast(d16, hn::TableLookupBytesOr0(packed, hn::LoadDup128(d8, kU)));
  const auto v = hn::BitCast(d16, hn::TableLookupBytesOr0(packed, hn::LoadDup128(d8, kV)));

  const auto y42 = hn::Mul(y, hn::Set(d16, 42));
  const auto hB = hn::Add(hn::Add(y, hn::Add(u, u)), hn::Set(d16, -277));
  const auto lB = hn::Add(hn::Add(y42, hn::Mul(u, hn::Set(d16, 5))), hn::Set(d16, -32));
  const auto hG = hn::Sub(y, v);
  const auto lG = hn::Add(hn::Add(y42, hn::Set(d16, kGreenLowOffset)),
                          hn::Add(hn::Mul(u, hn::Set(d16, -100)), hn::Mul(v, hn::Set(d16, 48))));
  const auto hR = hn::Add(hn::Add(y, hn::Add(v, v)), hn::Set(d16, -223));
  const auto lR = hn::Add(hn::Add(y42, hn::Mul(v, hn::Set(d16, -103))), hn::Set(d16, -32));
  b = hn::Add(hB, hn::ShiftRight<8>(lB));
  g = hn::Add(hG, shiftGreenLow(lG));
  r = hn::Add(hR, hn::ShiftRight<8>(lR));
}

#endif

#if HWY_TARGET == HWY_AVX3_DL
// With byte permutes across the whole register (VBMI), the three channels go straight from the
// saturating packs to the interleaved B G R bytes: two permutes per 64 output bytes instead of
// restoring lane order and interleaving in separate steps.
struct BgrPermutes {
  uint8_t blueGreen[3][64];  // byte of the blue pack, or 64 + byte of the green pack
  uint8_t red[3][64];        // byte of the red pack
  uint64_t redMask[3];       // output bytes taken from the red pack
};

// Byte position of pixel i (0..63) in packus(pixels 0..31, pixels 32..63), which interleaves its
// two inputs eight lanes at a time per 128-bit block.
constexpr uint8_t packedPosition(int i) {
  return static_cast<uint8_t>(i < 32 ? 16 * (i / 8) + i % 8 : 16 * ((i - 32) / 8) + 8 + i % 8);
}

constexpr BgrPermutes makeBgrPermutes() {
  BgrPermutes p{};
  for (int k = 0; k < 3; ++k) {
    for (int t = 0; t < 64; ++t) {
      const int pixel = (64 * k + t) / 3;
      const int channel = (64 * k + t) % 3;
      const uint8_t at = packedPosition(pixel);
      p.blueGreen[k][t] = static_cast<uint8_t>(channel == 1 ? 64 + at : at);
      p.red[k][t] = at;
      if (channel == 2) {
        p.redMask[k] |= uint64_t{1} << t;
      }
    }
  }
  return p;
}

// Stores 64 pixels, given as 16-bit channel values of pixels 0..31 (b0, g0, r0) and 32..63.
HWY_INLINE void storeBgr(V16 b0, V16 g0, V16 r0, V16 b1, V16 g1, V16 r1, unsigned char* out) {
  alignas(64) static constexpr BgrPermutes kPermutes = makeBgrPermutes();
  const __m512i blue = _mm512_packus_epi16(b0.raw, b1.raw);
  const __m512i green = _mm512_packus_epi16(g0.raw, g1.raw);
  const __m512i red = _mm512_packus_epi16(r0.raw, r1.raw);
  for (int k = 0; k < 3; ++k) {
    const __m512i blueGreen =
        _mm512_permutex2var_epi8(blue, _mm512_load_si512(kPermutes.blueGreen[k]), green);
    const __m512i all = _mm512_mask_permutexvar_epi8(blueGreen, kPermutes.redMask[k],
                                                     _mm512_load_si512(kPermutes.red[k]), red);
    _mm512_storeu_si512(out + 64 * k, all);
  }
}
#elif EKVISION_CONVERT_BLOCKWISE_X86
// Everything stays within 128-bit blocks: block j of the two input vectors holds pixels
// 16j .. 16j + 7 and 16j + 8 .. 16j + 15, so that three packs give block j the channel bytes of
// its 16 pixels and seven byte shuffles interleave them into the block's 48 BGR bytes. Only the
// 256-bit store needs to combine blocks.
// The packs give three byte sources per block: X = (blue 0..7, green 0..7), Y = (red 0..7,
// blue 8..15), Z = (green 8..15, red 8..15) for pixels 0..15 of the block; output chunk 0 (pixels
// 0..5) draws on X and Y only, chunk 1 on all three, chunk 2 (pixels 10..15) on Y and Z only.
struct BgrShuffles {
  uint8_t pick[3][3][16];  // [output chunk of 16 bytes][source X, Y, Z]
};

constexpr BgrShuffles makeBgrShuffles() {
  BgrShuffles s{};
  for (int chunk = 0; chunk < 3; ++chunk) {
    for (int t = 0; t < 16; ++t) {
      const int pixel = (16 * chunk + t) / 3;
      const int channel = (16 * chunk + t) % 3;
      // [channel][pixel < 8 ? 0 : 1] -> (source, byte offset added to the pixel)
      constexpr int kSource[3][2] = {{0, 1}, {0, 2}, {1, 2}};
      constexpr int kOffset[3][2] = {{0, 0}, {8, -8}, {0, 0}};
      const int high = pixel < 8 ? 0 : 1;
      for (int source = 0; source < 3; ++source) {
        s.pick[chunk][source][t] = static_cast<uint8_t>(
            source == kSource[channel][high] ? pixel + kOffset[channel][high] : 0x80);
      }
    }
  }
  return s;
}

// Stores 16 pixels per 128-bit block: block j of the channel vectors holds pixels 16j .. 16j + 7
// (b0, g0, r0) and 16j + 8 .. 16j + 15 (b1, g1, r1).
HWY_INLINE void storeBgr(V16 b0, V16 g0, V16 r0, V16 b1, V16 g1, V16 r1, unsigned char* out) {
  const D8 d8;
  alignas(16) static constexpr BgrShuffles kShuffles = makeBgrShuffles();
  const V8 x = packBlockwise(d8, b0, g0);
  const V8 y = packBlockwise(d8, r0, b1);
  const V8 z = packBlockwise(d8, g1, r1);
  const auto pick = [&](V8 source, int chunk, int which) {
    return hn::TableLookupBytesOr0(source, hn::LoadDup128(d8, kShuffles.pick[chunk][which]));
  };
  const V8 chunk[3] = {hn::Or(pick(x, 0, 0), pick(y, 0, 1)),
                       hn::Or(hn::Or(pick(x, 1, 0), pick(y, 1, 1)), pick(z, 1, 2)),
                       hn::Or(pick(y, 2, 1), pick(z, 2, 2))};
#if HWY_TARGET == HWY_AVX2
  // Bytes 0..47 are the low blocks of the chunks, bytes 48..95 the high blocks.
  const auto store = [&](__m256i v, int at) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + at), v);
  };
  store(_mm256_permute2x128_si256(chunk[0].raw, chunk[1].raw, 0x20), 0);
  store(_mm256_blend_epi32(chunk[2].raw, chunk[0].raw, 0xF0), 32);
  store(_mm256_permute2x128_si256(chunk[1].raw, chunk[2].raw, 0x31), 64);
#else
  for (int c = 0; c < 3; ++c) {
    hn::StoreU(chunk[c], d8, out + 16 * c);
  }
#endif
}

// The two input vectors of the block at `in`, laid out as storeBgr expects.
HWY_INLINE void loadPixels(const uint8_t* in, V8& first, V8& second) {
  const D8 d8;
  first = loadBlocks(d8, in, [](int j) { return 32 * j; });
  second = loadBlocks(d8, in, [](int j) { return 32 * j + 16; });
}
#else
// Stores 2 * Lanes(D16) pixels, given as 16-bit channel values of the first half (b0, g0, r0)
// and of the second half.
HWY_INLINE void storeBgr(V16 b0, V16 g0, V16 r0, V16 b1, V16 g1, V16 r1, unsigned char* out) {
  const D8 d8;
  hn::StoreInterleaved3(demoteTwoToU8(d8, b0, b1), demoteTwoToU8(d8, g0, g1),
                        demoteTwoToU8(d8, r0, r1), d8, out);
}
#endif

#if !EKVISION_CONVERT_BLOCKWISE_X86
// The two input vectors of the block at `in`: consecutive pixels.
HWY_INLINE void loadPixels(const uint8_t* in, V8& first, V8& second) {
  const D8 d8;
  first = hn::LoadU(d8, in);
  second = hn::LoadU(d8, in + hn::Lanes(d8));
}
#endif

void yuv422ToBgrKernel(const unsigned char* yuv, unsigned char* bgr, std::size_t pairs) {
  const D8 d8;
  const std::size_t n8 = hn::Lanes(d8);
  // One block: two input vectors, i.e. n8 pixels = n8 / 2 pairs, stored as 3 * n8 bytes.
  const bool done = forEachBlock(pairs, n8 / 2, [&](std::size_t k) {
    V8 in0, in1;
    loadPixels(yuv + 4 * k, in0, in1);
    V16 b0, g0, r0, b1, g1, r1;
    convertPixels(in0, b0, g0, r0);
    convertPixels(in1, b1, g1, r1);
    storeBgr(b0, g0, r0, b1, g1, r1, bgr + 6 * k);
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
  detail::dispatch(HWY_DYNAMIC_DISPATCH(yuv422ToBgrKernel), reference::yuv422ToBgr, yuv, bgr,
                   pairs);
}

}  // namespace EK::convert
#endif  // HWY_ONCE
