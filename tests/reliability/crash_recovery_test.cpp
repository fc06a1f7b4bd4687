// A recorder killed with SIGKILL in the middle of a recording: while it lives a second
// recorder and `ekvision recover` are refused; once killed, `ekvision recover` must give back
// every complete frame of what it left, with its time stamp and pixels, and no more.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <ekvision/ekimage.h>
#include <ekvision/ekvideo.h>

#include "crashclip.h"
#include "toolrunner.h"

extern char** environ;

namespace {

const std::uint64_t kHeaderBytes = 16 + 2 * 16;
const std::uint64_t kFrameBytes = ekcrash::recordBytes(0) + ekcrash::recordBytes(1);

std::uint64_t sizeOf(const std::string& path) {
  std::error_code error;
  const std::uintmax_t size = std::filesystem::file_size(path, error);
  return error ? 0 : static_cast<std::uint64_t>(size);
}

// The recorder as a child process.
class Recorder {
 public:
  explicit Recorder(const std::string& name) {
    std::vector<std::string> args = {EKVISION_CRASH_RECORDER_PATH, name, "5000"};
    std::vector<char*> argv;
    for (std::string& arg : args) {
      argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    spawned_ = posix_spawn(&pid_, argv[0], nullptr, nullptr, argv.data(), environ) == 0;
  }
  ~Recorder() {
    if (spawned_ && !reaped_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  Recorder(const Recorder&) = delete;
  Recorder& operator=(const Recorder&) = delete;

  bool spawned() const { return spawned_; }
  pid_t pid() const { return pid_; }

  // Waits for it to end, killed first when @p kill9, and returns its wait status.
  int wait(bool kill9 = false) {
    if (kill9) {
      kill(pid_, SIGKILL);
    }
    int status = 0;
    waitpid(pid_, &status, 0);
    reaped_ = true;
    return status;
  }

 private:
  pid_t pid_ = -1;
  bool spawned_ = false;
  bool reaped_ = false;
};

TEST(CrashRecovery, EveryCompleteFrameOfAKilledRecordingIsRecovered) {
  ektest::TempDir dir;
  const std::string path = dir.path("crash.arv");
  Recorder recorder(dir.path("crash"));
  ASSERT_TRUE(recorder.spawned());

  // Kill it once it has written a few frames and stands between the two records of one.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  for (;;) {
    const std::uint64_t size = sizeOf(path);
    if (size >= kHeaderBytes + 6 * kFrameBytes &&
        (size - kHeaderBytes) % kFrameBytes == ekcrash::recordBytes(0)) {
      break;
    }
    ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "the recorder made no progress";
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  // While it lives, a second recorder is refused before it touches the file, and so is
  // recover; info names the writer.
  const std::uint64_t sizeWhileLive = sizeOf(path);
  Recorder intruder(dir.path("crash"));
  ASSERT_TRUE(intruder.spawned());
  const int refused = intruder.wait();
  EXPECT_TRUE(WIFEXITED(refused) && WEXITSTATUS(refused) == 4) << "status " << refused;
  EXPECT_GE(sizeOf(path), sizeWhileLive) << "the second writer truncated the first one's file";
  const std::string writer = "being written by process " + std::to_string(recorder.pid());
  const ektest::ToolRun live = ektest::runTool(dir, {"recover", path});
  EXPECT_EQ(live.exitCode, 1);
  EXPECT_EQ(live.err, "ekvision recover: cannot recover " + path + ": " + writer + "\n");
  const ektest::ToolRun info = ektest::runTool(dir, {"info", path});
  EXPECT_NE(info.out.find("frames:       " + writer + " (not closed yet)\n"), std::string::npos)
      << info.out;

  const int status = recorder.wait(true);
  ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL)
      << "the recorder ended on its own, status " << status;

  const std::uint64_t size = sizeOf(path);
  const std::uint64_t complete = (size - kHeaderBytes) / kFrameBytes;
  const std::vector<unsigned char> left = ektest::readBytes(path);
  ASSERT_GE(left.size(), 12u);
  EXPECT_EQ(std::vector<unsigned char>(left.begin() + 8, left.begin() + 12),
            std::vector<unsigned char>(4, 0xFF))
      << "a killed recording was never closed";

  const ektest::ToolRun run = ektest::runTool(dir, {"recover", path});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out.rfind("recovered " + path + ": " + std::to_string(complete) + " frames", 0), 0u)
      << run.out;
  EXPECT_EQ(sizeOf(path), size) << "recover changes only the frame count";

  EK::EKVideo video;
  ASSERT_TRUE(video.readVideo(path));
  ASSERT_EQ(video.frameCount, complete);
  EK::EKImage image(EK::kResolution160x120, 0);
  for (unsigned int frame = 0; frame < complete; ++frame) {
    for (unsigned int stream = 0; stream < 2; ++stream) {
      ASSERT_TRUE(video.getFrame(image, frame, stream, true)) << frame << "/" << stream;
      EXPECT_EQ(image.timeStamp, ekcrash::stamp(frame, stream));
      EXPECT_EQ(image.cameraId, static_cast<char>(stream));
      std::size_t wrong = 0;
      for (std::size_t i = 25; i < ekcrash::recordBytes(stream); ++i) {
        wrong += image.frame[i] != ekcrash::pixel(frame, stream, i) ? 1 : 0;
      }
      EXPECT_EQ(wrong, 0u) << "pixels of frame " << frame << ", stream " << stream;
    }
  }
  // Past the last complete frame the reader stays on it: the unfinished frame is not read.
  ASSERT_TRUE(video.getFrame(image, static_cast<unsigned int>(complete), 0, true));
  EXPECT_EQ(image.timeStamp, ekcrash::stamp(static_cast<unsigned int>(complete) - 1, 0));
  EXPECT_FALSE(video.getNextFrame(image, true));
}

}  // namespace
