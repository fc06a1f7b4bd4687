// Inspection and recovery of recordings on disk, and the one-writer lock.
#include <ekvision/ekvideo.h>
#include <ekvision/ekvideoinspection.h>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "videotestsupport.h"

namespace {

using EK::EKRecordingState;
using EK::EKVideoInspection;

const EK::streamHeader kYuv{160, 120, EK::kColorSpaceYUV422, 8};  // 38400-byte records
const EK::streamHeader kGrey{160, 120, 0, 8};                     // 19200-byte records
const std::uint64_t kFrame = 38400 + 19200;
const std::uint64_t kHeader = 16 + 2 * 16;

std::string descriptionOf(const std::function<void()>& action) {
  const std::optional<EK::EKError> error = ektest::errorFrom(action);
  return error ? error->getDescription() : "(no error)";
}

void appendBytes(const std::string& path, std::size_t count) {
  std::ofstream(path, std::ios::binary | std::ios::app) << std::string(count, '\x5A');
}

// Runs @p check in a child process that is not root (root reads every file), and returns
// its exit status: 0 when every expectation held.
int asUnprivilegedUser(const std::function<bool()>& check) {
  const pid_t child = fork();
  if (child == 0) {
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) {
      _exit(2);
    }
    _exit(check() ? 0 : 1);
  }
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A child process, killed and reaped when the test leaves, whatever failed.
class ChildProcess {
 public:
  explicit ChildProcess(pid_t pid) : pid_(pid) {}
  ~ChildProcess() { kill9(); }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  pid_t pid() const { return pid_; }
  void kill9() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
      pid_ = -1;
    }
  }

 private:
  pid_t pid_;
};

class EKVideoInspectionTest : public testing::Test {
 protected:
  ektest::TempDir dir;
};

