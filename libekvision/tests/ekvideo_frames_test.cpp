// Appending frame records and reading them back by index, forwards and backwards.
#include <ekvision/ekvideo.h>

#include <gtest/gtest.h>
#include <opencv2/core/types_c.h>
#include <opencv2/core.hpp>

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "videotestsupport.h"

namespace {

using EK::EKImage;
using EK::EKVideo;
using EK::streamHeader;
using ektest::arvHeader;
using ektest::Bytes;
using ektest::recordLength;
using ektest::recordPattern;
using ektest::stampOf;

std::uint32_t floatBits(float value) {
  std::uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

class EKVideoFrames : public ::testing::Test {
 protected:
  std::string record(const std::string& name, unsigned int frames,
                     const std::vector<streamHeader>& headers) {
    return ektest::recordClip(dir.path(name), frames, headers);
  }

  // The image holds record (frame, stream): its header fields and its pixels from byte 25.
  static void expectRecord(const EKImage& image, unsigned int frame, unsigned int stream,
                           std::size_t size) {
    SCOPED_TRACE("frame " + std::to_string(frame) + ", stream " + std::to_string(stream));
    EXPECT_EQ(image.timeStamp, stampOf(frame, stream));
    EXPECT_EQ(image.cameraId, static_cast<char>(stream));
    ASSERT_GE(image.allocatedSize, static_cast<int>(size));
    const std::vector<char> expected = recordPattern(size, frame, stream);
    EXPECT_TRUE(std::equal(expected.begin() + 25, expected.end(),
                           reinterpret_cast<const char*>(image.frame) + 25));
  }

  ektest::TempDir dir;
  EKVideo video;
  const streamHeader yuv320{320, 240, EK::kColorSpaceYUV422, 8};
  const streamHeader grey160{160, 120, 0, 8};
};

TEST_F(EKVideoFrames, BufferWriteRoundTripKeepsEveryField) {
  ASSERT_TRUE(video.recordVideo(dir.path("one"), 0, {yuv320}));
  std::vector<char> buffer = recordPattern(153600, 4, 0);
  ASSERT_TRUE(video.write(buffer.data(), static_cast<int>(buffer.size()), 123456789012LL, -3, 0.1f,
                          0.2f, -0.1f, -0.2f));
  EXPECT_EQ(video.frameCount, 1u);
  testing::internal::CaptureStdout();
  video.closeVideo();
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(std::filesystem::file_size(dir.path("one.arv")), 32u + 153600u);

  ASSERT_TRUE(video.readVideo(dir.path("one.arv")));
  EKImage image(EK::kResolution160x120, 0);
  ASSERT_TRUE(video.getFrame(image, 0, 0, true));
  EXPECT_EQ(image.timeStamp, 123456789012LL);
  EXPECT_EQ(image.cameraId, -3);
  EXPECT_EQ(image.leftAngle, 0.1f);
  EXPECT_EQ(image.topAngle, 0.2f);
  EXPECT_EQ(image.rightAngle, -0.1f);
  EXPECT_EQ(image.bottomAngle, -0.2f);
  EXPECT_TRUE(std::equal(buffer.begin() + 25, buffer.end(),
                         reinterpret_cast<const char*>(image.frame) + 25));
  const std::vector<unsigned char> header =
      Bytes().recordHeader(123456789012LL, 0xFD, 0.1f, 0.2f, -0.1f, -0.2f).get();
  EXPECT_TRUE(std::equal(header.begin(), header.end(), image.frame));
  // The adapt step gave the image the stream's format.
  EXPECT_EQ(image.width, 320);
  EXPECT_EQ(image.height, 240);
  EXPECT_EQ(image.colorSpace, EK::kColorSpaceYUV422);
  EXPECT_EQ(image.nbLayers, 2);
}

TEST_F(EKVideoFrames, BgrAndIplImageWritesStoreTheLibraryConversion) {
  cv::Mat bgr(240, 320, CV_8UC3);
  cv::randu(bgr, cv::Scalar::all(0), cv::Scalar::all(256));
  EKImage converted(0, 0, 0);
  ASSERT_TRUE(converted.computeYUV422imageFromBGR(240, 320, reinterpret_cast<char*>(bgr.data)));

  ASSERT_TRUE(video.recordVideo(dir.path("bgr"), 0, {yuv320}));
  ASSERT_TRUE(
      video.write(240, 320, reinterpret_cast<char*>(bgr.data), 10, 1, 0.1f, 0.2f, -0.1f, -0.2f));
  IplImage ipl = cvIplImage(bgr);
  ASSERT_TRUE(video.write(&ipl, 20, 2, 0.3f, 0.4f, -0.3f, -0.4f));
  testing::internal::CaptureStdout();
  video.closeVideo();
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(std::filesystem::file_size(dir.path("bgr.arv")), 32u + 2u * 153600u);

  ASSERT_TRUE(video.readVideo(dir.path("bgr.arv")));
  EXPECT_EQ(video.frameCount, 2u);
  EKImage image(EK::kResolution320x240, EK::kColorSpaceYUV422);
  for (unsigned int frame = 0; frame < 2; ++frame) {
    ASSERT_TRUE(video.getFrame(image, frame, 0, false));
    EXPECT_EQ(image.timeStamp, 10 * (frame + 1));
    EXPECT_EQ(image.cameraId, static_cast<char>(frame + 1));
    EXPECT_TRUE(std::equal(converted.frame + 25, converted.frame + 153600, image.frame + 25));
  }
  EXPECT_EQ(image.leftAngle, 0.3f);
  EXPECT_EQ(image.bottomAngle, -0.4f);
}

TEST_F(EKVideoFrames, WritesThatCannotMakeARecordAppendNothing) {
  std::vector<char> buffer(153600, 1);
  EXPECT_FALSE(video.write(buffer.data(), 153600, 0, 0, 0, 0, 0, 0));

  ASSERT_TRUE(video.recordVideo(dir.path("w"), 0, {yuv320}));
  EXPECT_FALSE(video.write(buffer.data(), 24, 0, 0, 0, 0, 0, 0));
  EXPECT_FALSE(video.write(buffer.data(), -1, 0, 0, 0, 0, 0, 0));
  EXPECT_FALSE(video.write(nullptr, 153600, 0, 0, 0, 0, 0, 0));
  EXPECT_FALSE(video.write(-240, 320, buffer.data(), 0, 0, 0, 0, 0, 0));
  EXPECT_FALSE(video.write(240, 320, nullptr, 0, 0, 0, 0, 0, 0));
  EXPECT_FALSE(video.write(2, 2, buffer.data(), 0, 0, 0, 0, 0, 0));
  EXPECT_FALSE(video.write(static_cast<IplImage*>(nullptr), 0, 0, 0, 0, 0, 0));
  EXPECT_EQ(video.frameCount, 0u);
  video.outputFile.flush();
  EXPECT_EQ(std::filesystem::file_size(dir.path("w.arv")), 32u);
  // 25 bytes are a record header alone.
  EXPECT_TRUE(video.write(buffer.data(), 25, 0, 0, 0, 0, 0, 0));
  video.outputFile.flush();
  EXPECT_EQ(std::filesystem::file_size(dir.path("w.arv")), 57u);
  testing::internal::CaptureStdout();
  video.closeVideo();
  testing::internal::GetCapturedStdout();

  ASSERT_TRUE(video.readVideo(dir.path("w.arv")));
  EXPECT_FALSE(video.write(buffer.data(), 153600, 0, 0, 0, 0, 0, 0));
  EXPECT_FALSE(video.write(240, 320, buffer.data(), 0, 0, 0, 0, 0, 0));
}

TEST_F(EKVideoFrames, VersionZeroFilesGiveTheDefaultAngles) {
  Bytes file = arvHeader(ektest::kArvVersion0, 0, 2, 1, {{160, 120, 0, 8}});
  for (int frame = 0; frame < 2; ++frame) {
    file.recordHeader(500 + frame, 4, 1.0f, 2.0f, 3.0f, 4.0f).fill(160 * 120 - 25, 0x55);
  }
  ektest::writeBytes(dir.path("v0.arv"), file.get());
  ASSERT_TRUE(video.readVideo(dir.path("v0.arv")));
  EKImage image(EK::kResolution160x120, 0);
  ASSERT_TRUE(video.getFrame(image, 1, 0, true));
  EXPECT_EQ(image.timeStamp, 501);
  EXPECT_EQ(image.cameraId, 4);
  EXPECT_EQ(floatBits(image.leftAngle), 0x3ED576D4u);
  EXPECT_EQ(floatBits(image.topAngle), 0x3EA45733u);
  EXPECT_EQ(floatBits(image.rightAngle), 0xBED576D4u);
  EXPECT_EQ(floatBits(image.bottomAngle), 0xBEA45733u);
  EXPECT_EQ(image.frame[160 * 120 - 1], 0x55);
}

TEST_F(EKVideoFrames, IndexesAreClampedToTheLastFrameAndStream) {
  ASSERT_TRUE(video.readVideo(record("clamp", 4, {grey160, yuv320})));
  EKImage image(EK::kResolution320x240, EK::kColorSpaceYUV422);
  ASSERT_TRUE(video.getFrame(image, 99, 99, true));
  EXPECT_EQ(video.currentFrame, 3u);
  EXPECT_EQ(video.currentStream, 1u);
  expectRecord(image, 3, 1, 153600);

  ASSERT_TRUE(video.goToFrame(4, 1));
  EXPECT_EQ(video.currentFrame, 3u);
  EXPECT_EQ(video.inputFile.tellg(), 48 + 3 * (19200 + 153600) + 19200);
  ASSERT_TRUE(video.goToFrame(1, 5));
  EXPECT_EQ(video.currentStream, 1u);
  EXPECT_EQ(video.inputFile.tellg(), 48 + 1 * (19200 + 153600) + 19200);
}

TEST_F(EKVideoFrames, SteppingForwardsAndBackwards) {
  ASSERT_TRUE(video.readVideo(record("steps", 6, {grey160})));
  EKImage image(EK::kResolution160x120, 0);
  // Right after opening, the input stands at frame 0 while currentFrame is 0: stepping
  // delivers frame 0 with currentFrame 1, and so on up to the one before last.
  for (unsigned int frame = 0; frame < 5; ++frame) {
    ASSERT_TRUE(video.getNextFrame(image, true));
    EXPECT_EQ(video.currentFrame, frame + 1);
    expectRecord(image, frame, 0, 19200);
  }
  EXPECT_FALSE(video.getNextFrame(image, true));
  EXPECT_EQ(video.currentFrame, 5u);

  ASSERT_TRUE(video.getFrame(image, 0, 0, true));
  for (unsigned int frame = 1; frame < 6; ++frame) {
    ASSERT_TRUE(video.getNextFrame(image, true));
    expectRecord(image, frame, 0, 19200);
  }
  EXPECT_FALSE(video.getNextFrame(image, true));
  EXPECT_EQ(video.currentFrame, 5u);

  ASSERT_TRUE(video.getFrame(image, 3, 0, true));
  ASSERT_TRUE(video.getPrecedingFrame(image, true));
  expectRecord(image, 2, 0, 19200);
  ASSERT_TRUE(video.getFrame(image, 3, 0, true));
  ASSERT_TRUE(video.getNextFrame(image, true));
  expectRecord(image, 4, 0, 19200);

  // goToFrame places the input before the frame it selects.
  ASSERT_TRUE(video.goToFrame(2, 0));
  ASSERT_TRUE(video.getNextFrame(image, true));
  expectRecord(image, 2, 0, 19200);
  ASSERT_TRUE(video.goToFrame(2, 0));
  ASSERT_TRUE(video.getPrecedingFrame(image, true));
  expectRecord(image, 1, 0, 19200);
  ASSERT_TRUE(video.getPrecedingFrame(image, true));
  expectRecord(image, 0, 0, 19200);
  EXPECT_FALSE(video.getPrecedingFrame(image, true));
  EXPECT_EQ(video.currentFrame, 0u);
}

TEST_F(EKVideoFrames, SeveralStreamsAreReadAtTheirOwnOffsets) {
  const std::vector<streamHeader> headers = {yuv320, grey160, {640, 480, 0, 8}};
  ASSERT_TRUE(video.readVideo(record("multi", 3, headers)));
  EXPECT_EQ(video.frameSize, 153600u + 19200u + 307200u);
  EKImage image(EK::kResolution160x120, 0);
  for (unsigned int frame = 0; frame < 3; ++frame) {
    for (unsigned int stream = 0; stream < 3; ++stream) {
      ASSERT_TRUE(video.getFrame(image, frame, stream, true));
      expectRecord(image, frame, stream, recordLength(headers[stream]));
    }
  }
  // Stepping stays within the current stream.
  ASSERT_TRUE(video.getFrame(image, 0, 1, true));
  ASSERT_TRUE(video.getNextFrame(image, true));
  expectRecord(image, 1, 1, 19200);
  ASSERT_TRUE(video.getNextFrame(image, true));
  expectRecord(image, 2, 1, 19200);
  EXPECT_FALSE(video.getNextFrame(image, true));
  ASSERT_TRUE(video.getPrecedingFrame(image, true));
  expectRecord(image, 1, 1, 19200);
  // From the start of a record the step is still one frame less this stream's record, so
  // it lands inside another record.
  ASSERT_TRUE(video.goToFrame(1, 2));
  const std::streamoff start = video.inputFile.tellg();
  ASSERT_TRUE(video.getNextFrame(image, true));
  EXPECT_EQ(video.currentFrame, 2u);
  EXPECT_EQ(video.inputFile.tellg(), start + (153600 + 19200) + 307200);
}

TEST_F(EKVideoFrames, RecordsLargerThanTheBufferAreNeverRead) {
  ASSERT_TRUE(video.readVideo(record("big", 3, {yuv320})));
  EKImage small(EK::kResolution160x120, 0);
  EXPECT_FALSE(video.getFrame(small, 1, 0, false));
  EXPECT_EQ(video.currentFrame, 1u);
  EXPECT_FALSE(video.getNextFrame(small, false));
  EXPECT_FALSE(video.getPrecedingFrame(small, false));
  EXPECT_EQ(small.timeStamp, -1);
  EXPECT_TRUE(std::all_of(small.frame, small.frame + small.allocatedSize,
                          [](unsigned char b) { return b == 0; }));

  // An external buffer cannot be adapted; without adapting, a large enough one is filled.
  EKImage external(320, 240, EK::kColorSpaceYUV422, true);
  EXPECT_FALSE(video.getFrame(external, 0, 0, true));
  EXPECT_FALSE(video.getFrame(external, 0, 0, false));
  std::vector<unsigned char> memory(153600);
  external.frame = memory.data();
  EXPECT_FALSE(video.getFrame(external, 0, 0, true));
  EXPECT_FALSE(video.getNextFrame(external, true));
  EXPECT_FALSE(video.getPrecedingFrame(external, true));
  ASSERT_TRUE(video.getFrame(external, 2, 0, false));
  expectRecord(external, 2, 0, 153600);
}

TEST_F(EKVideoFrames, DeepAndTinyRecordsAreRefusedWhateverTheImage) {
  // 160x120, one layer, 16 bits a sample: 38400-byte records; then a stream of depth 0.
  Bytes file = arvHeader(ektest::kArvVersion1, 0, 1, 2, {{160, 120, 0, 16}, {160, 120, 0, 0}});
  file.recordHeader(77, 1, 0, 0, 0, 0).fill(38400 - 25, 9);
  ektest::writeBytes(dir.path("deep.arv"), file.get());
  ASSERT_TRUE(video.readVideo(dir.path("deep.arv")));
  EXPECT_EQ(video.streams[0].dataSize, 38400u);
  EXPECT_EQ(video.streams[1].dataSize, 0u);
  EKImage image(EK::kResolution160x120, 0);
  EXPECT_FALSE(video.getFrame(image, 0, 0, true));
  EXPECT_EQ(image.allocatedSize, 19200);
  EKImage large(EK::kResolution320x240, 0);
  ASSERT_TRUE(video.getFrame(large, 0, 0, false));
  EXPECT_EQ(large.timeStamp, 77);
  EXPECT_EQ(large.frame[38399], 9);
  EXPECT_FALSE(video.getFrame(large, 0, 1, false));
}

TEST_F(EKVideoFrames, NothingIsReadWithoutFramesOrWithoutAFile) {
  EKImage image(EK::kResolution320x240, EK::kColorSpaceYUV422);
  EXPECT_FALSE(video.goToFrame(0, 0));
  EXPECT_FALSE(video.getFrame(image, 0, 0, true));
  EXPECT_FALSE(video.getNextFrame(image, true));
  EXPECT_FALSE(video.getPrecedingFrame(image, true));

  ASSERT_TRUE(video.readVideo(record("empty", 0, {yuv320})));
  EXPECT_EQ(video.frameCount, 0u);
  EXPECT_FALSE(video.goToFrame(0, 0));
  EXPECT_FALSE(video.getFrame(image, 0, 0, true));
  EXPECT_FALSE(video.getNextFrame(image, true));
  EXPECT_FALSE(video.getPrecedingFrame(image, true));
  EXPECT_EQ(video.currentFrame, 0u);
  EXPECT_EQ(image.timeStamp, -1);
}

TEST_F(EKVideoFrames, RecordsCutShortByTheEndOfTheFile) {
  const std::string path = record("cut", 3, {grey160});
  std::filesystem::resize_file(path, 32 + 2 * 19200 + 1000);
  // The header still says 3 frames.
  ASSERT_TRUE(video.readVideo(path));
  EKImage image(EK::kResolution160x120, 0);
  ASSERT_TRUE(video.getFrame(image, 1, 0, true));
  EXPECT_FALSE(video.getFrame(image, 2, 0, true));
  EXPECT_EQ(image.timeStamp, stampOf(1, 0));
  // The input is usable afterwards; stepping onto the cut frame fails the same way.
  ASSERT_TRUE(video.getFrame(image, 0, 0, true));
  expectRecord(image, 0, 0, 19200);
  ASSERT_TRUE(video.getNextFrame(image, true));
  EXPECT_FALSE(video.getNextFrame(image, true));
  EXPECT_EQ(video.currentFrame, 2u);
  // Once the rest of the record is there, reading it again delivers it.
  std::vector<char> whole = recordPattern(19200, 2, 0);
  Bytes header;
  header.recordHeader(stampOf(2, 0), 0, 0.1f, 0.2f, -0.1f, -0.2f);
  std::copy(header.get().begin(), header.get().end(), whole.begin());
  {
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(32 + 2 * 19200);
    file.write(whole.data(), static_cast<std::streamsize>(whole.size()));
  }
  ASSERT_TRUE(video.getFrame(image, 2, 0, true));
  expectRecord(image, 2, 0, 19200);
}

}  // namespace
