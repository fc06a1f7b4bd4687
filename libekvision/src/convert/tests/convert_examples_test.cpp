// Known colours through every conversion path, checked against hand-computed bytes.
#include <algorithm>
#include <array>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "convert_test_support.h"
#include "ekconvert.h"

namespace EK::convert::test {
namespace {

using Bytes = std::vector<unsigned char>;

// Enough pairs of one colour that every path goes through its vector loop as well as the
// overlapping last block (the widest block is 64 pairs).
constexpr std::size_t kPairs = 100;

Bytes repeated(std::initializer_list<unsigned char> unit, std::size_t times) {
  Bytes out;
  for (std::size_t i = 0; i < times; ++i) {
    out.insert(out.end(), unit);
  }
  return out;
}

Bytes toBgr(const Bytes& yuv) {
  Bytes bgr(yuv.size() / 4 * 6);
  yuv422ToBgr(yuv.data(), bgr.data(), yuv.size() / 4);
  return bgr;
}

Bytes toYuv(const Bytes& bgr) {
  Bytes yuv(bgr.size() / 6 * 4);
  bgrToYuv422(bgr.data(), yuv.data(), bgr.size() / 6);
  return yuv;
}

TEST(ConvertExamples, PrimaryColoursPackToTheirYuv) {
  forEveryPath([](const std::string&) {
    EXPECT_EQ(repeated({16, 128, 16, 128}, kPairs), toYuv(repeated({0, 0, 0}, 2 * kPairs)));
    EXPECT_EQ(repeated({235, 128, 235, 128}, kPairs), toYuv(repeated({255, 255, 255}, 2 * kPairs)));
    EXPECT_EQ(repeated({81, 90, 81, 239}, kPairs), toYuv(repeated({0, 0, 255}, 2 * kPairs)));
  });
}

TEST(ConvertExamples, ChromaComesFromTheFirstPixelOfEachPair) {
  forEveryPath([](const std::string&) {
    // Red then black: U and V of red, each pixel its own Y.
    EXPECT_EQ(repeated({81, 90, 16, 239}, kPairs), toYuv(repeated({0, 0, 255, 0, 0, 0}, kPairs)));
  });
}

TEST(ConvertExamples, LumaExtremesTruncateAndClamp) {
  forEveryPath([](const std::string&) {
    EXPECT_EQ(repeated({254, 254, 254}, 2 * kPairs), toBgr(repeated({235, 128, 235, 128}, kPairs)));
    EXPECT_EQ(repeated({0, 0, 0}, 2 * kPairs), toBgr(repeated({16, 128, 16, 128}, kPairs)));
    EXPECT_EQ(repeated({255, 255, 255}, 2 * kPairs), toBgr(repeated({255, 128, 255, 128}, kPairs)));
    // Each pixel of a pair keeps its own luma.
    EXPECT_EQ(repeated({0, 0, 0, 254, 254, 254}, kPairs),
              toBgr(repeated({16, 128, 235, 128}, kPairs)));
  });
}

TEST(ConvertExamples, BlackWhiteAndGreenSurviveARoundTrip) {
  forEveryPath([](const std::string&) {
    EXPECT_EQ(repeated({0, 0, 0}, 2 * kPairs), toBgr(toYuv(repeated({0, 0, 0}, 2 * kPairs))));
    EXPECT_EQ(repeated({254, 254, 254}, 2 * kPairs),
              toBgr(toYuv(repeated({255, 255, 255}, 2 * kPairs))));
    EXPECT_EQ(repeated({0, 254, 0}, 2 * kPairs), toBgr(toYuv(repeated({0, 255, 0}, 2 * kPairs))));
  });
}

TEST(ConvertExamples, PlanarLayoutsPlaceEveryByte) {
  forEveryPath([](const std::string&) {
    Bytes yuv;
    for (unsigned k = 0; k < kPairs; ++k) {
      yuv.insert(yuv.end(),
                 {static_cast<unsigned char>(k), static_cast<unsigned char>(k + 100),
                  static_cast<unsigned char>(k + 1), static_cast<unsigned char>(k + 150)});
    }
    Bytes y(2 * kPairs), u(kPairs), v(kPairs);
    yuv422ToYYYYUUVV(yuv.data(), y.data(), u.data(), v.data(), kPairs);
    Bytes y3(2 * kPairs), u3(2 * kPairs), v3(2 * kPairs);
    yuv422ToYYYUUUVVV(yuv.data(), y3.data(), u3.data(), v3.data(), kPairs);
    ASSERT_EQ(y, y3);
    for (unsigned k = 0; k < kPairs; ++k) {
      ASSERT_EQ(k, y[2 * k]) << k;
      ASSERT_EQ(k + 1, y[2 * k + 1]) << k;
      ASSERT_EQ(k + 100, u[k]) << k;
      ASSERT_EQ(k + 150, v[k]) << k;
      ASSERT_EQ(k + 100, u3[2 * k]) << k;
      ASSERT_EQ(k + 100, u3[2 * k + 1]) << k;
      ASSERT_EQ(k + 150, v3[2 * k]) << k;
      ASSERT_EQ(k + 150, v3[2 * k + 1]) << k;
    }
  });
}

std::array<unsigned char, 3> pixelToRgb(unsigned char y, unsigned char u, unsigned char v) {
  yuvToRgbPixel(&y, &u, &v);
  return {y, u, v};
}

TEST(ConvertExamples, SinglePixelFloatFormula) {
  using Rgb = std::array<unsigned char, 3>;
  EXPECT_EQ((Rgb{254, 254, 254}), pixelToRgb(235, 128, 128));
  EXPECT_EQ((Rgb{0, 0, 0}), pixelToRgb(16, 128, 128));
  EXPECT_EQ((Rgb{255, 255, 255}), pixelToRgb(255, 128, 128));
  // Red from the packed red above: 1.164*65 + 1.596*111 = 252.8; green 75.66 + 14.86 - 90.24.
  EXPECT_EQ((Rgb{252, 0, 0}), pixelToRgb(81, 90, 239));
  // Truncated, not rounded: red = 39.58 + 1.60 = 41.17, green = 39.58 + 14.86 - 0.81 = 53.62.
  EXPECT_EQ((Rgb{41, 53, 0}), pixelToRgb(50, 90, 129));
}

// Targets that the processor's features imply Highway must offer, found without Highway. Only
// the x86 ones are derived here; elsewhere the lane names them (EKVISION_EXPECTED_TARGETS).
std::vector<std::string> targetsImpliedByTheProcessor() {
  std::vector<std::string> names;
#if defined(__x86_64__) && defined(__GNUC__)
  __builtin_cpu_init();
  const bool ssse3 = __builtin_cpu_supports("ssse3");
  const bool sse4 = ssse3 && __builtin_cpu_supports("sse4.2") && __builtin_cpu_supports("aes") &&
                    __builtin_cpu_supports("pclmul");
  const bool avx2 = sse4 && __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma") &&
                    __builtin_cpu_supports("bmi") && __builtin_cpu_supports("bmi2") &&
                    __builtin_cpu_supports("f16c");
  const bool avx3 = avx2 && __builtin_cpu_supports("avx512f") &&
                    __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512dq") &&
                    __builtin_cpu_supports("avx512vl");
  const bool avx3dl =
      avx3 && __builtin_cpu_supports("avx512vnni") && __builtin_cpu_supports("avx512vbmi") &&
      __builtin_cpu_supports("avx512vbmi2") && __builtin_cpu_supports("avx512bitalg") &&
      __builtin_cpu_supports("avx512vpopcntdq") && __builtin_cpu_supports("vpclmulqdq") &&
      __builtin_cpu_supports("vaes");
  for (const auto& [offered, name] : {std::pair{avx3dl, "AVX3_DL"},
                                      {avx3, "AVX3"},
                                      {avx2, "AVX2"},
                                      {sse4, "SSE4"},
                                      {ssse3, "SSSE3"}}) {
    if (offered) {
      names.emplace_back(name);
    }
  }
#endif
  return names;
}

// A target that is compiled but never tested (dropped from the build, not detected, or skipped
// by the loop) would leave its kernels unchecked: the paths the tests walk must be exactly the
// expected targets, then the scalar code.
TEST(ConvertDispatch, TestsWalkEveryTargetTheProcessorOffers) {
  std::vector<std::string> walked;
  forEveryPath([&](const std::string& name) { walked.push_back(name); });
  ASSERT_FALSE(walked.empty());
  EXPECT_EQ("scalar", walked.back());
  std::vector<std::string> expected = expectedTargetsFromEnvironment();
  if (!expected.empty()) {
    expected.emplace_back("scalar");
    EXPECT_EQ(expected, walked) << "EKVISION_EXPECTED_TARGETS differs from the targets tested";
  }
  for (const std::string& name : targetsImpliedByTheProcessor()) {
    EXPECT_NE(walked.end(), std::find(walked.begin(), walked.end(), name))
        << "the processor offers " << name << " but no test ran on it";
  }
}

TEST(ConvertDispatch, ReportsTheTargetInUseAndHonoursTheSwitch) {
  // Highway 1.0's SupportedTargets(), which availableTargets() calls, re-chooses the target and
  // on ARM may then prefer SVE2 to SVE_256: list the targets before reading the choice.
  EXPECT_FALSE(availableTargets().empty());
  const std::string chosen = activeTarget();
  EXPECT_FALSE(chosen.empty());
  setVectorPathsEnabled(false);
  EXPECT_STREQ("scalar", activeTarget());
  setVectorPathsEnabled(true);
  EXPECT_EQ(chosen, activeTarget());
}

}  // namespace
}  // namespace EK::convert::test