TEST_F(EKVideoInspectionTest, EveryStateOfARecordingIsSeenAndRecoveredAsAsked) {
  struct Case {
    const char* name;
    std::vector<EK::streamHeader> streams;
    bool close;
    std::function<void(const std::string&)> damage;
    EKRecordingState state;
    std::uint64_t complete, partial;
    const char* unplayable;
    std::uint32_t recovered, extended;  // counts after recoverVideo, without and with extend
  };
  const std::uint32_t kOpen = 0xFFFFFFFFu;
  const Case cases[] = {
      {"closed", {kYuv, kGrey}, true, nullptr, EKRecordingState::kClosed, 3, 0, "", 3, 3},
      {"crashed",
       {kYuv, kGrey},
       false,
       [](const std::string& p) { appendBytes(p, 38400); },
       EKRecordingState::kOpen,
       3,
       38400,
       "",
       3,
       3},
      {"cut",
       {kYuv, kGrey},
       true,
       [](const std::string& p) { std::filesystem::resize_file(p, kHeader + 2 * kFrame + 100); },
       EKRecordingState::kCutShort,
       2,
       100,
       "",
       2,
       2},
      {"uncounted",
       {kYuv, kGrey},
       true,
       [](const std::string& p) { appendBytes(p, kFrame); },
       EKRecordingState::kUncountedFrames,
       4,
       0,
       "",
       3,
       4},
      {"large",
       {{1280, 960, 0, 8}, kGrey},
       false,
       nullptr,
       EKRecordingState::kOpen,
       3,
       0,
       "Unsupported resolution",
       3,
       3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path =
        ektest::recordClip(dir.path(c.name), 3, c.streams, ektest::stampOf, 0, c.close);
    if (c.damage) {
      c.damage(path);
    }
    const EKVideoInspection file = EK::inspectVideo(path);
    EXPECT_EQ(file.path, path);
    EXPECT_EQ(file.version, ektest::kArvVersion1);
    EXPECT_EQ(file.storedFrameCount, c.close ? 3u : kOpen);
    EXPECT_EQ(file.closed, c.close);
    EXPECT_EQ(file.state, c.state);
    ASSERT_EQ(file.streamCount, 2u);
    ASSERT_EQ(file.streams.size(), 2u);
    EXPECT_EQ(file.streams[1].dataSize, 19200u);
    EXPECT_EQ(file.headerSize, kHeader);
    EXPECT_EQ(file.frameSize, file.streams[0].dataSize + 19200u);
    EXPECT_EQ(file.fileSize, std::filesystem::file_size(path));
    EXPECT_EQ(file.completeFrames, c.complete);
    EXPECT_EQ(file.partialBytes, c.partial);
    EXPECT_EQ(file.playableFrames, std::min<std::uint64_t>(file.storedFrameCount, c.complete));
    EXPECT_EQ(file.unplayableReason, c.unplayable);
    EXPECT_FALSE(file.beingWritten);

    const EK::EKVideoRecovery dry = EK::recoverVideo(path, {false, true});
    EXPECT_EQ(dry.frameCount, c.recovered);
    EXPECT_EQ(EK::inspectVideo(path).storedFrameCount, file.storedFrameCount)
        << "a dry run changes nothing";
    const EK::EKVideoRecovery plain = EK::recoverVideo(path);
    EXPECT_EQ(plain.frameCount, c.recovered);
    EXPECT_EQ(plain.changed, c.recovered != file.storedFrameCount);
    EXPECT_EQ(EK::recoverVideo(path, {true, false}).frameCount, c.extended);
    EXPECT_EQ(EK::inspectVideo(path).storedFrameCount, c.extended);
    EXPECT_EQ(std::filesystem::file_size(path), file.fileSize) << "only the count is rewritten";
  }
}

TEST_F(EKVideoInspectionTest, FramesThatCannotBeCountedAreNeverRecovered) {
  // Color space 40 has no layer count: the record length, and so the frames, are unknown.
  std::vector<unsigned char> bytes =
      ektest::arvHeader(ektest::kArvVersion1, 0, 0xFFFFFFFFu, 1, {{160, 120, 40, 8}}).get();
  bytes.resize(bytes.size() + 5000, 1);
  ektest::writeBytes(dir.path("unknown.arv"), bytes);
  const EKVideoInspection file = EK::inspectVideo(dir.path("unknown.arv"));
  EXPECT_EQ(file.frameSize, 0u);
  EXPECT_EQ(file.completeFrames, 0u);
  EXPECT_EQ(file.unplayableReason, "invalid color space");
  EXPECT_EQ(descriptionOf([&] { EK::recoverVideo(dir.path("unknown.arv")); }),
            "the length of stream 0's records is unknown: color space 40");

  ektest::writeBytes(
      dir.path("empty.arv"),
      ektest::arvHeader(ektest::kArvVersion1, 0, 0xFFFFFFFFu, 1, {{0, 0, 0, 8}}).get());
  EXPECT_EQ(descriptionOf([&] { EK::recoverVideo(dir.path("empty.arv")); }),
            "its frames hold no bytes");
}

TEST_F(EKVideoInspectionTest, WhatIsNotARecordingIsRefusedWithItsCause) {
  const std::string fifo = dir.path("fifo.arv");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const std::string socketPath = dir.path("socket.arv");
  const int sock = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, socketPath.c_str(), sizeof address.sun_path - 1);
  ASSERT_EQ(bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ektest::writeBytes(dir.path("short.arv"), {0x31, 0x56, 0x52});
  ektest::writeBytes(dir.path("magic.arv"), std::vector<unsigned char>(64, 'x'));
  // A stream count that the file cannot hold is refused before anything is allocated.
  ektest::writeBytes(dir.path("streams.arv"),
                     ektest::arvHeader(ektest::kArvVersion1, 0, 0, 0xFFFFFFF0u, {}).get());
  std::vector<unsigned char> many = ektest::arvHeader(ektest::kArvVersion1, 0, 0, 70000, {}).get();
  many.resize(16 + 70000 * 16, 0);
  ektest::writeBytes(dir.path("many.arv"), many);

  struct Case {
    std::string path;
    std::string cause;
    bool systemCause;  // videoFileProblem() names it too
  };
  const Case cases[] = {
      {dir.path("absent.arv"), "no such file", true},
      {dir.path(""), "is a directory", true},
      {fifo, "not seekable (a FIFO)", true},
      {socketPath, "not a regular file (a socket)", true},
      {"/dev/zero", "not a regular file (a device)", true},
      {dir.path("short.arv"), "This arv file is shorter than its header", false},
      {dir.path("magic.arv"), "This arv file version isn't supported", false},
      {dir.path("streams.arv"), "This arv file is shorter than its header", false},
      {dir.path("many.arv"), "This arv file header is too large", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(descriptionOf([&] { EK::inspectVideo(c.path); }), c.cause);
    EXPECT_EQ(descriptionOf([&] { EK::recoverVideo(c.path, {false, true}); }), c.cause);
    if (c.systemCause) {
      EXPECT_EQ(EK::videoFileProblem(c.path, false), c.cause);
      EXPECT_EQ(descriptionOf([&] { EK::recoverVideo(c.path); }), c.cause);
    }
  }
  EXPECT_EQ(EK::videoFileProblem(socketPath, true), "not a regular file (a socket)");
  close(sock);
  EXPECT_EQ(EK::videoFileProblem(fifo, true), "not seekable (a FIFO)");
  EXPECT_EQ(EK::videoFileProblem(dir.path(""), true), "is a directory");
  EXPECT_EQ(EK::videoFileProblem(dir.path("no/clip.arv"), true),
            "no such directory: " + dir.path("no"));
  EXPECT_EQ(EK::videoFileProblem(dir.path("new.arv"), true), "");
  EXPECT_FALSE(std::filesystem::exists(dir.path("new.arv"))) << "nothing is created";

  // The player refuses a FIFO at once instead of waiting for a writer.
  EK::EKVideo video;
  EXPECT_EQ(descriptionOf([&] { video.readVideo(fifo); }),
            "Can't open file " + fifo + ". Check its path and presence");
  EXPECT_EQ(descriptionOf([&] { video.recordVideo(dir.path("fifo"), 0, {kGrey}); }),
            "Can't open file. Check its path and presence");
}

TEST_F(EKVideoInspectionTest, UnreadableAndReadOnlyFilesArePermissionDenied) {
  const std::string locked = ektest::recordClip(dir.path("locked"), 1, {kGrey});
  const std::string readOnly =
      ektest::recordClip(dir.path("readonly"), 1, {kGrey}, ektest::stampOf, 0, false);
  ASSERT_EQ(chmod(locked.c_str(), 0), 0);
  ASSERT_EQ(chmod(readOnly.c_str(), 0444), 0);
  std::filesystem::permissions(dir.path(""), std::filesystem::perms::all);
  const int status = asUnprivilegedUser([&] {
    const std::string denied = "permission denied";
    return descriptionOf([&] { EK::inspectVideo(locked); }) == denied &&
           descriptionOf([&] { EK::recoverVideo(readOnly); }) == denied &&
           EK::videoFileProblem(locked, false) == denied &&
           EK::videoFileProblem(readOnly, true) == denied &&
           EK::recoverVideo(readOnly, {false, true}).frameCount == 1;
  });
  EXPECT_EQ(status, 0) << "a message did not name the permission (2: no unprivileged user)";
}

TEST_F(EKVideoInspectionTest, ASecondWriterIsRefusedAndTheFirstKeepsItsRecording) {
  const std::string path = dir.path("shared.arv");
  EK::EKVideo first;
  ASSERT_TRUE(first.recordVideo(dir.path("shared"), 0, {kGrey}));
  std::vector<char> record = ektest::recordPattern(19200, 0, 0);
  ASSERT_TRUE(first.write(record.data(), 19200, 0, 0, 0.1f, 0.2f, -0.1f, -0.2f));
  first.outputFile.flush();

  EK::EKVideo second;
  EXPECT_EQ(descriptionOf([&] { second.recordVideo(dir.path("shared"), 0, {kYuv}); }),
            path + " is being written by process " + std::to_string(getpid()) +
                "; a recording takes one writer at a time");
  EXPECT_FALSE(second.isRecording);
  EXPECT_FALSE(second.outputFile.is_open());

  const EKVideoInspection live = EK::inspectVideo(path);
  EXPECT_TRUE(live.beingWritten);
  EXPECT_EQ(live.writerProcess, getpid());
  EXPECT_EQ(live.completeFrames, 1u);
  EXPECT_EQ(descriptionOf([&] { EK::recoverVideo(path); }),
            "being written by process " + std::to_string(getpid()));
  EXPECT_EQ(EK::inspectVideo(path).storedFrameCount, 0xFFFFFFFFu) << "recover wrote nothing";

  // Readers are not blocked, and the first writer goes on as if alone.
  EK::EKVideo reader;
  EXPECT_TRUE(reader.readVideo(path));
  record = ektest::recordPattern(19200, 1, 0);
  ASSERT_TRUE(first.write(record.data(), 19200, 1000, 0, 0.1f, 0.2f, -0.1f, -0.2f));
  testing::internal::CaptureStdout();
  first.closeVideo();
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(ektest::readBytes(path),
            ektest::readBytes(ektest::recordClip(dir.path("alone"), 2, {kGrey})));
  EXPECT_FALSE(EK::inspectVideo(path).beingWritten);

  // Once the first has closed, the file takes a new writer.
  EXPECT_TRUE(second.recordVideo(dir.path("shared"), 0, {kGrey}));
}

TEST_F(EKVideoInspectionTest, AWriterInAnotherProcessIsNamedAndItsCrashReleasesTheFile) {
  const std::string path = dir.path("child.arv");
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t pid = fork();
  if (pid == 0) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);  // never outlives the test
    EK::EKVideo video;
    bool ok = false;
    try {
      ok = video.recordVideo(dir.path("child"), 0, {kYuv, kGrey});
    } catch (const EK::EKError&) {
    }
    for (unsigned int f = 0; ok && f < 3; ++f) {
      std::vector<char> a = ektest::recordPattern(38400, f, 0);
      std::vector<char> b = ektest::recordPattern(19200, f, 1);
      ok = video.write(a.data(), 38400, ektest::stampOf(f, 0), 0, 0.1f, 0.2f, -0.1f, -0.2f) &&
           video.write(b.data(), 19200, ektest::stampOf(f, 1), 1, 0.1f, 0.2f, -0.1f, -0.2f);
    }
    std::vector<char> half = ektest::recordPattern(38400, 3, 0);
    ok = ok && video.write(half.data(), 38400, 0, 0, 0, 0, 0, 0);
    video.outputFile.flush();
    const char answer = ok ? 'y' : 'n';
    if (write(ready[1], &answer, 1) != 1) {
      _exit(1);
    }
    pause();
    _exit(0);
  }
  ChildProcess child(pid);
  close(ready[1]);
  char answer = 0;
  ASSERT_EQ(read(ready[0], &answer, 1), 1);
  close(ready[0]);
  ASSERT_EQ(answer, 'y');

  const std::string who = "being written by process " + std::to_string(pid);
  EK::EKVideo intruder;
  const std::string refusal =
      descriptionOf([&] { intruder.recordVideo(dir.path("child"), 0, {kGrey}); });
  EXPECT_NE(refusal.find(who), std::string::npos) << refusal;
  EXPECT_FALSE(intruder.isRecording);
  EXPECT_EQ(EK::inspectVideo(path).writerProcess, pid);
  EXPECT_EQ(descriptionOf([&] { EK::recoverVideo(path); }), who);
  EXPECT_EQ(descriptionOf([&] { EK::recoverVideo(path, {false, true}); }), who);

  child.kill9();
  EXPECT_FALSE(EK::inspectVideo(path).beingWritten) << "a dead writer's lock is gone";
  const EK::EKVideoRecovery recovery = EK::recoverVideo(path);
  EXPECT_EQ(recovery.frameCount, 3u);
  EXPECT_EQ(recovery.inspection.partialBytes, 38400u);
  EXPECT_EQ(ektest::readBytes(path).size(), kHeader + 3 * kFrame + 38400);
  std::vector<unsigned char> expected =
      ektest::readBytes(ektest::recordClip(dir.path("same"), 3, {kYuv, kGrey}));
  std::vector<unsigned char> recovered = ektest::readBytes(path);
  recovered.resize(expected.size());
  EXPECT_EQ(recovered, expected) << "the complete frames, byte for byte, with their count";
}

}  // namespace
