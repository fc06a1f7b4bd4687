// The MP4 export in process: boxes of a detections log drawn into the frame of their stamp.
#include <gtest/gtest.h>
#include <opencv2/videoio.hpp>

#include <fstream>
#include <string>
#include <vector>

#include "detectionlog.h"
#include "hosttest.h"
#include "mp4export.h"
#include "videotestsupport.h"

namespace {

std::vector<cv::Mat> decodedFrames(const std::string& path) {
  cv::VideoCapture video(path, cv::CAP_FFMPEG);
  EXPECT_TRUE(video.isOpened()) << path;
  std::vector<cv::Mat> frames;
  for (cv::Mat frame; video.read(frame);) {
    frames.push_back(frame.clone());
  }
  return frames;
}

TEST(Mp4Export, BoxesAreDrawnIntoTheFrameOfTheirStampOnly) {
  ektest::TempDir dir;
  ektest::Collector told;
  const std::string clip =
      ektest::recordClip(dir.path("clip"), 4, {{160, 120, 9, 8}},
                         [](unsigned int f, unsigned int) { return 70001LL * f; });
  EK::EKDetection box;
  box.found = true;
  box.timeStamp = 140002;  // frame 2
  box.x = 40;
  box.y = 30;
  box.w = 60;
  box.h = 40;
  EK::EKDetection between = box;
  // No frame has this stamp: drawn into frame 1, the latest before it, it would break the
  // equality of frame 1 below.
  between.timeStamp = 140001;
  between.x = 10;
  {
    std::ofstream log(dir.path("d.jsonl"));
    log << ekhost::detectionJson(box) << "\n"
        << ekhost::detectionJson(between) << "\n{\"summary\":{\"frames\":4}}\n";
  }
  ekhost::Mp4ExportOptions options;
  options.recording = clip;
  options.crf = 0;  // lossless: a frame without boxes decodes alike in both exports
  options.output = dir.path("plain.mp4");
  EXPECT_EQ(ekhost::exportMp4(options, told).boxedFrames, 0u);
  options.output = dir.path("boxed.mp4");
  options.detections = dir.path("d.jsonl");
  const ekhost::Mp4ExportReport report = ekhost::exportMp4(options, told);
  EXPECT_EQ(report.frames, 4u);
  EXPECT_EQ(report.boxedFrames, 1u);

  const std::vector<cv::Mat> plain = decodedFrames(dir.path("plain.mp4"));
  const std::vector<cv::Mat> boxed = decodedFrames(dir.path("boxed.mp4"));
  ASSERT_EQ(plain.size(), 4u);
  ASSERT_EQ(boxed.size(), 4u);
  for (int frame = 0; frame < 4; ++frame) {
    SCOPED_TRACE("frame " + std::to_string(frame));
    const cv::Vec3b edge = boxed[frame].at<cv::Vec3b>(50, 40);
    const cv::Vec3b was = plain[frame].at<cv::Vec3b>(50, 40);
    if (frame == 2) {
      EXPECT_GT(edge[1], 200);
      EXPECT_LT(edge[2], 60);
      EXPECT_GT(cv::norm(boxed[frame], plain[frame], cv::NORM_INF), 100);
    } else {
      EXPECT_EQ(edge, was);
      EXPECT_EQ(cv::norm(boxed[frame], plain[frame], cv::NORM_INF), 0);
    }
  }
}

}  // namespace
