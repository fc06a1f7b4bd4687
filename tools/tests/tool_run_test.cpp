// ekvision run, end to end: the executable runs the example module on the synthetic scene
// and on a recording, and the boxes it prints are checked against where the scene put the
// rectangle.
#include <ekvideodevice/eksyntheticsource.h>
#include <ekvision/ekimage.h>
#include <ekvision/ekvideo.h>

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include <algorithm>
#include <array>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "toolrunner.h"

namespace {

using ektest::detectionsIn;
using ektest::PrintedDetection;
using ektest::runTool;

long long sceneEpoch(const std::string& out) {
  const std::size_t at = out.find("(epoch ");
  return at == std::string::npos ? -1 : std::stoll(out.substr(at + 7));
}

// The frames of a one-stream recording: time stamps and pixels from byte 28 on (the bytes
// before hold the record header).
struct Recorded {
  std::vector<long long> stamps;
  std::vector<std::vector<unsigned char>> pixels;
};

Recorded readRecording(const std::string& path) {
  Recorded recorded;
  EK::EKVideo video;
  EXPECT_TRUE(video.readVideo(path));
  EK::EKImage image(EK::kResolution160x120, EK::kColorSpaceYUV422);
  for (unsigned f = 0; f < video.frameCount; ++f) {
    EXPECT_TRUE(video.getFrame(image, f, 0, true));
    recorded.stamps.push_back(image.timeStamp);
    recorded.pixels.emplace_back(image.frame + 28, image.frame + image.width * image.height * 2);
  }
  return recorded;
}

using Box = std::array<int, 4>;  // x, y, w, h

// Every detection is the bounding box of the rectangle in the frame before and in its own
// frame, which a luma difference finds.
template <typename TruthOfFrame>
void expectBoxesFollowTheRectangle(const std::vector<PrintedDetection>& detections,
                                   const std::vector<long long>& frameStamps, TruthOfFrame truth) {
  ASSERT_FALSE(detections.empty());
  for (const PrintedDetection& d : detections) {
    const auto at = std::find(frameStamps.begin(), frameStamps.end(), d.timeStamp);
    ASSERT_NE(at, frameStamps.end()) << "detection of an unrecorded frame " << d.timeStamp;
    ASSERT_NE(at, frameStamps.begin()) << "the first frame only primes the detector";
    const std::size_t k = static_cast<std::size_t>(at - frameStamps.begin());
    const EK::EKPixelRect a = truth(k - 1);
    const EK::EKPixelRect b = truth(k);
    const int x = std::min(a.x, b.x), y = std::min(a.y, b.y);
    EXPECT_EQ((Box{d.x, d.y, d.w, d.h}),
              (Box{x, y, std::max(a.x + a.w, b.x + b.w) - x, std::max(a.y + a.h, b.y + b.h) - y}))
        << "frame " << k;
  }
}

class ToolRun : public ::testing::Test {
 protected:
  // @p frames of the scene at 320x240, 1/15 s apart from 1 s on, recorded into NAME.arv (left
  // unclosed, as after a crash, unless @p close); returns their stamps.
  std::vector<long long> recordScene(const std::string& name, int frames, bool close = true) {
    std::vector<long long> stamps;
    auto video = std::make_unique<EK::EKVideo>();
    EXPECT_TRUE(video->recordVideo(dir.path(name), 0, {{320, 240, EK::kColorSpaceYUV422, 8}}));
    for (int i = 0; i < frames; ++i) {
      EK::EKFrameRequest request{
          "test", 320, 240, EK::kColorSpaceYUV422, 0, i, 1000000 + i * 66667};
      EK::EKValue value = scene.grab(request);
      auto* pixels = static_cast<unsigned char*>(const_cast<void*>(value[6].GetBinary()));
      EXPECT_TRUE(video->write(reinterpret_cast<char*>(pixels), 320 * 240 * 2, request.timeStamp, 0,
                               0.4f, 0.3f, -0.4f, -0.3f));
      stamps.push_back(request.timeStamp);
    }
    testing::internal::CaptureStdout();
    if (close) {
      video->closeVideo();
    }
    video.reset();
    testing::internal::GetCapturedStdout();
    return stamps;
  }
  EK::EKPixelRect sceneRect(long long stamp) const {
    return EK::EKSyntheticSource::toPixels(scene.objectAt(stamp), 320, 240);
  }

