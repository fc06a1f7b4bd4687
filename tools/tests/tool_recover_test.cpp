// ekvision recover on recordings left unclosed by a crash, cut short, or holding frames
// beyond their count.
#include <ekvision/ekvideo.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "toolrunner.h"

namespace {

// The file's bytes with the frame count field (bytes 8 to 11) blanked.
std::vector<unsigned char> bytesBesidesTheCount(const std::string& path) {
  std::vector<unsigned char> bytes = ektest::readBytes(path);
  std::fill(bytes.begin() + 8, bytes.begin() + 12, 0);
  return bytes;
}

TEST(ToolRecover, OnlyTheFrameCountChangesAndEveryCountedFrameIsReadable) {
  ektest::TempDir dir;
  const std::string path = dir.path("r.arv");
  const std::size_t frame = 19200;  // a 160x120 grey record
  struct Case {
    unsigned int recorded;
    bool closed;
    std::size_t size;       // the file cut or grown to this, 0: as recorded
    const char* option;     // or none
    unsigned int readable;  // frames counted after the run (0 for a dry run)
    std::string out;        // with "P" for the path
  };
  const Case cases[] = {
      {3, false, 0, "--dry-run", 0, "would set the frame count of P to 3 (it was never closed)"},
      {4, false, 32 + 3 * frame + 500, nullptr, 3,
       "recovered P: 3 frames (it was never closed); an unfinished last frame of 500 bytes is "
       "left out of the count"},
      {4, true, 32 + 2 * frame + 7, nullptr, 2,
       "recovered P: 2 frames (the header said 4 frames but the file is cut short); an "
       "unfinished last frame of 7 bytes is left out of the count"},
      {2, true, 32 + 4 * frame + 10, nullptr, 2,
       "P is closed with 2 frames: nothing to recover (the file holds 4 complete frames; "
       "--extend counts them)"},
      {2, true, 32 + 4 * frame + 10, "--extend", 4,
       "recovered P: 4 frames (the header said 2 frames and the file holds 4); an unfinished "
       "last frame of 10 bytes is left out of the count"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.out);
    ektest::recordClip(dir.path("r"), c.recorded, {{160, 120, 0, 8}}, ektest::stampOf, 0, c.closed);
    if (c.size > 0) {
      std::filesystem::resize_file(path, c.size);
    }
    const std::vector<unsigned char> before = ektest::readBytes(path);
    const std::vector<unsigned char> beforeButTheCount = bytesBesidesTheCount(path);
    std::vector<std::string> args = {"recover", path};
    if (c.option != nullptr) {
      args.push_back(c.option);
    }
    const ektest::ToolRun run = ektest::runTool(dir, args);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    std::string out = c.out;
    out.replace(out.find('P'), 1, path);
    EXPECT_EQ(run.out, out + "\n");
    if (c.readable == 0 || c.out.rfind("P is closed", 0) == 0) {
      EXPECT_EQ(ektest::readBytes(path), before) << "the file is left alone";
      if (c.size > 0) {  // info names the frames beyond the count too
        EXPECT_NE(ektest::runTool(dir, {"info", path})
                      .out.find("warning:      the file holds 2 complete frames beyond its "
                                "count ('ekvision recover --extend' counts them)\n"),
                  std::string::npos);
      }
      continue;
    }
    EXPECT_EQ(bytesBesidesTheCount(path), beforeButTheCount);
    EK::EKVideo video;
    ASSERT_TRUE(video.readVideo(path));
    EXPECT_EQ(video.frameCount, c.readable);
    EK::EKImage image(EK::kResolution160x120, 0);
    for (unsigned int f = 0; f < c.readable; ++f) {
      ASSERT_TRUE(video.getFrame(image, f, 0, true)) << "frame " << f;
      EXPECT_EQ(image.timeStamp, f < c.recorded ? ektest::stampOf(f, 0) : 0) << "frame " << f;
    }
  }
}

}  // namespace
