// ekvision run on a live camera, record and cameras, end to end on GStreamer pipelines.
#include <ekvision/ekimage.h>
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

std::string ballPipeline(int width, int height, int rate) {
  return "gst:videotestsrc is-live=true pattern=ball ! video/x-raw,format=YUY2,width=" +
         std::to_string(width) + ",height=" + std::to_string(height) +
         ",framerate=" + std::to_string(rate) + "/1";
}

TEST(ToolCapture, RunPrintsDetectionsFromALivePipeline) {
  ektest::TempDir dir;
  const ektest::ToolRun live = runTool(dir, {"run", "--camera", ballPipeline(320, 240, 30),
                                             "--seconds", "1.5", "--resolution", "1"});
  ASSERT_EQ(live.exitCode, 0) << live.err;
  EXPECT_NE(live.out.find("camera: GStreamer pipeline '" + ballPipeline(320, 240, 30).substr(4) +
                          "' (320x240, YUY2 as delivered)"),
            std::string::npos)
      << live.out;
  EXPECT_GE(ektest::detectionsIn(live.out).size(), 10u) << live.out;
  EXPECT_EQ(live.out.find("skipped camera frames"), std::string::npos)
      << "a live camera keeps its own rate, so its frames are not counted on the module's grid";
}

TEST(ToolCapture, RecordThatCannotBeWrittenWholeExitsNonZeroWithOneLine) {
  ektest::TempDir dir;
  // A file size limit, with SIGXFSZ ignored so that writes fail instead of killing.
  const std::string path = dir.path("limited.arv");
  const ektest::ToolRun limited = runTool(
      dir, {"record", ballPipeline(160, 120, 30), path, "--frames", "60", "--resolution", "0"},
      "ulimit -f 400; trap '' XFSZ;");
  EXPECT_EQ(limited.exitCode, 1);
  // The same line as a run's recording or an import cut off by a full disk.
  EXPECT_EQ(limited.err.rfind("ekvision record: cannot write " + path + ": file too large; ", 0),
            0u)
      << limited.err;
  const std::string end =
      " complete frames reached the file ('ekvision recover " + path + "' restores them)\n";
  EXPECT_EQ(limited.err.find(end), limited.err.size() - end.size()) << limited.err;
  EXPECT_EQ(std::count(limited.err.begin(), limited.err.end(), '\n'), 1) << "one line";
  EXPECT_EQ(limited.out.find("recorded "), std::string::npos) << "no summary of a lost recording";
  // And it does: every complete frame is counted again.
  EXPECT_EQ(runTool(dir, {"recover", path}).exitCode, 0);
  const EK::EKVideoInspection recovered = EK::inspectVideo(path);
  EXPECT_TRUE(recovered.closed);
  EXPECT_GT(recovered.completeFrames, 0u);
  EXPECT_EQ(recovered.storedFrameCount, recovered.completeFrames);
}

TEST(ToolCapture, CamerasSaysWhenThereIsNone) {
  ektest::TempDir dir;
  const ektest::ToolRun cameras = runTool(dir, {"cameras"});
  EXPECT_EQ(cameras.exitCode, 0);
  for (const auto& entry : std::filesystem::directory_iterator("/dev")) {
    if (entry.path().filename().string().rfind("video", 0) == 0) {
      GTEST_SKIP() << "this machine has a camera";
    }
  }
  EXPECT_EQ(cameras.out,
            "no V4L2 camera: there is no /dev/videoN capture device on this machine\n");
}

}  // namespace
