// Appending frame records and reading them back by index, forwards and backwards.
#include <ekvision/ekvideo.h>
#include <ekvision/ekvideorecord.h>

#include <gtest/gtest.h>
#include <opencv2/core/types_c.h>
#include <opencv2/core.hpp>

#include <algorithm>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "videotestsupport.h"

namespace {

using namespace EK;
using namespace ektest;

auto angles(const EKImage& image) {
  return std::make_tuple(image.leftAngle, image.topAngle, image.rightAngle, image.bottomAngle);
}

class EKVideoFrames : public ::testing::Test {
 protected:
  std::string record(const std::string& name, unsigned int frames, std::vector<streamHeader> h) {
    return recordClip(dir.path(name), frames, h);
  }
  TempDir dir;
  EKVideo video;
  const streamHeader yuv320{320, 240, EK::kColorSpaceYUV422, 8};
  const streamHeader grey160{160, 120, 0, 8};
};

// The ekvision tool's import writes BGR pictures; the IplImage overload goes the same way.
TEST_F(EKVideoFrames, WritesOfEveryKindRoundTripEveryField) {
  cv::Mat bgr(240, 320, CV_8UC3);
  cv::randu(bgr, cv::Scalar::all(0), cv::Scalar::all(256));
  EKImage converted(0, 0, 0);
  ASSERT_TRUE(converted.computeYUV422imageFromBGR(240, 320, reinterpret_cast<char*>(bgr.data)));
  std::vector<char> buffer = recordPattern(153600, 4, 0);
  ASSERT_TRUE(video.recordVideo(dir.path("one"), 0, {yuv320}));
  ASSERT_TRUE(video.write(buffer.data(), 153600, 123456789012LL, -3, 0.1f, 0.2f, -0.1f, -0.2f));
  IplImage ipl = cvIplImage(bgr);
  ASSERT_TRUE(video.write(&ipl, 20, 2, 0.3f, 0.4f, -0.3f, -0.4f));
  closeVideo(video);
  ASSERT_TRUE(video.readVideo(dir.path("one.arv")));
  EKImage image(EK::kResolution160x120, 0);
  ASSERT_TRUE(video.getFrame(image, 0, 0, true));
  EXPECT_EQ(std::make_tuple(image.timeStamp, image.cameraId, angles(image)),
            std::make_tuple(123456789012LL, -3, std::make_tuple(0.1f, 0.2f, -0.1f, -0.2f)));
  EXPECT_TRUE(std::equal(buffer.begin() + 25, buffer.end(),
                         reinterpret_cast<const char*>(image.frame) + 25));
  // The adapt step gave the image the stream's format.
  EXPECT_EQ(std::make_tuple(image.width, image.height, image.colorSpace, image.nbLayers),
            std::make_tuple(320, 240, EK::kColorSpaceYUV422, 2));
  ASSERT_TRUE(video.getFrame(image, 1, 0, false));
  EXPECT_EQ(std::make_tuple(image.timeStamp, image.cameraId, angles(image)),
            std::make_tuple(20LL, 2, std::make_tuple(0.3f, 0.4f, -0.3f, -0.4f)));
  EXPECT_TRUE(std::equal(converted.frame + 25, converted.frame + 153600, image.frame + 25));
}

// The published codec reads and writes record headers exactly as the recorder lays them
// out, for readers that take records from the file themselves.
TEST_F(EKVideoFrames, RecordHeaderCodecMatchesTheBytesTheRecorderWrites) {
  std::vector<char> buffer = recordPattern(38400, 0, 0);
  ASSERT_TRUE(video.recordVideo(dir.path("codec"), 0, {grey160}));
  ASSERT_TRUE(video.write(buffer.data(), 38400, -123456789012LL, -3, 0.1f, 0.2f, -0.1f, -0.2f));
  closeVideo(video);
  const std::vector<unsigned char> file = readBytes(dir.path("codec.arv"));
  const std::size_t firstRecord = 32;
  ASSERT_GE(file.size(), firstRecord + kVideoRecordHeaderSize);
  const std::vector<unsigned char> stored(file.begin() + firstRecord,
                                          file.begin() + firstRecord + kVideoRecordHeaderSize);
  EXPECT_EQ(stored, Bytes().recordHeader(-123456789012LL, 0xFD, 0.1f, 0.2f, -0.1f, -0.2f).get());
  const EKRecordHeader header = decodeRecordHeader(stored.data());
  EXPECT_EQ(std::make_tuple(header.timeStamp, header.cameraId, header.leftAngle, header.topAngle,
                            header.rightAngle, header.bottomAngle),
            std::make_tuple(-123456789012LL, -3, 0.1f, 0.2f, -0.1f, -0.2f));
  std::vector<unsigned char> encoded(kVideoRecordHeaderSize + 1, 0xEE);
  encodeRecordHeader(header, encoded.data());
  EXPECT_EQ(std::vector<unsigned char>(encoded.begin(), encoded.end() - 1), stored);
  EXPECT_EQ(encoded.back(), 0xEE) << "wrote past the header";
}

TEST_F(EKVideoFrames, WritesThatCannotMakeARecordAppendNothing) {
  std::vector<char> buffer(153600, 1);
  char* data = buffer.data();
  EXPECT_FALSE(video.write(data, 153600, 0, 0, 0, 0, 0, 0)) << "not recording";
  EXPECT_FALSE(video.write(240, 320, data, 0, 0, 0, 0, 0, 0)) << "not recording";
  ASSERT_TRUE(video.recordVideo(dir.path("w"), 0, {yuv320}));
  EXPECT_FALSE(video.write(data, 24, 0, 0, 0, 0, 0, 0));
  EXPECT_FALSE(video.write(nullptr, 153600, 0, 0, 0, 0, 0, 0));
  EXPECT_FALSE(video.write(-240, 320, data, 0, 0, 0, 0, 0, 0));
  EXPECT_FALSE(video.write(2, 2, data, 0, 0, 0, 0, 0, 0));
  EXPECT_FALSE(video.write(static_cast<IplImage*>(nullptr), 0, 0, 0, 0, 0, 0));
  video.outputFile.flush();
  EXPECT_EQ(std::filesystem::file_size(dir.path("w.arv")), 32u);
  // 25 bytes are a record header alone.
  EXPECT_TRUE(video.write(data, 25, 0, 0, 0, 0, 0, 0));
  video.outputFile.flush();
  EXPECT_EQ(std::filesystem::file_size(dir.path("w.arv")), 57u);
}

TEST_F(EKVideoFrames, SteppingForwardsAndBackwardsInOneStream) {
  ASSERT_TRUE(video.readVideo(record("steps", 6, {grey160})));
  EKImage image(EK::kResolution160x120, 0);
  // 'n'ext, 'p'receding, 'g'etFrame(at), 't' goToFrame(at); the frame delivered (-1: none) and
  // currentFrame after. After opening or goToFrame, the next step delivers the current frame.
  const struct {
    char op;
    unsigned int at;
    int delivered;
    unsigned int current;
  } steps[] = {{'n', 0, 0, 1},  {'n', 0, 1, 2},  {'g', 4, 4, 4}, {'n', 0, 5, 5},
               {'n', 0, -1, 5}, {'g', 3, 3, 3},  {'p', 0, 2, 2}, {'t', 2, -1, 2},
               {'n', 0, 2, 3},  {'t', 1, -1, 1}, {'p', 0, 0, 0}, {'p', 0, -1, 0}};
  for (const auto& step : steps) {
    SCOPED_TRACE(std::string(1, step.op) + std::to_string(step.at));
    const bool ok = step.op == 'n'   ? video.getNextFrame(image, true)
                    : step.op == 'p' ? video.getPrecedingFrame(image, true)
                    : step.op == 'g' ? video.getFrame(image, step.at, 0, true)
                                     : video.goToFrame(step.at, 0);
    EXPECT_EQ(ok, step.delivered >= 0 || step.op == 't');
    EXPECT_EQ(video.currentFrame, step.current);
    if (step.delivered >= 0) {
      expectRecord(image, static_cast<unsigned>(step.delivered), 0, 19200);
    }
  }
}

TEST_F(EKVideoFrames, SeveralStreamsAreReadAtTheirOwnOffsetsAndIndexesAreClamped) {
  const std::vector<streamHeader> headers = {yuv320, grey160, {640, 480, 0, 8}};
  ASSERT_TRUE(video.readVideo(record("multi", 3, headers)));
  const std::streamoff frame = 153600 + 19200 + 307200, header = 16 + 3 * 16;
  EXPECT_EQ(video.frameSize, static_cast<unsigned>(frame));
  EKImage image(EK::kResolution160x120, 0);
  for (unsigned int f = 0; f < 3; ++f) {
    for (unsigned int s = 0; s < 3; ++s) {
      ASSERT_TRUE(video.getFrame(image, f, s, true));
      expectRecord(image, f, s, recordLength(headers[s]));
    }
  }
  // Indexes one past the end are clamped to the last frame and stream.
  ASSERT_TRUE(video.getFrame(image, 3, 3, true));
  EXPECT_EQ(std::make_tuple(video.currentFrame, video.currentStream), std::make_tuple(2u, 2u));
  expectRecord(image, 2, 2, 307200);
  ASSERT_TRUE(video.goToFrame(1, 1));
  EXPECT_EQ(video.inputFile.tellg(), header + frame + 153600);
  ASSERT_TRUE(video.getFrame(image, 0, 1, true));
  ASSERT_TRUE(video.getNextFrame(image, true));  // stepping stays within the current stream
  expectRecord(image, 1, 1, 19200);
  // From the start of a record the step is still one frame less this stream's record, so
  // it lands inside another record.
  ASSERT_TRUE(video.goToFrame(1, 2));
  ASSERT_TRUE(video.getNextFrame(image, true));
  EXPECT_EQ(video.currentFrame, 2u);
  EXPECT_EQ(video.inputFile.tellg(), header + 2 * frame + 153600 + 19200);
}

TEST_F(EKVideoFrames, RecordsLargerThanTheBufferOrShorterThanTheirHeaderAreNeverRead) {
  ASSERT_TRUE(video.readVideo(record("big", 3, {yuv320})));
  EKImage small(EK::kResolution160x120, 0);
  EXPECT_FALSE(video.getFrame(small, 1, 0, false));
  EXPECT_EQ(std::make_tuple(video.currentFrame, small.timeStamp, small.frame[19199]),
            std::make_tuple(1u, -1LL, 0));
  // An external buffer cannot be adapted; without adapting, a large enough one is filled.
  EKImage external(320, 240, EK::kColorSpaceYUV422, true);
  std::vector<unsigned char> memory(153600);
  external.frame = memory.data();
  EXPECT_FALSE(video.getFrame(external, 0, 0, true));
  ASSERT_TRUE(video.getFrame(external, 2, 0, false));
  expectRecord(external, 2, 0, 153600);

  // 16 bits a sample: 38400-byte records; then a stream of depth 0, whose records are empty.
  Bytes file = arvHeader(kArvVersion1, 0, 1, 2, {{160, 120, 0, 16}, {160, 120, 0, 0}});
  file.recordHeader(77, 1, 0, 0, 0, 0).fill(38400 - 25, 9);
  writeBytes(dir.path("deep.arv"), file.get());
  closeVideo(video);
  ASSERT_TRUE(video.readVideo(dir.path("deep.arv")));
  EXPECT_EQ(std::make_tuple(video.streams[0].dataSize, video.streams[1].dataSize),
            std::make_tuple(38400u, 0u));
  EKImage large(EK::kResolution320x240, 0);
  ASSERT_TRUE(video.getFrame(large, 0, 0, false));
  EXPECT_EQ(std::make_tuple(large.timeStamp, large.frame[38399]), std::make_tuple(77LL, 9));
  EXPECT_FALSE(video.getFrame(large, 0, 1, false));
}

TEST_F(EKVideoFrames, NothingIsReadWithoutFramesOrPastTheEndOfTheFile) {
  EKImage image(EK::kResolution160x120, 0);
  for (bool open : {false, true}) {
    ASSERT_TRUE(!open || video.readVideo(record("empty", 0, {grey160})));
    EXPECT_FALSE(video.goToFrame(0, 0) || video.getFrame(image, 0, 0, true) ||
                 video.getNextFrame(image, true) || video.getPrecedingFrame(image, true));
    EXPECT_EQ(std::make_tuple(video.currentFrame, image.timeStamp), std::make_tuple(0u, -1LL));
  }
  // A record cut short by the end of the file, though the header still says 3 frames; the
  // input is usable afterwards, and once the rest is there the record is delivered.
  const std::string path = record("cut", 3, {grey160});
  std::filesystem::resize_file(path, 32 + 2 * 19200 + 1000);
  closeVideo(video);
  ASSERT_TRUE(video.readVideo(path));
  ASSERT_TRUE(video.getFrame(image, 1, 0, true));
  EXPECT_FALSE(video.getNextFrame(image, true));
  EXPECT_EQ(image.timeStamp, stampOf(1, 0));
  ASSERT_TRUE(video.getFrame(image, 0, 0, true));
  std::filesystem::resize_file(path, 32 + 3 * 19200);
  ASSERT_TRUE(video.getFrame(image, 2, 0, true));
  EXPECT_EQ(image.timeStamp, stampOf(2, 0));
}

}  // namespace
