// ekvision export and ekvision import, run in-process and checked through the pictures and
// recordings they make. Their refusals are checked with the tool's other messages.
#include <ekvision/ekimage.h>
#include <ekvision/ekvideo.h>

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/videoio.hpp>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "export.h"
#include "import.h"
#include "toolrunner.h"

namespace {

class ToolExportImport : public ::testing::Test {
 protected:
  // Three frames stamped 0, 40000 and 80000 us of a 320x240 YUV422 stream, a grey 160x120
  // one and an 8-bit three-layer one.
  std::string recordClip() {
    return ektest::recordClip(dir.path("clip"), 3,
                              {{320, 240, 9, 8}, {160, 120, 0, 8}, {160, 120, 10, 8}},
                              [](unsigned int frame, unsigned int) { return 40000LL * frame; });
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

  // Runs @p work with its output collected as the tool's standard output; standard error is
  // no terminal, so no progress bar is drawn.
  template <typename Work>
  std::string printed(Work work) {
    std::ostringstream out;
    std::ostringstream progress;
    ektool::Output output{out, progress, false};
    EXPECT_EQ(work(output), 0);
    EXPECT_EQ(progress.str(), "");
    return out.str();
  }

  ektest::TempDir dir;
};

TEST_F(ToolExportImport, ExportWritesTheLibraryConversionOfTheChosenFrames) {
  const std::string clip = recordClip();
  struct Case {
    ektool::ExportOptions options;
    unsigned int first, last;  // the frames written
    std::string summary;
  };
  const Case cases[] = {
      {{clip, dir.path("all")}, 0, 2, "exported 3 frames of stream 0 (frames 0 to 2) to "},
      {{clip, dir.path("grey"), 1, {}, {}, {}, "ppm"}, 0, 2, "exported 3 frames of stream 1 "},
      {{clip, dir.path("range"), 0, 1, 1}, 1, 1, "exported 1 frame of stream 0 (frames 1 to 1)"},
      {{clip, dir.path("at"), 0, {}, {}, 79999}, 1, 1, "exported 1 frame of stream 0 (frames 1 "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.options.directory);
    const std::string out =
        printed([&](ektool::Output& output) { return ektool::exportFrames(c.options, output); });
    EXPECT_EQ(out.rfind(c.summary, 0), 0u) << out;
    EXPECT_EQ(out.back(), '\n');
    for (unsigned int frame = 0; frame < 3; ++frame) {
      const std::string picture =
          c.options.directory + "/frame_00000" + std::to_string(frame) + "." + c.options.format;
      const bool chosen = frame >= c.first && frame <= c.last;
      ASSERT_EQ(std::filesystem::exists(picture), chosen) << picture;
      if (chosen) {
        const cv::Mat written =
            cv::imread(picture, c.options.stream == 1 ? cv::IMREAD_GRAYSCALE : cv::IMREAD_COLOR);
        EXPECT_EQ(cv::norm(written, expectedPicture(clip, frame, c.options.stream), cv::NORM_INF),
                  0);
      }
    }
  }
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
  const std::string out = printed([&](ektool::Output& output) {
    return ektool::importVideo({input, dir.path("imported.arv"), 0}, output);
  });
  EXPECT_EQ(out.rfind("imported 5 of 5 frames from " + input + " into " + dir.path("imported") +
                          ".arv\ntime stamps: constant rate, 10 frames/s",
                      0),
            0u)
      << out;
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

  printed([&](ektool::Output& output) {
    return ektool::importVideo({input, dir.path("halved"), 2, 5}, output);
  });
  EK::EKVideo fewer;
  ASSERT_TRUE(fewer.readVideo(dir.path("halved.arv")));
  EXPECT_EQ(fewer.frameCount, 3u);
  EXPECT_EQ(fewer.findFrame(399999, 0), 1);
  EXPECT_EQ(fewer.findFrame(400000, 0), 2);
}

}  // namespace
