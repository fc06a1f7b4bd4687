// ekvision import's time stamps, on clips made with FFmpeg and checked against the
// presentation times ffprobe reads from the same files.
#include <ekvision/ekimage.h>
#include <ekvision/ekvideo.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "toolrunner.h"
#include "videotimestamps.h"

namespace {

using ektool::Ratio;

// Presentation times of the video frames of @p clip in seconds, display order, by ffprobe.
std::vector<double> probedTimes(const ektest::TempDir& dir, const std::string& clip) {
  const std::string list = dir.path("times.txt");
  const std::string command =
      "ffprobe -v error -select_streams v:0 -show_entries frame=pts_time "
      "-of default=noprint_wrappers=1:nokey=1 " +
      ektest::shellQuoted(clip) + " >" + ektest::shellQuoted(list);
  EXPECT_EQ(std::system(command.c_str()), 0) << command;
  std::istringstream in(ektest::fileText(list));
  std::vector<double> times;
  for (double time = 0; in >> time;) {
    times.push_back(time);
  }
  return times;
}

std::vector<long long> importedStamps(const std::string& path) {
  EK::EKVideo video;
  EXPECT_TRUE(video.readVideo(path));
  std::vector<long long> stamps;
  EK::EKImage image(EK::kResolution160x120, EK::kColorSpaceYUV422);
  for (unsigned int frame = 0; frame < video.frameCount; ++frame) {
    EXPECT_TRUE(video.getFrame(image, frame, 0, true));
    stamps.push_back(image.timeStamp);
  }
  return stamps;
}

TEST(ToolImportStamps, EveryFrameGetsTheContainersPresentationTime) {
  struct Clip {
    const char* name;
    const char* encoding;  // the test source's rate and ffmpeg's options
    bool constant;
    Ratio rate;
  };
  const Clip clips[] = {
      {"ntsc.avi", "24000/1001 -frames:v 24 -c:v mpeg4", true, {24000, 1001}},
      {"thirty.avi", "30 -frames:v 20 -c:v mjpeg", true, {30, 1}},
      {"ntsc.mp4", "24000/1001 -frames:v 24 -c:v libx264 -bf 0", true, {24000, 1001}},
      {"thirty.mp4", "30 -frames:v 20 -c:v mpeg4", true, {30, 1}},
      {"bframes.mp4", "30 -frames:v 30 -c:v libx264 -bf 3", true, {30, 1}},
      // Irregular intervals of 20 to 52 ms on a millisecond clock.
      {"variable.mp4",
       "30 -vf 'settb=1/1000,setpts=N*33+mod(N*N\\,17)' -frames:v 30 -fps_mode passthrough "
       "-enc_time_base 1/1000 -c:v libx264 -bf 2",
       false,
       {}},
      // Frames 5 to 9 dropped from a 30 frames/s camera.
      {"dropped.mp4",
       "30 -vf 'select=not(between(n\\,5\\,9))' -frames:v 20 -fps_mode passthrough -c:v libx264",
       false,
       {}},
  };
  ektest::TempDir dir;
  for (const Clip& clip : clips) {
    SCOPED_TRACE(clip.name);
    const std::string path = dir.path(clip.name);
    ektest::makeClip(path, std::string("testsrc=size=64x48:rate=") + clip.encoding, "");
    const std::vector<double> truth = probedTimes(dir, path);
    const ektest::ToolRun run =
        ektest::runTool(dir, {"import", path, dir.path("out.arv"), "--resolution", "0"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find(clip.constant ? "time stamps: constant rate" : "variable rate"),
              std::string::npos)
        << run.out;
    const std::vector<long long> stamps = importedStamps(dir.path("out.arv"));
    ASSERT_EQ(stamps.size(), truth.size());
    ASSERT_FALSE(stamps.empty());
    EXPECT_EQ(stamps[0], 0);
    for (std::size_t i = 0; i < stamps.size(); ++i) {
      EXPECT_NEAR(static_cast<double>(stamps[i]), (truth[i] - truth[0]) * 1e6, 1000) << i;
      if (i > 0) {
        EXPECT_GT(stamps[i], stamps[i - 1]) << i;
      }
      if (clip.constant) {
        EXPECT_EQ(stamps[i],
                  std::llround(1e6 * static_cast<double>(i) * static_cast<double>(clip.rate.den) /
                               static_cast<double>(clip.rate.num)))
            << i;
      }
    }
  }
  // The same constant-rate clip from another first stamp.
  const ektest::ToolRun later = ektest::runTool(
      dir, {"import", dir.path("ntsc.avi"), dir.path("later.arv"), "--start", "1:00.5"});
  ASSERT_EQ(later.exitCode, 0) << later.err;
  const std::vector<long long> stamps = importedStamps(dir.path("later.arv"));
  ASSERT_EQ(stamps.size(), 24u);
  EXPECT_EQ(stamps[0], 60500000);
  EXPECT_EQ(stamps[23], 60500000 + 959292);  // 23 * 1001/24000 s
  // The same file cut short: what it holds is imported, and the command fails, naming it.
  std::vector<unsigned char> bytes = ektest::readBytes(dir.path("ntsc.avi"));
  bytes.resize(bytes.size() / 2);
  ektest::writeBytes(dir.path("cut.avi"), bytes);
  const ektest::ToolRun cut =
      ektest::runTool(dir, {"import", dir.path("cut.avi"), dir.path("cut2.arv")});
  EXPECT_EQ(cut.exitCode, 1);
  const std::vector<long long> kept = importedStamps(dir.path("cut2.arv"));
  ASSERT_FALSE(kept.empty());
  EXPECT_LT(kept.size(), 24u);
  EXPECT_EQ(cut.err, "ekvision import: " + dir.path("cut.avi") + " ends after " +
                         std::to_string(kept.size()) + " of the 24 frames its header announces " +
                         "(cut short?); " + dir.path("cut2") + ".arv holds the " +
                         std::to_string(kept.size()) + " frames read\n");
}

TEST(ToolImportStamps, AFrameTheDecoderRefusesLeavesAGapAndFailsTheCommand) {
  ektest::TempDir dir;
  const std::string clip = dir.path("broken.avi");
  ektest::makeClip(clip, "testsrc=size=64x48:rate=10", "-frames:v 10 -c:v mjpeg");
  // Wipe the sixth picture: from its start-of-image marker to just before the next one.
  std::vector<unsigned char> bytes = ektest::readBytes(clip);
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
  const ektest::ToolRun run = ektest::runTool(dir, {"import", clip, dir.path("out.arv")});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.err, "ekvision import: 1 frame of " + clip + " could not be decoded; " +
                         dir.path("out") + ".arv holds the 9 others\n");
  const std::vector<long long> stamps = importedStamps(dir.path("out.arv"));
  EXPECT_EQ(stamps, (std::vector<long long>{0, 100000, 200000, 300000, 400000, 600000, 700000,
                                            800000, 900000}));
}

}  // namespace
