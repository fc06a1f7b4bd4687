// The import, export and record engines in process, on clips made with FFmpeg, recordings
// made with the library and live GStreamer pipelines.
#include <ekvision/ekimage.h>
#include <ekvision/ekvideo.h>
#include <ekvision/ekvideoinspection.h>
#include <ekvision/ekvideorecord.h>

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/videoio.hpp>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "export.h"
#include "hosttest.h"
#include "import.h"
#include "record.h"
#include "videotestsupport.h"
#include "videotimestamps.h"

namespace {

std::vector<long long> recordedStamps(const std::string& path) {
  EK::EKVideo video;
  EXPECT_TRUE(video.readVideo(path));
  std::vector<long long> stamps;
  EK::EKImage image(static_cast<int>(video.streams[0].width),
                    static_cast<int>(video.streams[0].height), EK::kColorSpaceYUV422);
  for (unsigned int frame = 0; frame < video.frameCount; ++frame) {
    EXPECT_TRUE(video.getFrame(image, frame, 0, true));
    stamps.push_back(image.timeStamp);
  }
  return stamps;
}

class HostMedia : public ::testing::Test {
 protected:
  ektest::TempDir dir;
  ektest::Collector told;
};

TEST_F(HostMedia, ImportRecordsEveryFrameWithItsTimeAndThinsToTheRateAsked) {
  const std::string input = dir.path("input.avi");
  {
    cv::VideoWriter writer(input, cv::VideoWriter::fourcc('M', 'J', 'P', 'G'), 10,
                           cv::Size(64, 48));
    ASSERT_TRUE(writer.isOpened());
    for (int frame = 0; frame < 5; ++frame) {
      writer.write(cv::Mat(48, 64, CV_8UC3, cv::Scalar(40 * frame, 100, 200)));
    }
  }
  ekhost::ImportOptions options;
  options.input = input;
  options.output = dir.path("imported.arv");
  options.resolution = EK::kResolution160x120;
  const ekhost::ImportReport report = ekhost::importVideo(options, told);
  ASSERT_TRUE(report.status.ok()) << report.status.message();
  EXPECT_EQ(report.imported, 5u);
  EXPECT_EQ(report.read, 5u);
  EXPECT_EQ(report.path, dir.path("imported.arv"));
  EXPECT_TRUE(report.constantRate);
  EXPECT_EQ(report.rateNum, 10 * report.rateDen);
  EK::EKVideo video;
  ASSERT_TRUE(video.readVideo(report.path));
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
  options.fps = 5;
  options.output = dir.path("thinned");
  EXPECT_EQ(ekhost::importVideo(options, told).imported, 3u) << "frames 0, 2 and 4";
  EXPECT_EQ(recordedStamps(dir.path("thinned.arv")), (std::vector<long long>{0, 200000, 400000}));

  // Onto the video itself, through a link named as a recording.
  std::filesystem::create_symlink(input, dir.path("link.arv"));
  options.output = dir.path("link.arv");
  options.resolution = EK::kResolution160x120;
  EXPECT_THROW(ekhost::importVideo(options, told), ekhost::HostError);
  EXPECT_TRUE(std::filesystem::file_size(input) > 1000) << "the video is whole";

  options.resolution = EK::kResolution1280x960;
  try {
    ekhost::importVideo(options, told);
    ADD_FAILURE() << "a size that cannot be played back was recorded";
  } catch (const ekhost::HostError& error) {
    EXPECT_EQ(error.status().cause(), EK::EKCause::kInvalidArgument) << error.what();
  }
}

TEST_F(HostMedia, AVariableRateClipKeepsItsPresentationTimesFromTheStartGiven) {
  // Frames 5 to 9 dropped from a 30 frames/s camera.
  const std::string clip = dir.path("dropped.mp4");
  ektest::makeClip(clip,
                   "testsrc=size=64x48:rate=30 -vf 'select=not(between(n\\,5\\,9))' -frames:v 20 "
                   "-fps_mode passthrough -c:v libx264",
                   "");
  ekhost::ImportOptions options;
  options.input = clip;
  options.output = dir.path("out.arv");
  options.resolution = EK::kResolution160x120;
  options.start = ekhost::parseStartTime("1:00.5");
  const ekhost::ImportReport report = ekhost::importVideo(options, told);
  ASSERT_TRUE(report.status.ok()) << report.status.message();
  EXPECT_FALSE(report.constantRate);
  const std::vector<long long> stamps = recordedStamps(dir.path("out.arv"));
  ASSERT_EQ(stamps.size(), 20u);
  EXPECT_EQ(stamps[0], 60500000);
  for (std::size_t i = 0; i < stamps.size(); ++i) {  // frame i was camera frame i or i + 5
    EXPECT_NEAR(stamps[i] - 60500000, (i < 5 ? i : i + 5) * 1e6 / 30, 1000) << i;
  }
}

TEST_F(HostMedia, ACutClipOrAFrameTheDecoderRefusesFailsTheImportKeepingTheRest) {
  const std::string clip = dir.path("broken.avi");
  ektest::makeClip(clip, "testsrc=size=64x48:rate=10", "-frames:v 10 -c:v mjpeg");
  std::vector<unsigned char> bytes = ektest::readBytes(clip);
  ektest::writeBytes(dir.path("cut.avi"),
                     std::vector<unsigned char>(bytes.begin(), bytes.begin() + bytes.size() / 2));
  ekhost::ImportOptions options;
  options.input = dir.path("cut.avi");
  options.output = dir.path("cut.arv");
  const ekhost::ImportReport cut = ekhost::importVideo(options, told);
  const std::size_t kept = recordedStamps(dir.path("cut.arv")).size();
  ASSERT_GT(kept, 0u);
  EXPECT_EQ(cut.imported, kept);
  EXPECT_EQ(cut.status.cause(), EK::EKCause::kBadFormat);
  EXPECT_EQ(cut.status.message(), dir.path("cut.avi") + " ends after " + std::to_string(kept) +
                                      " of the 10 frames its header announces (cut short?); " +
                                      dir.path("cut") + ".arv holds the " + std::to_string(kept) +
                                      " frames read");

  // Wipe the sixth picture: from its start-of-image marker to just before the next one.
  std::vector<std::size_t> starts;
  for (std::size_t i = 0; i + 1 < bytes.size(); ++i) {
    if (bytes[i] == 0xFF && bytes[i + 1] == 0xD8) {
      starts.push_back(i);
    }
  }
  ASSERT_EQ(starts.size(), 10u);
  std::fill(bytes.begin() + static_cast<long>(starts[5]),
            bytes.begin() + static_cast<long>(starts[6] - 8), 0);
  ektest::writeBytes(clip, bytes);
  options.input = clip;
  options.output = dir.path("out.arv");
  const ekhost::ImportReport wiped = ekhost::importVideo(options, told);
  EXPECT_EQ(wiped.status.message(), "1 frame of " + clip + " could not be decoded; " +
                                        dir.path("out") + ".arv holds the 9 others");
  EXPECT_EQ(
      recordedStamps(dir.path("out.arv")),
      (std::vector<long long>{0, 100000, 200000, 300000, 400000, 600000, 700000, 800000, 900000}));
}

// The picture export should write for a frame: the library's conversion of the record, with
// the record header area showing the first stored pixels.
cv::Mat expectedPicture(const std::string& path, unsigned int frame, unsigned int stream) {
  EK::EKVideo video;
  EXPECT_TRUE(video.readVideo(path));
  EK::EKImage image(EK::kResolution160x120, 0);
  EXPECT_TRUE(video.getFrame(image, frame, stream, true));
  if (image.colorSpace == EK::kColorSpaceYUV422) {
    // The header is covered by whole pixel pairs: 28 bytes of 4-byte groups.
    for (int i = 0; i < 28; ++i) {
      image.frame[i] = image.frame[28 + i % 4];
    }
    cv::Mat bgr(image.height, image.width, CV_8UC3);
    EXPECT_TRUE(image.computeBGRimageFromYUV422(bgr.data));
    return bgr;
  }
  for (int i = 0; i < EK::kVideoRecordHeaderSize; ++i) {
    image.frame[i] = image.frame[EK::kVideoRecordHeaderSize];
  }
  return cv::Mat(image.height, image.width, CV_8UC1, image.frame).clone();
}

TEST_F(HostMedia, ExportWritesTheLibraryConversionOfTheChosenFrames) {
  // Frames stamped 0, 40000 and 80000 us of a 320x240 YUV422 stream and a grey 160x120 one.
  const std::string clip =
      ektest::recordClip(dir.path("clip"), 3, {{320, 240, 9, 8}, {160, 120, 0, 8}},
                         [](unsigned int frame, unsigned int) { return 40000LL * frame; });
  struct Case {
    std::uint32_t stream;
    std::optional<long long> from, to, at;
    std::string format;
    long long first, last;  // the frames written
  };
  const Case cases[] = {
      {0, {}, {}, {}, "png", 0, 2},
      {1, {}, {}, {}, "ppm", 0, 2},
      {0, {}, {}, 79999, "png", 1, 1},
      {1, 1, 2, {}, "png", 1, 2},
  };
  for (const Case& c : cases) {
    ekhost::ExportOptions options;
    options.recording = clip;
    options.directory = dir.path("out" + std::to_string(&c - cases));
    options.stream = c.stream;
    options.from = c.from;
    options.to = c.to;
    options.at = c.at;
    options.format = c.format;
    const ekhost::ExportReport report = ekhost::exportFrames(options, told);
    EXPECT_EQ(report.count, static_cast<std::uint64_t>(c.last - c.first + 1));
    EXPECT_EQ(report.from, c.first);
    EXPECT_EQ(report.to, c.last);
    for (unsigned int frame = 0; frame < 3; ++frame) {
      const std::string picture =
          options.directory + "/frame_00000" + std::to_string(frame) + "." + c.format;
      const bool chosen = frame >= c.first && frame <= c.last;
      ASSERT_EQ(std::filesystem::exists(picture), chosen) << picture;
      if (chosen) {
        const cv::Mat written =
            cv::imread(picture, c.stream == 1 ? cv::IMREAD_GRAYSCALE : cv::IMREAD_COLOR);
        EXPECT_EQ(cv::norm(written, expectedPicture(clip, frame, c.stream), cv::NORM_INF), 0);
      }
    }
  }
  // A recording in the folder, named as a picture would be, is not overwritten.
  std::filesystem::create_directory(dir.path("pictures"));
  std::filesystem::copy_file(clip, dir.path("pictures/frame_000002.png"));
  ekhost::ExportOptions onto;
  onto.recording = dir.path("pictures/frame_000002.png");
  onto.directory = dir.path("pictures");
  EXPECT_THROW(ekhost::exportFrames(onto, told), ekhost::HostError);
  EXPECT_EQ(ektest::readBytes(onto.recording), ektest::readBytes(clip));

  ekhost::ExportOptions past;
  past.recording = clip;
  past.directory = dir.path("past");
  past.to = 3;
  EXPECT_THROW(ekhost::exportFrames(past, told), ekhost::HostError);
  EXPECT_FALSE(std::filesystem::exists(dir.path("past/frame_000000.png")));
}

std::string ballPipeline(int width, int height, int rate) {
  return "gst:videotestsrc is-live=true pattern=ball ! video/x-raw,format=YUY2,width=" +
         std::to_string(width) + ",height=" + std::to_string(height) +
         ",framerate=" + std::to_string(rate) + "/1";
}

TEST_F(HostMedia, RecordOfALivePipelineKeepsEveryFrameOrTheRateAsked) {
  ekhost::RecordOptions options;
  options.spec = ballPipeline(320, 240, 30);
  options.out = dir.path("live.arv");
  options.frames = 20;
  options.resolution = EK::kResolution320x240;
  const ekhost::RecordReport report = ekhost::recordCamera(options, told);
  ASSERT_TRUE(report.status.ok()) << report.status.message();
  EXPECT_EQ(report.recorded, 20);
  EXPECT_EQ(told.notes.at(1), "recording to " + dir.path("live.arv"));
  const std::vector<long long> stamps = recordedStamps(dir.path("live.arv"));
  ASSERT_EQ(stamps.size(), 20u);
  for (std::size_t i = 1; i < stamps.size(); ++i) {
    const long long interval = stamps[i] - stamps[i - 1];
    EXPECT_GT(interval, 15000) << "frame " << i << ": 30 frames/s, none twice";
    EXPECT_LT(interval, 70000) << "frame " << i << ": 30 frames/s, none missed";
  }
  // Thinned to 10 frames a second: a third of a second apart, with a camera's jitter.
  options.out = dir.path("thinned");
  options.fps = 10;
  options.frames = 5;
  ASSERT_TRUE(ekhost::recordCamera(options, told).status.ok());
  const std::vector<long long> thinned = recordedStamps(dir.path("thinned.arv"));
  ASSERT_EQ(thinned.size(), 5u);
  for (std::size_t i = 1; i < thinned.size(); ++i) {
    EXPECT_NEAR(thinned[i] - thinned[i - 1], 100000, 20000) << "frame " << i;
  }

  options.spec = dir.path("live.arv");
  try {
    ekhost::recordCamera(options, told);
    ADD_FAILURE() << "a recording was recorded again";
  } catch (const ekhost::HostError& error) {
    EXPECT_EQ(error.status().cause(), EK::EKCause::kInvalidArgument);
  }
  EXPECT_EQ(EK::inspectVideo(dir.path("live.arv")).storedFrameCount, 20u) << "left intact";
}

}  // namespace
