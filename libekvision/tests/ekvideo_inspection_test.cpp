// Recordings on disk: inspection, recovery, the one-writer lock and a full disk. The ekvision
// tool's tests add permissions, a writer in another process and its crash.
#include <ekvision/ekvideo.h>
#include <ekvision/ekvideoinspection.h>

#include <gtest/gtest.h>

#include <errno.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "videotestsupport.h"

namespace {

using namespace EK;
using namespace ektest;

const streamHeader kYuv{160, 120, kColorSpaceYUV422, 8};  // 38400-byte records
const streamHeader kGrey{160, 120, 0, 8};                 // 19200-byte records
const std::uint64_t kFrame = 38400 + 19200;
const std::uint64_t kHeader = 16 + 2 * 16;

// What @p action threw: the description, the cause's name and the system error.
using Failure = std::tuple<std::string, std::string, int>;
Failure failureOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const EKFailure& failure) {
    return {failure.getDescription(), causeName(failure.cause()), failure.systemError()};
  } catch (const EKError& error) {
    return {error.getDescription(), "(no cause)", 0};
  }
  return {"(no error)", "", 0};
}

Failure failureOf(const EKStatus& status) {
  return {status.message(), causeName(status.cause()), status.systemError()};
}

class EKVideoInspectionTest : public testing::Test {
 protected:
  TempDir dir;
};

// The ekvision tool's recover and info tests go through every state of one-stream recordings
// and a stream the player refuses; these add frames of two streams.
TEST_F(EKVideoInspectionTest, EveryStateOfARecordingIsSeenAndRecoveredAsAsked) {
  const struct {
    const char* name;
    bool close;
    std::uint64_t append, cutTo;  // bytes added after recording; size cut to (0: none)
    EKRecordingState state;
    std::uint64_t complete, partial;
    std::uint32_t recovered, extended;  // counts after recoverVideo, without and with extend
  } cases[] = {
      {"crashed", false, 38400, 0, EKRecordingState::kOpen, 3, 38400, 3, 3},
      {"cut", true, 0, kHeader + 2 * kFrame + 100, EKRecordingState::kCutShort, 2, 100, 2, 2},
      {"uncounted", true, kFrame, 0, EKRecordingState::kUncountedFrames, 4, 0, 3, 4},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = recordClip(dir.path(c.name), 3, {kYuv, kGrey}, stampOf, 0, c.close);
    std::ofstream(path, std::ios::binary | std::ios::app) << std::string(c.append, 'Z');
    if (c.cutTo > 0) {
      std::filesystem::resize_file(path, c.cutTo);
    }
    const EKVideoInspection file = inspectVideo(path);
    EXPECT_EQ(
        std::make_tuple(file.closed, file.state, file.streams.size(), file.headerSize,
                        file.frameSize, file.fileSize),
        std::make_tuple(c.close, c.state, 2ul, kHeader, kFrame, std::filesystem::file_size(path)));
    EXPECT_EQ(std::make_tuple(file.completeFrames, file.partialBytes, file.playableFrames),
              std::make_tuple(c.complete, c.partial,
                              std::min<std::uint64_t>(file.storedFrameCount, c.complete)));
    EXPECT_EQ(recoverVideo(path).frameCount, c.recovered);
    EXPECT_EQ(recoverVideo(path, {true, false}).frameCount, c.extended);
    EXPECT_EQ(inspectVideo(path).storedFrameCount, c.extended);
  }
}

