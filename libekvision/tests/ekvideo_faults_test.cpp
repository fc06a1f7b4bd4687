// Recording onto a full disk: /dev/full refuses the header at once; a file-size limit
// (RLIMIT_FSIZE, SIGXFSZ ignored) lets records fail part-way. Every EKVideo operation gives
// its documented answer, a recording that did not reach the disk whole is reported when it
// is closed, and recoverVideo() gives back every complete frame, byte for byte.
#include <ekvision/ekvideo.h>
#include <ekvision/ekvideoinspection.h>

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>

#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "videotestsupport.h"

namespace {

// Files this process writes end at @p bytes while the object lives; a write past the limit
// fails with EFBIG instead of killing the process.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &previous_);
    previousHandler_ = signal(SIGXFSZ, SIG_IGN);
    rlimit limit = previous_;
    limit.rlim_cur = bytes;
    EXPECT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &previous_);
    signal(SIGXFSZ, previousHandler_);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

 private:
  rlimit previous_{};
  sighandler_t previousHandler_;
};

class EKVideoFullDisk : public testing::Test {
 protected:
  // Closes the recording and returns what it printed on standard output and error.
  std::pair<std::string, std::string> close() {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    video.closeVideo();
    std::string err = testing::internal::GetCapturedStderr();
    return {testing::internal::GetCapturedStdout(), err};
  }

  std::string stopLine(const std::string& path, int frames) const {
    return "stop recording " + path + " file (" + std::to_string(frames) + " frames)\n";
  }

  // What closeVideo() says on standard error about a recording that failed.
  std::string failureLine(const std::string& path) const {
    return "EKVideo: " + path + " could not be written completely; its frame count is not stored\n";
  }

  // Recovers @p path and checks that its first @p frames frames hold what was written.
  void expectRecovered(const std::string& path, std::uint64_t frames,
                       const EK::streamHeader& stream) {
    const EK::EKVideoRecovery recovery = EK::recoverVideo(path);
    EXPECT_EQ(recovery.inspection.state, EK::EKRecordingState::kOpen);
    EXPECT_EQ(recovery.frameCount, frames);
    EXPECT_TRUE(recovery.changed);
    EK::EKVideo reader;
    ASSERT_TRUE(reader.readVideo(path));
    ASSERT_EQ(reader.frameCount, frames);
    const std::size_t length = ektest::recordLength(stream);
    EK::EKImage image(static_cast<int>(length), 1, 0);
    for (unsigned int f = 0; f < frames; ++f) {
      ASSERT_TRUE(reader.getFrame(image, f, 0, false));
      const std::vector<char> pattern = ektest::recordPattern(length, f, 0);
      EXPECT_EQ(image.timeStamp, f);
      EXPECT_TRUE(std::equal(pattern.begin() + 25, pattern.end(),
                             reinterpret_cast<const char*>(image.frame) + 25))
          << "frame " << f;
    }
  }

  // Writes records of @p stream until one is refused or @p most were taken.
  int writeUntilRefused(const EK::streamHeader& stream, int most) {
    const std::size_t length = ektest::recordLength(stream);
    int accepted = 0;
    while (accepted < most) {
      std::vector<char> record = ektest::recordPattern(length, static_cast<unsigned>(accepted), 0);
      if (!video.write(record.data(), static_cast<int>(record.size()), accepted, 0, 0, 0, 0, 0)) {
        break;
      }
      ++accepted;
    }
    return accepted;
  }

  ektest::TempDir dir;
  EK::EKVideo video;
};

TEST_F(EKVideoFullDisk, DevFullRefusesTheHeaderAtOnceAndLeavesTheObjectUsable) {
  if (!std::filesystem::exists("/dev/full")) {
    GTEST_SKIP() << "no /dev/full on this system";
  }
  // recordVideo appends ".arv" to the name it is given.
  std::filesystem::create_symlink("/dev/full", dir.path("full.arv"));
  for (unsigned int extra : {0u, 1u << 20}) {
    const std::optional<EK::EKError> error = ektest::errorFrom([&] {
      video.recordVideo(dir.path("full"), extra, {{160, 120, 0, 8}});
    });
    ektest::expectVideoError(error, "recordVideo", "Can't write the file header");
    EXPECT_FALSE(video.isRecording);
    EXPECT_FALSE(video.outputFile.is_open());
  }
  ASSERT_TRUE(video.recordVideo(dir.path("fine"), 0, {{160, 120, 0, 8}}));
  EXPECT_EQ(close().first, stopLine(dir.path("fine.arv"), 0));
}

TEST_F(EKVideoFullDisk, RecordsLargerThanTheStreamBufferFailAtOnceAndRecoveryKeepsTheRest) {
  const EK::streamHeader stream{160, 120, EK::kColorSpaceYUV422, 8};  // 38400-byte records
  const std::string path = dir.path("limited.arv");
  {
    FileSizeLimit limit(32 + 2 * 38400 + 100);
    ASSERT_TRUE(video.recordVideo(dir.path("limited"), 0, {stream}));
    EXPECT_EQ(writeUntilRefused(stream, 10), 2);
    std::vector<char> record(38400, 7);
    EXPECT_FALSE(video.write(record.data(), 38400, 9, 0, 0, 0, 0, 0))
        << "a failed recording takes no more records";
    EXPECT_EQ(video.frameCount, 2u);
    const auto printed = close();
    EXPECT_EQ(printed.first, stopLine(path, 2));
    EXPECT_EQ(printed.second, failureLine(path));
  }
  EXPECT_EQ(std::filesystem::file_size(path), 32u + 2 * 38400 + 100);
  expectRecovered(path, 2, stream);
}

TEST_F(EKVideoFullDisk, BufferedRecordsLostAtCloseAreReportedAndTheCompleteOnesRecovered) {
  // 2400-byte records (depth 1) fit the stream's buffer: they are accepted, and the limit
  // shows when the buffer is written out, at a later write or at close.
  const EK::streamHeader stream{160, 120, 0, 1};
  const std::string path = dir.path("buffered.arv");
  {
    FileSizeLimit limit(32 + 5 * 2400 + 10);
    ASSERT_TRUE(video.recordVideo(dir.path("buffered"), 0, {stream}));
    const int accepted = writeUntilRefused(stream, 100);
    ASSERT_LT(accepted, 100) << "the limit never showed";
    EXPECT_EQ(video.frameCount, static_cast<unsigned>(accepted));
    const auto printed = close();
    EXPECT_EQ(printed.first, stopLine(path, accepted));
    EXPECT_EQ(printed.second, failureLine(path)) << "the accepted records were lost";
  }
  expectRecovered(path, 5, stream);
}

}  // namespace
