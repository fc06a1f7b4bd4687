// The tool's command line as a user meets it: usage and help, info and convert, and the
// documents that show the code the project builds. Refusals are checked with the tool's other
// messages; the engines behind run, import, export and record are tested in process (host/).
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
  // Every command's help starts with its usage line and says what each option takes.
  for (const char* command :
       {"info", "export", "import", "recover", "convert", "run", "record", "cameras"}) {
    const ektest::ToolRun help = runTool(dir, {command, "--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_EQ(help.out.rfind(std::string("usage: ekvision ") + command + " [OPTIONS]", 0), 0u)
        << help.out;
    EXPECT_EQ(help.err, "");
  }
  const ektest::ToolRun run = runTool(dir, {"run", "--help"});
  for (const char* option : {"--seconds S", "--frames N", "--fps N", "--resolution R",
                             "--camera SPEC", "--call METHOD [ARG...]", "--summary-json"}) {
    EXPECT_NE(run.out.find(option), std::string::npos) << option;
  }
  EXPECT_NE(run.out.find("3: 1280x960"), std::string::npos) << run.out;
}

// A recording left unclosed, with part of a frame after its last complete one.
TEST_F(ToolCommands, InfoDescribesARecording) {
  const std::string path = ektest::recordClip(
      dir.path("clip"), 3, {{320, 240, 9, 8}, {160, 120, 0, 8}},
      [](unsigned int frame, unsigned int) { return 1000000 + 40000LL * frame; }, 0, false);
  std::filesystem::resize_file(path, std::filesystem::file_size(path) + 100);
  const ektest::ToolRun run = runTool(dir, {"info", path});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.err, "");
  for (const char* line :
       {"  stream 1:   160x120 (resolution 0), color space 0, 1 layer, depth 8, record 19200 "
        "bytes\n",
        "frame size:   172800 bytes\n", "frames:       not closed: the frame count is 0xFFFFFFFF",
        "in the file:  3 complete frames, and 100 bytes of an unfinished frame\n",
        "last stamp:   1080000 us\n", "mean rate:    25.000 frames/s\n"}) {
    EXPECT_NE(run.out.find(line), std::string::npos) << "missing: " << line << run.out;
  }
}

TEST_F(ToolCommands, InfoDescribesAPictureAndRefusesOtherFiles) {
  EK::EKImage image(EK::kResolution320x240, EK::kColorSpaceYUV422);
  image.timeStamp = 1234;
  image.cameraId = 1;
  ASSERT_TRUE(image.writeFile(dir.path("pic.ari").c_str()));
  const ektest::ToolRun run = runTool(dir, {"info", dir.path("pic.ari")});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_NE(run.out.find("size:        320x240\n"), std::string::npos);
  EXPECT_NE(run.out.find("time stamp:  1234 us\n"), std::string::npos);

  ektest::writeBytes(dir.path("bad.arv"),
                     ektest::arvHeader(ektest::kArvVersion1, 0, 0, 1, {{1280, 960, 9, 8}}).get());
  // The recorder writes any header: info describes what it cannot play, and says so.
  const ektest::ToolRun unplayable = runTool(dir, {"info", dir.path("bad.arv")});
  EXPECT_EQ(unplayable.exitCode, 0) << unplayable.err;
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

// Each document shows the walk-through's code in the first C++ block after its heading.
TEST(WalkThrough, TheDocumentsShowTheCodeThatIsBuilt) {
  const std::string code =
      ektest::fileText(EKVISION_SOURCE_DIR "/examples/walkthrough/brightspot.cpp") + "```\n";
  for (const auto& [path, heading] :
       {std::pair{"/docs/writing-a-module.md", "## Writing your own vision module"},
        std::pair{"/README.md", "## Write your own vision module"}}) {
    const std::string document = ektest::fileText(EKVISION_SOURCE_DIR + std::string(path));
    const std::size_t begin = document.find("```cpp\n", document.find(heading));
    ASSERT_LT(begin, document.size()) << path;
    EXPECT_EQ(document.substr(begin + 7, code.size()), code) << path;
  }
}

}  // namespace
