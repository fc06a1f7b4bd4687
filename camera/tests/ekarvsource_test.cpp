// The .arv playback source: looping, sizes, color spaces, broken recordings, and several
// threads grabbing at once.
#include <ekvideodevice/ekarvsource.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>
#include <thread>
#include <tuple>
#include <vector>

#include <ekvision/ekimage.h>
#include <ekvision/ekimagevalue.h>

#include "videotestsupport.h"

namespace {

using EK::EKArvSource;
using EK::EKFrameRequest;
using EK::EKValue;

const int kYuv422 = EK::kColorSpaceYUV422;

EKFrameRequest request(long long frameIndex, int colorSpace = kYuv422) {
  // The recordings are smaller: the source ignores the requested size.
  return EKFrameRequest{"client", 640, 480, colorSpace, 1, frameIndex, 5000000 + frameIndex};
}

const unsigned char* pixelsOf(const EKValue& value) {
  return static_cast<const unsigned char*>(value[EK::kImageArrayPixels].GetBinary());
}

class EKArvSourceTest : public testing::Test {
 protected:
  // Three frames of one 160x120 stream, pixels from ektest::recordPattern().
  std::string record(int colorSpace, unsigned int frames = 3) {
    return ektest::recordClip(dir.path("clip"), frames, {{160, 120, colorSpace, 8}});
  }
  // Byte i of the recorded buffer of frame f, bytes 25 on as recorded.
  static unsigned char recorded(std::size_t size, unsigned int frame, std::size_t i) {
    return static_cast<unsigned char>(ektest::recordPattern(size, frame, 0)[i]);
  }

  ektest::TempDir dir;
};

TEST_F(EKArvSourceTest, PlaysTheRecordingInALoopWithTheRequestsStampAndTheRecordedAngles) {
  EKArvSource source(record(kYuv422));
  EXPECT_EQ(std::make_tuple(source.frameCount(), source.width(), source.height()),
            std::make_tuple(3u, 160, 120));
  const std::size_t size = 160 * 120 * 2;
  for (long long index : {0LL, 2LL, 3LL, 3000000001LL}) {
    const EKValue value = source.grab(request(index));
    std::unique_ptr<EK::EKImage> image(EK::EKImage::fromEKValue(value));
    ASSERT_TRUE(image);
    // The recording's own size, the request's stamp and camera, the recorded angles.
    EXPECT_EQ(
        std::make_tuple(image->width, image->height, image->colorSpace, image->timeStamp,
                        int(value[EK::kImageArrayCamera]), image->leftAngle, image->bottomAngle),
        std::make_tuple(160, 120, kYuv422, 5000000 + index, 1, 0.1f, -0.2f));
    const std::vector<char> pattern = ektest::recordPattern(size, index % 3, 0);
    std::vector<unsigned char> expected(pattern.begin(), pattern.end());
    for (std::size_t i = 0; i < 28; ++i) {
      expected[i] = expected[28 + i % 4];  // the record header is hidden
    }
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), pixelsOf(value))) << index;
  }
}

TEST_F(EKArvSourceTest, MakesOtherColorSpacesFromTheLuma) {
  const std::size_t pixels = 160 * 120;
  const EKValue three = EKArvSource(record(kYuv422)).grab(request(1, 13));
  ASSERT_EQ(std::make_tuple(three[EK::kImageArrayPixels].getBinarySize(),
                            int(three[EK::kImageArrayColorSpace])),
            std::make_tuple(static_cast<int>(pixels * 3), 13));
  const EKValue yuv = EKArvSource(record(0)).grab(request(2));
  ASSERT_EQ(yuv[EK::kImageArrayPixels].getBinarySize(), static_cast<int>(pixels * 2));
  for (std::size_t i = 25; i < pixels; ++i) {
    ASSERT_EQ(pixelsOf(three)[3 * i + i % 3], recorded(pixels * 2, 1, 2 * i)) << i;
    ASSERT_EQ(pixelsOf(yuv)[2 * i], recorded(pixels, 2, i)) << i;
    ASSERT_EQ(pixelsOf(yuv)[2 * i + 1], 128) << i;
  }
}

