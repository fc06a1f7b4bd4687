// ekvision run --camera SPEC, record and cameras, end to end on live GStreamer pipelines and
// a clip made with ffmpeg.
#include <ekvision/ekimage.h>
#include <ekvision/ekvideo.h>
#include <ekvision/ekvideoinspection.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "toolrunner.h"

namespace {

using ektest::runTool;
using ektest::shellQuoted;

std::string ballPipeline(int width, int height, int rate) {
  return "gst:videotestsrc is-live=true pattern=ball ! video/x-raw,format=YUY2,width=" +
         std::to_string(width) + ",height=" + std::to_string(height) +
         ",framerate=" + std::to_string(rate) + "/1";
}

int countLines(const std::string& text, const std::string& prefix) {
  std::istringstream lines(text);
  std::string line;
  int count = 0;
  while (std::getline(lines, line)) {
    count += line.compare(0, prefix.size(), prefix) == 0 ? 1 : 0;
  }
  return count;
}

// Time stamps and sizes of a recording, read back with the library.
struct Readback {
  unsigned frames = 0;
  int width = 0;
  std::vector<long long> stamps;
};

Readback readBack(const std::string& path) {
  Readback result;
  EK::EKVideo video;
  video.readVideo(path);
  result.frames = video.frameCount;
  result.width = static_cast<int>(video.streams[0].width);
  EK::EKImage image(static_cast<int>(video.streams[0].width),
                    static_cast<int>(video.streams[0].height), EK::kColorSpaceYUV422);
  for (unsigned i = 0; i < video.frameCount && video.getFrame(image, i, 0, false); ++i) {
    result.stamps.push_back(image.timeStamp);
  }
  return result;
}

TEST(ToolCapture, RunPrintsDetectionsFromALivePipelineAndAClip) {
  ektest::TempDir dir;
  const ektest::ToolRun live = runTool(dir, {"run", "--camera", ballPipeline(320, 240, 30),
                                             "--seconds", "1.5", "--resolution", "1"});
  ASSERT_EQ(live.exitCode, 0) << live.err;
  EXPECT_NE(live.out.find("camera: GStreamer pipeline 'videotestsrc is-live=true pattern=ball"),
            std::string::npos)
      << live.out;
  EXPECT_NE(live.out.find("(320x240, YUYV as delivered)"), std::string::npos) << live.out;
  EXPECT_GE(countLines(live.out, "detection t="), 10) << live.out;
  EXPECT_EQ(live.out.find("skipped camera frames"), std::string::npos)
      << "a live camera keeps its own rate, so its frames are not counted on the module's grid";

  const std::string clip = dir.path("clip.mp4");
  ASSERT_EQ(std::system(("ffmpeg -loglevel error -y -f lavfi -i "
                         "testsrc2=size=320x240:rate=25:duration=1 -pix_fmt yuv420p " +
                         shellQuoted(clip))
                            .c_str()),
            0);
  const ektest::ToolRun file = runTool(
      dir, {"run", "--camera", clip, "--seconds", "1.5", "--resolution", "0", "--fps", "10"});
  ASSERT_EQ(file.exitCode, 0) << file.err;
  EXPECT_NE(file.out.find("camera: video file '" + clip +
                          "' (320x240, BGR converted to YUV422), scaled to 160x120"),
            std::string::npos)
      << file.out;
  EXPECT_GE(countLines(file.out, "detection t="), 5) << file.out;

  const ektest::ToolRun missing = runTool(dir, {"run", "--camera", dir.path("none.mp4")});
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_EQ(missing.err, "ekvision run: cannot open the camera " + dir.path("none.mp4") +
                             ": cannot open the video file " + dir.path("none.mp4") + "\n");
}

TEST(ToolCapture, RecordOfALivePipelineIsReadableWithTheRightCountAndStamps) {
  ektest::TempDir dir;
  const std::string out = dir.path("live.arv");
  const ektest::ToolRun run = runTool(
      dir, {"record", ballPipeline(320, 240, 30), out, "--frames", "20", "--resolution", "1"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.err, "");
  EXPECT_NE(run.out.find("recorded 20 frames in "), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("dropped 0 "), std::string::npos) << run.out;
  Readback recorded = readBack(out);
  EXPECT_EQ(recorded.frames, 20u);
  ASSERT_EQ(recorded.stamps.size(), 20u);
  for (std::size_t i = 1; i < recorded.stamps.size(); ++i) {
    const long long interval = recorded.stamps[i] - recorded.stamps[i - 1];
    EXPECT_GT(interval, 15000) << "frame " << i << ": 30 frames/s, none twice";
    EXPECT_LT(interval, 70000) << "frame " << i << ": 30 frames/s, none missed";
  }

  // Another size than the pipeline's, and fewer frames a second than it gives.
  const ektest::ToolRun thinned =
      runTool(dir, {"record", ballPipeline(320, 240, 30), out, "--seconds", "1", "--resolution",
                    "0", "--fps", "10"});
  ASSERT_EQ(thinned.exitCode, 0) << thinned.err;
  recorded = readBack(out);
  EXPECT_EQ(recorded.width, 160);
  EXPECT_GE(recorded.frames, 8u);
  EXPECT_LE(recorded.frames, 12u);
  for (std::size_t i = 1; i < recorded.stamps.size(); ++i) {
    EXPECT_GT(recorded.stamps[i] - recorded.stamps[i - 1], 70000) << "frame " << i;
  }
}

TEST(ToolCapture, RecordThatCannotBeWrittenWholeExitsNonZeroWithOneLine) {
  ektest::TempDir dir;
  const std::string full = dir.path("full.arv");
  std::filesystem::create_symlink("/dev/full", full);
  const ektest::ToolRun onFull = runTool(
      dir, {"record", ballPipeline(160, 120, 30), full, "--frames", "5", "--resolution", "0"});
  EXPECT_EQ(onFull.exitCode, 1);
  // The header reaches the file at once: a full disk refuses the recording from the start.
  EXPECT_EQ(onFull.err, "ekvision record: cannot record " + full +
                            ": Can't write the file header (No space left on device)\n");

  // A file size limit, with SIGXFSZ ignored so that writes fail instead of killing.
  const std::string limited = dir.path("limited.arv");
  const std::string command = "ulimit -f 400; trap '' XFSZ; exec " +
                              shellQuoted(EKVISION_TOOL_PATH) + " record " +
                              shellQuoted(ballPipeline(160, 120, 30)) + " " + shellQuoted(limited) +
                              " --frames 60 --resolution 0 >" + shellQuoted(dir.path("out")) +
                              " 2>" + shellQuoted(dir.path("err"));
  const int status = std::system(command.c_str());
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 1);
  const std::string err = ektest::fileText(dir.path("err"));
  EXPECT_TRUE(ektest::isOneLine(err)) << err;
  EXPECT_EQ(err.rfind("ekvision record: cannot write " + limited + " whole", 0), 0u) << err;
  EXPECT_NE(err.find("'ekvision recover " + limited + "' makes them readable"), std::string::npos)
      << err;
  // And it does: every complete frame is counted again.
  EXPECT_EQ(runTool(dir, {"recover", limited}).exitCode, 0);
  const EK::EKVideoInspection recovered = EK::inspectVideo(limited);
  EXPECT_TRUE(recovered.closed);
  EXPECT_GT(recovered.completeFrames, 0u);
  EXPECT_EQ(recovered.storedFrameCount, recovered.completeFrames);
}

TEST(ToolCapture, CamerasAndUsage) {
  ektest::TempDir dir;
  const ektest::ToolRun cameras = runTool(dir, {"cameras"});
  EXPECT_EQ(cameras.exitCode, 0);
  bool anyDevice = false;
  for (const auto& entry : std::filesystem::directory_iterator("/dev")) {
    anyDevice = anyDevice || entry.path().filename().string().rfind("video", 0) == 0;
  }
  if (!anyDevice) {
    EXPECT_EQ(cameras.out,
              "no V4L2 camera: there is no /dev/videoN capture device on this machine\n");
  }
  for (const char* command : {"record", "cameras"}) {
    const ektest::ToolRun help = runTool(dir, {command, "--help"});
    EXPECT_EQ(help.exitCode, 0) << command;
    EXPECT_EQ(help.out.rfind(std::string("usage: ekvision ") + command, 0), 0u) << help.out;
  }
  const struct {
    std::vector<std::string> args;
    const char* error;
  } refused[] = {
      {{"record", "a.arv", "b.arv"}, "a.arv is a recording already"},
      {{"record", "gst:videotestsrc", "b.arv", "--seconds", "1", "--frames", "2"},
       "give --seconds or --frames, not both"},
      {{"record", "gst:videotestsrc", "b.arv", "--resolution", "3"}, "--resolution"},
      {{"cameras", "extra"}, "extra"},
  };
  for (const auto& c : refused) {
    const ektest::ToolRun run = runTool(dir, c.args);
    EXPECT_EQ(run.exitCode, 2) << c.error;
    EXPECT_TRUE(ektest::isOneLine(run.err)) << run.err;
    EXPECT_NE(run.err.find(c.error), std::string::npos) << run.err;
  }
}

}  // namespace
