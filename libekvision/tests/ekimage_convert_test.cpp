#include <ekvision/ekimage.h>

#include <gtest/gtest.h>

#include <opencv2/core/types_c.h>

#include <array>
#include <random>
#include <vector>

#include "logcapture.h"

namespace {

using EK::EKImage;

// A YUV422 image of @p width x @p height filled with repeated Y0 U Y1 V groups.
std::unique_ptr<EKImage> yuvImage(int width, int height, std::array<unsigned char, 4> group) {
  auto image = std::make_unique<EKImage>(width, height, EK::kColorSpaceYUV422);
  for (int i = 0; i < image->allocatedSize; ++i) {
    image->frame[i] = group[static_cast<std::size_t>(i % 4)];
  }
  return image;
}

std::array<unsigned char, 3> pixelToBgrAndBack(unsigned char b, unsigned char g, unsigned char r) {
  unsigned char bgr[6] = {b, g, r, b, g, r};
  EKImage image(2, 1, EK::kColorSpaceYUV422);
  EXPECT_TRUE(image.computeYUV422imageFromBGR(1, 2, reinterpret_cast<char*>(bgr)));
  unsigned char out[6] = {};
  EXPECT_TRUE(image.computeBGRimageFromYUV422(out));
  return {out[0], out[1], out[2]};
}

TEST(ColourExamples, BgrToYuvOfBlackWhiteRed) {
  struct {
    unsigned char b, g, r, y, u, v;
  } cases[] = {{0, 0, 0, 16, 128, 128}, {255, 255, 255, 235, 128, 128}, {0, 0, 255, 81, 90, 239}};
  for (const auto& c : cases) {
    unsigned char bgr[6] = {c.b, c.g, c.r, c.b, c.g, c.r};
    EKImage image(2, 1, 0);
    ASSERT_TRUE(image.computeYUV422imageFromBGR(1, 2, reinterpret_cast<char*>(bgr)));
    EXPECT_EQ(image.frame[0], c.y);
    EXPECT_EQ(image.frame[1], c.u);
    EXPECT_EQ(image.frame[2], c.y);
    EXPECT_EQ(image.frame[3], c.v);
    EXPECT_EQ(image.colorSpace, 0) << "the color space is the caller's business";
    EXPECT_EQ(image.nbLayers, 2);
  }
}

TEST(ColourExamples, RoundTripsTruncateWithoutRounding) {
  EXPECT_EQ(pixelToBgrAndBack(0, 0, 0), (std::array<unsigned char, 3>{0, 0, 0}));
  EXPECT_EQ(pixelToBgrAndBack(255, 255, 255), (std::array<unsigned char, 3>{254, 254, 254}));
  EXPECT_EQ(pixelToBgrAndBack(0, 255, 0), (std::array<unsigned char, 3>{0, 254, 0}));
}

TEST(ColourExamples, LumaExtremesInBothYuvToRgbForms) {
  const struct { unsigned char y, expected; } cases[] = {{235, 254}, {16, 0}, {255, 255}};
  for (const auto& c : cases) {
    unsigned char y = c.y, u = 128, v = 128;
    EK::computeRgbFromYuv(&y, &u, &v);
    EXPECT_EQ(y, c.expected);
    EXPECT_EQ(u, c.expected);
    EXPECT_EQ(v, c.expected);
    auto image = yuvImage(2, 1, {c.y, 128, c.y, 128});
    unsigned char bgr[6] = {};
    ASSERT_TRUE(image->computeBGRimageFromYUV422(bgr));
    for (unsigned char channel : bgr) {
      EXPECT_EQ(channel, c.expected) << "Y " << int(c.y);
    }
  }
}

TEST(ColourExamples, SinglePixelStoresRedGreenBlueInPlace) {
  unsigned char y = 81, u = 90, v = 240;  // about pure red
  EK::computeRgbFromYuv(&y, &u, &v);
  EXPECT_GE(y, 250);
  EXPECT_LE(u, 2);
  EXPECT_LE(v, 2);
}

TEST(PlanarUnpacking, PlanesHoldTheSamplesInPixelOrder) {
  auto image = yuvImage(4, 1, {0, 0, 0, 0});
  const unsigned char groups[8] = {10, 20, 11, 30, 12, 21, 13, 31};
  std::copy(groups, groups + 8, image->frame);
  unsigned char yyyyuuvv[8] = {};
  ASSERT_TRUE(image->computeYYYYUUVVimageFromYUV422(yyyyuuvv));
  EXPECT_EQ(std::vector<unsigned char>(yyyyuuvv, yyyyuuvv + 8),
            (std::vector<unsigned char>{10, 11, 12, 13, 20, 21, 30, 31}));
  unsigned char yyyuuuvvv[12] = {};
  ASSERT_TRUE(image->computeYYYUUUVVVimageFromYUV422(yyyuuuvvv));
  EXPECT_EQ(std::vector<unsigned char>(yyyuuuvvv, yyyuuuvvv + 12),
            (std::vector<unsigned char>{10, 11, 12, 13, 20, 20, 21, 21, 30, 30, 31, 31}));
}

TEST(OddPixelCounts, TheLastPixelStaysInsideTheBuffers) {
  // 3 x 1: one full group and a lone pixel Y=200 U=60 with no V of its own.
  EKImage image(3, 1, EK::kColorSpaceYUV422);
  const unsigned char bytes[6] = {16, 128, 235, 128, 200, 60};
  std::copy(bytes, bytes + 6, image.frame);
  std::vector<unsigned char> bgr(9 + 1, 0xee);
  ASSERT_TRUE(image.computeBGRimageFromYUV422(bgr.data()));
  unsigned char y = 200, u = 60, v = 128;
  auto lone = yuvImage(2, 1, {y, u, y, v});
  unsigned char expected[6];
  lone->computeBGRimageFromYUV422(expected);
  EXPECT_EQ(bgr[6], expected[0]);
  EXPECT_EQ(bgr[7], expected[1]);
  EXPECT_EQ(bgr[8], expected[2]);
  EXPECT_EQ(bgr[9], 0xee) << "nothing written past width x height x 3";
  std::vector<unsigned char> planar2(5 + 1, 0xee);  // 3 Y, 1 U, 1 V
  ASSERT_TRUE(image.computeYYYYUUVVimageFromYUV422(planar2.data()));
  EXPECT_EQ(planar2, (std::vector<unsigned char>{16, 235, 200, 128, 128, 0xee}));
  std::vector<unsigned char> planar3(9 + 1, 0xee);
  ASSERT_TRUE(image.computeYYYUUUVVVimageFromYUV422(planar3.data()));
  EXPECT_EQ(planar3, (std::vector<unsigned char>{16, 235, 200, 128, 128, 60, 128, 128, 128, 0xee}));
  unsigned char white[9] = {255, 255, 255, 255, 255, 255, 0, 0, 255};
  EKImage packed(3, 1, 0);
  ASSERT_TRUE(packed.computeYUV422imageFromBGR(1, 3, reinterpret_cast<char*>(white)));
  EXPECT_EQ(packed.allocatedSize, 6);
  EXPECT_EQ(packed.frame[4], 81) << "Y of the lone red pixel";
  EXPECT_EQ(packed.frame[5], 90) << "U of the lone red pixel";
}

TEST(ConversionRefusals, NotYuv422GivesFalseOneRecordAndUntouchedDestination) {
  using Member = bool (EKImage::*)(unsigned char*);
  const std::pair<Member, const char*> members[] = {
      {&EKImage::computeBGRimageFromYUV422, "computeBGRimageFromYUV422"},
      {&EKImage::computeYYYYUUVVimageFromYUV422, "computeYYYYUUVVimageFromYUV422"},
      {&EKImage::computeYYYUUUVVVimageFromYUV422, "computeYYYUUUVVVimageFromYUV422"}};
  for (int colorSpace : {0, 14, 13}) {  // one, two and three layers, none of them YUV422
    EKImage image(4, 2, colorSpace);
    for (const auto& member : members) {
      std::vector<unsigned char> destination(4 * 2 * 3, 0x77);
      ektest::LogCapture capture;
      EXPECT_FALSE((image.*member.first)(destination.data()));
      const auto records = capture.records();
      ASSERT_EQ(records.size(), 1u);
      EXPECT_EQ(records[0].level, 2);
      EXPECT_EQ(records[0].category, "vision.ekimage");
      EXPECT_EQ(records[0].function, member.second);
      EXPECT_EQ(records[0].message, "Input image is not a YUV422 image.\n");
      EXPECT_EQ(destination, std::vector<unsigned char>(4 * 2 * 3, 0x77));
    }
  }
}

TEST(ConversionRefusals, BufferSmallerThanThePictureIsNeverRead) {
  EKImage image(640, 480, EK::kColorSpaceYUV422, true);  // no buffer yet
  std::vector<unsigned char> destination(640 * 480 * 3);
  ektest::LogCapture capture;
  EXPECT_FALSE(image.computeBGRimageFromYUV422(destination.data()));
  EXPECT_EQ(capture.size(), 1u);
}

TEST(ConversionEdges, EmptyImageConvertsAndWritesNothing) {
  EKImage image(0, 0, EK::kColorSpaceYUV422);
  unsigned char sentinel = 0x42;
  EXPECT_TRUE(image.computeBGRimageFromYUV422(&sentinel));
  EXPECT_TRUE(image.computeYYYYUUVVimageFromYUV422(&sentinel));
  EXPECT_EQ(sentinel, 0x42);
}

TEST(BgrPacking, ExternalBufferIsUsedOnlyWhenItFits) {
  std::vector<unsigned char> pixels(4 * 2 * 2, 0);
  EKImage image(4, 2, EK::kColorSpaceYUV422, true);
  image.frame = pixels.data();
  std::vector<char> white(4 * 2 * 3, static_cast<char>(255));
  ASSERT_TRUE(image.computeYUV422imageFromBGR(2, 4, white.data()));
  EXPECT_EQ(image.frame, pixels.data());
  EXPECT_EQ(pixels[0], 235);
  ektest::LogCapture capture;
  EXPECT_FALSE(image.computeYUV422imageFromBGR(4, 4, white.data()));
  ASSERT_EQ(capture.size(), 1u);
  EXPECT_EQ(capture.records()[0].message, "External buffer not compatible.\n");
  EXPECT_EQ(capture.records()[0].function, "computeYUV422imageFromBGR");
  EXPECT_EQ(image.height, 2);
}

TEST(BgrPacking, OwnedBufferIsReplacedForAnotherSize) {
  EKImage image(EK::kResolution160x120, 10);  // three layers
  std::vector<char> bgr(320 * 240 * 3, 0);
  ASSERT_TRUE(image.computeYUV422imageFromBGR(240, 320, bgr.data()));
  EXPECT_EQ(image.width, 320);
  EXPECT_EQ(image.height, 240);
  EXPECT_EQ(image.nbLayers, 2);
  EXPECT_EQ(image.allocatedSize, 320 * 240 * 2);
  EXPECT_EQ(image.allocatedResolution, 1);
  EXPECT_EQ(image.allocatedNbLayers, 2);
  EXPECT_EQ(image.colorSpace, 10);
  ektest::LogCapture capture;
  EXPECT_FALSE(image.computeYUV422imageFromBGR(-1, 320, bgr.data()));
  EXPECT_FALSE(image.computeYUV422imageFromBGR(240, 320, nullptr));
  EXPECT_EQ(capture.size(), 2u);
  EXPECT_EQ(image.width, 320);
}

TEST(BgrPacking, IplImageOverloadReadsWidthHeightAndData) {
  std::vector<char> bgr(6 * 2 * 3);
  std::mt19937 random(7);
  for (char& byte : bgr) {
    byte = static_cast<char>(random());
  }
  IplImage record{};
  record.width = 6;
  record.height = 2;
  record.nChannels = 1;  // deliberately wrong: only width, height and data are read
  record.imageData = bgr.data();
  EKImage fromRecord(2, 2, 0);
  EKImage fromBuffer(2, 2, 0);
  ASSERT_TRUE(fromRecord.computeYUV422imageFromBGR(&record));
  ASSERT_TRUE(fromBuffer.computeYUV422imageFromBGR(2, 6, bgr.data()));
  EXPECT_EQ(std::vector<unsigned char>(fromRecord.frame, fromRecord.frame + 24),
            std::vector<unsigned char>(fromBuffer.frame, fromBuffer.frame + 24));
  ektest::LogCapture capture;
  EXPECT_FALSE(fromRecord.computeYUV422imageFromBGR(static_cast<_IplImage*>(nullptr)));
}

}  // namespace
