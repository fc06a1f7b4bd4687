#include <ekvision/ekimage.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <tuple>

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
std::tuple<int, int, int, int, int, int> shape(const EKImage& image) {
  return {image.width,
          image.height,
          image.nbLayers,
          image.allocatedSize,
          image.allocatedResolution,
          image.allocatedNbLayers};
}

TEST(EKImageConstruction, ConstructorsSizeTheBufferFromTheirArguments) {
  EKImage sized(640, 480, 9, false, 0, 0, 0, 0);
  EXPECT_EQ(shape(sized), std::make_tuple(640, 480, 2, 640 * 480 * 2, 2, 2));
  EXPECT_EQ(sized.timeStamp, -1);
  ASSERT_NE(sized.frame, nullptr);
  EXPECT_TRUE(std::all_of(sized.frame, sized.frame + sized.allocatedSize,
                          [](unsigned char b) { return b == 0; }));
  EKImage coded(EK::kResolution320x240, 13, false, 1, 2, 3, 4);
  EXPECT_EQ(shape(coded), std::make_tuple(320, 240, 3, 320 * 240 * 3, 1, 3));
  EXPECT_EQ(coded.frame[coded.allocatedSize - 1], 0);
  EXPECT_EQ(shape(EKImage(100, 50, 0, false)), std::make_tuple(100, 50, 1, 5000, -1, 1));
  EKImage external(640, 480, 9, true, 0.1f, 0.2f, -0.1f, -0.2f);
  EXPECT_EQ(external.frame, nullptr);
  EXPECT_EQ(external.allocatedSize, 640 * 480 * 2);
  EXPECT_FLOAT_EQ(external.bottomAngle, -0.2f);
  EXPECT_EQ(EKImage(0, 0, 9).allocatedSize, 0);
}

TEST(EKImageConstruction, InvalidArgumentsThrowExactMessages) {
  EKImage image(100, 100, 0, false);
  const std::pair<std::function<void()>, std::string> cases[] = {
      {[] { EKImage(640, 480, 19, false); }, "EKImage: invalid colorspace"},
      {[] { EKImage(4, 9, false); }, "EKImage: invalid resolution"},
      {[] { EKImage(4, 19, false); }, "EKImage: invalid colorspace"},
      {[] { EKImage(-1, 10, 0, false); }, "EKImage: invalid size"},
      {[] { EKImage(10, -1, 0, true); }, "EKImage: invalid size"},
      {[] { EKImage(65536, 32768, 18, true); }, "EKImage: image too large"},
      {[&] { image.setResolution(4); }, "EKImage: invalid resolution"},
      {[&] { image.setColorSpace(19); }, "EKImage: setColorSpace: invalid color space"},
      {[&] { image.reallocateDataSize(5, 1); }, "EKImage: reallocateDataSize: Weird resolution #5"},
      {[&] { image.reallocateDataSize(-3, 1); },
       "EKImage: reallocateDataSize: Weird resolution #-3"},
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
  EXPECT_TRUE(image.setColorSpace(1)) << "the current code changes nothing";
  EXPECT_EQ(shape(image), std::make_tuple(1280, 960, 1, 1280 * 960 * 3, 3, 3));
  EXPECT_EQ(image.frame, large);

  image.allocatedResolution = 7;  // marks that an equal size leaves the fields alone
  EXPECT_TRUE(image.reallocateDataSize(3, 3));
  EXPECT_EQ(image.allocatedResolution, 7);
  EXPECT_TRUE(image.reallocateDataSize(0, 1)) << "a smaller size replaces an owned buffer";
  EXPECT_EQ(shape(image), std::make_tuple(1280, 960, 1, 160 * 120, 0, 1));
}

TEST(EKImageBuffer, ExternalBufferIsNeverReplaced) {
  unsigned char pixels[160 * 120 * 2] = {};
  EKImage image(160, 120, 9, true);
  EXPECT_FALSE(image.setResolution(1)) << "no buffer yet";
  EXPECT_EQ(image.width, 160);
  EXPECT_FALSE(image.setColorSpace(10));
  EXPECT_EQ(std::make_tuple(image.colorSpace, image.nbLayers), std::make_tuple(10, 3));
  image.frame = pixels;
  EXPECT_TRUE(image.setColorSpace(9));
  EXPECT_TRUE(image.setResolution(1));
  EXPECT_EQ(image.frame, pixels);
  image.frame = nullptr;  // the destructor must not free what it does not own either way
}

TEST(EKImageDump, FourteenLabelledLinesAndNoReadPastTheBuffer) {
  EKImage image(640, 480, 9, false, 0.4169222f, 0.0f, -1.5f, 1e-7f);
  image.timeStamp = -1234567890123LL;
  image.cameraId = -1;
  const std::uint32_t words[4] = {0xdeadbeefu, 0x1u, 0x80000000u, 0x0u};
  std::memcpy(image.frame, words, sizeof words);
  std::ostringstream expected;
  expected << "this          : " << static_cast<const void*>(&image)
           << "\nWidth         : 640\nHeight        : 480\nNbLayers      : 2\n"
              "ColorSpace    : 9\nTimeStamp     : -1234567890123\nCameraID      : -1\n"
              "Left angle    : 0.416922\nTop angle     : 0\nRight angle   : -1.5\n"
              "Bottom angle  : 1e-07\nFrame         : "
           << static_cast<const void*>(image.frame)
           << "\nFirstPixel    : deadbeef 1 80000000 0\nAllocatedSize : 614400";
  EXPECT_EQ(image.toString(), expected.str());
  EKImage none(640, 480, 9, true);
  EXPECT_NE(none.toString().find("FirstPixel    : (no buffer)\n"), std::string::npos);
  EKImage small(3, 2, 0, false);  // 6 bytes: one whole word
  small.frame[0] = 0xab;
  EXPECT_NE(small.toString().find("FirstPixel    : ab\nAllocatedSize : 6"), std::string::npos);
}

}  // namespace
