// ekvision recover on recordings left unclosed by a crash and on files cut short.
#include <ekvision/ekvideo.h>
#include <ekvision/ekvideoinspection.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "toolrunner.h"

namespace {

using ektest::runTool;

class ToolRecover : public ::testing::Test {
 protected:
  // The file's bytes with the frame count field (bytes 8 to 11) blanked.
  static std::vector<unsigned char> bytesBesidesTheCount(const std::string& path) {
    std::vector<unsigned char> bytes = ektest::readBytes(path);
    for (int i = 8; i < 12 && i < static_cast<int>(bytes.size()); ++i) {
      bytes[i] = 0;
    }
    return bytes;
  }
  // Reads every frame the header counts and checks its time stamp.
  static void expectReadable(const std::string& path, unsigned int frames) {
    EK::EKVideo video;
    ASSERT_TRUE(video.readVideo(path));
    EXPECT_EQ(video.frameCount, frames);
    EK::EKImage image(EK::kResolution160x120, 0);
    for (unsigned int frame = 0; frame < frames; ++frame) {
      ASSERT_TRUE(video.getFrame(image, frame, 0, true)) << "frame " << frame;
      EXPECT_EQ(image.timeStamp, ektest::stampOf(frame, 0));
    }
  }

  ektest::TempDir dir;
  const EK::streamHeader grey{160, 120, 0, 8};
};

TEST_F(ToolRecover, ARecordingLeftOpenGetsItsFrameCount) {
  const std::string path = ektest::recordClip(dir.path("crash"), 3, {grey}, ektest::stampOf, 0,
                                              /*close=*/false);
  const std::vector<unsigned char> before = bytesBesidesTheCount(path);
  const ektest::ToolRun dry = runTool(dir, {"recover", path, "--dry-run"});
  EXPECT_EQ(dry.exitCode, 0);
  EXPECT_EQ(dry.out, "would set the frame count of " + path + " to 3 (it was never closed)\n");
  EXPECT_EQ(ektest::readBytes(path)[8], 0xFF);

  const ektest::ToolRun run = runTool(dir, {"recover", path});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out, "recovered " + path + ": 3 frames (it was never closed)\n");
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(bytesBesidesTheCount(path), before);
  expectReadable(path, 3);

  // Now closed, the file is left alone.
  const std::vector<unsigned char> recovered = ektest::readBytes(path);
  const ektest::ToolRun again = runTool(dir, {"recover", path});
  EXPECT_EQ(again.exitCode, 0);
  EXPECT_EQ(again.out, path + " is closed with 3 frames: nothing to recover\n");
  EXPECT_EQ(ektest::readBytes(path), recovered);
}

TEST_F(ToolRecover, AnUnfinishedLastFrameIsLeftOutOfTheCount) {
  const std::string open = ektest::recordClip(dir.path("open"), 4, {grey}, ektest::stampOf, 0,
                                              /*close=*/false);
  std::filesystem::resize_file(open, 32 + 3 * 19200 + 500);
  const ektest::ToolRun run = runTool(dir, {"recover", open});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out, "recovered " + open +
                         ": 3 frames (it was never closed); an unfinished last frame of 500 "
                         "bytes is left out of the count\n");
  expectReadable(open, 3);
  EXPECT_EQ(std::filesystem::file_size(open), 32u + 3u * 19200u + 500u);

  const std::string cut = ektest::recordClip(dir.path("cut"), 4, {grey});
  std::filesystem::resize_file(cut, 32 + 2 * 19200 + 7);
  const std::vector<unsigned char> before = bytesBesidesTheCount(cut);
  const ektest::ToolRun shortened = runTool(dir, {"recover", cut});
  ASSERT_EQ(shortened.exitCode, 0) << shortened.err;
  EXPECT_NE(shortened.out.find(": 2 frames (the header said 4 frames but the file is cut short)"),
            std::string::npos);
  EXPECT_EQ(bytesBesidesTheCount(cut), before);
  expectReadable(cut, 2);
}

TEST_F(ToolRecover, FramesBeyondAClosedCountAreReportedAndCountedOnlyWhenAsked) {
  const std::string path = ektest::recordClip(dir.path("more"), 2, {grey});
  std::vector<unsigned char> bytes = ektest::readBytes(path);
  bytes.resize(bytes.size() + 2 * 19200 + 10, 0x33);
  ektest::writeBytes(path, bytes);

  const ektest::ToolRun info = runTool(dir, {"info", path});
  EXPECT_EQ(info.exitCode, 0) << info.err;
  EXPECT_NE(info.out.find("warning:      the file holds 2 complete frames beyond its count "
                          "('ekvision recover --extend' counts them)\n"),
            std::string::npos)
      << info.out;

  const ektest::ToolRun plain = runTool(dir, {"recover", path});
  EXPECT_EQ(plain.exitCode, 0);
  EXPECT_EQ(plain.out, path +
                           " is closed with 2 frames: nothing to recover (the file holds 4 "
                           "complete frames; --extend counts them)\n");
  EXPECT_EQ(ektest::readBytes(path), bytes);

  const ektest::ToolRun extended = runTool(dir, {"recover", path, "--extend"});
  EXPECT_EQ(extended.exitCode, 0) << extended.err;
  EXPECT_EQ(extended.out, "recovered " + path +
                              ": 4 frames (the header said 2 frames and the file holds 4); an "
                              "unfinished last frame of 10 bytes is left out of the count\n");
  std::vector<unsigned char> blanked = bytes;
  std::fill(blanked.begin() + 8, blanked.begin() + 12, 0);
  EXPECT_EQ(bytesBesidesTheCount(path), blanked);
  EXPECT_EQ(EK::inspectVideo(path).storedFrameCount, 4u);
}

}  // namespace