// The record header's bytes repeat the first stored pixel group; a buffer too small to hold
// that group is left alone.
TEST_F(EKArvSourceTest, ConcealingTheRecordHeaderRepeatsTheFirstStoredPixels) {
  EK::EKImage image(16, 2, kYuv422);
  for (int i = 0; i < image.allocatedSize; ++i) {
    image.frame[i] = static_cast<unsigned char>(i);
  }
  EKArvSource::concealRecordHeader(image);
  for (int i = 0; i < image.allocatedSize; ++i) {
    ASSERT_EQ(image.frame[i], i < 28 ? 28 + i % 4 : i) << i;
  }
  EK::EKImage tiny(4, 2, kYuv422);
  std::fill(tiny.frame, tiny.frame + tiny.allocatedSize, 7);
  EKArvSource::concealRecordHeader(tiny);
  EXPECT_TRUE(std::all_of(tiny.frame, tiny.frame + tiny.allocatedSize,
                          [](unsigned char byte) { return byte == 7; }));
}

TEST_F(EKArvSourceTest, RefusesWhatItCannotPlay) {
  EKArvSource source(record(10));  // an unknown layout plays in its own color space only
  EXPECT_EQ(pixelsOf(source.grab(request(0, 10)))[100], recorded(160 * 120 * 3, 0, 100));
  const auto messageOf = [](const std::function<void()>& action) {
    const auto error = ektest::errorFrom(action);
    return error ? error->getDescription() : "no error";
  };
  EXPECT_EQ(messageOf([&] { source.grab(request(0, kYuv422)); }),
            "cannot make color space 9 from a recording of color space 10");
  const std::string empty = ektest::recordClip(dir.path("empty"), 0, {{160, 120, kYuv422, 8}});
  EXPECT_EQ(messageOf([&] { EKArvSource{empty}; }), empty + " holds no complete frame");
  const std::string deep = ektest::recordClip(dir.path("deep"), 1, {{160, 120, 0, 16}});
  EXPECT_EQ(messageOf([&] { EKArvSource{deep}; }),
            deep + ": stream 0 has 16-bit samples; only 8-bit streams can be played");
}

TEST_F(EKArvSourceTest, AnUnclosedRecordingPlaysItsCompleteFrames) {
  const std::string path =
      ektest::recordClip(dir.path("crash"), 4, {{160, 120, kYuv422, 8}}, ektest::stampOf, 0, false);
  // Half a frame more, as a crash in the middle of a write leaves it.
  std::filesystem::resize_file(path, std::filesystem::file_size(path) + 160 * 120);
  EKArvSource source(path);
  EXPECT_EQ(source.frameCount(), 4u);
  EXPECT_EQ(pixelsOf(source.grab(request(5)))[40], recorded(160 * 120 * 2, 1, 40));
}

// Several threads grab at once, in both color spaces; each gets the frame it asked for.
TEST_F(EKArvSourceTest, ThreadsGrabConcurrentlyAndEachGetsItsFrame) {
  EKArvSource source(record(kYuv422, 5));
  std::vector<int> mismatches(4, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (long long index = t; index < 200; index += 4) {
        const EKValue value = source.grab(request(index, t % 2 == 0 ? kYuv422 : 0));
        const auto frame = static_cast<unsigned>(index % 5);
        mismatches[t] += pixelsOf(value)[1000] != recorded(38400, frame, t % 2 ? 2000 : 1000) ||
                         int(value[EK::kImageArrayMicroseconds]) != (5000000 + index) % 1000000;
      }
    });
  }
  for (std::thread& thread : threads) {
    thread.join();
  }
  EXPECT_EQ(mismatches, std::vector<int>(4, 0));
}

}  // namespace
