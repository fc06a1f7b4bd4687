#include <ekvision/ekimage.h>

#include <gtest/gtest.h>

#include <opencv2/imgcodecs.hpp>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "logcapture.h"
#include "videotestsupport.h"

namespace {

using EK::EKImage;
using Bytes = std::vector<unsigned char>;

void put32(Bytes& bytes, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) {
    bytes.push_back(static_cast<unsigned char>(value >> (8 * i)));
  }
}

void put64(Bytes& bytes, std::uint64_t value) {
  put32(bytes, static_cast<std::uint32_t>(value));
  put32(bytes, static_cast<std::uint32_t>(value >> 32));
}

// An .ari header built byte by byte; version 1 when angles are given.
Bytes ariHeader(std::uint32_t magic, int width, int height, int layers, int colorSpace,
                long long stamp, int camera, const std::vector<std::uint32_t>& angleBits = {}) {
  Bytes bytes;
  put32(bytes, magic);
  put32(bytes, static_cast<std::uint32_t>(width));
  put32(bytes, static_cast<std::uint32_t>(height));
  put32(bytes, static_cast<std::uint32_t>(layers));
  put32(bytes, static_cast<std::uint32_t>(colorSpace));
  put64(bytes, static_cast<std::uint64_t>(stamp));
  put32(bytes, static_cast<std::uint32_t>(camera));
  for (std::uint32_t bits : angleBits) {
    put32(bytes, bits);
  }
  return bytes;
}

std::uint32_t bitsOf(float value) {
  std::uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

class AriFileTest : public testing::Test {
 protected:
  ektest::TempDir dir;
};

TEST_F(AriFileTest, WriteProducesTheDocumentedBytes) {
  EKImage image(4, 2, EK::kColorSpaceYUV422, false, 0.1f, 0.2f, -0.1f, -0.2f);
  for (int i = 0; i < 16; ++i) {
    image.frame[i] = static_cast<unsigned char>(i + 1);
  }
  image.timeStamp = 0x0102030405060708LL;
  image.cameraId = -1;
  ASSERT_TRUE(image.writeFile(dir.path("a.ari").c_str()));
  Bytes expected = ariHeader(0x41524931u, 4, 2, 2, 9, 0x0102030405060708LL, -1,
                             {bitsOf(0.1f), bitsOf(0.2f), bitsOf(-0.1f), bitsOf(-0.2f)});
  for (int i = 0; i < 16; ++i) {
    expected.push_back(static_cast<unsigned char>(i + 1));
  }
  EXPECT_EQ(ektest::readBytes(dir.path("a.ari")), expected);
  EXPECT_EQ(expected.size(), 48u + 16u);
  EXPECT_EQ(std::string(expected.begin(), expected.begin() + 4), "1IRA");
}

TEST_F(AriFileTest, RoundTripRestoresEveryField) {
  EKImage source(EK::kResolution320x240, 13, false, 0.5f, 0.25f, -0.5f, -0.25f);
  for (int i = 0; i < source.allocatedSize; ++i) {
    source.frame[i] = static_cast<unsigned char>(i * 31);
  }
  source.timeStamp = -42;
  source.cameraId = -1;
  ASSERT_TRUE(source.writeFile(dir.path("b.ari").c_str()));
  EKImage target(EK::kResolution160x120, 0);
  ASSERT_TRUE(target.readFile(dir.path("b.ari").c_str()));
  EXPECT_EQ(target.width, 320);
  EXPECT_EQ(target.height, 240);
  EXPECT_EQ(target.nbLayers, 3);
  EXPECT_EQ(target.colorSpace, 13);
  EXPECT_EQ(target.timeStamp, -42);
  EXPECT_EQ(target.cameraId, -1);
  EXPECT_FLOAT_EQ(target.leftAngle, 0.5f);
  EXPECT_FLOAT_EQ(target.bottomAngle, -0.25f);
  EXPECT_EQ(target.allocatedSize, 320 * 240 * 3);
  EXPECT_EQ(target.allocatedResolution, 1);
  EXPECT_EQ(target.allocatedNbLayers, 3);
  EXPECT_EQ(std::memcmp(target.frame, source.frame, 320 * 240 * 3), 0);
}

TEST_F(AriFileTest, SameShapeKeepsTheBufferAndTakesTheHeader) {
  EKImage source(2, 2, 4, false, 1, 2, 3, 4);
  source.timeStamp = 77;
  ASSERT_TRUE(source.writeFile(dir.path("c.ari").c_str()));
  EKImage target(2, 2, 0);  // another one-layer color space
  unsigned char* buffer = target.frame;
  ASSERT_TRUE(target.readFile(dir.path("c.ari").c_str()));
  EXPECT_EQ(target.frame, buffer);
  EXPECT_EQ(target.colorSpace, 4);
  EXPECT_EQ(target.timeStamp, 77);
  EXPECT_FLOAT_EQ(target.rightAngle, 3);
}

TEST_F(AriFileTest, VersionZeroGetsTheDefaultAngles) {
  Bytes file = ariHeader(0x41524930u, 160, 120, 1, 0, 5, 2);
  file.resize(32 + 160 * 120, 9);
  ektest::writeBytes(dir.path("v0.ari"), file);
  EKImage image(EK::kResolution160x120, 0);
  ASSERT_TRUE(image.readFile(dir.path("v0.ari").c_str()));
  EXPECT_EQ(bitsOf(image.leftAngle), 0x3ED576D4u);
  EXPECT_EQ(bitsOf(image.topAngle), 0x3EA45733u);
  EXPECT_EQ(bitsOf(image.rightAngle), 0xBED576D4u);
  EXPECT_EQ(bitsOf(image.bottomAngle), 0xBEA45733u);
  EXPECT_EQ(image.cameraId, 2);
  EXPECT_EQ(image.frame[160 * 120 - 1], 9);
}

TEST_F(AriFileTest, CameraIdKeepsItsLowByte) {
  Bytes file = ariHeader(0x41524930u, 1, 1, 1, 0, 0, 0x1234FF);
  file.push_back(0);
  ektest::writeBytes(dir.path("cam.ari"), file);
  EKImage image(1, 1, 0);
  ASSERT_TRUE(image.readFile(dir.path("cam.ari").c_str()));
  EXPECT_EQ(image.cameraId, -1);
}

TEST_F(AriFileTest, UnknownMagicLogsOnceAndTruncatedHeaderDoesNot) {
  ektest::writeBytes(dir.path("magic.ari"), ariHeader(0x41524932u, 1, 1, 1, 0, 0, 0));
  EKImage image(2, 2, 0);
  {
    ektest::LogCapture capture;
    EXPECT_FALSE(image.readFile(dir.path("magic.ari").c_str()));
    const auto records = capture.records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].message, "readFile: Error while reading image: not an .ari format\n");
    EXPECT_EQ(records[0].category, "vision.ekimage");
    EXPECT_EQ(records[0].function, "readFile");
    EXPECT_EQ(records[0].level, 2);
  }
  const Bytes full = ariHeader(0x41524931u, 2, 2, 1, 0, 0, 0, {0, 0, 0, 0});
  for (std::size_t cut : {0u, 3u, 4u, 20u, 31u, 47u}) {
    ektest::writeBytes(dir.path("cut.ari"), Bytes(full.begin(), full.begin() + cut));
    ektest::LogCapture capture;
    EXPECT_FALSE(image.readFile(dir.path("cut.ari").c_str())) << cut;
    EXPECT_EQ(capture.size(), 0u) << cut;
  }
  EXPECT_FALSE(image.readFile(dir.path("absent.ari").c_str()));
  EXPECT_FALSE(image.readFile(nullptr));
}

