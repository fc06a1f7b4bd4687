// Recording onto a full disk, made with a file-size limit (RLIMIT_FSIZE, SIGXFSZ ignored) that
// lets records fail part-way. A recording that did not reach
// the disk whole is reported when it is closed, and recoverVideo() gives back every complete
// frame, byte for byte.
#include <ekvision/ekvideo.h>
#include <ekvision/ekvideoinspection.h>

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>

#include <filesystem>
#include <string>
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

TEST(EKVideoFullDisk, AFailedRecordingIsReportedAtCloseAndItsCompleteFramesRecovered) {
  // 38400-byte records fail at the write that passes the limit; 2400-byte records (depth 1)
  // fit the stream's buffer, so the limit shows at a later write or at close.
  const struct {
    EK::streamHeader stream;
    rlim_t limit;
    int accepted;  // -1: some, before the limit showed
    unsigned int recovered;
  } cases[] = {{{160, 120, EK::kColorSpaceYUV422, 8}, 32 + 2 * 38400 + 100, 2, 2},
               {{160, 120, 0, 1}, 32 + 5 * 2400 + 10, -1, 5}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.recovered);
    ektest::TempDir dir;
    EK::EKVideo video;
    const std::string path = dir.path("limited.arv");
    const std::size_t length = ektest::recordLength(c.stream);
    {
      FileSizeLimit limit(c.limit);
      ASSERT_TRUE(video.recordVideo(dir.path("limited"), 0, {c.stream}));
      int accepted = 0;
      for (; accepted < 100; ++accepted) {
        std::vector<char> record =
            ektest::recordPattern(length, static_cast<unsigned>(accepted), 0);
        if (!video.write(record.data(), static_cast<int>(length), ektest::stampOf(accepted, 0), 0,
                         0, 0, 0, 0)) {
          break;
        }
      }
      ASSERT_LT(accepted, 100) << "the limit never showed";
      EXPECT_EQ(accepted, c.accepted < 0 ? accepted : c.accepted);
      EXPECT_FALSE(
          video.write(std::vector<char>(length).data(), static_cast<int>(length), 9, 0, 0, 0, 0, 0))
          << "a failed recording takes no more records";
      EXPECT_EQ(video.frameCount, static_cast<unsigned>(accepted));
      testing::internal::CaptureStderr();
      EXPECT_EQ(ektest::closeVideo(video),
                "stop recording " + path + " file (" + std::to_string(accepted) + " frames)\n");
      EXPECT_EQ(
          testing::internal::GetCapturedStderr(),
          "EKVideo: " + path + " could not be written completely; its frame count is not stored\n");
    }
    EXPECT_EQ(std::filesystem::file_size(path), c.limit);
    const EK::EKVideoRecovery recovery = EK::recoverVideo(path);
    EXPECT_EQ(recovery.inspection.state, EK::EKRecordingState::kOpen);
    EXPECT_EQ(std::make_tuple(recovery.frameCount, recovery.changed),
              std::make_tuple(c.recovered, true));
    ASSERT_TRUE(video.readVideo(path));
    ASSERT_EQ(video.frameCount, c.recovered);
    EK::EKImage image(static_cast<int>(length), 1, 0);
    for (unsigned int f = 0; f < c.recovered; ++f) {
      ASSERT_TRUE(video.getFrame(image, f, 0, false));
      ektest::expectRecord(image, f, 0, length);
    }
  }
}

}  // namespace
