// Opening, checking and closing `.arv` files.
#include <ekvision/ekvideo.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "videotestsupport.h"

namespace {

using EK::EKVideo;
using EK::streamHeader;
using ektest::arvHeader;
using ektest::errorFrom;
using ektest::expectVideoError;
using ektest::kArvVersion0;
using ektest::kArvVersion1;

const std::vector<unsigned char> kClipHeader = {
    0x31, 0x56, 0x52, 0x41, 0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0x01, 0x00, 0x00, 0x00,
    0x40, 0x01, 0x00, 0x00, 0xF0, 0x00, 0x00, 0x00, 0x09, 0x00, 0x00, 0x00, 0x08, 0x00, 0x00, 0x00};

class EKVideoOpen : public ::testing::Test {
 protected:
  // A valid file of one 320x240 YUV422 stream and no frames.
  std::string writeEmptyClip(const std::string& name) {
    const std::string path = dir.path(name);
    ektest::writeBytes(path, arvHeader(kArvVersion1, 0, 0, 1, {{320, 240, 9, 8}}).get());
    return path;
  }
  std::optional<EK::EKError> readError(const std::vector<unsigned char>& bytes) {
    ektest::writeBytes(dir.path("bad.arv"), bytes);
    return errorFrom([&] { video.readVideo(dir.path("bad.arv")); });
  }

  ektest::TempDir dir;
  EKVideo video;
};

TEST_F(EKVideoOpen, RecordingWritesTheHeaderAndCloseWritesTheCount) {
  ASSERT_TRUE(video.recordVideo(dir.path("clip"), 0, {{320, 240, EK::kColorSpaceYUV422, 8}}));
  EXPECT_TRUE(video.isRecording);
  EXPECT_EQ(video.filePath, dir.path("clip.arv"));
  EXPECT_EQ(video.version, kArvVersion1);
  EXPECT_EQ(video.headerSize, 32u);
  EXPECT_EQ(video.streamCount, 1u);
  video.outputFile.flush();
  EXPECT_EQ(ektest::readBytes(dir.path("clip.arv")), kClipHeader);

  testing::internal::CaptureStdout();
  video.closeVideo();
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "stop recording " + dir.path("clip.arv") + " file (0 frames)\n");
  std::vector<unsigned char> closed = kClipHeader;
  closed[8] = closed[9] = closed[10] = closed[11] = 0;
  EXPECT_EQ(ektest::readBytes(dir.path("clip.arv")), closed);
  EXPECT_FALSE(video.isRecording);
  EXPECT_FALSE(video.outputFile.is_open());
}

TEST_F(EKVideoOpen, ReadingTheHeaderFillsTheStreamTable) {
  ASSERT_TRUE(video.readVideo(writeEmptyClip("clip.arv")));
  EXPECT_TRUE(video.isReading);
  EXPECT_EQ(video.streamCount, 1u);
  EXPECT_EQ(video.frameCount, 0u);
  EXPECT_EQ(video.headerSize, 32u);
  EXPECT_EQ(video.frameSize, 153600u);
  ASSERT_EQ(video.streams.size(), 1u);
  const EK::streamProperties& stream = video.streams[0];
  EXPECT_EQ(stream.width, 320u);
  EXPECT_EQ(stream.height, 240u);
  EXPECT_EQ(stream.resolution, 1u);
  EXPECT_EQ(stream.colorSpace, 9u);
  EXPECT_EQ(stream.nbLayers, 2u);
  EXPECT_EQ(stream.depth, 8u);
  EXPECT_EQ(stream.dataSize, 153600u);
  EXPECT_EQ(video.currentFrame, 0u);
  EXPECT_EQ(video.currentStream, 0u);
  EXPECT_EQ(video.inputFile.tellg(), 32);
}