TEST_F(AriFileTest, HostileSizesAreRefusedBeforeAllocating) {
  const Bytes headers[] = {
      ariHeader(0x41524930u, -1, 10, 1, 0, 0, 0),        // negative width
      ariHeader(0x41524930u, 10, 10, -3, 0, 0, 0),       // negative layers
      ariHeader(0x41524930u, 65536, 65536, 4, 0, 0, 0),  // overflows int
      ariHeader(0x41524930u, 20000, 20000, 4, 0, 0, 0),  // 1.6 GB the file does not hold
  };
  for (const Bytes& header : headers) {
    ektest::writeBytes(dir.path("hostile.ari"), header);
    EKImage image(2, 2, 0, false, 1, 1, 1, 1);
    unsigned char* buffer = image.frame;
    ektest::LogCapture capture;
    EXPECT_FALSE(image.readFile(dir.path("hostile.ari").c_str()));
    EXPECT_EQ(capture.size(), 1u);
    EXPECT_EQ(image.frame, buffer);
    EXPECT_EQ(image.width, 2);
    EXPECT_EQ(image.timeStamp, -1) << "image unchanged";
  }
}

TEST_F(AriFileTest, ExternalBufferOfAnotherSizeIsRefused) {
  EKImage source(4, 4, 0);
  ASSERT_TRUE(source.writeFile(dir.path("e.ari").c_str()));
  Bytes pixels(2 * 2);
  EKImage image(2, 2, 0, true);
  image.frame = pixels.data();
  ektest::LogCapture capture;
  EXPECT_FALSE(image.readFile(dir.path("e.ari").c_str()));
  ASSERT_EQ(capture.size(), 1u);
  EXPECT_EQ(capture.records()[0].message, "readFile: external buffer not compatible.\n");
  EXPECT_EQ(image.frame, pixels.data());
  EXPECT_EQ(image.width, 2);
}

