#include <ekvision/ekimage.h>

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <stdexcept>

#include <ekerror/ekerror.h>

#include "logcapture.h"

namespace {

using EK::EKImage;
using EK::EKValue;

EKValue imageArray(int width, int height, int colorSpace, int blockSize, int elements = 12) {
  EKValue value;
  value.arraySetSize(12);
  value[0] = width;
  value[1] = height;
  value[2] = EK::getNumLayersInColorSpace(colorSpace);
  value[3] = colorSpace;
  value[4] = 0;
  value[5] = 0;
  value[6].SetBinary(std::vector<unsigned char>(static_cast<std::size_t>(blockSize), 0x5a));
  value[7] = 0;
  for (int i = 8; i < 12; ++i) {
    value[i] = 0.0f;
  }
  value.arraySetSize(elements);
  return value;
}

TEST(ImageValue, RoundTripKeepsHeaderAndPixelsWithoutCopying) {
  EKImage source(320, 240, 9, false, 0.1f, 0.2f, -0.1f, -0.2f);
  for (int i = 0; i < source.allocatedSize; ++i) {
    source.frame[i] = static_cast<unsigned char>(i * 7);
  }
  source.timeStamp = 1234567890123456LL;
  source.cameraId = 3;
  const EKValue value = source.toEKValue();
  ASSERT_EQ(value.getSize(), 12u);
  EXPECT_EQ(static_cast<int>(value[2]), 2);
  EXPECT_EQ(static_cast<int>(value[7]), 3);
  std::unique_ptr<EKImage> back(EKImage::fromEKValue(value));
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(back->width, 320);
  EXPECT_EQ(back->height, 240);
  EXPECT_EQ(back->colorSpace, 9);
  EXPECT_EQ(back->nbLayers, 2);
  EXPECT_EQ(back->timeStamp, 1234567890123456LL);
  EXPECT_EQ(back->cameraId, 0) << "the camera index does not come back";
  EXPECT_TRUE(back->externalBuffer);
  EXPECT_FLOAT_EQ(back->leftAngle, 0.1f);
  EXPECT_FLOAT_EQ(back->topAngle, 0.2f);
  EXPECT_FLOAT_EQ(back->rightAngle, -0.1f);
  EXPECT_FLOAT_EQ(back->bottomAngle, -0.2f);
  EXPECT_EQ(static_cast<const void*>(back->frame), value[6].GetBinary());
  EXPECT_EQ(std::memcmp(back->frame, source.frame, 320 * 240 * 2), 0);
  source.frame[0] ^= 0xff;
  EXPECT_NE(back->frame[0], source.frame[0]) << "the value holds its own copy";
}

TEST(ImageValue, TimeStampSplitsWithItsSign) {
  const struct {
    long long stamp;
    int seconds;
    int micro;
  } cases[] = {{-1, 0, -1}, {1500000, 1, 500000}, {-1500000, -1, -500000}, {0, 0, 0}};
  for (const auto& c : cases) {
    EKImage image(2, 1, 9, false);
    image.timeStamp = c.stamp;
    const EKValue value = image.toEKValue();
    EXPECT_EQ(static_cast<int>(value[4]), c.seconds) << c.stamp;
    EXPECT_EQ(static_cast<int>(value[5]), c.micro) << c.stamp;
    std::unique_ptr<EKImage> back(EKImage::fromEKValue(value));
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->timeStamp, c.stamp);
  }
}

TEST(ImageValue, ImageWithoutBufferGivesAnEmptyBlock) {
  EKImage image(640, 480, 9, true);
  const EKValue value = image.toEKValue();
  ASSERT_TRUE(value[6].isBinary());
  EXPECT_EQ(value[6].getBinarySize(), 0);
}

TEST(ImageValue, LayersFollowTheColorSpaceNotElementTwo) {
  EKValue value = imageArray(100, 100, 9, 100 * 100 * 2);
  value[2] = 3;
  std::unique_ptr<EKImage> image(EKImage::fromEKValue(value));
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image->nbLayers, 2);
  EXPECT_EQ(image->allocatedResolution, -1);
}

TEST(ImageValue, LongerArraysAreAccepted) {
  std::unique_ptr<EKImage> image(EKImage::fromEKValue(imageArray(2, 2, 0, 4, 13)));
  EXPECT_NE(image, nullptr);
}

TEST(ImageValueRefusals, NotAnImageGivesNullAndOneRecord) {
  const EKValue notArray(5);
  const EKValue empty;
  const EKValue shortArray = imageArray(2, 2, 0, 4, 11);
  for (const EKValue* value : {&notArray, static_cast<const EKValue*>(&empty), &shortArray}) {
    ektest::LogCapture capture;
    EXPECT_EQ(EKImage::fromEKValue(*value), nullptr);
    const auto records = capture.records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].level, 2);
    EXPECT_EQ(records[0].category, "EKImage");
    EXPECT_EQ(records[0].function, "fromEKValue");
    EXPECT_EQ(records[0].file, "");
    EXPECT_EQ(records[0].line, 0);
    EXPECT_EQ(records[0].message, "EKValue is not an image, cannot convert\n");
  }
}

TEST(ImageValueRefusals, BlockShorterThanThePictureOrBadSizes) {
  const EKValue values[] = {imageArray(640, 480, 9, 640 * 480 * 2 - 1), imageArray(-2, 10, 0, 100),
                            imageArray(10, -2, 0, 100), imageArray(65536, 65536, 18, 16)};
  for (const EKValue& value : values) {
    ektest::LogCapture capture;
    EXPECT_EQ(EKImage::fromEKValue(value), nullptr);
    ASSERT_EQ(capture.size(), 1u);
    EXPECT_EQ(capture.records()[0].level, 2);
    EXPECT_EQ(capture.records()[0].category, "EKImage");
  }
}

TEST(ImageValueRefusals, InvalidColorSpaceAndWrongKinds) {
  EKValue value = imageArray(2, 2, 0, 4);
  value[3] = 19;
  try {
    delete EKImage::fromEKValue(value);
    FAIL() << "no exception";
  } catch (const std::invalid_argument& error) {
    EXPECT_STREQ(error.what(), "EKImage: invalid colorspace");
  }
  EKValue wrongKind = imageArray(2, 2, 0, 4);
  wrongKind[0] = "wide";
  EXPECT_THROW(delete EKImage::fromEKValue(wrongKind), EK::EKError);
}

}  // namespace