TEST_F(EKVideoOpen, ExtensionIsAlwaysAppendedWhenRecordingAndNeverWhenReading) {
  ASSERT_TRUE(video.recordVideo(dir.path("clip.arv"), 0, {{160, 120, 0, 8}}));
  EXPECT_EQ(video.filePath, dir.path("clip.arv.arv"));
  testing::internal::CaptureStdout();
  video.closeVideo();
  testing::internal::GetCapturedStdout();
  expectVideoError(errorFrom([&] { video.readVideo(dir.path("clip.arv")); }), "readVideo",
                   "Can't open file " + dir.path("clip.arv") + ". Check its path and presence");
  EXPECT_TRUE(video.readVideo(dir.path("clip.arv.arv")));
}

TEST_F(EKVideoOpen, StreamCountZeroAndVersionZeroAreRead) {
  ektest::writeBytes(dir.path("zero.arv"),
                     arvHeader(kArvVersion0, 0, 3, 0, {{640, 480, 13, 8}}).get());
  ASSERT_TRUE(video.readVideo(dir.path("zero.arv")));
  EXPECT_EQ(video.version, kArvVersion0);
  EXPECT_EQ(video.streamCount, 1u);
  EXPECT_EQ(video.frameCount, 3u);
  EXPECT_EQ(video.headerSize, 32u);
  ASSERT_EQ(video.streams.size(), 1u);
  EXPECT_EQ(video.streams[0].resolution, 2u);
  EXPECT_EQ(video.streams[0].nbLayers, 3u);
  EXPECT_EQ(video.frameSize, 640u * 480u * 3u);
}

