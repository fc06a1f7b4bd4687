// ekvision export and ekvision import, checked through the pictures and recordings they make.
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

class ToolExportImport : public ::testing::Test {
 protected:
  // Three 320x240 YUV422 frames of random pixels stamped 0, 40000 and 80000 us, plus a grey
  // 160x120 stream and an 8-bit three-layer one.
  std::string recordRandomClip() {
    EK::EKVideo video;
    EXPECT_TRUE(video.recordVideo(dir.path("clip"), 0,
                                  {{320, 240, 9, 8}, {160, 120, 0, 8}, {160, 120, 10, 8}}));
    std::mt19937 generator(11);
    for (int frame = 0; frame < 3; ++frame) {
      for (int size : {320 * 240 * 2, 160 * 120, 160 * 120 * 3}) {
        std::vector<char> pixels(static_cast<std::size_t>(size));
        for (char& byte : pixels) {
          byte = static_cast<char>(generator());
        }
        EXPECT_TRUE(video.write(pixels.data(), size, 40000LL * frame, 0, 0, 0, 0, 0));
      }
    }
    testing::internal::CaptureStdout();
    video.closeVideo();
    testing::internal::GetCapturedStdout();
    return dir.path("clip.arv");
  }

  // The picture the tool should write for a frame: the library's conversion of the record,
  // with the record header area showing the first stored pixels.
  static cv::Mat expectedPicture(const std::string& path, unsigned int frame, unsigned int stream) {
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

  ektest::TempDir dir;
};

TEST_F(ToolExportImport, ExportWritesTheLibraryConversionOfEveryFrame) {
  const std::string clip = recordRandomClip();
  const ektest::ToolRun run = runTool(dir, {"export", clip, dir.path("png")});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.err, "") << "no progress bar when standard error is not a terminal";
  EXPECT_EQ(run.out, "exported 3 frames of stream 0 (frames 0 to 2) to " + dir.path("png") + "\n");
  for (unsigned int frame = 0; frame < 3; ++frame) {
    const cv::Mat written =
        cv::imread(dir.path("png/frame_00000" + std::to_string(frame) + ".png"));
    ASSERT_FALSE(written.empty());
    EXPECT_EQ(cv::norm(written, expectedPicture(clip, frame, 0), cv::NORM_INF), 0);
  }

  const ektest::ToolRun grey =
      runTool(dir, {"export", clip, dir.path("grey"), "--stream", "1", "--format", "ppm"});
  ASSERT_EQ(grey.exitCode, 0) << grey.err;
  const cv::Mat greyPicture = cv::imread(dir.path("grey/frame_000002.ppm"), cv::IMREAD_GRAYSCALE);
  ASSERT_FALSE(greyPicture.empty());
  EXPECT_EQ(cv::norm(greyPicture, expectedPicture(clip, 2, 1), cv::NORM_INF), 0);
}

TEST_F(ToolExportImport, ExportSelectsFramesByIndexOrTime) {
  const std::string clip = recordRandomClip();
  ASSERT_EQ(runTool(dir, {"export", clip, dir.path("range"), "--from", "1", "--to", "1"}).exitCode,
            0);
  EXPECT_TRUE(std::filesystem::exists(dir.path("range/frame_000001.png")));
  EXPECT_FALSE(std::filesystem::exists(dir.path("range/frame_000000.png")));
  EXPECT_FALSE(std::filesystem::exists(dir.path("range/frame_000002.png")));

  const ektest::ToolRun at = runTool(dir, {"export", clip, dir.path("at"), "--at", "79999"});
  ASSERT_EQ(at.exitCode, 0) << at.err;
  EXPECT_EQ(at.out, "exported 1 frame of stream 0 (frames 1 to 1) to " + dir.path("at") + "\n");
  EXPECT_TRUE(std::filesystem::exists(dir.path("at/frame_000001.png")));
}

