// The .arv playback source: looping, sizes, color spaces, broken recordings, and several
// threads grabbing at once.
#include <ekvideodevice/ekarvsource.h>

#include <gtest/gtest.h>

#include <memory>
#include <thread>
#include <vector>

#include <ekerror/ekerror.h>
#include <ekvision/ekimage.h>

#include "videotestsupport.h"

namespace {

using EK::EKArvSource;
using EK::EKFrameRequest;
using EK::EKValue;

const int kYuv422 = EK::kColorSpaceYUV422;

EKFrameRequest request(long long frameIndex, int colorSpace = kYuv422) {
  EKFrameRequest r;
  r.subscriberId = "client";
  r.width = 640;  // the recordings are smaller: the source ignores the requested size
  r.height = 480;
  r.colorSpace = colorSpace;
  r.cameraId = 1;
  r.frameIndex = frameIndex;
  r.timeStamp = 5000000 + frameIndex;
  return r;
}

const unsigned char* pixelsOf(const EKValue& value) {
  return static_cast<const unsigned char*>(value[6].GetBinary());
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
  EXPECT_EQ(source.frameCount(), 3u);
  EXPECT_EQ(source.width(), 160);
  EXPECT_EQ(source.height(), 120);
  const std::size_t size = 160 * 120 * 2;
  for (long long index : {0LL, 1LL, 2LL, 3LL, 7LL, 3000000001LL}) {
    const EKValue value = source.grab(request(index));
    std::unique_ptr<EK::EKImage> image(EK::EKImage::fromEKValue(value));
    ASSERT_TRUE(image);
    EXPECT_EQ(image->width, 160) << "the recording's own size, not the one asked";
    EXPECT_EQ(image->height, 120);
    EXPECT_EQ(image->colorSpace, kYuv422);
    EXPECT_EQ(image->timeStamp, 5000000 + index);
    EXPECT_EQ(int(value[7]), 1) << "camera index of the request";
    EXPECT_FLOAT_EQ(image->leftAngle, 0.1f);
    EXPECT_FLOAT_EQ(image->topAngle, 0.2f);
    EXPECT_FLOAT_EQ(image->rightAngle, -0.1f);
    EXPECT_FLOAT_EQ(image->bottomAngle, -0.2f);
    const std::vector<char> pattern = ektest::recordPattern(size, index % 3, 0);
    std::vector<unsigned char> expected(pattern.begin(), pattern.end());
    for (std::size_t i = 0; i < 28; ++i) {
      expected[i] = expected[28 + i % 4];  // the record header is hidden
    }
    const std::vector<unsigned char> pixels(pixelsOf(value), pixelsOf(value) + size);
    EXPECT_TRUE(pixels == expected) << "frame " << index;
  }
}

TEST_F(EKArvSourceTest, MakesOtherColorSpacesFromTheLuma) {
  const std::size_t pixels = 160 * 120;
  {
    EKArvSource yuv(record(kYuv422));
    const EKValue grey = yuv.grab(request(1, 0));
    const EKValue three = yuv.grab(request(1, 13));
    ASSERT_EQ(grey[6].getBinarySize(), static_cast<int>(pixels));
    ASSERT_EQ(three[6].getBinarySize(), static_cast<int>(pixels * 3));
    EXPECT_EQ(int(three[3]), 13);
    for (std::size_t i = 14; i < pixels; ++i) {
      const unsigned char luma = recorded(pixels * 2, 1, 2 * i);
      ASSERT_EQ(pixelsOf(grey)[i], luma) << i;
      for (int layer = 0; layer < 3; ++layer) {
        ASSERT_EQ(pixelsOf(three)[3 * i + layer], luma) << i;
      }
    }
  }
  EKArvSource grey(record(0));
  const EKValue yuv = grey.grab(request(2));
  ASSERT_EQ(yuv[6].getBinarySize(), static_cast<int>(pixels * 2));
  for (std::size_t i = 25; i < pixels; ++i) {
    ASSERT_EQ(pixelsOf(yuv)[2 * i], recorded(pixels, 2, i)) << i;
    ASSERT_EQ(pixelsOf(yuv)[2 * i + 1], 128) << i;
  }
}

TEST_F(EKArvSourceTest, AnUnknownLayoutIsPlayedOnlyInItsOwnColorSpace) {
  EKArvSource source(record(10));
  const EKValue same = source.grab(request(0, 10));
  EXPECT_EQ(same[6].getBinarySize(), 160 * 120 * 3);
  EXPECT_EQ(pixelsOf(same)[100], recorded(160 * 120 * 3, 0, 100));
  try {
    source.grab(request(0, kYuv422));
    FAIL() << "no error for a color space the source cannot make";
  } catch (const EK::EKError& error) {
    EXPECT_EQ(error.getDescription(),
              "cannot make color space 9 from a recording of color space 10");
  }
}

TEST_F(EKArvSourceTest, RefusesRecordingsItCannotPlay) {
  EXPECT_THROW(EKArvSource(dir.path("absent.arv")), EK::EKError);
  auto messageOf = [](const std::string& path) {
    try {
      EKArvSource source(path);
    } catch (const EK::EKError& error) {
      return error.getDescription();
    }
    return std::string("no error");
  };
  const std::string empty = ektest::recordClip(dir.path("empty"), 0, {{160, 120, kYuv422, 8}});
  EXPECT_EQ(messageOf(empty), empty + " holds no complete frame");
  const std::string deep = ektest::recordClip(dir.path("deep"), 1, {{160, 120, 0, 16}});
  EXPECT_EQ(messageOf(deep),
            deep + ": stream 0 has 16-bit samples; only 8-bit streams can be played");
}

TEST_F(EKArvSourceTest, AnUnclosedRecordingPlaysItsCompleteFrames) {
  const std::string path =
      ektest::recordClip(dir.path("crash"), 4, {{160, 120, kYuv422, 8}}, ektest::stampOf, 0, false);
  // Half a frame more, as a crash in the middle of a write leaves it.
  std::vector<unsigned char> bytes = ektest::readBytes(path);
  bytes.resize(bytes.size() + 160 * 120);
  ektest::writeBytes(path, bytes);
  EKArvSource source(path);
  EXPECT_EQ(source.frameCount(), 4u);
  EXPECT_EQ(pixelsOf(source.grab(request(5)))[40], recorded(160 * 120 * 2, 1, 40));
}

// Several threads grab at once; each gets the frame it asked for.
TEST_F(EKArvSourceTest, ThreadsGrabConcurrentlyAndEachGetsItsFrame) {
  EKArvSource source(record(kYuv422, 5));
  const std::size_t size = 160 * 120 * 2;
  std::vector<std::thread> threads;
  std::vector<int> mismatches(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (long long index = t; index < 200; index += 4) {
        const EKValue value = source.grab(request(index, t % 2 == 0 ? kYuv422 : 0));
        const std::size_t step = t % 2 == 0 ? 1 : 2;
        const std::size_t at = t % 2 == 0 ? 1000 : 2000;
        if (pixelsOf(value)[at / step] != recorded(size, static_cast<unsigned>(index % 5), at) ||
            int(value[5]) != static_cast<int>((5000000 + index) % 1000000)) {
          ++mismatches[static_cast<std::size_t>(t)];
        }
      }
    });
  }
  for (std::thread& thread : threads) {
    thread.join();
  }
  EXPECT_EQ(mismatches, std::vector<int>(4, 0));
}

}  // namespace