TEST_F(EKVideoOpen, BadHeadersAreRefusedWithTheFileClosed) {
  struct Case {
    const char* what;
    std::vector<unsigned char> bytes;
    const char* message;
  };
  const std::vector<std::vector<std::uint32_t>> good = {{320, 240, 9, 8}};
  std::vector<unsigned char> cutInFixedHeader = arvHeader(kArvVersion1, 0, 0, 1, good).get();
  cutInFixedHeader.resize(12);
  const std::vector<Case> cases = {
      {"unknown magic", arvHeader(0x41524931u, 0, 0, 1, good).get(),
       "This arv file version isn't supported"},
      {"1280x960", arvHeader(kArvVersion1, 0, 0, 1, {{1280, 960, 9, 8}}).get(),
       "Unsupported resolution"},
      {"640x240", arvHeader(kArvVersion1, 0, 0, 1, {{640, 240, 9, 8}}).get(),
       "Unsupported resolution"},
      {"color space 17", arvHeader(kArvVersion1, 0, 0, 1, {{320, 240, 17, 8}}).get(),
       "invalid color space"},
      {"color space -1", arvHeader(kArvVersion1, 0, 0, 1, {{320, 240, 0xFFFFFFFFu, 8}}).get(),
       "invalid color space"},
      {"second stream bad",
       arvHeader(kArvVersion1, 0, 0, 2, {{320, 240, 9, 8}, {1, 1, 99, 8}}).get(),
       "Unsupported resolution"},
      {"second stream color",
       arvHeader(kArvVersion1, 0, 0, 2, {{320, 240, 9, 8}, {160, 120, 18, 8}}).get(),
       "invalid color space"},
      {"three bytes", {0x31, 0x56, 0x52}, "This arv file is shorter than its header"},
      {"bad magic, short", {0x00, 0x56, 0x52, 0x41, 0x00}, "This arv file version isn't supported"},
      {"cut in fixed header", cutInFixedHeader, "This arv file is shorter than its header"},
      {"cut in stream table", arvHeader(kArvVersion1, 0, 0, 2, good).get(),
       "This arv file is shorter than its header"},
      {"stream count beyond the file", arvHeader(kArvVersion1, 0, 0, 0x10000000u, good).get(),
       "This arv file is shorter than its header"},
      {"extra header beyond the file", arvHeader(kArvVersion1, 1000, 0, 1, good).fill(999, 0).get(),
       "This arv file is shorter than its header"},
      {"frames beyond 4 GiB",
       arvHeader(kArvVersion1, 0, 0, 9,
                 std::vector<std::vector<std::uint32_t>>(9, {640, 480, 10, 0xFFFFFFFFu}))
           .get(),
       "This arv file's frames are too large"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    expectVideoError(readError(c.bytes), "readVideo", c.message);
    EXPECT_FALSE(video.isReading);
    EXPECT_FALSE(video.inputFile.is_open());
  }
  // Nothing stayed open: the same object reads a good file afterwards.
  EXPECT_TRUE(video.readVideo(writeEmptyClip("good.arv")));
}

TEST_F(EKVideoOpen, FieldsReadBeforeAFailedCheckKeepTheirValues) {
  expectVideoError(
      readError(arvHeader(kArvVersion1, 0, 7, 2, {{320, 240, 9, 8}, {640, 480, 77, 8}}).get()),
      "readVideo", "invalid color space");
  EXPECT_EQ(video.frameCount, 7u);
  EXPECT_EQ(video.streamCount, 2u);
  ASSERT_EQ(video.streams.size(), 2u);
  EXPECT_EQ(video.streams[0].dataSize, 153600u);
  EXPECT_EQ(video.streams[1].colorSpace, 77u);
}

TEST_F(EKVideoOpen, MissingFilesAndDirectoriesCannotBeOpened) {
  expectVideoError(errorFrom([&] { video.readVideo(dir.path("absent.arv")); }), "readVideo",
                   "Can't open file " + dir.path("absent.arv") + ". Check its path and presence");
  expectVideoError(errorFrom([&] { video.readVideo(dir.path("")); }), "readVideo",
                   "Can't open file " + dir.path("") + ". Check its path and presence");
  expectVideoError(errorFrom([&] {
                     video.recordVideo(dir.path("no/such/dir/clip"), 0, {{160, 120, 0, 8}});
                   }),
                   "recordVideo", "Can't open file. Check its path and presence");
  EXPECT_FALSE(video.isRecording);
  EXPECT_FALSE(video.isReading);
}

TEST_F(EKVideoOpen, ASecondOpenLeavesTheFirstFileUntouched) {
  const std::string first = writeEmptyClip("first.arv");
  const std::string second = writeEmptyClip("second.arv");
  ASSERT_TRUE(video.readVideo(first));
  expectVideoError(errorFrom([&] { video.readVideo(second); }), "readVideo",
                   "Can't open file " + second + ". Check its path and presence");
  EXPECT_TRUE(video.isReading);
  EXPECT_TRUE(video.inputFile.good());
  EXPECT_EQ(video.filePath, first);
  video.closeVideo();

  EKVideo recorder;
  ASSERT_TRUE(recorder.recordVideo(dir.path("rec"), 0, {{160, 120, 0, 8}}));
  std::vector<char> pixels(160 * 120, 7);
  ASSERT_TRUE(recorder.write(pixels.data(), static_cast<int>(pixels.size()), 1, 0, 0, 0, 0, 0));
  expectVideoError(errorFrom([&] {
                     recorder.recordVideo(dir.path("other"), 0, {{160, 120, 0, 8}});
                   }),
                   "recordVideo", "Can't open file. Check its path and presence");
  EXPECT_FALSE(std::filesystem::exists(dir.path("other.arv")));
  ASSERT_TRUE(recorder.write(pixels.data(), static_cast<int>(pixels.size()), 2, 0, 0, 0, 0, 0));
  testing::internal::CaptureStdout();
  recorder.closeVideo();
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "stop recording " + dir.path("rec.arv") + " file (2 frames)\n");
  ASSERT_TRUE(video.readVideo(dir.path("rec.arv")));
  EXPECT_EQ(video.frameCount, 2u);
}

TEST_F(EKVideoOpen, OneObjectMayReadWhileItRecords) {
  ASSERT_TRUE(video.readVideo(writeEmptyClip("clip.arv")));
  ASSERT_TRUE(video.recordVideo(dir.path("rec"), 0, {{160, 120, 0, 8}}));
  EXPECT_TRUE(video.isReading);
  EXPECT_TRUE(video.isRecording);
  testing::internal::CaptureStdout();
  video.closeVideo();
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "stop recording " + dir.path("rec.arv") + " file (0 frames)\n");
  EXPECT_FALSE(video.isReading) << "the recording is finished first, then the input closed";
  EXPECT_FALSE(video.inputFile.is_open());
}

