#include <ekvision/ekimage.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <sstream>
#include <stdexcept>
#include <string>

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

TEST(EKImageConstruction, SizeConstructorOwnsAZeroedBuffer) {
  EKImage image(640, 480, 9, false, 0, 0, 0, 0);
  EXPECT_EQ(image.nbLayers, 2);
  EXPECT_EQ(image.allocatedSize, 640 * 480 * 2);
  EXPECT_EQ(image.allocatedResolution, 2);
  EXPECT_EQ(image.allocatedNbLayers, 2);
  EXPECT_EQ(image.timeStamp, -1);
  EXPECT_EQ(image.cameraId, 0);
  EXPECT_TRUE(image.rois.empty());
  EXPECT_FALSE(image.regionFlag);
  ASSERT_NE(image.frame, nullptr);
  EXPECT_TRUE(std::all_of(image.frame, image.frame + image.allocatedSize,
                          [](unsigned char b) { return b == 0; }));
}

TEST(EKImageConstruction, SizeWithoutCodeAndExternalBuffer) {
  EKImage odd(100, 50, 0, false);
  EXPECT_EQ(odd.allocatedResolution, -1);
  EXPECT_EQ(odd.allocatedSize, 5000);
  EKImage external(640, 480, 9, true, 0.1f, 0.2f, -0.1f, -0.2f);
  EXPECT_EQ(external.frame, nullptr);
  EXPECT_EQ(external.allocatedSize, 640 * 480 * 2);
  EXPECT_FLOAT_EQ(external.leftAngle, 0.1f);
  EXPECT_FLOAT_EQ(external.bottomAngle, -0.2f);
  EKImage empty(0, 0, 9);
  EXPECT_EQ(empty.allocatedSize, 0);
}

TEST(EKImageConstruction, ResolutionConstructor) {
  EKImage image(EK::kResolution320x240, 13, false, 1, 2, 3, 4);
  EXPECT_EQ(image.width, 320);
  EXPECT_EQ(image.height, 240);
  EXPECT_EQ(image.nbLayers, 3);
  EXPECT_EQ(image.allocatedResolution, 1);
  EXPECT_EQ(image.allocatedSize, 320 * 240 * 3);
  EXPECT_EQ(image.timeStamp, -1);
  ASSERT_NE(image.frame, nullptr);
  EXPECT_EQ(image.frame[image.allocatedSize - 1], 0);
}

TEST(EKImageConstruction, InvalidArgumentsThrowExactMessages) {
  EXPECT_EQ(invalidArgumentMessage([] { EKImage(640, 480, 19, false); }),
            "EKImage: invalid colorspace");
  EXPECT_EQ(invalidArgumentMessage([] { EKImage(4, 9, false); }), "EKImage: invalid resolution");
  EXPECT_EQ(invalidArgumentMessage([] { EKImage(4, 19, false); }), "EKImage: invalid colorspace");
  EXPECT_EQ(invalidArgumentMessage([] { EKImage(-1, 10, 0, false); }), "EKImage: invalid size");
  EXPECT_EQ(invalidArgumentMessage([] { EKImage(10, -1, 0, true); }), "EKImage: invalid size");
  EXPECT_EQ(invalidArgumentMessage([] { EKImage(65536, 32768, 18, true); }),
            "EKImage: image too large");
}

TEST(EKImageBuffer, SetResolutionGrowsButNeverShrinks) {
  EKImage image(640, 480, 9, false);
  unsigned char* original = image.frame;
  EXPECT_TRUE(image.setResolution(1));
  EXPECT_EQ(image.width, 320);
  EXPECT_EQ(image.height, 240);
  EXPECT_EQ(image.frame, original);
  EXPECT_EQ(image.allocatedResolution, 2);
  EXPECT_TRUE(image.setResolution(2));
  EXPECT_EQ(image.frame, original) << "switching back needs no allocation";
  EXPECT_TRUE(image.setResolution(3));
  EXPECT_EQ(image.allocatedSize, 1280 * 960 * 2);
  EXPECT_EQ(image.allocatedResolution, 3);
  EXPECT_EQ(image.width, 1280);
  EXPECT_EQ(invalidArgumentMessage([&] { image.setResolution(4); }), "EKImage: invalid resolution");
}

