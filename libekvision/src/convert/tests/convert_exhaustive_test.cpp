// Every possible input of the two arithmetic conversions, through every vector path, compared
// byte for byte with the scalar reference.
#include <cstddef>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "convert_test_support.h"
#include "ekconvert.h"

namespace EK::convert::test {
namespace {

using Bytes = std::vector<unsigned char>;

constexpr std::size_t kTriples = std::size_t{1} << 24;

// Index of the first differing byte, or -1; keeps a failure report to one line.
long firstDifference(const Bytes& expected, const Bytes& actual) {
  for (std::size_t i = 0; i < expected.size(); ++i) {
    if (expected[i] != actual[i]) {
      return static_cast<long>(i);
    }
  }
  return -1;
}

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
  Bytes expected(6 * kTriples);
  reference::yuv422ToBgr(yuv.data(), expected.data(), kTriples);
  Bytes actual(expected.size());
  forEveryPath([&](const std::string&) {
    std::fill(actual.begin(), actual.end(), 0x5A);
    yuv422ToBgr(yuv.data(), actual.data(), kTriples);
    const long at = firstDifference(expected, actual);
    EXPECT_EQ(-1, at) << "group " << at / 6 << " (Y0 U Y1 V = " << int{yuv[at / 6 * 4]} << ' '
                      << int{yuv[at / 6 * 4 + 1]} << ' ' << int{yuv[at / 6 * 4 + 2]} << ' '
                      << int{yuv[at / 6 * 4 + 3]} << ")";
  });
}

TEST(ConvertExhaustive, BgrToYuvMatchesTheReferenceForEveryTriple) {
  // Pair t holds the triple t in its first pixel (which alone gives U and V) and the triple
  // t ^ 0xA5A5A5 in its second, so every triple is seen in both positions.
  Bytes bgr(6 * kTriples);
  for (std::size_t t = 0; t < kTriples; ++t) {
    const std::size_t other = t ^ 0xA5A5A5;
    for (int c = 0; c < 3; ++c) {
      bgr[6 * t + c] = static_cast<unsigned char>(t >> (8 * c));
      bgr[6 * t + 3 + c] = static_cast<unsigned char>(other >> (8 * c));
    }
  }
  Bytes expected(4 * kTriples);
  reference::bgrToYuv422(bgr.data(), expected.data(), kTriples);
  Bytes actual(expected.size());
  forEveryPath([&](const std::string&) {
    std::fill(actual.begin(), actual.end(), 0x5A);
    bgrToYuv422(bgr.data(), actual.data(), kTriples);
    const long at = firstDifference(expected, actual);
    EXPECT_EQ(-1, at) << "pair " << at / 4 << " (B G R = " << int{bgr[at / 4 * 6]} << ' '
                      << int{bgr[at / 4 * 6 + 1]} << ' ' << int{bgr[at / 4 * 6 + 2]} << ")";
  });
}

}  // namespace
}  // namespace EK::convert::test