TEST_F(AriFileTest, WriteRefusesImagesWithoutTheirPixels) {
  EKImage image(640, 480, 9, true);
  EXPECT_FALSE(image.writeFile(dir.path("none.ari").c_str()));
  EXPECT_FALSE(std::ifstream(dir.path("none.ari")).good()) << "no file is created";
  EKImage fine(2, 2, 0);
  EXPECT_FALSE(fine.writeFile(dir.path("missing-dir/x.ari").c_str()));
  EXPECT_FALSE(fine.writeFile("/dev/full")) << "the full disk shows at close";
}

class PpmTest : public AriFileTest {};

TEST_F(PpmTest, StandardReaderSeesTheSamePixelsForOneTwoAndThreeLayers) {
  const int width = 6, height = 3;
  for (int colorSpace : {0, EK::kColorSpaceYUV422, 13}) {
    EKImage image(width, height, colorSpace);
    for (int i = 0; i < image.allocatedSize; ++i) {
      image.frame[i] = static_cast<unsigned char>(i * 13 + 5);
    }
    const std::string path = dir.path("p" + std::to_string(colorSpace) + ".ppm");
    ASSERT_EQ(image.savePPM(path.c_str()), 1);
    const cv::Mat read = cv::imread(path, cv::IMREAD_UNCHANGED);
    ASSERT_EQ(read.rows, height);
    ASSERT_EQ(read.cols, width);
    ASSERT_EQ(read.channels(), 3);
    for (int p = 0; p < width * height; ++p) {
      // The reader gives B, G, R: the file's third, second and first bytes.
      const cv::Vec3b bgr = read.at<cv::Vec3b>(p / width, p % width);
      unsigned char expected[3];
      const unsigned char* f = image.frame;
      if (image.nbLayers == 3) {
        std::memcpy(expected, f + 3 * p, 3);
      } else if (image.nbLayers == 1) {
        expected[0] = expected[1] = expected[2] = f[p];
      } else {
        const unsigned char* group = f + 4 * (p / 2);
        expected[0] = group[p % 2 == 0 ? 0 : 2];
        expected[1] = group[1];
        expected[2] = group[3];
      }
      EXPECT_EQ(bgr[2], expected[0]) << "pixel " << p << " layers " << image.nbLayers;
      EXPECT_EQ(bgr[1], expected[1]) << "pixel " << p;
      EXPECT_EQ(bgr[0], expected[2]) << "pixel " << p;
    }
  }
}

TEST_F(PpmTest, HeaderOnlyForEmptyAndFourLayerImages) {
  EKImage empty(0, 0, 0);
  ASSERT_EQ(empty.savePPM(dir.path("empty.ppm").c_str()), 1);
  const Bytes header = ektest::readBytes(dir.path("empty.ppm"));
  EXPECT_EQ(std::string(header.begin(), header.end()), "P6\n0 0\n 255\n");
  EKImage four(2, 2, 18);
  ASSERT_EQ(four.savePPM(dir.path("four.ppm").c_str()), 1);
  const Bytes fourBytes = ektest::readBytes(dir.path("four.ppm"));
  EXPECT_EQ(std::string(fourBytes.begin(), fourBytes.end()), "P6\n2 2\n 255\n");
}

TEST_F(PpmTest, OddPixelCountOfYuvWritesExactlyThePixels) {
  EKImage image(3, 1, EK::kColorSpaceYUV422);
  const unsigned char bytes[6] = {1, 2, 3, 4, 5, 6};
  std::memcpy(image.frame, bytes, 6);
  ASSERT_EQ(image.savePPM(dir.path("odd.ppm").c_str()), 1);
  const Bytes file = ektest::readBytes(dir.path("odd.ppm"));
  const std::string header = "P6\n3 1\n 255\n";
  ASSERT_EQ(file.size(), header.size() + 9);
  EXPECT_EQ(Bytes(file.begin() + static_cast<long>(header.size()), file.end()),
            (Bytes{1, 2, 4, 3, 2, 4, 5, 6, 128}));
}

TEST_F(PpmTest, FailureCodes) {
  EKImage small(2, 2, 0);
  EXPECT_EQ(small.savePPM(dir.path("no/such/dir.ppm").c_str()), -1);
  EXPECT_EQ(small.savePPM("/dev/full"), -6) << "a small file fails when it is flushed";
  EKImage large3(EK::kResolution640x480, 13);
  EXPECT_EQ(large3.savePPM("/dev/full"), -3);
  EKImage large2(EK::kResolution640x480, EK::kColorSpaceYUV422);
  EXPECT_EQ(large2.savePPM("/dev/full"), -4);
  EKImage large1(EK::kResolution640x480, 0);
  EXPECT_EQ(large1.savePPM("/dev/full"), -5);
  EKImage noPixels(640, 480, 0, true);
  EXPECT_EQ(noPixels.savePPM(dir.path("none.ppm").c_str()), -7);
}

}  // namespace