TEST_F(EKVideoOpen, RecordingWritesHeadersAsTheyStandButBoundsTheExtraHeader) {
  expectVideoError(errorFrom([&] {
                     video.recordVideo(dir.path("clip"), (1u << 20) + 1, {{160, 120, 0, 8}});
                   }),
                   "recordVideo", "Extra header too large");
  EXPECT_FALSE(video.isRecording);
  EXPECT_FALSE(std::filesystem::exists(dir.path("clip.arv")));
  // A stream the player refuses is still recorded as given.
  ASSERT_TRUE(video.recordVideo(dir.path("big"), 1u << 20, {{1280, 960, 9, 8}}));
  testing::internal::CaptureStdout();
  video.closeVideo();
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(std::filesystem::file_size(dir.path("big.arv")), 32u + (1u << 20));
  EKVideo reader;
  expectVideoError(errorFrom([&] { reader.readVideo(dir.path("big.arv")); }), "readVideo",
                   "Unsupported resolution");
}

TEST_F(EKVideoOpen, ARecordingNeverClosedKeepsItsOpenCount) {
  {
    EKVideo recorder;
    ASSERT_TRUE(recorder.recordVideo(dir.path("crash"), 0, {{160, 120, 0, 8}}));
    std::vector<char> pixels(160 * 120, 1);
    ASSERT_TRUE(recorder.write(pixels.data(), static_cast<int>(pixels.size()), 5, 0, 0, 0, 0, 0));
    testing::internal::CaptureStdout();
  }
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  const std::vector<unsigned char> bytes = ektest::readBytes(dir.path("crash.arv"));
  ASSERT_EQ(bytes.size(), 32u + 160u * 120u);
  EXPECT_EQ(std::vector<unsigned char>(bytes.begin() + 8, bytes.begin() + 12),
            std::vector<unsigned char>(4, 0xFF));
  ASSERT_TRUE(video.readVideo(dir.path("crash.arv")));
  EXPECT_EQ(video.frameCount, 4294967295u);
}

TEST_F(EKVideoOpen, CloseCountsCompleteFramesOfAllStreams) {
  ASSERT_TRUE(video.recordVideo(dir.path("two"), 0, {{160, 120, 0, 8}, {160, 120, 9, 8}}));
  std::vector<char> grey(160 * 120, 1);
  std::vector<char> yuv(160 * 120 * 2, 2);
  for (int frame = 0; frame < 2; ++frame) {
    ASSERT_TRUE(video.write(grey.data(), static_cast<int>(grey.size()), frame, 0, 0, 0, 0, 0));
    ASSERT_TRUE(video.write(yuv.data(), static_cast<int>(yuv.size()), frame, 0, 0, 0, 0, 0));
  }
  // An unfinished third frame: one record of two.
  ASSERT_TRUE(video.write(grey.data(), static_cast<int>(grey.size()), 2, 0, 0, 0, 0, 0));
  EXPECT_EQ(video.frameCount, 5u);
  testing::internal::CaptureStdout();
  video.closeVideo();
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "stop recording " + dir.path("two.arv") + " file (2 frames)\n");
  ASSERT_TRUE(video.readVideo(dir.path("two.arv")));
  EXPECT_EQ(video.frameCount, 2u);
}

TEST_F(EKVideoOpen, CloseVideoZeroesCountersInEveryState) {
  testing::internal::CaptureStdout();
  video.currentFrame = 3;
  video.currentStream = 2;
  video.frameCount = 9;
  video.closeVideo();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(video.currentFrame, 0u);
  EXPECT_EQ(video.currentStream, 0u);
  EXPECT_EQ(video.frameCount, 0u);
  EXPECT_EQ(video.streamCount, 0u);

  ASSERT_TRUE(video.readVideo(writeEmptyClip("clip.arv")));
  testing::internal::CaptureStdout();
  video.closeVideo();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_FALSE(video.isReading);
  EXPECT_FALSE(video.inputFile.is_open());
  EXPECT_TRUE(video.readVideo(dir.path("clip.arv")));
}

}  // namespace
