// Pictures on disk: the `.ari` format both ways and PPM output.
#include <ekvision/ekimage.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <functional>
#include <tuple>
#include <vector>

#include "logcapture.h"
#include "videotestsupport.h"

namespace {

using EK::EKImage;
using namespace ektest;
using Bytes = std::vector<unsigned char>;
const std::uint32_t kAri0 = 0x41524930u, kAri1 = 0x41524931u;

// An .ari header built byte by byte; version 1 when angles are given.
Bytes ariHeader(std::uint32_t magic, int width, int height, int layers, int colorSpace,
                long long stamp, int camera, const std::vector<float>& angles = {}) {
  ektest::Bytes bytes;
  bytes.u32(magic).u32(width).u32(height).u32(layers).u32(colorSpace).i64(stamp).u32(camera);
  for (float angle : angles) {
    bytes.f32(angle);
  }
  return bytes.get();
}

auto fields(const EKImage& i) {
  return std::make_tuple(i.width, i.height, i.nbLayers, i.colorSpace, i.timeStamp, i.cameraId,
                         i.leftAngle, i.topAngle, i.rightAngle, i.bottomAngle);
}

class AriFileTest : public testing::Test {
 protected:
  TempDir dir;
};

TEST_F(AriFileTest, WriteProducesTheDocumentedBytesAndReadRestoresEveryField) {
  EKImage source(160, 120, EK::kColorSpaceYUV422, false, 0.1f, 0.2f, -0.1f, -0.2f);
  Bytes expected =
      ariHeader(kAri1, 160, 120, 2, 9, 0x0102030405060708LL, -1, {0.1f, 0.2f, -0.1f, -0.2f});
  for (int i = 0; i < 38400; ++i) {
    source.frame[i] = static_cast<unsigned char>(i * 31);
    expected.push_back(static_cast<unsigned char>(i * 31));
  }
  source.timeStamp = 0x0102030405060708LL;
  source.cameraId = -1;
  ASSERT_TRUE(source.writeFile(dir.path("a.ari").c_str()));
  EXPECT_EQ(readBytes(dir.path("a.ari")), expected);

  // Into images of another shape (another size, or only another height, whose larger
  // buffer would hold the picture), or of the same shape with a buffer said to be too small:
  // each buffer is replaced. Into one of the same shape, the buffer is kept.
  EKImage other(EK::kResolution320x240, 0), taller(160, 240, 9), small(160, 120, 9);
  EKImage same(160, 120, 14);
  small.allocatedSize = 100;
  unsigned char* sameBuffer = same.frame;
  for (EKImage* target : {&other, &taller, &small, &same}) {
    ASSERT_TRUE(target->readFile(dir.path("a.ari").c_str()));
    EXPECT_EQ(fields(*target), fields(source));
    EXPECT_EQ(std::make_tuple(target->allocatedSize, target->allocatedResolution,
                              target->allocatedNbLayers),
              std::make_tuple(38400, 0, 2));
    EXPECT_EQ(std::memcmp(target->frame, source.frame, 38400), 0);
  }
  EXPECT_EQ(same.frame, sameBuffer);

  // Version 0 gets the default angles and the camera id its low byte.
  Bytes file = ariHeader(kAri0, 160, 120, 1, 0, 5, 0x1234FF);
  file.resize(32 + 160 * 120, 9);
  writeBytes(dir.path("v0.ari"), file);
  EKImage image(EK::kResolution160x120, 0);
  ASSERT_TRUE(image.readFile(dir.path("v0.ari").c_str()));
  EXPECT_EQ(fields(image), std::make_tuple(160, 120, 1, 0, 5LL, -1, 0.4169222f, 0.32097778f,
                                           -0.4169222f, -0.32097778f));
  EXPECT_EQ(image.frame[160 * 120 - 1], 9);
}

TEST_F(AriFileTest, BadFilesAreRefusedWithTheImageUnchanged) {
  EKImage small(2, 2, 0);
  ASSERT_TRUE(EKImage(4, 4, 0).writeFile(dir.path("larger.ari").c_str()));
  const Bytes full = ariHeader(kAri1, 2, 2, 1, 0, 0, 0, {0, 0, 0, 0});
  const std::string invalid =
      "readFile: Error while reading image: invalid picture size in header\n";
  // A file and the one message it logs ("" when none).
  std::vector<std::pair<Bytes, std::string>> cases = {
      {ariHeader(0x41524932u, 1, 1, 1, 0, 0, 0),
       "readFile: Error while reading image: not an .ari format\n"},
      {ariHeader(kAri0, -1, 10, 1, 0, 0, 0), invalid},
      {ariHeader(kAri0, 65536, 65536, 4, 0, 0, 0), invalid},
      {ariHeader(kAri0, 20000, 20000, 4, 0, 0, 0),
       "readFile: Error while reading image: file shorter than its picture\n"},
      {readBytes(dir.path("larger.ari")), "readFile: external buffer not compatible.\n"},
  };
  for (std::size_t cut : {3u, 31u, 47u}) {
    cases.emplace_back(Bytes(full.begin(), full.begin() + cut), "");
  }
  Bytes pixels(2 * 2);
  EKImage external(2, 2, 0, true);
  external.frame = pixels.data();
  for (const auto& [bytes, message] : cases) {
    SCOPED_TRACE(message + std::to_string(bytes.size()) + " bytes");
    writeBytes(dir.path("bad.ari"), bytes);
    EKImage& image = message.find("external") == std::string::npos ? small : external;
    unsigned char* buffer = image.frame;
    LogCapture capture;
    EXPECT_FALSE(image.readFile(dir.path("bad.ari").c_str()));
    EXPECT_EQ(std::make_pair(capture.count(message), capture.size()),
              message.empty() ? std::make_pair(0ul, 0ul) : std::make_pair(1ul, 1ul));
    EXPECT_EQ(std::make_tuple(image.frame, image.width, image.timeStamp),
              std::make_tuple(buffer, 2, -1LL));
  }
  EXPECT_FALSE(small.readFile(nullptr));
  external.frame = nullptr;
  EXPECT_FALSE(external.writeFile(dir.path("none.ari").c_str())) << "no pixels";
  EXPECT_FALSE(std::filesystem::exists(dir.path("none.ari"))) << "no file is created";
  EXPECT_FALSE(small.writeFile("/dev/full")) << "the full disk shows at close";
}

TEST_F(AriFileTest, PpmHoldsThreeSamplesAPixelWhateverTheLayersOrSaysWhatFailed) {
  // 3 x 1 pictures: grey is repeated, YUV422 gives Y U V for each pixel (128 for the lone
  // pixel's missing V), three layers are written as they are, four give the header only.
  const std::tuple<int, Bytes, Bytes> cases[] = {
      {0, {1, 2, 3}, {1, 1, 1, 2, 2, 2, 3, 3, 3}},
      {EK::kColorSpaceYUV422, {1, 2, 3, 4, 5, 6}, {1, 2, 4, 3, 2, 4, 5, 6, 128}},
      {13, {1, 2, 3, 4, 5, 6, 7, 8, 9}, {1, 2, 3, 4, 5, 6, 7, 8, 9}},
      {18, {}, {}}};
  for (const auto& [colorSpace, samples, body] : cases) {
    SCOPED_TRACE(colorSpace);
    EKImage image(3, 1, colorSpace);
    std::copy(samples.begin(), samples.end(), image.frame);
    const std::string path = dir.path("p" + std::to_string(colorSpace) + ".ppm");
    ASSERT_EQ(image.savePPM(path.c_str()), 1);
    Bytes expected = {'P', '6', '\n', '3', ' ', '1', '\n', ' ', '2', '5', '5', '\n'};
    expected.insert(expected.end(), body.begin(), body.end());
    EXPECT_EQ(readBytes(path), expected);
  }
  // Failure codes: opening, then each layout's sample writes and the flush to a full disk.
  const std::tuple<std::function<int()>, int> failures[] = {
      {[&] { return EKImage(2, 2, 0).savePPM(dir.path("no/such/dir.ppm").c_str()); }, -1},
      {[] { return EKImage(2, 2, 0).savePPM("/dev/full"); }, -6},
      {[] { return EKImage(EK::kResolution640x480, 13).savePPM("/dev/full"); }, -3},
      {[] { return EKImage(EK::kResolution640x480, 9).savePPM("/dev/full"); }, -4},
      {[] { return EKImage(EK::kResolution640x480, 0).savePPM("/dev/full"); }, -5},
      {[&] { return EKImage(640, 480, 0, true).savePPM(dir.path("none.ppm").c_str()); }, -7}};
  for (const auto& [save, code] : failures) {
    EXPECT_EQ(save(), code);
  }
}

}  // namespace
