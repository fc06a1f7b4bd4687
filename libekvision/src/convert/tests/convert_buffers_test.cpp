// Every conversion on random pictures of every camera size, odd lengths and misaligned buffers
// that touch an inaccessible page, so that a read or write outside the given range faults.
#include <array>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "convert_test_support.h"
#include "ekconvert.h"

namespace EK::convert::test {
namespace {

using Bytes = std::vector<unsigned char>;

// A conversion seen as one input and up to three output planes, with sizes per pixel pair.
struct Conversion {
  const char* name;
  std::size_t inPerPair;
  std::vector<std::size_t> outPerPair;
  std::function<void(const unsigned char*, const std::array<unsigned char*, 3>&, std::size_t)> run;
  std::function<void(const unsigned char*, const std::array<unsigned char*, 3>&, std::size_t)>
      reference;
};

std::vector<Conversion> allConversions() {
  using Out = std::array<unsigned char*, 3>;
  return {
      {"yuv422ToBgr",
       4,
       {6},
       [](const unsigned char* in, const Out& o, std::size_t n) { yuv422ToBgr(in, o[0], n); },
       [](const unsigned char* in, const Out& o, std::size_t n) {
         reference::yuv422ToBgr(in, o[0], n);
       }},
      {"bgrToYuv422",
       6,
       {4},
       [](const unsigned char* in, const Out& o, std::size_t n) { bgrToYuv422(in, o[0], n); },
       [](const unsigned char* in, const Out& o, std::size_t n) {
         reference::bgrToYuv422(in, o[0], n);
       }},
      {"yuv422ToYYYYUUVV",
       4,
       {2, 1, 1},
       [](const unsigned char* in, const Out& o, std::size_t n) {
         yuv422ToYYYYUUVV(in, o[0], o[1], o[2], n);
       },
       [](const unsigned char* in, const Out& o, std::size_t n) {
         reference::yuv422ToYYYYUUVV(in, o[0], o[1], o[2], n);
       }},
      {"yuv422ToYYYUUUVVV",
       4,
       {2, 2, 2},
       [](const unsigned char* in, const Out& o, std::size_t n) {
         yuv422ToYYYUUUVVV(in, o[0], o[1], o[2], n);
       },
       [](const unsigned char* in, const Out& o, std::size_t n) {
         reference::yuv422ToYYYUUUVVV(in, o[0], o[1], o[2], n);
       }},
  };
}

// Converts `pairs` random pairs and compares with the reference run on ordinary buffers. The input
// and every output plane touch a guard page: with Guard::kAfterEnd their last byte is the last one
// before it; with Guard::kBeforeStart they start `offset` bytes after it (so `offset` 0 catches an
// access before the start, and other values misalign the start). Bytes between the guard and a
// plane must keep their filler.
void checkConversion(const Conversion& c, std::size_t pairs, std::size_t offset, Guard guard,
                     std::uint32_t seed) {
  SCOPED_TRACE(std::string(c.name) + " pairs=" + std::to_string(pairs) +
               (guard == Guard::kAfterEnd
                    ? " ending at the guard"
                    : " starting " + std::to_string(offset) + " bytes after the guard"));
  const std::size_t skip = guard == Guard::kAfterEnd ? 0 : offset;
  const Bytes source = randomBytes(c.inPerPair * pairs, seed);
  GuardedBuffer in(c.inPerPair * pairs + skip, guard);
  std::copy(source.begin(), source.end(), in.data() + skip);

  std::vector<std::unique_ptr<GuardedBuffer>> outs;
  std::array<unsigned char*, 3> outPtrs{};
  std::array<Bytes, 3> expected;
  std::array<unsigned char*, 3> expectedPtrs{};
  for (std::size_t p = 0; p < c.outPerPair.size(); ++p) {
    const std::size_t size = c.outPerPair[p] * pairs + skip;
    outs.push_back(std::make_unique<GuardedBuffer>(size, guard));
    std::fill(outs[p]->data(), outs[p]->data() + size, 0xEE);
    outPtrs[p] = outs[p]->data() + skip;
    expected[p].assign(size, 0xEE);
    expectedPtrs[p] = expected[p].data() + skip;
  }
  c.run(in.data() + skip, outPtrs, pairs);
  c.reference(source.data(), expectedPtrs, pairs);
  for (std::size_t p = 0; p < c.outPerPair.size(); ++p) {
    ASSERT_EQ(expected[p], outs[p]->bytes()) << "output plane " << p;
  }
}

constexpr std::array<std::array<std::size_t, 2>, 4> kCameraSizes{
    {{160, 120}, {320, 240}, {640, 480}, {1280, 960}}};

TEST(ConvertBuffers, RandomPicturesOfEveryCameraSize) {
  forEveryPath([](const std::string&) {
    std::uint32_t seed = 1;
    for (const auto& conversion : allConversions()) {
      for (const auto& size : kCameraSizes) {
        checkConversion(conversion, size[0] * size[1] / 2, 0, Guard::kAfterEnd, seed++);
      }
    }
  });
}

TEST(ConvertBuffers, OddLengthsStayInsideTheirBuffers) {
  forEveryPath([](const std::string&) {
    std::uint32_t seed = 100;
    for (const auto& conversion : allConversions()) {
      for (std::size_t pairs : {0,  1,  2,  3,  7,   15,  16,  17,  31,  32,  33,
                                63, 64, 65, 95, 127, 128, 129, 191, 255, 257, 1000}) {
        checkConversion(conversion, pairs, 0, Guard::kAfterEnd, seed++);
        checkConversion(conversion, pairs, 0, Guard::kBeforeStart, seed++);
      }
    }
  });
}

TEST(ConvertBuffers, MisalignedBuffersGiveTheSameBytes) {
  forEveryPath([](const std::string&) {
    std::uint32_t seed = 1000;
    for (const auto& conversion : allConversions()) {
      for (std::size_t offset = 1; offset < 64; ++offset) {
        checkConversion(conversion, 333, offset, Guard::kBeforeStart, seed++);
        // Ending at the guard, the start's alignment follows the length.
        checkConversion(conversion, 333 + offset, 0, Guard::kAfterEnd, seed++);
      }
    }
  });
}

}  // namespace
}  // namespace EK::convert::test