TEST(EKImageBuffer, SetColorSpaceGrowsForMoreLayersOnly) {
  EKImage image(640, 480, 0, false);
  EXPECT_TRUE(image.setColorSpace(10));
  EXPECT_EQ(image.nbLayers, 3);
  EXPECT_EQ(image.allocatedSize, 640 * 480 * 3);
  EXPECT_EQ(image.allocatedNbLayers, 3);
  unsigned char* large = image.frame;
  EXPECT_TRUE(image.setColorSpace(1));
  EXPECT_EQ(image.nbLayers, 1);
  EXPECT_EQ(image.frame, large);
  EXPECT_EQ(image.allocatedNbLayers, 3);
  EXPECT_TRUE(image.setColorSpace(1)) << "the current code changes nothing";
  EXPECT_EQ(invalidArgumentMessage([&] { image.setColorSpace(19); }),
            "EKImage: setColorSpace: invalid color space");
  EXPECT_EQ(image.colorSpace, 1);
}

TEST(EKImageBuffer, ReallocateDataSize) {
  EKImage image(640, 480, 9, false);
  EXPECT_EQ(invalidArgumentMessage([&] { image.reallocateDataSize(5, 1); }),
            "EKImage: reallocateDataSize: Weird resolution #5");
  EXPECT_EQ(invalidArgumentMessage([&] { image.reallocateDataSize(-3, 1); }),
            "EKImage: reallocateDataSize: Weird resolution #-3");
  image.allocatedResolution = 7;  // marks that an equal size leaves the fields alone
  EXPECT_TRUE(image.reallocateDataSize(2, 2));
  EXPECT_EQ(image.allocatedResolution, 7);
  EXPECT_TRUE(image.reallocateDataSize(0, 1)) << "a smaller size replaces an owned buffer";
  EXPECT_EQ(image.allocatedSize, 160 * 120);
  EXPECT_EQ(image.allocatedResolution, 0);
  EXPECT_EQ(image.width, 640) << "the picture's own size is untouched";
}

TEST(EKImageBuffer, SizeWithoutCodeCannotGrowLayers) {
  EKImage image(100, 100, 0, false);
  EXPECT_EQ(invalidArgumentMessage([&] { image.setColorSpace(10); }),
            "EKImage: reallocateDataSize: Weird resolution #-1");
}

TEST(EKImageBuffer, ExternalBufferIsNeverReplaced) {
  unsigned char pixels[160 * 120 * 2] = {};
  EKImage image(160, 120, 9, true);
  EXPECT_FALSE(image.setResolution(1)) << "no buffer yet";
  EXPECT_EQ(image.width, 160);
  EXPECT_FALSE(image.setColorSpace(10));
  EXPECT_EQ(image.colorSpace, 10);
  EXPECT_EQ(image.nbLayers, 3);
  image.frame = pixels;
  EXPECT_TRUE(image.setColorSpace(9));
  EXPECT_TRUE(image.setResolution(1));
  EXPECT_EQ(image.frame, pixels);
  image.frame = nullptr;  // the destructor must not free what it does not own either way
}

TEST(EKImageDump, FourteenLabelledLines) {
  EKImage image(640, 480, 9, false, 0.4169222f, 0.0f, -1.5f, 1e-7f);
  image.timeStamp = -1234567890123LL;
  image.cameraId = -1;
  const std::uint32_t words[4] = {0xdeadbeefu, 0x1u, 0x80000000u, 0x0u};
  std::memcpy(image.frame, words, sizeof words);
  std::ostringstream address;
  address << static_cast<const void*>(&image);
  std::ostringstream frame;
  frame << static_cast<const void*>(image.frame);
  const std::string expected = "this          : " + address.str() +
                               "\n"
                               "Width         : 640\n"
                               "Height        : 480\n"
                               "NbLayers      : 2\n"
                               "ColorSpace    : 9\n"
                               "TimeStamp     : -1234567890123\n"
                               "CameraID      : -1\n"
                               "Left angle    : 0.416922\n"
                               "Top angle     : 0\n"
                               "Right angle   : -1.5\n"
                               "Bottom angle  : 1e-07\n"
                               "Frame         : " +
                               frame.str() +
                               "\n"
                               "FirstPixel    : deadbeef 1 80000000 0\n"
                               "AllocatedSize : 614400";
  EXPECT_EQ(image.toString(), expected);
}

TEST(EKImageDump, FirstPixelNeverReadsPastTheBuffer) {
  EKImage zeros(640, 480, 9, false);
  EXPECT_NE(zeros.toString().find("FirstPixel    : 0 0 0 0\n"), std::string::npos);
  EKImage none(640, 480, 9, true);
  EXPECT_NE(none.toString().find("FirstPixel    : (no buffer)\n"), std::string::npos);
  EKImage small(3, 2, 0, false);  // 6 bytes: one whole word
  small.frame[0] = 0xab;
  EXPECT_NE(small.toString().find("FirstPixel    : ab\nAllocatedSize : 6"), std::string::npos);
}

}  // namespace
