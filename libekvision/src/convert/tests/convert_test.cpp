// The conversion kernels on every path the dispatcher can pick: hand-computed colours, every
// possible input against the scalar reference, and buffers that touch an inaccessible page.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <memory>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "ekconvert.h"
#include "ekconvert_dispatch.h"
#include "hwy/targets.h"

namespace EK::convert::test {
namespace {

using Bytes = std::vector<unsigned char>;

// Runs `check` once per compiled target the processor supports, with the dispatcher pinned to
// it, then once with the vector paths disabled. The argument is the path's name. The AVX2 and
// AVX-512 targets run once per vector width the planar unpackers may narrow to, whichever this
// processor and these buffers would pick.
template <class Check>
void forEveryPath(const Check& check) {
  for (const std::int64_t target : availableTargets()) {
    hwy::SetSupportedTargetsForTest(target);
    const std::string name = hwy::TargetName(target);
    ASSERT_EQ(name, activeTarget()) << "the dispatcher ignored the pinned target";
#if HWY_ARCH_X86
    if (target == HWY_AVX2 || target == HWY_AVX3 || target == HWY_AVX3_DL) {
      for (const std::size_t bytes : {64, 32, 16}) {
        detail::forcePlanarVectorBytes(bytes);
        // On AVX3_DL, BGR->YUV422 runs the VBMI kernel with one width, the AVX3 one with others.
        detail::forceBlockwiseBgrToYuv(bytes == 32 ? 1 : 0);
        SCOPED_TRACE("target " + name + " on vectors of at most " + std::to_string(bytes) +
                     " bytes" + (bytes == 32 ? ", block-wise BGR->YUV422" : ""));
        check(name);
      }
      detail::forcePlanarVectorBytes(0);
      detail::forceBlockwiseBgrToYuv(-1);
      continue;
    }
#endif
    SCOPED_TRACE("target " + name);
    check(name);
  }
  hwy::SetSupportedTargetsForTest(0);
  setVectorPathsEnabled(false);
  ASSERT_STREQ("scalar", activeTarget());
  SCOPED_TRACE("vector paths disabled");
  check(std::string("scalar"));
  setVectorPathsEnabled(true);
}

// The lane that runs the tests may name the targets it expects to be walked, best first, in
// EKVISION_EXPECTED_TARGETS (e.g. "SVE2 SVE NEON" under an emulated processor): a target
// dropped from the build or not detected would otherwise leave the kernels untested there.
TEST(ConvertDispatch, TestsWalkEveryTargetTheProcessorOffers) {
  std::vector<std::string> walked;
  forEveryPath([&](const std::string& name) {
    if (walked.empty() || walked.back() != name) {  // once per target, whatever the widths
      walked.push_back(name);
    }
  });
  const char* list = std::getenv("EKVISION_EXPECTED_TARGETS");
  std::istringstream words(list != nullptr ? list : "");
  std::vector<std::string> expected{std::istream_iterator<std::string>(words), {}};
  if (!expected.empty()) {
    expected.emplace_back("scalar");
    EXPECT_EQ(expected, walked) << "EKVISION_EXPECTED_TARGETS differs from the targets tested";
  }
}

// `size` usable bytes against a PROT_NONE page, so that any access just past the end (or, with
// `guardAfter` false, just before the start) faults instead of passing unnoticed.
struct GuardedBuffer {
  GuardedBuffer(std::size_t usable, bool guardAfter) : size(usable) {
    const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    const std::size_t dataPages = (usable + page - 1) / page;
    mapped = (dataPages + 1) * page;
    base = mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    unsigned char* guard = static_cast<unsigned char*>(base) + (guardAfter ? dataPages * page : 0);
    if (base == MAP_FAILED || mprotect(guard, page, PROT_NONE) != 0) {
      throw std::runtime_error("cannot map a guarded buffer");
    }
    data = guardAfter ? guard - usable : guard + page;
  }
  GuardedBuffer(const GuardedBuffer&) = delete;
  ~GuardedBuffer() { munmap(base, mapped); }