  ektest::TempDir dir;
  EK::EKSyntheticSource scene{1000000};
};

// One run writes every output: the recording, the contact sheet and the detection log.
TEST_F(ToolRun, OnTheSyntheticSceneTheBoxesFollowTheRectangleAndEveryOutputIsWritten) {
  const std::string log = dir.path("detections.jsonl");
  const ektest::ToolRun run =
      runTool(dir, {"run", "--seconds", "2", "--resolution", "1", "--record", dir.path("run.arv"),
                    "--contact-sheet", dir.path("sheet.png"), "--detections", log});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.err, "");
  const EK::EKSyntheticSource scene(sceneEpoch(run.out));
  ASSERT_GT(scene.getEpoch(), 0) << run.out;
  const Recorded recorded = readRecording(dir.path("run.arv"));
  ASSERT_GE(recorded.stamps.size(), 20u) << "2 s at 15 frames/s";
  const std::vector<PrintedDetection> detections = detectionsIn(run.out);
  // The loop and the camera keep time apart: a fetch that comes just before the camera's next
  // frame is due gets the previous frame again, which shows no motion.
  std::size_t repeated = 0;
  for (std::size_t k = 1; k < recorded.stamps.size(); ++k) {
    repeated += recorded.stamps[k] == recorded.stamps[k - 1] ? 1 : 0;
  }
  EXPECT_GE(detections.size() + 2 + repeated, recorded.stamps.size())
      << "the rectangle never stops\n"
      << run.out;
  expectBoxesFollowTheRectangle(detections, recorded.stamps, [&](std::size_t k) {
    return EK::EKSyntheticSource::toPixels(scene.objectAt(recorded.stamps[k]), 320, 240);
  });
  const std::string count = std::to_string(recorded.stamps.size());
  for (const std::string& line :
       {"frames:      " + count + " processed",
        std::string("pacing:      |period - 66.67 ms| mean "),
        "recorded:    " + count + " frames to " + dir.path("run.arv") + "\n",
        "detection log: " + std::to_string(detections.size()) + " lines to " + log + "\n"}) {
    EXPECT_NE(run.out.find(line), std::string::npos) << line << "\n" << run.out;
  }
  const cv::Mat sheet = cv::imread(dir.path("sheet.png"));
  EXPECT_EQ(sheet.cols, 4 + 4 * (320 + 4)) << "four tiles a row";
  EXPECT_EQ(sheet.rows, 4 + 2 * (240 + 4)) << "two rows";
  // The log holds the printed detections, one JSON line each.
  const std::string json = ektest::fileText(log);
  EXPECT_EQ(static_cast<std::size_t>(std::count(json.begin(), json.end(), '\n')),
            detections.size());
  EXPECT_EQ(json.rfind("{\"timeStamp\":" + std::to_string(detections[0].timeStamp) +
                           ",\"x\":" + std::to_string(detections[0].x) + ",",
                       0),
            0u)
      << json;
}

// In real time the recording plays in a loop: every frame played is one of its frames.
TEST_F(ToolRun, PlayingARecordingLoopsOverItsFrames) {
  recordScene("clip", 30);
  const ektest::ToolRun run =
      runTool(dir, {"run", "--camera", dir.path("clip.arv"), "--frames", "40", "--fps", "30",
                    "--record", dir.path("played.arv")});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_NE(run.out.find("camera: playback of " + dir.path("clip.arv") +
                         " in a loop (30 frames, 320x240"),
            std::string::npos)
      << run.out;
  const Recorded played = readRecording(dir.path("played.arv"));
  const Recorded clip = readRecording(dir.path("clip.arv"));
  ASSERT_EQ(played.stamps.size(), 40u) << run.out;
  for (std::size_t k = 0; k < played.pixels.size(); ++k) {
    EXPECT_NE(std::find(clip.pixels.begin(), clip.pixels.end(), played.pixels[k]),
              clip.pixels.end())
        << "frame " << k << " is no frame of the recording";
  }
  EXPECT_GE(detectionsIn(run.out).size(), 30u) << run.out;
}

