// ekvision run --every-frame: a recording played offline hands the module every frame once,
// in order, with its recorded time stamp, and the run ends at the last frame.
#include <ekvideodevice/eksyntheticsource.h>
#include <ekvision/ekvideo.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "toolrunner.h"

namespace {

using ektest::runTool;

class EveryFrame : public ::testing::Test {
 protected:
  // @p frames of the synthetic scene at 320x240, 1/15 s apart from 1 s on; the recording is
  // left unclosed (as after a crash) when @p close is false.
  std::vector<long long> record(const std::string& name, int frames, bool close) {
    std::vector<long long> stamps;
    auto video = std::make_unique<EK::EKVideo>();
    EXPECT_TRUE(video->recordVideo(dir.path(name), 0, {{320, 240, EK::kColorSpaceYUV422, 8}}));
    for (int i = 0; i < frames; ++i) {
      EK::EKFrameRequest request{
          "test", 320, 240, EK::kColorSpaceYUV422, 0, i, 1000000 + i * 66667};
      EK::EKValue value = scene.grab(request);
      auto* pixels = static_cast<char*>(const_cast<void*>(value[6].GetBinary()));
      EXPECT_TRUE(
          video->write(pixels, 320 * 240 * 2, request.timeStamp, 0, 0.4f, 0.3f, -0.4f, -0.3f));
      stamps.push_back(request.timeStamp);
    }
    testing::internal::CaptureStdout();
    if (close) {
      video->closeVideo();
    }
    video.reset();
    testing::internal::GetCapturedStdout();
    return stamps;
  }

  ektest::TempDir dir;
  EK::EKSyntheticSource scene{0};
};

using ektest::detectionsIn;
using ektest::PrintedDetection;

TEST_F(EveryFrame, EveryRecordedFrameReachesTheModuleOnceInOrderWithItsOwnStamp) {
  const std::vector<long long> stamps = record("clip", 40, true);
  const ektest::ToolRun run =
      runTool(dir, {"run", "--camera", dir.path("clip.arv"), "--every-frame"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_NE(run.out.find("frames:      40 processed, every frame once"), std::string::npos)
      << run.out;
  // The detector primes on frame 0 and then boxes the rectangle's move into every frame.
  const std::vector<PrintedDetection> found = detectionsIn(run.out);
  ASSERT_EQ(found.size(), 39u) << run.out;
  for (std::size_t k = 1; k < stamps.size(); ++k) {
    EXPECT_EQ(found[k - 1].timeStamp, stamps[k]) << "detection " << k;
    const EK::EKPixelRect before =
        EK::EKSyntheticSource::toPixels(scene.objectAt(stamps[k - 1]), 320, 240);
    const EK::EKPixelRect now =
        EK::EKSyntheticSource::toPixels(scene.objectAt(stamps[k]), 320, 240);
    const int left = std::min(before.x, now.x);
    const int top = std::min(before.y, now.y);
    EXPECT_EQ(found[k - 1].x, left) << "frame " << k;
    EXPECT_EQ(found[k - 1].y, top) << "frame " << k;
    EXPECT_EQ(found[k - 1].w, std::max(before.x + before.w, now.x + now.w) - left);
    EXPECT_EQ(found[k - 1].h, std::max(before.y + before.h, now.y + now.h) - top);
  }
}

TEST_F(EveryFrame, LimitsAndUnclosedRecordingsEndTheRunEarly) {
  record("clip", 12, true);
  record("crashed", 7, false);
  struct Case {
    std::vector<std::string> args;
    const char* processed;
  } cases[] = {
      {{"--camera", dir.path("clip.arv"), "--frames", "5"}, "frames:      5 processed"},
      {{"--camera", dir.path("crashed.arv")}, "frames:      7 processed"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"run", "--every-frame"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const ektest::ToolRun run = runTool(dir, args);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find(c.processed), std::string::npos) << run.out;
  }
}

TEST_F(EveryFrame, WithoutARecordingOrWithAPacedOutputItIsRefused) {
  record("clip", 3, true);
  const std::vector<std::string> refused[] = {
      {"run", "--every-frame"},
      {"run", "--every-frame", "--camera", dir.path("clip.arv"), "--record", dir.path("o.arv")},
  };
  for (const auto& args : refused) {
    const ektest::ToolRun run = runTool(dir, args);
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_NE(run.err.find("--every-frame needs --camera FILE.arv"), std::string::npos) << run.err;
    EXPECT_EQ(run.out.find("frames:"), std::string::npos);
  }
  const ektest::ToolRun missing =
      runTool(dir, {"run", "--every-frame", "--camera", dir.path("none.arv")});
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_TRUE(ektest::isOneLine(missing.err)) << missing.err;
}

}  // namespace
