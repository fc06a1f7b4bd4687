// The picture: its buffer, its fields as text and as the framework's image array.
#include <ekvision/ekimage.h>
#include <ekvision/ekimagevalue.h>

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <tuple>

#include <ekerror/ekerror.h>

#include "logcapture.h"

namespace {

using EK::EKImage;

// Runs @p action and returns the message of the std::invalid_argument it throws.
template <typename Action>
std::string invalidArgumentMessage(Action action) {
  try {
    action();
  } catch (const std::invalid_argument& error) {
    return error.what();
  }
  return "(no exception)";
}

// width, height, nbLayers, allocatedSize, allocatedResolution, allocatedNbLayers.
auto shape(const EKImage& i) {
  return std::make_tuple(i.width, i.height, i.nbLayers, i.allocatedSize, i.allocatedResolution,
                         i.allocatedNbLayers);
}

TEST(EKImageConstruction, ConstructorsSizeTheBufferFromTheirArguments) {
  EKImage sized(640, 480, 9, false, 0, 0, 0, 0);
  EXPECT_EQ(shape(sized), std::make_tuple(640, 480, 2, 640 * 480 * 2, 2, 2));
  EXPECT_EQ(std::make_tuple(sized.timeStamp, sized.regionFlag, sized.rois.empty()),
            std::make_tuple(-1LL, false, true));
  EKImage coded(EK::kResolution320x240, 13, false, 1, 2, 3, 4);
  EXPECT_EQ(shape(coded), std::make_tuple(320, 240, 3, 320 * 240 * 3, 1, 3));
  EXPECT_EQ(coded.frame[coded.allocatedSize - 1], 0) << "the buffer starts zeroed";
  EXPECT_EQ(shape(EKImage(100, 50, 0, false)), std::make_tuple(100, 50, 1, 5000, -1, 1));
  EKImage external(640, 480, 9, true, 0.1f, 0.2f, -0.1f, -0.2f);
  EXPECT_EQ(std::make_tuple(external.frame, external.allocatedSize, external.bottomAngle),
            std::make_tuple(nullptr, 640 * 480 * 2, -0.2f));
  EXPECT_EQ(EKImage(0, 0, 9).allocatedSize, 0);
}

TEST(EKImageConstruction, InvalidArgumentsThrowExactMessages) {
  EKImage image(100, 100, 0, false);
  const std::pair<std::function<void()>, std::string> cases[] = {
      {[] { EKImage(640, 480, 19, false); }, "EKImage: invalid colorspace"},
      {[] { EKImage(4, 9, false); }, "EKImage: invalid resolution"},
      {[] { EKImage(-1, 10, 0, false); }, "EKImage: invalid size"},
      {[] { EKImage(65536, 32768, 18, true); }, "EKImage: image too large"},
      {[&] { image.setResolution(4); }, "EKImage: invalid resolution"},
      {[&] { image.setColorSpace(19); }, "EKImage: setColorSpace: invalid color space"},
      {[&] { image.reallocateDataSize(5, 1); }, "EKImage: reallocateDataSize: Weird resolution #5"},
      // A size without a resolution code cannot grow its layers.
      {[&] { image.setColorSpace(10); }, "EKImage: reallocateDataSize: Weird resolution #-1"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(invalidArgumentMessage(c.first), c.second);
  }
  EXPECT_EQ(image.colorSpace, 10) << "set before the buffer failed to grow";
}

TEST(EKImageBuffer, TheBufferGrowsToTheLargestShapeEverAskedAndNeverShrinks) {
  EKImage image(640, 480, 9, false);
  unsigned char* original = image.frame;
  EXPECT_TRUE(image.setResolution(1));
  EXPECT_EQ(shape(image), std::make_tuple(320, 240, 2, 640 * 480 * 2, 2, 2));
  EXPECT_TRUE(image.setResolution(2));
  EXPECT_EQ(image.frame, original) << "switching back needs no allocation";
  EXPECT_TRUE(image.setResolution(3));
  EXPECT_EQ(shape(image), std::make_tuple(1280, 960, 2, 1280 * 960 * 2, 3, 2));
  EXPECT_TRUE(image.setColorSpace(10));
  EXPECT_EQ(shape(image), std::make_tuple(1280, 960, 3, 1280 * 960 * 3, 3, 3));
  unsigned char* large = image.frame;
  EXPECT_TRUE(image.setColorSpace(1));
  EXPECT_EQ(shape(image), std::make_tuple(1280, 960, 1, 1280 * 960 * 3, 3, 3));
  EXPECT_EQ(image.frame, large);

  image.allocatedResolution = 7;  // marks that an equal size leaves the fields alone
  EXPECT_TRUE(image.reallocateDataSize(3, 3));
  EXPECT_EQ(image.allocatedResolution, 7);
  EXPECT_TRUE(image.reallocateDataSize(0, 1)) << "a smaller size replaces an owned buffer";
  EXPECT_EQ(shape(image), std::make_tuple(1280, 960, 1, 160 * 120, 0, 1));
  EXPECT_TRUE(image.reallocateDataSize(0, 0)) << "no layers make an empty buffer, not an error";
  EXPECT_EQ(image.allocatedSize, 0);
}

TEST(EKImageBuffer, ExternalBufferIsNeverReplaced) {
  unsigned char pixels[160 * 120 * 2] = {};
  EKImage image(160, 120, 9, true);
  EXPECT_FALSE(image.setResolution(1)) << "no buffer yet";
  EXPECT_FALSE(image.setColorSpace(10));
  EXPECT_EQ(std::make_tuple(image.colorSpace, image.nbLayers), std::make_tuple(10, 3));
  image.frame = pixels;
  EXPECT_TRUE(image.setColorSpace(9) && image.setResolution(1) && image.frame == pixels);
  image.frame = nullptr;  // the destructor must not free what it does not own either way
}

TEST(EKImageDump, LabelledLinesAndNoReadPastTheBuffer) {
  EKImage image(640, 480, 9, false);
  image.timeStamp = -1234567890123LL;
  const std::uint32_t words[4] = {0xdeadbeefu, 0x1u, 0x80000000u, 0x0u};
  std::memcpy(image.frame, words, sizeof words);
  EXPECT_NE(image.toString().find("\nTimeStamp     : -1234567890123\n"), std::string::npos);
  EXPECT_NE(
      image.toString().find("\nFirstPixel    : deadbeef 1 80000000 0\nAllocatedSize : 614400"),
      std::string::npos);
  EXPECT_NE(EKImage(640, 480, 9, true).toString().find("FirstPixel    : (no buffer)\n"),
            std::string::npos);
  EKImage small(3, 2, 0, false);  // 6 bytes: one whole word
  small.frame[0] = 0xab;
  EXPECT_NE(small.toString().find("FirstPixel    : ab\nAllocatedSize : 6"), std::string::npos);
}

using EK::EKValue;

EKValue imageArray(int width, int height, int colorSpace, int blockSize,
                   int elements = EK::kImageArraySize) {
  EKValue value =
      EK::makeImageArray(1, 1, 0, -1, 0, 0.0f, 0.0f, 0.0f, 0.0f,
                         std::vector<unsigned char>(static_cast<std::size_t>(blockSize), 0x5a));
  value[EK::kImageArrayWidth] = width;
  value[EK::kImageArrayHeight] = height;
  value[EK::kImageArrayLayers] = EK::getNumLayersInColorSpace(colorSpace);
  value[EK::kImageArrayColorSpace] = colorSpace;
  value.arraySetSize(elements);
  return value;
}

// The helpers for parties without an EKImage write what toEKValue writes and read the time
// stamp as fromEKValue does.
TEST(ImageValue, HelpersAgreeWithTheImageConversions) {
  EKImage source(160, 120, 13, false, 0.3f, 0.2f, -0.3f, -0.2f);
  for (int i = 0; i < source.allocatedSize; ++i) {
    source.frame[i] = static_cast<unsigned char>(i * 5);
  }
  source.cameraId = -2;
  for (long long stamp : {-1LL, 0LL, 1500000LL, -1500000LL, 1234567890123456LL}) {
    SCOPED_TRACE(stamp);
    source.timeStamp = stamp;
    std::vector<unsigned char> pixels(source.frame, source.frame + source.allocatedSize);
    const unsigned char* block = pixels.data();
    const EKValue built =
        EK::makeImageArray(160, 120, 13, stamp, -2, 0.3f, 0.2f, -0.3f, -0.2f, std::move(pixels));
    EXPECT_EQ(built, source.toEKValue());
    EXPECT_EQ(built[EK::kImageArrayPixels].GetBinary(), block) << "the pixels were copied";
    std::unique_ptr<EKImage> back(EKImage::fromEKValue(built));
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(std::make_tuple(EK::imageArrayTimeStamp(built), back->timeStamp),
              std::make_tuple(stamp, stamp));
  }
  EXPECT_EQ(invalidArgumentMessage([] { EK::makeImageArray(160, 120, 19, 0, 0, 0, 0, 0, 0, {}); }),
            "EKImage: invalid colorspace");
  // Values that do not reach the microseconds carry no time stamp.
  EKValue shortArray = source.toEKValue();
  shortArray.arraySetSize(EK::kImageArrayMicroseconds);
  for (const EKValue& value : {EKValue(), EKValue(5), shortArray}) {
    EXPECT_EQ(EK::imageArrayTimeStamp(value), -1) << value.toString();
  }
}

TEST(ImageValue, WhatIsNotAnImageGivesNullAndOneRecordNamingTheCause) {
  const std::string notImage = "EKValue is not an image, cannot convert\n";
  const std::string badSize = "EKValue image has an invalid size, cannot convert\n";
  const std::string shortBlock = "EKValue image data is shorter than its size, cannot convert\n";
  const std::pair<EKValue, std::string> cases[] = {
      {EKValue(5), notImage},
      {imageArray(2, 2, 0, 4, 11), notImage},
      {imageArray(640, 480, 9, 640 * 480 * 2 - 1), shortBlock},
      {imageArray(-2, 10, 0, 100), badSize},
      {imageArray(65536, 65536, 18, 16), badSize},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.second);
    ektest::LogCapture capture;
    EXPECT_EQ(EKImage::fromEKValue(c.first), nullptr);
    const auto records = capture.records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(std::make_tuple(records[0].category, records[0].function, records[0].message),
              std::make_tuple("EKImage", "fromEKValue", c.second));
  }
  // Layers follow the color space, and a longer array is accepted.
  EKValue value = imageArray(100, 100, 9, 100 * 100 * 2, 13);
  value[EK::kImageArrayLayers] = 3;
  std::unique_ptr<EKImage> image(EKImage::fromEKValue(value));
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(std::make_tuple(image->nbLayers, image->allocatedResolution), std::make_tuple(2, -1));
  value[EK::kImageArrayColorSpace] = 19;
  EXPECT_EQ(invalidArgumentMessage([&] { delete EKImage::fromEKValue(value); }),
            "EKImage: invalid colorspace");
  value[EK::kImageArrayColorSpace] = 9;
  value[EK::kImageArrayWidth] = "wide";
  EXPECT_THROW(delete EKImage::fromEKValue(value), EK::EKError);
}

}  // namespace
