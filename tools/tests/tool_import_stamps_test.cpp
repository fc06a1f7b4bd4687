// ekvision import's time stamps on a clip made with FFmpeg, and its failures on damaged clips.
#include <ekvision/ekimage.h>
#include <ekvision/ekvideo.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "toolrunner.h"

namespace {

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

TEST(ToolImportStamps, AVariableRateClipKeepsItsPresentationTimesFromTheStartGiven) {
  ektest::TempDir dir;
  // Frames 5 to 9 dropped from a 30 frames/s camera.
  const std::string clip = dir.path("dropped.mp4");
  ektest::makeClip(clip,
                   "testsrc=size=64x48:rate=30 -vf 'select=not(between(n\\,5\\,9))' -frames:v 20 "
                   "-fps_mode passthrough -c:v libx264",
                   "");
  const ektest::ToolRun run = ektest::runTool(
      dir, {"import", clip, dir.path("out.arv"), "--resolution", "0", "--start", "1:00.5"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_NE(run.out.find("variable rate"), std::string::npos) << run.out;
  const std::vector<long long> stamps = importedStamps(dir.path("out.arv"));
  ASSERT_EQ(stamps.size(), 20u);
  EXPECT_EQ(stamps[0], 60500000);
  for (std::size_t i = 0; i < stamps.size(); ++i) {  // frame i was camera frame i or i + 5
    EXPECT_NEAR(stamps[i] - 60500000, (i < 5 ? i : i + 5) * 1e6 / 30, 1000) << i;
  }
}

TEST(ToolImportStamps, ACutClipOrAFrameTheDecoderRefusesFailsTheCommandKeepingTheRest) {
  ektest::TempDir dir;
  const std::string clip = dir.path("broken.avi");
  ektest::makeClip(clip, "testsrc=size=64x48:rate=10", "-frames:v 10 -c:v mjpeg");
  std::vector<unsigned char> bytes = ektest::readBytes(clip);
  ektest::writeBytes(dir.path("cut.avi"),
                     std::vector<unsigned char>(bytes.begin(), bytes.begin() + bytes.size() / 2));
  const ektest::ToolRun cut =
      ektest::runTool(dir, {"import", dir.path("cut.avi"), dir.path("cut.arv")});
  EXPECT_EQ(cut.exitCode, 1);
  const std::size_t kept = importedStamps(dir.path("cut.arv")).size();
  ASSERT_GT(kept, 0u);
  EXPECT_EQ(cut.err, "ekvision import: " + dir.path("cut.avi") + " ends after " +
                         std::to_string(kept) + " of the 10 frames its header announces " +
                         "(cut short?); " + dir.path("cut") + ".arv holds the " +
                         std::to_string(kept) + " frames read\n");

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
  const ektest::ToolRun run = ektest::runTool(dir, {"import", clip, dir.path("out.arv")});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.err, "ekvision import: 1 frame of " + clip + " could not be decoded; " +
                         dir.path("out") + ".arv holds the 9 others\n");
  EXPECT_EQ(
      importedStamps(dir.path("out.arv")),
      (std::vector<long long>{0, 100000, 200000, 300000, 400000, 600000, 700000, 800000, 900000}));
}

}  // namespace