TEST_F(ToolExportImport, ExportRefusesWhatItCannotDo) {
  const std::string clip = recordRandomClip();
  struct Case {
    std::vector<std::string> options;
    int exitCode;
    std::string message;
  };
  const std::vector<Case> cases = {
      {{"--at", "-1"}, 1, "no frame of stream 0 was recorded at or before -1 us"},
      {{"--to", "3"}, 1, "--to 3 is past the last complete frame, 2"},
      {{"--from", "2", "--to", "1"}, 1, "--from 2 is after --to 1"},
      {{"--stream", "3"}, 1, clip + " has 3 stream(s): there is no stream 3"},
      {{"--stream", "2"},
       1,
       "stream 2 has color space 10, which has no known pixel layout: only YUV422 (9) and "
       "one-layer color spaces can be exported"},
      {{"--at", "5", "--from", "0"},
       2,
       "--at selects one frame: it cannot be combined with --from or --to (see ekvision export "
       "--help)"},
      {{"--format", "gif"},
       2,
       "--format must be png or ppm, not 'gif' (see ekvision export --help)"},
      {{"--from", "one"},
       2,
       "--from must be a whole number, not 'one' (see ekvision export --help)"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"export", clip, dir.path("out")};
    args.insert(args.end(), c.options.begin(), c.options.end());
    const ektest::ToolRun run = runTool(dir, args);
    EXPECT_EQ(run.exitCode, c.exitCode) << c.message;
    EXPECT_EQ(run.err, "ekvision export: " + c.message + "\n");
  }
  EXPECT_FALSE(std::filesystem::exists(dir.path("out/frame_000000.png")));
}

TEST_F(ToolExportImport, ImportRecordsEveryFrameWithItsTime) {
  const std::string input = dir.path("input.avi");
  {
    cv::VideoWriter writer(input, cv::VideoWriter::fourcc('M', 'J', 'P', 'G'), 10,
                           cv::Size(64, 48));
    if (!writer.isOpened()) {
      GTEST_SKIP() << "OpenCV cannot write an MJPEG AVI here";
    }
    for (int frame = 0; frame < 5; ++frame) {
      writer.write(cv::Mat(48, 64, CV_8UC3, cv::Scalar(40 * frame, 100, 200)));
    }
  }
  const ektest::ToolRun run =
      runTool(dir, {"import", input, dir.path("imported.arv"), "--resolution", "0"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_NE(run.out.find("imported 5 of 5 frames from " + input + " into " + dir.path("imported") +
                         ".arv\n"),
            std::string::npos);
  EK::EKVideo video;
  ASSERT_TRUE(video.readVideo(dir.path("imported.arv")));
  EXPECT_EQ(video.frameCount, 5u);
  EXPECT_EQ(video.streams[0].width, 160u);
  EXPECT_EQ(video.streams[0].colorSpace, 9u);
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

  const ektest::ToolRun halved = runTool(dir, {"import", input, dir.path("halved"), "--fps", "5"});
  ASSERT_EQ(halved.exitCode, 0) << halved.err;
  EK::EKVideo fewer;
  ASSERT_TRUE(fewer.readVideo(dir.path("halved.arv")));
  EXPECT_EQ(fewer.frameCount, 3u);
  EXPECT_EQ(fewer.findFrame(399999, 0), 1);
  EXPECT_EQ(fewer.findFrame(400000, 0), 2);
}

TEST_F(ToolExportImport, ImportRefusesWhatItCannotRead) {
  ektest::writeBytes(dir.path("noise.avi"), std::vector<unsigned char>(1000, 0x42));
  const ektest::ToolRun run = runTool(dir, {"import", dir.path("noise.avi"), dir.path("x")});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_TRUE(ektest::isOneLine(run.err)) << run.err;
  EXPECT_FALSE(std::filesystem::exists(dir.path("x.arv")));
  const ektest::ToolRun large =
      runTool(dir, {"import", dir.path("noise.avi"), dir.path("x"), "--resolution", "3"});
  EXPECT_EQ(large.exitCode, 2);
  EXPECT_EQ(large.err,
            "ekvision import: --resolution must be between 0 and 2, not 3 (see ekvision import "
            "--help)\n");
}

}  // namespace
