// Opening, checking and closing `.arv` files.
#include <ekvision/ekvideo.h>
#include <ekvision/ekvideoplayback.h>

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "videotestsupport.h"

namespace {

using EK::EKVideo;
using namespace ektest;

class EKVideoOpen : public ::testing::Test {
 protected:
  // A valid file of one 320x240 YUV422 stream and no frames.
  std::string writeEmptyClip(const std::string& name) {
    writeBytes(dir.path(name), arvHeader(kArvVersion1, 0, 0, 1, {{320, 240, 9, 8}}).get());
    return dir.path(name);
  }
  std::string cannotOpen(const std::string& path) {
    return "Can't open file " + path + ". Check its path and presence";
  }
  std::string stopLine(const std::string& name, int frames) {
    return "stop recording " + dir.path(name) + " file (" + std::to_string(frames) + " frames)\n";
  }

  TempDir dir;
  EKVideo video;
};

TEST_F(EKVideoOpen, RecordingWritesTheHeaderAndCloseWritesTheCount) {
  // The name always gets ".arv", even when it has one already.
  ASSERT_TRUE(video.recordVideo(dir.path("clip.arv"), 0, {{320, 240, EK::kColorSpaceYUV422, 8}}));
  EXPECT_EQ(video.filePath, dir.path("clip.arv.arv"));
  video.outputFile.flush();
  const std::vector<std::vector<std::uint32_t>> stream = {{320, 240, 9, 8}};
  EXPECT_EQ(readBytes(dir.path("clip.arv.arv")), arvHeader(kArvVersion1, 0, ~0u, 1, stream).get());
  EXPECT_EQ(closeVideo(video), stopLine("clip.arv.arv", 0));
  EXPECT_EQ(readBytes(dir.path("clip.arv.arv")), arvHeader(kArvVersion1, 0, 0, 1, stream).get());
  EXPECT_FALSE(video.outputFile.is_open());
  // The player takes the name as it is.
  expectVideoError(errorFrom([&] { video.readVideo(dir.path("clip.arv")); }), "readVideo",
                   cannotOpen(dir.path("clip.arv")));
  EXPECT_TRUE(video.readVideo(dir.path("clip.arv.arv")));
}

TEST_F(EKVideoOpen, ReadingTheHeaderFillsTheStreamTable) {
  // A stream count of 0 in a version 0 file means one stream; its records hold no angles.
  writeBytes(dir.path("v0.arv"), arvHeader(kArvVersion0, 0, 3, 0, {{640, 480, 13, 8}})
                                     .recordHeader(501, 4, 1.0f, 2.0f, 3.0f, 4.0f)
                                     .fill(921600 - 25, 0x55)
                                     .get());
  ASSERT_TRUE(video.readVideo(dir.path("v0.arv")));
  EK::EKImage image(EK::kResolution640x480, 13);
  ASSERT_TRUE(video.getFrame(image, 0, 0, true));
  EXPECT_EQ(std::make_tuple(image.timeStamp, image.cameraId, image.frame[921599], image.leftAngle,
                            image.bottomAngle),
            std::make_tuple(501LL, 4, 0x55, 0.4169222f, -0.32097778f));
  ASSERT_EQ(video.streams.size(), 1u);
  const EK::streamProperties& s = video.streams[0];
  EXPECT_EQ(std::make_tuple(video.isReading, video.version, video.streamCount, video.frameCount,
                            video.headerSize, video.frameSize),
            std::make_tuple(true, kArvVersion0, 1u, 3u, 32u, 921600u));
  EXPECT_EQ(std::make_tuple(s.width, s.height, s.resolution, s.colorSpace, s.nbLayers, s.depth,
                            s.dataSize),
            std::make_tuple(640u, 480u, 2u, 13u, 3u, 8u, 921600u));
  EXPECT_EQ(closeVideo(video), "");
  EXPECT_EQ(std::make_tuple(video.isReading, video.inputFile.is_open(), video.frameCount),
            std::make_tuple(false, false, 0u));
}

TEST_F(EKVideoOpen, BadHeadersAreRefusedWithTheFileClosed) {
  const std::vector<std::vector<std::uint32_t>> good = {{320, 240, 9, 8}};
  const std::string shorter = "This arv file is shorter than its header";
  const std::string resolution = "Unsupported resolution";
  const std::pair<std::vector<unsigned char>, std::string> cases[] = {
      {arvHeader(0x41524931u, 0, 0, 1, good).get(), "This arv file version isn't supported"},
      {arvHeader(kArvVersion1, 0, 0, 1, {{1280, 960, 9, 8}}).get(), resolution},
      {arvHeader(kArvVersion1, 0, 0, 1, {{640, 240, 9, 8}}).get(), resolution},
      {arvHeader(kArvVersion1, 0, 0, 2, {{320, 240, 9, 8}, {160, 120, 18, 8}}).get(),
       "invalid color space"},
      {Bytes().u32(kArvVersion1).u32(0).u32(0).get(), shorter},
      {arvHeader(kArvVersion1, 0, 0, 2, good).get(), shorter},
      {arvHeader(kArvVersion1, 0, 0, 0x10000000u, good).get(), shorter},
      {arvHeader(kArvVersion1, 1000, 0, 1, good).fill(999, 0).get(), shorter},
      {arvHeader(kArvVersion1, 0, 0, 9,
                 std::vector<std::vector<std::uint32_t>>(9, {640, 480, 10, 0xFFFFFFFFu}))
           .get(),
       "This arv file's frames are too large"},
  };
  for (const auto& [bytes, message] : cases) {
    SCOPED_TRACE(message + " after " + std::to_string(bytes.size()) + " bytes");
    writeBytes(dir.path("bad.arv"), bytes);
    expectVideoError(errorFrom([&] { video.readVideo(dir.path("bad.arv")); }), "readVideo",
                     message);
    EXPECT_FALSE(video.isReading);
    EXPECT_FALSE(video.inputFile.is_open());
  }
  // Nothing stayed open: the same object reads a good file afterwards.
  EXPECT_TRUE(video.readVideo(writeEmptyClip("good.arv")));
}

// The published rule is the one the player refuses by; readers of pictures add the depth.
TEST_F(EKVideoOpen, PlaybackRuleAtItsLimitsIsThePlayers) {
  int largeWidth = 0;
  int largeHeight = 0;
  EK::setSizeFromResolution(EK::kLargestPlayableResolution, largeWidth, largeHeight);
  int tooWide = 0;
  int tooHigh = 0;
  EK::setSizeFromResolution(EK::kLargestPlayableResolution + 1, tooWide, tooHigh);
  const int lastSpace = EK::kLargestPlayableColorSpace;
  const int depth = EK::kPictureSampleDepth;
  const std::string resolution = "Unsupported resolution";
  const std::string colorSpace = "invalid color space";
  const std::string deep = "only 8-bit streams can be played";
  // header; reason for records; reason for pictures ("" when playable)
  const std::tuple<EK::streamHeader, std::string, std::string> cases[] = {
      {{largeWidth, largeHeight, lastSpace, depth}, "", ""},
      {{160, 120, 0, depth}, "", ""},
      {{160, 120, 0, 2 * depth}, "", deep},
      {{tooWide, tooHigh, 0, depth}, resolution, resolution},
      {{largeWidth, largeHeight / 2, 0, depth}, resolution, resolution},
      {{-160, 120, 0, depth}, resolution, resolution},
      {{160, 120, lastSpace + 1, depth}, colorSpace, colorSpace},
      {{160, 120, -1, depth}, colorSpace, colorSpace},
      {{tooWide, tooHigh, lastSpace + 1, 2 * depth}, resolution, resolution},
  };
  const auto text = [](const char* reason) { return std::string(reason ? reason : ""); };
  for (const auto& [header, records, pictures] : cases) {
    SCOPED_TRACE(std::to_string(header.width) + "x" + std::to_string(header.height) + " " +
                 std::to_string(header.colorSpace) + " " + std::to_string(header.depth));
    EXPECT_EQ(text(EK::unplayableReason(header)), records);
    EXPECT_EQ(text(EK::unplayableReason(header, EK::EKStreamUse::kPictures)), pictures);
    const auto field = [](int value) { return static_cast<std::uint32_t>(value); };
    writeBytes(dir.path("rule.arv"), arvHeader(kArvVersion1, 0, 0, 1,
                                               {{field(header.width), field(header.height),
                                                 field(header.colorSpace), field(header.depth)}})
                                         .get());
    const auto error = errorFrom([&] { video.readVideo(dir.path("rule.arv")); });
    EXPECT_EQ(error ? error->getDescription() : "", records);
    video.closeVideo();
  }
}

TEST_F(EKVideoOpen, RecordingRefusesWhatItCannotWriteAndKeepsAnOpenRecording) {
  const std::string cannotWrite = "Can't open file. Check its path and presence";
  const auto recordError = [&](const std::string& name, unsigned int extra) {
    return errorFrom([&] { video.recordVideo(dir.path(name), extra, {{160, 120, 0, 8}}); });
  };
  // A full disk refuses the header at once; recordVideo appends ".arv" to the name.
  std::filesystem::create_symlink("/dev/full", dir.path("full.arv"));
  const std::tuple<const char*, unsigned int, std::string> refusals[] = {
      {"no/dir/clip", 0, cannotWrite},
      {"big", (1u << 20) + 1, "Extra header too large"},
      {"full", 1u << 20, "Can't write the file header"}};
  for (const auto& [name, extra, message] : refusals) {
    expectVideoError(recordError(name, extra), "recordVideo", message);
  }
  EXPECT_FALSE(std::filesystem::exists(dir.path("big.arv")));
  EXPECT_FALSE(video.outputFile.is_open());
  // The largest extra header is taken; a second open of either kind leaves the first file.
  const std::string first = writeEmptyClip("first.arv");
  ASSERT_TRUE(video.readVideo(first));
  ASSERT_TRUE(video.recordVideo(dir.path("big"), 1u << 20, {{1280, 960, 9, 8}}));
  expectVideoError(errorFrom([&] { video.readVideo(dir.path("big.arv")); }), "readVideo",
                   cannotOpen(dir.path("big.arv")));
  EXPECT_TRUE(video.inputFile.good() && video.isReading);
  expectVideoError(recordError("other", 0), "recordVideo", cannotWrite);
  EXPECT_FALSE(std::filesystem::exists(dir.path("other.arv")));
  EXPECT_EQ(closeVideo(video), stopLine("big.arv", 0));
  EXPECT_FALSE(video.isReading) << "the recording is finished first, then the input closed";
  EXPECT_EQ(std::filesystem::file_size(dir.path("big.arv")), 32u + (1u << 20));
}

TEST_F(EKVideoOpen, CloseCountsCompleteFramesOfAllStreams) {
  ASSERT_TRUE(video.recordVideo(dir.path("two"), 0, {{160, 120, 0, 8}, {160, 120, 9, 8}}));
  std::vector<char> grey(160 * 120, 1), yuv(160 * 120 * 2, 2);
  for (int frame = 0; frame < 3; ++frame) {
    ASSERT_TRUE(video.write(grey.data(), static_cast<int>(grey.size()), frame, 0, 0, 0, 0, 0));
    // The third frame is unfinished: one record of two.
    ASSERT_TRUE(frame == 2 ||
                video.write(yuv.data(), static_cast<int>(yuv.size()), frame, 0, 0, 0, 0, 0));
  }
  EXPECT_EQ(video.frameCount, 5u);
  EXPECT_EQ(closeVideo(video), stopLine("two.arv", 2));
  ASSERT_TRUE(video.readVideo(dir.path("two.arv")));
  EXPECT_EQ(video.frameCount, 2u);
}

}  // namespace