// The ekvision tool's tests refuse FIFOs and missing directories by their words; here the
// causes that callers test come out of every function that meets the file.
TEST_F(EKVideoInspectionTest, WhatIsNotARecordingIsRefusedWithItsCause) {
  // A stream count that the file cannot hold is refused before anything is allocated.
  writeBytes(dir.path("streams.arv"), arvHeader(kArvVersion1, 0, 0, 0xFFFFFFF0u, {}).get());
  std::vector<unsigned char> many = arvHeader(kArvVersion1, 0, 0, 70000, {}).get();
  many.resize(16 + 70000 * 16, 0);
  writeBytes(dir.path("many.arv"), many);
  std::filesystem::create_directory(dir.path("folder.arv"));
  const struct {
    std::string path, words, cause;
    int systemError;
    bool system;  // videoFileStatus() finds it too; otherwise the header does
  } cases[] = {
      {dir.path("missing.arv"), "no such file", "not-found", ENOENT, true},
      {dir.path("folder.arv"), "is a directory", "is-directory", EISDIR, true},
      {"/dev/zero", "not a regular file (a device)", "not-regular-file", 0, true},
      {dir.path("streams.arv"), "This arv file is shorter than its header", "bad-format", 0, false},
      {dir.path("many.arv"), "This arv file header is too large", "bad-format", 0, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    const Failure expected{c.words, c.cause, c.systemError};
    EXPECT_EQ(failureOf([&] { inspectVideo(c.path); }), expected);
    EXPECT_EQ(failureOf([&] { recoverVideo(c.path, {false, true}); }), expected);
    EXPECT_EQ(failureOf(videoFileStatus(c.path, false)),
              (c.system ? expected : Failure{"", "ok", 0}));
    EXPECT_EQ(videoFileProblem(c.path, false), c.system ? c.words : "");
    if (c.systemError != 0) {
      // The player's refusal keeps its words; its status says why.
      EKVideo video;
      const Failure refusal{"Can't open file " + c.path + ". Check its path and presence", c.cause,
                            c.systemError};
      EXPECT_EQ(failureOf([&] { video.readVideo(c.path); }), refusal);
      EXPECT_EQ(failureOf(lastVideoStatus(video)), refusal);
    }
  }
  EXPECT_EQ(failureOf(videoFileStatus(dir.path("no/new.arv"), true)),
            (Failure{"no such directory: " + dir.path("no"), "not-found", ENOENT}));
  EXPECT_EQ(videoFileProblem("/dev/zero", true), "") << "a device takes writes";
  // Color space 40 has no layer count: the record length, and so the frames, are unknown.
  writeBytes(dir.path("unknown.arv"),
             arvHeader(kArvVersion1, 0, 0xFFFFFFFFu, 1, {{160, 120, 40, 8}}).fill(5000, 1).get());
  const EKVideoInspection unknown = inspectVideo(dir.path("unknown.arv"));
  EXPECT_EQ(std::make_tuple(unknown.frameSize, unknown.completeFrames, unknown.unplayableReason),
            std::make_tuple(0u, 0u, std::string("invalid color space")));
  EXPECT_EQ(
      failureOf([&] { recoverVideo(dir.path("unknown.arv")); }),
      (Failure{"the length of stream 0's records is unknown: color space 40", "unsupported", 0}));
  writeBytes(dir.path("empty.arv"),
             arvHeader(kArvVersion1, 0, 0xFFFFFFFFu, 1, {{0, 0, 0, 8}}).get());
  EXPECT_EQ(std::get<0>(failureOf([&] { recoverVideo(dir.path("empty.arv")); })),
            "its frames hold no bytes");
  EXPECT_EQ(videoFileProblem(dir.path("new.arv"), true), "");
  EXPECT_FALSE(std::filesystem::exists(dir.path("new.arv"))) << "nothing is created";
}

TEST_F(EKVideoInspectionTest, ASecondWriterIsRefusedAndTheFirstKeepsItsRecording) {
  const std::string path = dir.path("shared.arv");
  EKVideo first, second, reader;
  ASSERT_TRUE(first.recordVideo(dir.path("shared"), 0, {kGrey}));
  std::vector<char> record = recordPattern(19200, 0, 0);
  ASSERT_TRUE(first.write(record.data(), 19200, 0, 0, 0.1f, 0.2f, -0.1f, -0.2f));
  first.outputFile.flush();
  const std::string pid = std::to_string(getpid());
  EXPECT_EQ(failureOf([&] { second.recordVideo(dir.path("shared"), 0, {kYuv}); }),
            (Failure{path + " is being written by process " + pid +
                         "; a recording takes one writer at a time",
                     "busy", EWOULDBLOCK}));
  EXPECT_EQ(std::get<1>(failureOf(lastVideoStatus(second))), "busy");
  EXPECT_EQ(failureOf([&] { recoverVideo(path); }),
            (Failure{"being written by process " + pid, "busy", EWOULDBLOCK}));
  EXPECT_FALSE(second.outputFile.is_open());
  const EKVideoInspection live = inspectVideo(path);
  EXPECT_EQ(std::make_tuple(live.beingWritten, live.writerProcess, live.completeFrames),
            std::make_tuple(true, getpid(), 1ull));

  // Readers are not blocked, the first writer goes on, and after it the file takes another.
  EXPECT_TRUE(reader.readVideo(path));
  ASSERT_TRUE(first.write(record.data(), 19200, 1000, 0, 0.1f, 0.2f, -0.1f, -0.2f));
  EXPECT_EQ(closeVideo(first), "stop recording " + path + " file (2 frames)\n");
  EXPECT_TRUE(second.recordVideo(dir.path("shared"), 0, {kGrey}));
}

// A file-size limit (SIGXFSZ ignored) makes records fail part-way, as a full disk does:
// 2400-byte records (depth 1) fit the stream's buffer, so the limit shows at a later write.
TEST(EKVideoFullDisk, AFailedRecordingIsReportedAtCloseAndItsCompleteFramesRecovered) {
  const streamHeader stream{160, 120, 0, 1};
  const rlim_t size = 32 + 5 * 2400 + 10;
  TempDir dir;
  EKVideo video;
  const std::string path = dir.path("limited.arv");
  {
    // Files this process writes end at the limit until the block ends; a write past it
    // fails with EFBIG instead of killing the process.
    rlimit previous{};
    getrlimit(RLIMIT_FSIZE, &previous);
    const sighandler_t handler = signal(SIGXFSZ, SIG_IGN);
    const std::shared_ptr<void> restore(nullptr, [&](void*) {
      setrlimit(RLIMIT_FSIZE, &previous);
      signal(SIGXFSZ, handler);
    });
    rlimit limit = previous;
    limit.rlim_cur = size;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
    ASSERT_TRUE(video.recordVideo(dir.path("limited"), 0, {stream}));
    unsigned int accepted = 0;
    std::vector<char> record = recordPattern(2400, 0, 0);
    while (accepted < 100 &&
           video.write(record.data(), 2400, stampOf(accepted, 0), 0, 0, 0, 0, 0)) {
      record = recordPattern(2400, ++accepted, 0);
    }
    ASSERT_LT(accepted, 100u) << "the limit never showed";
    EXPECT_EQ(failureOf(lastVideoStatus(video)),
              (Failure{"cannot append the record: file too large", "no-space", EFBIG}));
    EXPECT_FALSE(video.write(record.data(), 2400, 9, 0, 0, 0, 0, 0))
        << "a failed recording takes no more records";
    EXPECT_EQ(video.frameCount, accepted);
    testing::internal::CaptureStderr();
    EXPECT_EQ(closeVideo(video),
              "stop recording " + path + " file (" + std::to_string(accepted) + " frames)\n");
    const std::string failed =
        path + " could not be written completely (file too large); its frame count is not stored";
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "EKVideo: " + failed + "\n");
    EXPECT_EQ(failureOf(lastVideoStatus(video)), (Failure{failed, "no-space", EFBIG}));
  }
  EXPECT_EQ(std::filesystem::file_size(path), size);
  const EKVideoRecovery recovery = recoverVideo(path);
  EXPECT_EQ(std::make_tuple(recovery.inspection.state, recovery.frameCount, recovery.changed),
            std::make_tuple(EKRecordingState::kOpen, 5u, true));
  ASSERT_TRUE(video.readVideo(path));
  EKImage image(2400, 1, 0);
  ASSERT_TRUE(video.getFrame(image, 4, 0, false));
  expectRecord(image, 4, 0, 2400);
}

}  // namespace
