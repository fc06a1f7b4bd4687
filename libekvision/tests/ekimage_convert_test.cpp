// The image's conversions: its checks, buffer sizing and the unpaired last pixel. The pixel
// arithmetic itself is tested with the kernels in src/convert/tests.
#include <ekvision/ekimage.h>

#include <gtest/gtest.h>

#include <functional>
#include <tuple>
#include <vector>

#include "logcapture.h"

namespace {

using EK::EKImage;
using Pixels = std::vector<unsigned char>;

TEST(ImageConversion, LayoutsHoldTheSamplesInPixelOrderUpToTheLonePixel) {
  // Black, white and a lone red pixel: the packer keeps the lone pixel's Y and U.
  unsigned char bgr[9] = {0, 0, 0, 255, 255, 255, 0, 0, 255};
  EKImage packed(3, 1, 0);
  ASSERT_TRUE(packed.computeYUV422imageFromBGR(1, 3, reinterpret_cast<char*>(bgr)));
  EXPECT_EQ(std::make_tuple(packed.colorSpace, packed.nbLayers, packed.allocatedSize),
            std::make_tuple(0, 2, 6))
      << "the color space is the caller's business";
  EXPECT_EQ(Pixels(packed.frame, packed.frame + 6), (Pixels{16, 128, 235, 128, 81, 90}));

  // 5 x 1: two groups Y0 U Y1 V and a lone pixel Y=200 U=60 with no V of its own. Every
  // destination has one byte more than the layout, which must stay untouched.
  EKImage image(5, 1, EK::kColorSpaceYUV422);
  std::copy_n(Pixels{10, 20, 11, 30, 12, 21, 13, 31, 200, 60}.begin(), 10, image.frame);
  Pixels planar2(9 + 1, 0xee);  // 5 Y, 2 U, 2 V: no room for the lone pixel's U
  ASSERT_TRUE(image.computeYYYYUUVVimageFromYUV422(planar2.data()));
  EXPECT_EQ(planar2, (Pixels{10, 11, 12, 13, 200, 20, 21, 30, 31, 0xee}));
  Pixels planar3(15 + 1, 0xee);
  ASSERT_TRUE(image.computeYYYUUUVVVimageFromYUV422(planar3.data()));
  EXPECT_EQ(planar3, (Pixels{10, 11, 12, 13, 200, 20, 20, 21, 21, 60, 30, 30, 31, 31, 128, 0xee}));
  Pixels bgrOut(15 + 1, 0xee);  // the kernel tests check the values of odd-length rows
  ASSERT_TRUE(image.computeBGRimageFromYUV422(bgrOut.data()));
  EXPECT_EQ(bgrOut[15], 0xee);

  // An empty picture unpacks to nothing, and succeeds.
  EKImage empty(0, 0, EK::kColorSpaceYUV422);
  unsigned char sentinel = 0x42;
  EXPECT_TRUE(empty.computeBGRimageFromYUV422(&sentinel) && sentinel == 0x42);
  EXPECT_TRUE(empty.computeYYYYUUVVimageFromYUV422(&sentinel) && sentinel == 0x42);
  EXPECT_TRUE(empty.computeYYYUUUVVVimageFromYUV422(&sentinel) && sentinel == 0x42);
}

TEST(ImageConversion, RefusalsLeaveTheDestinationAndFittingBuffersAreUsed) {
  EKImage external(640, 480, EK::kColorSpaceYUV422, true);  // no buffer yet
  Pixels small(4 * 2 * 2);
  EKImage smallExternal(4, 2, EK::kColorSpaceYUV422, true);
  smallExternal.frame = small.data();
  std::vector<char> bgr(320 * 240 * 3, static_cast<char>(255));
  Pixels destination(640 * 480 * 3, 0x77);
  const std::string notYuv = "Input image is not a YUV422 image.\n";
  const std::string noBgr = "No BGR picture given.\n";
  const std::string packer = "computeYUV422imageFromBGR";
  EKImage grey(4, 2, 0), twoLayers(4, 2, 14);
  const std::tuple<std::function<bool()>, std::string, std::string> cases[] = {
      {[&] { return external.computeBGRimageFromYUV422(destination.data()); },
       "computeBGRimageFromYUV422", "Input image buffer is smaller than the image.\n"},
      {[&] { return external.computeYUV422imageFromBGR(-1, 320, bgr.data()); }, packer,
       "Invalid picture size.\n"},
      {[&] { return external.computeYUV422imageFromBGR(240, 320, nullptr); }, packer, noBgr},
      {[&] { return smallExternal.computeYUV422imageFromBGR(4, 4, bgr.data()); }, packer,
       "External buffer not compatible.\n"},
      // One and two layers, neither of them YUV422.
      {[&] { return grey.computeBGRimageFromYUV422(destination.data()); },
       "computeBGRimageFromYUV422", notYuv},
      {[&] { return twoLayers.computeYYYYUUVVimageFromYUV422(destination.data()); },
       "computeYYYYUUVVimageFromYUV422", notYuv},
  };
  for (const auto& [action, function, message] : cases) {
    SCOPED_TRACE(function + ": " + message);
    ektest::LogCapture capture;
    EXPECT_FALSE(action());
    const auto records = capture.records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(std::make_tuple(records[0].category, records[0].function, records[0].message),
              std::make_tuple("vision.ekimage", function, message));
  }
  EXPECT_EQ(destination, Pixels(640 * 480 * 3, 0x77));
  EXPECT_EQ(std::make_tuple(smallExternal.height, smallExternal.frame, external.width),
            std::make_tuple(2, small.data(), 640));

  // A fitting external buffer is used as it is; an owned one grows to the picture.
  ASSERT_TRUE(smallExternal.computeYUV422imageFromBGR(2, 4, bgr.data()));
  EXPECT_EQ(std::make_tuple(smallExternal.frame, small[14]), std::make_tuple(small.data(), 235));
  EKImage owned(EK::kResolution160x120, 10);  // three layers
  ASSERT_TRUE(owned.computeYUV422imageFromBGR(240, 320, bgr.data()));
  EXPECT_EQ(std::make_tuple(owned.width, owned.height, owned.nbLayers, owned.allocatedSize,
                            owned.allocatedResolution, owned.allocatedNbLayers, owned.colorSpace),
            std::make_tuple(320, 240, 2, 320 * 240 * 2, 1, 2, 10));
}

}  // namespace
