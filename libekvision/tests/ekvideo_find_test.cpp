// Finding a frame by its time stamp.
#include <ekvision/ekvideo.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "videotestsupport.h"

namespace {

using EK::EKImage;
using EK::EKVideo;

class EKVideoFind : public ::testing::Test {
 protected:
  // A one-stream clip whose frame f is stamped stamps[f].
  std::string clip(const std::string& name, const std::vector<long long>& stamps) {
    return ektest::recordClip(dir.path(name), static_cast<unsigned int>(stamps.size()), {grey},
                              [&](unsigned int frame, unsigned int) { return stamps[frame]; });
  }

  ektest::TempDir dir;
  EKVideo video;
  const EK::streamHeader grey{160, 120, 0, 8};
};

TEST_F(EKVideoFind, FindsTheLastFrameAtOrBeforeATime) {
  ASSERT_TRUE(video.readVideo(clip("sorted", {0, 1000, 2000, 2000, 2000, 5000, 6000})));
  EXPECT_EQ(video.findFrame(-1, 0), -1);
  EXPECT_EQ(video.findFrame(0, 0), 0);
  EXPECT_EQ(video.findFrame(999, 0), 0);
  EXPECT_EQ(video.findFrame(1000, 0), 1);
  EXPECT_EQ(video.findFrame(2000, 0), 4);
  EXPECT_EQ(video.findFrame(4999, 0), 4);
  EXPECT_EQ(video.findFrame(6000, 0), 6);
  EXPECT_EQ(video.findFrame(1LL << 60, 0), 6);
}

TEST_F(EKVideoFind, SearchesTheChosenStreamAndClampsItsIndex) {
  const std::string path = ektest::recordClip(
      dir.path("two"), 5, {grey, grey},
      [](unsigned int frame, unsigned int stream) { return 1000LL * frame + 500 * stream; });
  ASSERT_TRUE(video.readVideo(path));
  EXPECT_EQ(video.findFrame(3000, 0), 3);
  EXPECT_EQ(video.findFrame(3000, 1), 2);
  EXPECT_EQ(video.findFrame(3000, 9), 2);
  EXPECT_EQ(video.findFrame(400, 1), -1);
}

TEST_F(EKVideoFind, LeavesThePositionAndIndexesAlone) {
  ASSERT_TRUE(video.readVideo(clip("pos", {0, 10, 20, 30, 40, 50, 60, 70})));
  EKImage image(EK::kResolution160x120, 0);
  ASSERT_TRUE(video.getFrame(image, 4, 0, true));
  EXPECT_EQ(video.findFrame(15, 0), 1);
  EXPECT_EQ(video.currentFrame, 4u);
  ASSERT_TRUE(video.getNextFrame(image, true));
  EXPECT_EQ(image.timeStamp, 50);

  ASSERT_TRUE(video.goToFrame(6, 0));
  EXPECT_EQ(video.findFrame(0, 0), 0);
  ASSERT_TRUE(video.getNextFrame(image, true));
  EXPECT_EQ(image.timeStamp, 60);
}

TEST_F(EKVideoFind, AnswersMinusOneWithoutFrames) {
  EXPECT_EQ(video.findFrame(0, 0), -1);
  ASSERT_TRUE(video.readVideo(clip("empty", {})));
  EXPECT_EQ(video.findFrame(0, 0), -1);
}

TEST_F(EKVideoFind, SearchesOnlyCompleteFramesOfAnUnclosedRecording) {
  const std::string path = ektest::recordClip(dir.path("crash"), 5, {grey}, ektest::stampOf, 0,
                                              /*close=*/false);
  std::filesystem::resize_file(path, std::filesystem::file_size(path) + 100);
  ASSERT_TRUE(video.readVideo(path));
  EXPECT_EQ(video.frameCount, 0xFFFFFFFFu);
  EXPECT_EQ(video.findFrame(1LL << 40, 0), 4);
  EXPECT_EQ(video.findFrame(2500, 0), 2);
}

TEST_F(EKVideoFind, StampsGoingBackwardsGiveAFrameAtABoundary) {
  const std::vector<long long> stamps = {0, 5000, 1000, 6000, 2000, 7000, 3000, 8000, 500};
  ASSERT_TRUE(video.readVideo(clip("back", stamps)));
  for (long long target : {0LL, 999LL, 1500LL, 2500LL, 5500LL, 7999LL, 9000LL}) {
    SCOPED_TRACE(target);
    const long long found = video.findFrame(target, 0);
    ASSERT_GE(found, 0);
    ASSERT_LT(found, static_cast<long long>(stamps.size()));
    EXPECT_LE(stamps[found], target);
    if (found + 1 < static_cast<long long>(stamps.size())) {
      EXPECT_GT(stamps[found + 1], target);
    }
  }
}

}  // namespace
