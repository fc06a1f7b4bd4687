// ekvision info and ekvision convert, run as a user runs them.
#include <ekvision/ekimage.h>
#include <ekvision/ekvideo.h>

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "toolrunner.h"

namespace {

using ektest::runTool;

class ToolCommands : public ::testing::Test {
 protected:
  ektest::TempDir dir;
};

TEST_F(ToolCommands, UsageAndHelp) {
  const ektest::ToolRun bare = runTool(dir, {});
  EXPECT_EQ(bare.exitCode, 2);
  EXPECT_EQ(bare.err.rfind("usage: ekvision COMMAND", 0), 0u) << bare.err;
  const ektest::ToolRun help = runTool(dir, {"--help"});
  EXPECT_EQ(help.exitCode, 0);
  for (const char* command :
       {"info", "export", "import", "recover", "convert", "run", "record", "cameras"}) {
    EXPECT_NE(help.out.find(std::string("\n  ") + command + " "), std::string::npos) << command;
    const ektest::ToolRun run = runTool(dir, {command, "--help"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out.rfind(std::string("usage: ekvision ") + command, 0), 0u) << run.out;
    EXPECT_EQ(run.err, "");
  }
}

TEST_F(ToolCommands, InfoDescribesARecording) {
  const std::string path = ektest::recordClip(
      dir.path("clip"), 3, {{320, 240, 9, 8}, {160, 120, 0, 8}},
      [](unsigned int frame, unsigned int) { return 1000000 + 40000LL * frame; });
  const ektest::ToolRun run = runTool(dir, {"info", path});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.err, "");
  for (const char* line :
       {"format:       arv version 1\n", "streams:      2\n",
        "  stream 0:   320x240 (resolution 1), color space 9 (YUV422), 2 layers, depth 8, "
        "record 153600 bytes\n",
        "  stream 1:   160x120 (resolution 0), color space 0, 1 layer, depth 8, record 19200 "
        "bytes\n",
        "frame size:   172800 bytes\n", "frames:       3\n", "in the file:  3 complete frames\n",
        "first stamp:  1000000 us\n", "last stamp:   1080000 us\n", "duration:     0.080000 s\n",
        "mean rate:    25.000 frames/s\n"}) {
    EXPECT_NE(run.out.find(line), std::string::npos) << "missing: " << line << run.out;
  }
}

TEST_F(ToolCommands, InfoNamesAnUnclosedOrCutRecording) {
  const std::string path =
      ektest::recordClip(dir.path("crash"), 2, {{160, 120, 0, 8}}, ektest::stampOf, 0, false);
  std::filesystem::resize_file(path, std::filesystem::file_size(path) + 100);
  const ektest::ToolRun open = runTool(dir, {"info", path});
  ASSERT_EQ(open.exitCode, 0) << open.err;
  EXPECT_NE(open.out.find("frames:       not closed: the frame count is 0xFFFFFFFF"),
            std::string::npos);
  EXPECT_NE(open.out.find("in the file:  2 complete frames, and 100 bytes of an unfinished frame"),
            std::string::npos);
  EXPECT_NE(open.out.find("last stamp:   1000 us"), std::string::npos);

  const std::string cut = ektest::recordClip(dir.path("cut"), 4, {{160, 120, 0, 8}});
  std::filesystem::resize_file(cut, 32 + 2 * 19200);
  const ektest::ToolRun shortened = runTool(dir, {"info", cut});
  EXPECT_NE(shortened.out.find("frames:       4\n"), std::string::npos);
  EXPECT_NE(shortened.out.find("warning:      the file is cut short"), std::string::npos);
}

TEST_F(ToolCommands, InfoDescribesAPictureAndRefusesOtherFiles) {
  EK::EKImage image(EK::kResolution320x240, EK::kColorSpaceYUV422);
  image.timeStamp = 1234;
  image.cameraId = 1;
  ASSERT_TRUE(image.writeFile(dir.path("pic.ari").c_str()));
  const ektest::ToolRun run = runTool(dir, {"info", dir.path("pic.ari")});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_NE(run.out.find("format:      ari version 1\n"), std::string::npos);
  EXPECT_NE(run.out.find("size:        320x240\n"), std::string::npos);
  EXPECT_NE(run.out.find("time stamp:  1234 us\n"), std::string::npos);

  ektest::writeBytes(dir.path("bad.arv"),
                     ektest::arvHeader(ektest::kArvVersion1, 0, 0, 1, {{1280, 960, 9, 8}}).get());
  // The recorder writes any header: info describes what it cannot play, and says so.
  const ektest::ToolRun unplayable = runTool(dir, {"info", dir.path("bad.arv")});
  EXPECT_EQ(unplayable.exitCode, 0) << unplayable.err;
  EXPECT_NE(unplayable.out.find("  stream 0:   1280x960 (resolution 3), color space 9 (YUV422), 2 "
                                "layers, depth 8, record 2457600 bytes\n"),
            std::string::npos)
      << unplayable.out;
  EXPECT_NE(unplayable.out.find("playable:     no (Unsupported resolution)\n"), std::string::npos);
}

TEST_F(ToolCommands, ConvertWritesTheLibraryConversion) {
  EK::EKImage yuv(EK::kResolution320x240, EK::kColorSpaceYUV422);
  std::mt19937 generator(3);
  for (int i = 0; i < yuv.allocatedSize; ++i) {
    yuv.frame[i] = static_cast<unsigned char>(generator());
  }
  ASSERT_TRUE(yuv.writeFile(dir.path("yuv.ari").c_str()));
  cv::Mat expected(240, 320, CV_8UC3);
  ASSERT_TRUE(yuv.computeBGRimageFromYUV422(expected.data));
  for (const char* target : {"out.png", "out.ppm"}) {
    SCOPED_TRACE(target);
    const ektest::ToolRun run = runTool(dir, {"convert", dir.path("yuv.ari"), dir.path(target)});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const cv::Mat written = cv::imread(dir.path(target), cv::IMREAD_UNCHANGED);
    ASSERT_EQ(written.type(), CV_8UC3);
    EXPECT_EQ(cv::norm(written, expected, cv::NORM_INF), 0);
  }
}

}  // namespace
