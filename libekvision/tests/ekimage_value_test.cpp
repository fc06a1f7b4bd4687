#include <ekvision/ekimage.h>

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <stdexcept>
#include <tuple>

#include <ekerror/ekerror.h>

#include "logcapture.h"

namespace {

using EK::EKImage;
using EK::EKValue;

EKValue imageArray(int width, int height, int colorSpace, int blockSize, int elements = 12) {
  EKValue value;
  value.arraySetSize(12);
  for (int i = 0; i < 12; ++i) {
    value[i] = i < 8 ? EKValue(0) : EKValue(0.0f);
  }
  value[0] = width;
  value[1] = height;
  value[2] = EK::getNumLayersInColorSpace(colorSpace);
  value[3] = colorSpace;
  value[6].SetBinary(std::vector<unsigned char>(static_cast<std::size_t>(blockSize), 0x5a));
  value.arraySetSize(elements);
  return value;
}

TEST(ImageValue, RoundTripKeepsHeaderAndPixelsWithoutCopying) {
  EKImage source(320, 240, 9, false, 0.1f, 0.2f, -0.1f, -0.2f);
  for (int i = 0; i < source.allocatedSize; ++i) {
    source.frame[i] = static_cast<unsigned char>(i * 7);
  }
  source.cameraId = 3;
  for (long long stamp : {1234567890123456LL, -1LL, 1500000LL, -1500000LL, 0LL}) {
    SCOPED_TRACE(stamp);
    source.timeStamp = stamp;
    const EKValue value = source.toEKValue();
    ASSERT_EQ(value.getSize(), 12u);
    EXPECT_EQ(std::make_tuple(int(value[2]), int(value[4]), int(value[5]), int(value[7])),
              std::make_tuple(2, int(stamp / 1000000), int(stamp % 1000000), 3));
    std::unique_ptr<EKImage> back(EKImage::fromEKValue(value));
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(std::make_tuple(back->width, back->height, back->colorSpace, back->nbLayers,
                              back->timeStamp, back->externalBuffer),
              std::make_tuple(320, 240, 9, 2, stamp, true));
    EXPECT_EQ(back->cameraId, 0) << "the camera index does not come back";
    EXPECT_EQ(std::make_tuple(back->leftAngle, back->topAngle, back->rightAngle, back->bottomAngle),
              std::make_tuple(0.1f, 0.2f, -0.1f, -0.2f));
    EXPECT_EQ(static_cast<const void*>(back->frame), value[6].GetBinary());
    EXPECT_EQ(std::memcmp(back->frame, source.frame, 320 * 240 * 2), 0);
  }
  const EKValue value = source.toEKValue();
  source.frame[0] ^= 0xff;
  EXPECT_NE(static_cast<const unsigned char*>(value[6].GetBinary())[0], source.frame[0])
      << "the value holds its own copy";
  EXPECT_EQ(EKImage(640, 480, 9, true).toEKValue()[6].getBinarySize(), 0) << "no buffer, no bytes";
}

TEST(ImageValue, LayersFollowTheColorSpaceAndLongerArraysAreAccepted) {
  EKValue value = imageArray(100, 100, 9, 100 * 100 * 2, 13);
  value[2] = 3;
  std::unique_ptr<EKImage> image(EKImage::fromEKValue(value));
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(std::make_tuple(image->nbLayers, image->allocatedResolution), std::make_tuple(2, -1));
}

TEST(ImageValue, WhatIsNotAnImageGivesNullAndOneRecordNamingTheCause) {
  const std::string notImage = "EKValue is not an image, cannot convert\n";
  const std::string badSize = "EKValue image has an invalid size, cannot convert\n";
  const std::string shortBlock = "EKValue image data is shorter than its size, cannot convert\n";
  const std::pair<EKValue, std::string> cases[] = {
      {EKValue(5), notImage},
      {EKValue(), notImage},
      {imageArray(2, 2, 0, 4, 11), notImage},
      {imageArray(640, 480, 9, 640 * 480 * 2 - 1), shortBlock},
      {imageArray(-2, 10, 0, 100), badSize},
      {imageArray(10, -2, 0, 100), badSize},
      {imageArray(65536, 65536, 18, 16), badSize},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.second);
    ektest::LogCapture capture;
    EXPECT_EQ(EKImage::fromEKValue(c.first), nullptr);
    const auto records = capture.records();
    ASSERT_EQ(records.size(), 1u);
    const ektest::LogRecord& r = records[0];
    EXPECT_EQ(std::make_tuple(r.level, r.category, r.function, r.file, r.line, r.message),
              std::make_tuple(2, "EKImage", "fromEKValue", "", 0, c.second));
  }
  EKValue value = imageArray(2, 2, 0, 4);
  value[3] = 19;
  try {
    delete EKImage::fromEKValue(value);
    FAIL() << "no exception";
  } catch (const std::invalid_argument& error) {
    EXPECT_STREQ(error.what(), "EKImage: invalid colorspace");
  }
  value[3] = 0;
  value[0] = "wide";
  EXPECT_THROW(delete EKImage::fromEKValue(value), EK::EKError);
}

}  // namespace
