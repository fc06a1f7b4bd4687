// The run engine in process: the motion detector on the synthetic scene and on recordings,
// its boxes checked against where the scene put the rectangle, and the report and files it
// leaves.
#include <ekvideodevice/eksyntheticsource.h>
#include <ekvision/ekimage.h>
#include <ekvision/ekimagevalue.h>
#include <ekvision/ekvideo.h>

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include <algorithm>
#include <array>
#include <csignal>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "hosttest.h"
#include "run.h"
#include "thinning.h"
#include "videotestsupport.h"

namespace {

long long sceneEpoch(const std::string& camera) {
  const std::size_t at = camera.find("(epoch ");
  return at == std::string::npos ? -1 : std::stoll(camera.substr(at + 7));
}

// The frames of a one-stream recording: time stamps and the pixels after the record header.
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
void expectBoxesFollowTheRectangle(const std::vector<EK::EKDetection>& detections,
                                   const std::vector<long long>& frameStamps, TruthOfFrame truth) {
  ASSERT_FALSE(detections.empty());
  for (const EK::EKDetection& d : detections) {
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

class HostRun : public ::testing::Test {
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
      auto* pixels =
          static_cast<unsigned char*>(const_cast<void*>(value[EK::kImageArrayPixels].GetBinary()));
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
  ektest::Collector told;
};

// One run writes every output: the recording, the contact sheet, the detection log and the
// summary.
TEST_F(HostRun, OnTheSyntheticSceneTheBoxesFollowTheRectangleAndEveryOutputIsWritten) {
  ekhost::RunOptions options;
  options.seconds = 2;
  options.resolution = EK::kResolution320x240;
  options.record = dir.path("run.arv");
  options.contactSheet = dir.path("sheet.png");
  options.detections = dir.path("detections.jsonl");
  options.summaryJson = dir.path("summary.json");
  const ekhost::RunReport report = ekhost::runModule(options, told);
  ASSERT_TRUE(report.status.ok()) << report.status.message();
  EXPECT_TRUE(told.warnings.empty());
  EXPECT_EQ(told.notes.at(0), "camera: " + report.camera);
  EXPECT_EQ(told.notes.at(1), "module: MotionDetector (built in)");
  const EK::EKSyntheticSource runScene(sceneEpoch(report.camera));
  ASSERT_GT(runScene.getEpoch(), 0) << report.camera;
  const Recorded recorded = readRecording(dir.path("run.arv"));
  ASSERT_GE(recorded.stamps.size(), 20u) << "2 s at 15 frames/s";
  // The loop and the camera keep time apart: a fetch that comes just before the camera's next
  // frame is due gets the previous frame again, which shows no motion.
  std::size_t repeated = 0;
  for (std::size_t k = 1; k < recorded.stamps.size(); ++k) {
    repeated += recorded.stamps[k] == recorded.stamps[k - 1] ? 1 : 0;
  }
  EXPECT_GE(told.detections.size() + 2 + repeated, recorded.stamps.size())
      << "the rectangle never stops";
  expectBoxesFollowTheRectangle(told.detections, recorded.stamps, [&](std::size_t k) {
    return EK::EKSyntheticSource::toPixels(runScene.objectAt(recorded.stamps[k]), 320, 240);
  });
  EXPECT_EQ(report.framesProcessed, static_cast<long long>(recorded.stamps.size()));
  EXPECT_EQ(report.detections, told.detections.size());
  ASSERT_TRUE(report.recording && report.pacing && report.scene);
  EXPECT_EQ(report.recording->recorded, recorded.stamps.size());
  EXPECT_EQ(report.pacing->requestedPeriodMs, 1000.0 / 15);
  EXPECT_GT(report.scene->meanIoU, 0.5);
  EXPECT_EQ(report.scene->detections, report.detections);
  EXPECT_EQ(report.contactSheet, 8u);
  const cv::Mat sheet = cv::imread(dir.path("sheet.png"));
  EXPECT_EQ(sheet.cols, 4 + 4 * (320 + 4)) << "four tiles a row";
  EXPECT_EQ(sheet.rows, 4 + 2 * (240 + 4)) << "two rows";
  // The log holds the detections, one JSON line each, and the summary last.
  const std::string json = ektest::fileText(dir.path("detections.jsonl"));
  EXPECT_EQ(report.detectionLog, told.detections.size());
  EXPECT_EQ(static_cast<std::size_t>(std::count(json.begin(), json.end(), '\n')),
            told.detections.size() + 1);
  EXPECT_EQ(json.rfind("{\"timeStamp\":" + std::to_string(told.detections[0].timeStamp) +
                           ",\"x\":" + std::to_string(told.detections[0].x) + ",",
                       0),
            0u)
      << json;
  const std::string summary = ektest::fileText(dir.path("summary.json"));
  EXPECT_EQ(json.substr(json.rfind("{\"summary\":")),
            "{\"summary\":" + ekhost::runSummaryJson(report) + "}\n");
  EXPECT_EQ(summary, ekhost::runSummaryJson(report) + "\n");
  EXPECT_EQ(summary.rfind("{\"frames\":" + std::to_string(report.framesProcessed) +
                              ",\"detections\":" + std::to_string(report.detections) + ",",
                          0),
            0u)
      << summary;
  EXPECT_NE(summary.find("\"everyFrame\":false,\"error\":null}"), std::string::npos) << summary;
}

// In real time the recording plays in a loop: every frame played is one of its frames.
TEST_F(HostRun, PlayingARecordingLoopsOverItsFrames) {
  recordScene("clip", 30);
  ekhost::RunOptions options;
  options.camera = dir.path("clip.arv");
  options.frames = 40;
  options.fps = 30;
  options.record = dir.path("played.arv");
  const ekhost::RunReport report = ekhost::runModule(options, told);
  ASSERT_TRUE(report.status.ok()) << report.status.message();
  EXPECT_EQ(report.camera.rfind(
                "playback of " + dir.path("clip.arv") + " in a loop (30 frames, 320x240", 0),
            0u)
      << report.camera;
  const Recorded played = readRecording(dir.path("played.arv"));
  const Recorded clip = readRecording(dir.path("clip.arv"));
  ASSERT_EQ(played.stamps.size(), 40u);
  for (std::size_t k = 0; k < played.pixels.size(); ++k) {
    EXPECT_NE(std::find(clip.pixels.begin(), clip.pixels.end(), played.pixels[k]),
              clip.pixels.end())
        << "frame " << k << " is no frame of the recording";
  }
  EXPECT_GE(told.detections.size(), 30u);
}

// Every frame: offline, the module gets every recorded frame once, in order, with its own
// stamp, and the run ends at the last frame or where a crash left off.
TEST_F(HostRun, EveryFrameHandsTheModuleEachRecordedFrameOnceInOrder) {
  const std::vector<long long> stamps = recordScene("clip", 40);
  ekhost::RunOptions options;
  options.camera = dir.path("clip.arv");
  options.everyFrame = true;
  options.detections = dir.path("detections.jsonl");
  const ekhost::RunReport report = ekhost::runModule(options, told);
  ASSERT_TRUE(report.status.ok()) << report.status.message();
  EXPECT_TRUE(report.everyFrame);
  EXPECT_EQ(report.framesProcessed, 40);
  // The detector primes on frame 0 and then boxes the rectangle's move into every frame.
  ASSERT_EQ(told.detections.size(), 39u);
  for (std::size_t k = 1; k < stamps.size(); ++k) {
    EXPECT_EQ(told.detections[k - 1].timeStamp, stamps[k]) << "detection " << k;
  }
  expectBoxesFollowTheRectangle(told.detections, stamps,
                                [&](std::size_t k) { return sceneRect(stamps[k]); });
  const std::string json = ektest::fileText(dir.path("detections.jsonl"));
  EXPECT_NE(json.find("{\"summary\":{\"frames\":40,\"detections\":39,"), std::string::npos);
  EXPECT_NE(json.find("\"everyFrame\":true,\"error\":null}}\n"), std::string::npos);

  recordScene("crashed", 7, false);
  options.camera = dir.path("crashed.arv");
  options.frames = 5;
  EXPECT_EQ(ekhost::runModule(options, told).framesProcessed, 5) << "--frames stops it first";
  options.frames.reset();
  EXPECT_EQ(ekhost::runModule(options, told).framesProcessed, 7);
}

// A run that fails after it ran says why in its status and its JSON summary.
TEST_F(HostRun, ARunThatFailsCarriesItsCauseIntoTheSummary) {
  // Color space 10 has three layers of unknown layout: the camera cannot make the module's
  // YUV422 from it.
  ektest::recordClip(dir.path("threelayers"), 3, {{160, 120, 10, 8}});
  ekhost::RunOptions options;
  options.camera = dir.path("threelayers.arv");
  options.seconds = 0.5;
  options.fps = 30;
  options.summaryJson = dir.path("summary.json");
  const ekhost::RunReport report = ekhost::runModule(options, told);
  EXPECT_EQ(report.status.cause(), EK::EKCause::kUnavailable);
  EXPECT_EQ(report.status.message(), "no frame reached the module MotionDetector");
  EXPECT_EQ(told.warnings.size(), 2u) << "the failure, then its count";
  EXPECT_NE(ektest::fileText(dir.path("summary.json"))
                .find(",\"error\":{\"cause\":\"unavailable\",\"message\":\"no frame reached "
                      "the module MotionDetector\"}}"),
            std::string::npos);

  options.everyFrame = true;
  EXPECT_THROW(ekhost::runModule(options, told), ekhost::HostError)
      << "every frame: the module's color space is not the recording's";
}

// Every output option pointed at every input, directly or through a symbolic or hard link,
// is refused before anything is opened, and leaves the input whole.
TEST_F(HostRun, NoOutputMayOverwriteAnInputOrAnotherOutput) {
  recordScene("clip", 3);
  const std::string clip = dir.path("clip.arv");
  const std::string plugin = dir.path("libfake.so");
  ektest::writeBytes(plugin, {0x7F, 'E', 'L', 'F'});
  std::filesystem::create_symlink(clip, dir.path("link.arv"));
  std::filesystem::create_hard_link(plugin, dir.path("hard.arv"));
  const std::vector<unsigned char> clipBytes = ektest::readBytes(clip);
  using Field = std::optional<std::string> ekhost::RunOptions::*;
  const std::pair<Field, const char*> outputs[] = {
      {&ekhost::RunOptions::record, "--record"},
      {&ekhost::RunOptions::contactSheet, "--contact-sheet"},
      {&ekhost::RunOptions::detections, "--detections"},
      {&ekhost::RunOptions::summaryJson, "--summary-json"}};
  const std::pair<std::string, std::string> inputs[] = {
      {clip, "the recording that --camera plays (" + clip + ")"},
      {dir.path("link.arv"), "the recording that --camera plays (" + clip + ")"},
      {plugin, "the plugin that --module loads (" + plugin + ")"},
      {dir.path("hard.arv"), "the plugin that --module loads (" + plugin + ")"}};
  for (const auto& [field, option] : outputs) {
    for (const auto& [path, refusal] : inputs) {
      ekhost::RunOptions options;
      options.camera = clip;
      options.module = plugin;
      options.frames = 1;
      if (field == &ekhost::RunOptions::record && path == plugin) {
        continue;  // a recording's name ends with .arv: the hard link stands in
      }
      options.*field = path;
      try {
        ekhost::runModule(options, told);
        ADD_FAILURE() << option << " " << path << " was taken";
      } catch (const ekhost::HostError& error) {
        EXPECT_EQ(error.status().cause(), EK::EKCause::kInvalidArgument);
        EXPECT_EQ(error.what(), std::string(option) + " would overwrite " + refusal);
      }
    }
  }
  EXPECT_EQ(ektest::readBytes(clip), clipBytes);
  EXPECT_EQ(ektest::readBytes(plugin), (std::vector<unsigned char>{0x7F, 'E', 'L', 'F'}));
  ekhost::RunOptions twice;
  twice.detections = dir.path("out.json");
  twice.summaryJson = dir.path("sub/../out.json");
  EXPECT_THROW(ekhost::runModule(twice, told), ekhost::HostError) << "not there yet, one path";
  EXPECT_FALSE(std::filesystem::exists(dir.path("out.json")));
}

// One run calls a setter, a getter and pause: the loop then stands still until the stop.
TEST_F(HostRun, RemoteMethodsAreCalledInOrderWithTheirArgumentsRead) {
  ekhost::RunOptions options;
  options.seconds = 0.5;
  options.resolution = EK::kResolution160x120;
  options.calls = {{"setFrameRate", {"30"}}, {"getFrameRate", {}}, {"pause", {"true"}}};
  const ekhost::RunReport report = ekhost::runModule(options, told);
  ASSERT_TRUE(report.status.ok()) << report.status.message();
  EXPECT_NE(told.text().find("call setFrameRate(30) -> true\ncall getFrameRate() -> 30\n"
                             "call pause(true) -> done\n"),
            std::string::npos)
      << told.text();
  EXPECT_EQ(report.requestedRate, 30);
  // Frames: the first, one that may be under way when the pause comes, and one when the
  // stop resumes the loop so that it can end; nothing in the half second between.
  EXPECT_LE(report.framesProcessed, 3);

  options.calls = {{"pause", {"maybe"}}};
  try {
    ekhost::runModule(options, told);
    ADD_FAILURE() << "a bool parameter took text";
  } catch (const ekhost::HostError& error) {
    EXPECT_EQ(error.status().cause(), EK::EKCause::kInvalidArgument);
  }
  const ekhost::ModuleMethods methods = ekhost::moduleMethods(options);
  EXPECT_EQ(methods.name, "MotionDetector");
  EXPECT_TRUE(
      std::any_of(methods.methods.begin(), methods.methods.end(),
                  [](const EK::EKMethodInfo& m) { return m.methodName == "getDetections"; }));
}

#ifdef EKVISION_BRIGHTSPOT_PLUGIN
TEST_F(HostRun, TheWalkThroughPluginBoxesTheRectangleExactly) {
  ekhost::RunOptions options;
  options.module = EKVISION_BRIGHTSPOT_PLUGIN;
  options.frames = 6;
  options.resolution = EK::kResolution320x240;
  const ekhost::RunReport report = ekhost::runModule(options, told);
  ASSERT_TRUE(report.status.ok()) << report.status.message();
  EXPECT_EQ(report.module, "brightspot");
  const EK::EKSyntheticSource runScene(sceneEpoch(report.camera));
  EXPECT_GE(told.detections.size(), 6u) << "the rectangle is in every frame";
  for (const EK::EKDetection& d : told.detections) {
    const EK::EKPixelRect r =
        EK::EKSyntheticSource::toPixels(runScene.objectAt(d.timeStamp), 320, 240);
    EXPECT_EQ((Box{d.x, d.y, d.w, d.h}), (Box{r.x, r.y, r.w, r.h}));
  }
}
#endif

// Ctrl-C a second in: the run ends, closing its recording.
TEST_F(HostRun, AnInterruptEndsTheRunCleanly) {
  ekhost::RunOptions options;
  options.seconds = 60;
  options.resolution = EK::kResolution160x120;
  options.record = dir.path("interrupted.arv");
  std::thread interrupter([] {
    std::this_thread::sleep_for(std::chrono::seconds(1));
    std::raise(SIGINT);
  });
  const ekhost::RunReport report = ekhost::runModule(options, told);
  interrupter.join();
  EXPECT_TRUE(report.status.ok()) << report.status.message();
  EXPECT_LT(report.seconds, 10);
  EK::EKVideo video;
  ASSERT_TRUE(video.readVideo(dir.path("interrupted.arv")));
  EXPECT_NE(video.frameCount, 0xFFFFFFFFu) << "the recording was closed";
  EXPECT_GE(video.frameCount, 2u);
}

// At most N frames a second, on a grid that forgives a camera's jitter and restarts after a
// gap.
TEST(HostThinning, KeepsAtMostTheRateAskedOnAGridThatRestartsAfterAGap) {
  ekhost::FrameThinner every(0);
  EXPECT_TRUE(every.keep(0) && every.keep(0) && every.keep(1));
  // 30 frames/s thinned to 10: every third frame, also with stamps a little early.
  ekhost::FrameThinner thinner(10);
  std::vector<int> kept;
  for (int i = 0; i < 12; ++i) {
    const long long jitter = i % 2 == 0 ? -2000 : 2000;
    if (thinner.keep(1000000 + i * 33333 + jitter)) {
      kept.push_back(i);
    }
  }
  EXPECT_EQ(kept, (std::vector<int>{0, 3, 6, 9}));
  // After a pause of a second the grid starts at the next frame.
  EXPECT_TRUE(thinner.keep(3000000));
  EXPECT_FALSE(thinner.keep(3000000 + 50000));
  EXPECT_TRUE(thinner.keep(3000000 + 100000 - 25000)) << "a quarter period early";
}

}  // namespace
