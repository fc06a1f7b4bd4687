// ekvision info, convert, export and import, run as a user runs them and checked through the
// pictures and recordings they make. Their refusals are checked with the tool's other messages.
#include <ekvision/ekimage.h>
#include <ekvision/ekvideo.h>

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/videoio.hpp>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "toolrunner.h"

namespace {

using ektest::runTool;

class ToolCommands : public ::testing::Test {
 protected:
  ektest::TempDir dir;
};

TEST_F(ToolCommands, UsageAndHelp) {
  const ektest::ToolRun bare = runTool(dir, {});
  EXPECT_EQ(bare.exitCode, 2);
  EXPECT_EQ(bare.err.rfind("usage: ekvision COMMAND", 0), 0u) << bare.err;
  const ektest::ToolRun help = runTool(dir, {"export", "--help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_EQ(help.out.rfind("usage: ekvision export", 0), 0u) << help.out;
}

// A recording left unclosed, with part of a frame after its last complete one.
TEST_F(ToolCommands, InfoDescribesARecording) {
  const std::string path = ektest::recordClip(
      dir.path("clip"), 3, {{320, 240, 9, 8}, {160, 120, 0, 8}},
      [](unsigned int frame, unsigned int) { return 1000000 + 40000LL * frame; }, 0, false);
  std::filesystem::resize_file(path, std::filesystem::file_size(path) + 100);
  const ektest::ToolRun run = runTool(dir, {"info", path});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.err, "");
  for (const char* line :
       {"  stream 1:   160x120 (resolution 0), color space 0, 1 layer, depth 8, record 19200 "
        "bytes\n",
        "frame size:   172800 bytes\n", "frames:       not closed: the frame count is 0xFFFFFFFF",
        "in the file:  3 complete frames, and 100 bytes of an unfinished frame\n",
        "last stamp:   1080000 us\n", "mean rate:    25.000 frames/s\n"}) {
    EXPECT_NE(run.out.find(line), std::string::npos) << "missing: " << line << run.out;
  }
}

TEST_F(ToolCommands, InfoDescribesAPictureAndRefusesOtherFiles) {
  EK::EKImage image(EK::kResolution320x240, EK::kColorSpaceYUV422);
  image.timeStamp = 1234;
  image.cameraId = 1;
  ASSERT_TRUE(image.writeFile(dir.path("pic.ari").c_str()));
  const ektest::ToolRun run = runTool(dir, {"info", dir.path("pic.ari")});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_NE(run.out.find("size:        320x240\n"), std::string::npos);
  EXPECT_NE(run.out.find("time stamp:  1234 us\n"), std::string::npos);

  ektest::writeBytes(dir.path("bad.arv"),
                     ektest::arvHeader(ektest::kArvVersion1, 0, 0, 1, {{1280, 960, 9, 8}}).get());
  // The recorder writes any header: info describes what it cannot play, and says so.
  const ektest::ToolRun unplayable = runTool(dir, {"info", dir.path("bad.arv")});
  EXPECT_EQ(unplayable.exitCode, 0) << unplayable.err;
  EXPECT_NE(unplayable.out.find("playable:     no (Unsupported resolution)\n"), std::string::npos);
}

TEST_F(ToolCommands, ConvertWritesTheLibraryConversion) {
  EK::EKImage yuv(EK::kResolution320x240, EK::kColorSpaceYUV422);
  std::mt19937 generator(3);
  for (int i = 0; i < yuv.allocatedSize; ++i) {
    yuv.frame[i] = static_cast<unsigned char>(generator());
  }
  ASSERT_TRUE(yuv.writeFile(dir.path("yuv.ari").c_str()));
  cv::Mat expected(240, 320, CV_8UC3);
  ASSERT_TRUE(yuv.computeBGRimageFromYUV422(expected.data));
  for (const char* target : {"out.png", "out.ppm"}) {
    SCOPED_TRACE(target);
    const ektest::ToolRun run = runTool(dir, {"convert", dir.path("yuv.ari"), dir.path(target)});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const cv::Mat written = cv::imread(dir.path(target), cv::IMREAD_UNCHANGED);
    ASSERT_EQ(written.type(), CV_8UC3);
    EXPECT_EQ(cv::norm(written, expected, cv::NORM_INF), 0);
  }
}

// The picture export should write for a frame: the library's conversion of the record, with
// the record header area showing the first stored pixels.
cv::Mat expectedPicture(const std::string& path, unsigned int frame, unsigned int stream) {
  EK::EKVideo video;
  EXPECT_TRUE(video.readVideo(path));
  EK::EKImage image(EK::kResolution160x120, 0);
  EXPECT_TRUE(video.getFrame(image, frame, stream, true));
  if (image.colorSpace == EK::kColorSpaceYUV422) {
    for (int i = 0; i < 28; ++i) {
      image.frame[i] = image.frame[28 + i % 4];
    }
    cv::Mat bgr(image.height, image.width, CV_8UC3);
    EXPECT_TRUE(image.computeBGRimageFromYUV422(bgr.data));
    return bgr;
  }
  for (int i = 0; i < 25; ++i) {
    image.frame[i] = image.frame[25];
  }
  return cv::Mat(image.height, image.width, CV_8UC1, image.frame).clone();
}

TEST_F(ToolCommands, ExportWritesTheLibraryConversionOfTheChosenFrames) {
  // Frames stamped 0, 40000 and 80000 us of a 320x240 YUV422 stream and a grey 160x120 one.
  const std::string clip =
      ektest::recordClip(dir.path("clip"), 3, {{320, 240, 9, 8}, {160, 120, 0, 8}},
                         [](unsigned int frame, unsigned int) { return 40000LL * frame; });
  struct Case {
    std::vector<std::string> options;
    unsigned int stream, first, last;  // the frames written
    std::string summary;
  };
  const Case cases[] = {
      {{}, 0, 0, 2, "exported 3 frames of stream 0 (frames 0 to 2) to "},
      {{"--stream", "1", "--format", "ppm"}, 1, 0, 2, "exported 3 frames of stream 1 "},
      {{"--at", "79999"}, 0, 1, 1, "exported 1 frame of stream 0 (frames 1 to 1)"},
  };
  for (const Case& c : cases) {
    const std::string out = dir.path("out" + std::to_string(&c - cases));
    std::vector<std::string> args = {"export", clip, out};
    args.insert(args.end(), c.options.begin(), c.options.end());
    const ektest::ToolRun run = runTool(dir, args);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out.rfind(c.summary, 0), 0u) << run.out;
    for (unsigned int frame = 0; frame < 3; ++frame) {
      const std::string picture =
          out + "/frame_00000" + std::to_string(frame) + (c.stream == 1 ? ".ppm" : ".png");
      const bool chosen = frame >= c.first && frame <= c.last;
      ASSERT_EQ(std::filesystem::exists(picture), chosen) << picture;
      if (chosen) {
        const cv::Mat written =
            cv::imread(picture, c.stream == 1 ? cv::IMREAD_GRAYSCALE : cv::IMREAD_COLOR);
        EXPECT_EQ(cv::norm(written, expectedPicture(clip, frame, c.stream), cv::NORM_INF), 0);
      }
    }
  }
}

TEST_F(ToolCommands, ImportRecordsEveryFrameWithItsTime) {
  const std::string input = dir.path("input.avi");
  {
    cv::VideoWriter writer(input, cv::VideoWriter::fourcc('M', 'J', 'P', 'G'), 10,
                           cv::Size(64, 48));
    ASSERT_TRUE(writer.isOpened());
    for (int frame = 0; frame < 5; ++frame) {
      writer.write(cv::Mat(48, 64, CV_8UC3, cv::Scalar(40 * frame, 100, 200)));
    }
  }
  const ektest::ToolRun run =
      runTool(dir, {"import", input, dir.path("imported.arv"), "--resolution", "0"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_NE(run.out.find("imported 5 of 5 frames from " + input + " into " + dir.path("imported") +
                         ".arv\ntime stamps: constant rate, 10 frames/s"),
            std::string::npos)
      << run.out;
  EK::EKVideo video;
  ASSERT_TRUE(video.readVideo(dir.path("imported.arv")));
  EXPECT_EQ(video.frameCount, 5u);
  EK::EKImage image(EK::kResolution160x120, EK::kColorSpaceYUV422);
  cv::Mat bgr(120, 160, CV_8UC3);
  for (unsigned int frame = 0; frame < 5; ++frame) {
    ASSERT_TRUE(video.getFrame(image, frame, 0, true));
    EXPECT_EQ(image.timeStamp, 100000LL * frame);
    ASSERT_TRUE(image.computeBGRimageFromYUV422(bgr.data));
    const cv::Vec3b centre = bgr.at<cv::Vec3b>(60, 80);
    // Lossy video and YUV422 round trips: the colour comes back close, not exact.
    EXPECT_NEAR(centre[0], 40 * frame, 12);
    EXPECT_NEAR(centre[1], 100, 12);
    EXPECT_NEAR(centre[2], 200, 12);
  }
}

}  // namespace