// --every-frame: offline, the module gets every recorded frame once, in order, with its own
// stamp, and the run ends at the last frame or where a crash left off.
TEST_F(ToolRun, EveryFrameHandsTheModuleEachRecordedFrameOnceInOrder) {
  const std::vector<long long> stamps = recordScene("clip", 40);
  const ektest::ToolRun run =
      runTool(dir, {"run", "--camera", dir.path("clip.arv"), "--every-frame"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_NE(run.out.find("frames:      40 processed, every frame once"), std::string::npos)
      << run.out;
  // The detector primes on frame 0 and then boxes the rectangle's move into every frame.
  const std::vector<PrintedDetection> found = detectionsIn(run.out);
  ASSERT_EQ(found.size(), 39u) << run.out;
  for (std::size_t k = 1; k < stamps.size(); ++k) {
    EXPECT_EQ(found[k - 1].timeStamp, stamps[k]) << "detection " << k;
  }
  expectBoxesFollowTheRectangle(found, stamps, [&](std::size_t k) { return sceneRect(stamps[k]); });

  recordScene("crashed", 7, false);
  const ektest::ToolRun crashed =
      runTool(dir, {"run", "--every-frame", "--camera", dir.path("crashed.arv")});
  EXPECT_EQ(crashed.exitCode, 0) << crashed.err;
  EXPECT_NE(crashed.out.find("frames:      7 processed"), std::string::npos) << crashed.out;
}

// One run calls a setter, a getter and pause: the loop then stands still until the stop.
TEST_F(ToolRun, RemoteMethodsAreCalledInOrderWithTheirArgumentsRead) {
  const ektest::ToolRun run =
      runTool(dir, {"run", "--seconds", "0.5", "--resolution", "0", "--call", "setFrameRate", "30",
                    "--call", "getFrameRate", "--call", "pause", "true"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_NE(run.out.find("call setFrameRate(30) -> true\ncall getFrameRate() -> 30\n"
                         "call pause(true) -> done\n"),
            std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("(asked 30)"), std::string::npos) << run.out;
  // Frames: the first, one that may be under way when the pause comes, and one when the
  // stop resumes the loop so that it can end; nothing in the half second between.
  int frames = -1;
  const std::size_t at = run.out.find("frames:");
  ASSERT_NE(at, std::string::npos) << run.out;
  ASSERT_EQ(std::sscanf(run.out.c_str() + at, "frames: %d processed", &frames), 1);
  EXPECT_LE(frames, 3);
}

#ifdef EKVISION_BRIGHTSPOT_PLUGIN
TEST_F(ToolRun, TheWalkThroughPluginBoxesTheRectangleExactly) {
  const ektest::ToolRun run = runTool(
      dir, {"run", "--module", EKVISION_BRIGHTSPOT_PLUGIN, "--frames", "6", "--resolution", "1"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_NE(run.out.find("module: brightspot from "), std::string::npos) << run.out;
  const EK::EKSyntheticSource scene(sceneEpoch(run.out));
  const std::vector<PrintedDetection> detections = detectionsIn(run.out);
  EXPECT_GE(detections.size(), 6u) << "the rectangle is in every frame";
  for (const PrintedDetection& d : detections) {
    const EK::EKPixelRect r =
        EK::EKSyntheticSource::toPixels(scene.objectAt(d.timeStamp), 320, 240);
    EXPECT_EQ((Box{d.x, d.y, d.w, d.h}), (Box{r.x, r.y, r.w, r.h}));
  }
}
#endif

// Ctrl-C four seconds in (a kill ten seconds later if it hangs): the run ends, closing its
// recording, and exits 0.
TEST_F(ToolRun, AnInterruptEndsTheRunCleanly) {
  const std::string recording = dir.path("interrupted.arv");
  const ektest::ToolRun run =
      runTool(dir, {"run", "--seconds", "60", "--resolution", "0", "--record", recording}, "",
              "timeout --foreground --preserve-status -k 10 -s INT 4");
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_NE(run.out.find("detection t="), std::string::npos) << "the run had begun";
  EK::EKVideo video;
  ASSERT_TRUE(video.readVideo(recording));
  EXPECT_NE(video.frameCount, 0xFFFFFFFFu) << "the recording was closed";
  EXPECT_GE(video.frameCount, 2u);
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
