// Recording onto a full disk: every EKVideo operation gives its documented answer, nothing
// crashes, and a recording that did not reach the disk whole is reported when it is closed.
#include <ekvision/ekvideo.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "videotestsupport.h"

namespace {

class EKVideoFullDisk : public testing::Test {
 protected:
  void SetUp() override {
    if (!std::filesystem::exists("/dev/full")) {
      GTEST_SKIP() << "no /dev/full on this system";
    }
    // recordVideo appends ".arv" to the name it is given.
    std::filesystem::create_symlink("/dev/full", dir.path("full.arv"));
  }

  // Closes the recording and returns what it printed on standard output and error.
  std::pair<std::string, std::string> close() {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    video.closeVideo();
    std::string err = testing::internal::GetCapturedStderr();
    return {testing::internal::GetCapturedStdout(), err};
  }

  std::string stopLine(int frames) const {
    return "stop recording " + dir.path("full.arv") + " file (" + std::to_string(frames) +
           " frames)\n";
  }

  // What closeVideo() says on standard error about a recording that failed.
  std::string failureLine() const {
    return "EKVideo: " + dir.path("full.arv") +
           " could not be written completely; its frame count is not stored\n";
  }

  ektest::TempDir dir;
  EK::EKVideo video;
};

TEST_F(EKVideoFullDisk, RecordsLargerThanTheStreamBufferFailAtOnceAndAreNotCounted) {
  // The 32 header bytes wait in the stream's buffer: the disk is not touched yet.
  ASSERT_TRUE(video.recordVideo(dir.path("full"), 0, {{160, 120, EK::kColorSpaceYUV422, 8}}));
  std::vector<char> record(160 * 120 * 2, 7);
  EXPECT_FALSE(video.write(record.data(), static_cast<int>(record.size()), 1, 0, 0, 0, 0, 0));
  EXPECT_FALSE(video.write(record.data(), static_cast<int>(record.size()), 2, 0, 0, 0, 0, 0))
      << "a failed recording takes no more records";
  EXPECT_EQ(video.frameCount, 0u);
  const auto printed = close();
  EXPECT_EQ(printed.first, stopLine(0));
  EXPECT_EQ(printed.second, failureLine());
  EXPECT_FALSE(video.isRecording);
}

TEST_F(EKVideoFullDisk, BufferedRecordsThatNeverReachTheDiskAreReportedAtClose) {
  // 2400-byte records (depth 1): the first ones fit the stream's buffer and are accepted,
  // the one that makes the buffer spill fails.
  ASSERT_TRUE(video.recordVideo(dir.path("full"), 0, {{160, 120, 0, 1}}));
  std::vector<char> record(2400, 7);
  int accepted = 0;
  while (accepted < 100 &&
         video.write(record.data(), static_cast<int>(record.size()), accepted, 0, 0, 0, 0, 0)) {
    ++accepted;
  }
  ASSERT_LT(accepted, 100) << "the full disk never showed";
  EXPECT_EQ(video.frameCount, static_cast<unsigned>(accepted));
  const auto printed = close();
  EXPECT_EQ(printed.first, stopLine(accepted));
  EXPECT_EQ(printed.second, failureLine()) << "the accepted records were lost";
}

TEST_F(EKVideoFullDisk, AnExtraHeaderTooLargeForTheBufferFailsTheRecordingAtOnce) {
  const std::optional<EK::EKError> error = ektest::errorFrom([&] {
    video.recordVideo(dir.path("full"), 1u << 20, {{160, 120, 0, 8}});
  });
  ektest::expectVideoError(error, "recordVideo", "Can't write the file header");
  EXPECT_FALSE(video.isRecording);
  EXPECT_FALSE(video.outputFile.is_open());
  // The object is usable again.
  ASSERT_TRUE(video.recordVideo(dir.path("fine"), 0, {{160, 120, 0, 8}}));
  testing::internal::CaptureStdout();
  video.closeVideo();
  testing::internal::GetCapturedStdout();
}

TEST_F(EKVideoFullDisk, AnEmptyRecordingFailsOnlyWhenItIsClosed) {
  ASSERT_TRUE(video.recordVideo(dir.path("full"), 0, {{160, 120, 0, 8}}));
  const auto printed = close();
  EXPECT_EQ(printed.first, stopLine(0));
  EXPECT_EQ(printed.second, failureLine()) << "the header never reached the disk";
}

}  // namespace