  std::size_t size;
  std::size_t mapped;
  void* base;
  unsigned char* data;
};

using Planes = std::array<unsigned char*, 3>;
using Packed = void (*)(const unsigned char*, unsigned char*, std::size_t);
using Planar = void (*)(const unsigned char*, unsigned char*, unsigned char*, unsigned char*,
                        std::size_t);
template <Packed F>
void packed(const unsigned char* in, const Planes& out, std::size_t pairs) {
  F(in, out[0], pairs);
}
template <Planar F>
void planar(const unsigned char* in, const Planes& out, std::size_t pairs) {
  F(in, out[0], out[1], out[2], pairs);
}

// A conversion seen as one input and up to three output planes, with sizes per pixel pair.
struct Conversion {
  const char* name;
  std::size_t inPerPair;
  std::vector<std::size_t> outPerPair;
  void (*run)(const unsigned char*, const Planes&, std::size_t);
  void (*reference)(const unsigned char*, const Planes&, std::size_t);
};
namespace ref = reference;
const Conversion kConversions[] = {
    {"yuv422ToBgr", 4, {6}, packed<yuv422ToBgr>, packed<ref::yuv422ToBgr>},
    {"bgrToYuv422", 6, {4}, packed<bgrToYuv422>, packed<ref::bgrToYuv422>},
    {"yuv422ToYYYYUUVV", 4, {2, 1, 1}, planar<yuv422ToYYYYUUVV>, planar<ref::yuv422ToYYYYUUVV>},
    {"yuv422ToYYYUUUVVV", 4, {2, 2, 2}, planar<yuv422ToYYYUUUVVV>, planar<ref::yuv422ToYYYUUUVVV>},
};

// Runs `c` on `input` on every path and compares the first output plane with the reference's,
// byte for byte; a failure names the first input pair that differs.
void expectMatchesTheReference(const Conversion& c, const Bytes& input) {
  const std::size_t pairs = input.size() / c.inPerPair;
  Bytes expected(c.outPerPair[0] * pairs);
  c.reference(input.data(), {expected.data()}, pairs);
  Bytes actual(expected.size());
  forEveryPath([&](const std::string&) {
    std::fill(actual.begin(), actual.end(), 0x5A);
    c.run(input.data(), {actual.data()}, pairs);
    const auto at = std::mismatch(expected.begin(), expected.end(), actual.begin()).first;
    if (at != expected.end()) {
      const auto in = input.begin() + (at - expected.begin()) / c.outPerPair[0] * c.inPerPair;
      ADD_FAILURE() << c.name << " differs from the reference for the input pair "
                    << testing::PrintToString(Bytes(in, in + c.inPerPair));
    }
  });
}

constexpr std::size_t kTriples = std::size_t{1} << 24;

TEST(ConvertExhaustive, YuvToBgrMatchesTheReferenceForEveryTriple) {
  // Group t carries the triple (Y, U, V) = (t >> 16, t >> 8, t) in its first pixel and the triple
  // with Y mirrored in its second, so every triple passes through both pixel positions.
  Bytes yuv(4 * kTriples);
  for (std::size_t t = 0; t < kTriples; ++t) {
    const auto y = static_cast<unsigned char>(t >> 16);
    yuv[4 * t] = y;
    yuv[4 * t + 1] = static_cast<unsigned char>(t >> 8);
    yuv[4 * t + 2] = static_cast<unsigned char>(255 - y);
    yuv[4 * t + 3] = static_cast<unsigned char>(t);
  }
  expectMatchesTheReference(kConversions[0], yuv);
}

TEST(ConvertExhaustive, BgrToYuvMatchesTheReferenceForEveryTriple) {
  // Pair t holds the triple t in its first pixel (which alone gives U and V) and the triple
  // t ^ 0xA5A5A5 in its second, so every triple is seen in both positions.
  Bytes bgr(6 * kTriples);
  for (std::size_t t = 0; t < kTriples; ++t) {
    for (int c = 0; c < 3; ++c) {
      bgr[6 * t + c] = static_cast<unsigned char>(t >> (8 * c));
      bgr[6 * t + 3 + c] = static_cast<unsigned char>((t ^ 0xA5A5A5) >> (8 * c));
    }
  }
  expectMatchesTheReference(kConversions[1], bgr);
}

// The reference on hand-computed pixel pairs (B G R B G R or Y0 U Y1 V) and planar layouts;
// the tests above hold every path to it.
TEST(ConvertExamples, KnownColoursConvertToHandComputedBytes) {
  const std::tuple<const Conversion&, Bytes, Bytes> examples[] = {
      {kConversions[1], {0, 0, 0, 0, 0, 0}, {16, 128, 16, 128}},
      {kConversions[1], {255, 255, 255, 255, 255, 255}, {235, 128, 235, 128}},
      {kConversions[1], {0, 0, 255, 0, 0, 255}, {81, 90, 81, 239}},
      {kConversions[1], {0, 0, 255, 0, 0, 0}, {81, 90, 16, 239}},  // chroma of the first pixel
      {kConversions[1], {0, 255, 0, 0, 255, 0}, {144, 53, 144, 34}},
      // Luma extremes truncate and clamp; each pixel keeps its own luma.
      {kConversions[0], {235, 128, 235, 128}, {254, 254, 254, 254, 254, 254}},
      {kConversions[0], {16, 128, 16, 128}, {0, 0, 0, 0, 0, 0}},
      {kConversions[0], {255, 128, 255, 128}, {255, 255, 255, 255, 255, 255}},
      {kConversions[0], {16, 128, 235, 128}, {0, 0, 0, 254, 254, 254}},
      {kConversions[0], {144, 53, 144, 34}, {0, 254, 0, 0, 254, 0}},  // green comes back
  };
  for (const auto& [conversion, pair, converted] : examples) {
    Bytes out(converted.size());
    conversion.reference(pair.data(), {out.data()}, 1);
    EXPECT_EQ(converted, out) << conversion.name << " of " << testing::PrintToString(pair);
  }
  const Bytes yuv = {1, 2, 3, 4, 5, 6, 7, 8};
  Bytes out(12);  // the Y, U and V planes at 0, 4 and 8
  ref::yuv422ToYYYYUUVV(yuv.data(), &out[0], &out[4], &out[8], 2);
  EXPECT_EQ(out, (Bytes{1, 3, 5, 7, 2, 6, 0, 0, 4, 8, 0, 0}));
  ref::yuv422ToYYYUUUVVV(yuv.data(), &out[0], &out[4], &out[8], 2);
  EXPECT_EQ(out, (Bytes{1, 3, 5, 7, 2, 2, 6, 6, 4, 4, 8, 8}));
}

TEST(ConvertExamples, SinglePixelFloatFormula) {
  using Pixel = std::array<unsigned char, 3>;
  // Red from the packed red above: 1.164*65 + 1.596*111 = 252.8; green 75.66 + 14.86 - 90.24.
  // Truncated, not rounded: red = 39.58 + 1.60 = 41.17, green = 39.58 + 14.86 - 0.81 = 53.62.
  const std::pair<Pixel, Pixel> yuvAndRgb[] = {{{235, 128, 128}, {254, 254, 254}},
                                               {{16, 128, 128}, {0, 0, 0}},
                                               {{255, 128, 128}, {255, 255, 255}},
                                               {{81, 90, 239}, {252, 0, 0}},
                                               {{50, 90, 129}, {41, 53, 0}}};
  for (auto [pixel, rgb] : yuvAndRgb) {
    yuvToRgbPixel(&pixel[0], &pixel[1], &pixel[2]);
    EXPECT_EQ(rgb, pixel);
  }
}

// Converts `pairs` seeded random pairs and compares with the reference. Input and output planes
// end just before a guard page, or (without `guardAfter`) start `offset` bytes after one, which
// misaligns them; bytes between the guard and a plane must keep their filler.
void checkConversion(const Conversion& c, std::size_t pairs, std::size_t offset, bool guardAfter,
                     std::uint32_t seed) {
  SCOPED_TRACE(testing::Message() << c.name << " pairs " << pairs << " offset " << offset);
  const std::size_t skip = guardAfter ? 0 : offset;
  Bytes source(c.inPerPair * pairs);
  std::mt19937 engine(seed);
  std::generate(source.begin(), source.end(), [&] { return static_cast<unsigned char>(engine()); });
  GuardedBuffer in(source.size() + skip, guardAfter);
  std::copy(source.begin(), source.end(), in.data + skip);
  std::vector<std::unique_ptr<GuardedBuffer>> outs;
  Planes outPlanes{}, expectedPlanes{};
  std::array<Bytes, 3> expected;
  for (std::size_t p = 0; p < c.outPerPair.size(); ++p) {
    const std::size_t size = c.outPerPair[p] * pairs + skip;
    outs.push_back(std::make_unique<GuardedBuffer>(size, guardAfter));
    std::fill(outs[p]->data, outs[p]->data + size, 0xEE);
    outPlanes[p] = outs[p]->data + skip;
    expected[p].assign(size, 0xEE);
    expectedPlanes[p] = expected[p].data() + skip;
  }
  c.run(in.data + skip, outPlanes, pairs);
  c.reference(source.data(), expectedPlanes, pairs);
  for (std::size_t p = 0; p < c.outPerPair.size(); ++p) {
    ASSERT_EQ(expected[p], Bytes(outs[p]->data, outs[p]->data + outs[p]->size)) << "plane " << p;
  }
}

TEST(ConvertBuffers, EveryCameraSizeOddLengthAndMisalignmentStaysInsideItsBuffers) {
  forEveryPath([](const std::string&) {
    std::uint32_t seed = 1;
    for (const Conversion& conversion : kConversions) {
      // Odd lengths around every block size, then the pixel pairs of 160x120 to 1280x960.
      for (std::size_t pairs :
           {0,  1,  2,   3,   7,   15,  16,  17,  31,   32,   33,    63,     64,
            65, 95, 127, 128, 129, 191, 255, 257, 1000, 9600, 38400, 153600, 614400}) {
        checkConversion(conversion, pairs, 0, true, seed++);
        checkConversion(conversion, pairs, 0, false, seed++);
      }
      for (std::size_t offset = 1; offset < 64; ++offset) {
        checkConversion(conversion, 333, offset, false, seed++);
        // Ending at the guard, the start's alignment follows the length.
        checkConversion(conversion, 333 + offset, 0, true, seed++);
      }
    }
  });
}

}  // namespace
}  // namespace EK::convert::test
