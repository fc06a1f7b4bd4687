// The viewer's parts in process: which frame a page gets and with which boxes, the body a
// page parses, and a recording by index, by time and as an MP4 range.
#include <gtest/gtest.h>
#include <liveview.h>
#include <recordingview.h>
#include <viewerframe.h>

#include <opencv2/imgcodecs.hpp>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>

#include <ekvision/ekimagevalue.h>
#include <ekvision/ekvisiondefinitions.h>

#include "detectionlog.h"
#include "videotestsupport.h"

namespace {

using namespace std::chrono_literals;

const int kWidth = 64;
const int kHeight = 48;

// A flat YUV422 frame whose luma is @p luma, stamped @p stamp.
EK::EKValue frameOf(long long stamp, std::uint8_t luma) {
  std::vector<unsigned char> pixels(kWidth * kHeight * 2);
  for (std::size_t i = 0; i < pixels.size(); ++i) {
    pixels[i] = i % 2 == 0 ? luma : 128;
  }
  return EK::makeImageArray(kWidth, kHeight, EK::kColorSpaceYUV422, stamp, 3, 0.5f, 0.4f, -0.5f,
                            -0.4f, std::move(pixels));
}

EK::EKDetection boxAt(long long stamp, int x) {
  EK::EKDetection detection;
  detection.timeStamp = stamp;
  detection.x = x;
  detection.y = 2;
  detection.w = 10;
  detection.h = 8;
  return detection;
}

// The JSON and the decoded picture of a frame body.
struct Body {
  std::string json;
  cv::Mat picture;
};

Body parse(const std::string& body) {
  EXPECT_GE(body.size(), 4u);
  std::uint32_t length = 0;
  for (int i = 3; i >= 0; --i) {
    length = (length << 8) | static_cast<unsigned char>(body[static_cast<std::size_t>(i)]);
  }
  EXPECT_LE(4 + length, body.size());
  Body parsed;
  parsed.json = body.substr(4, length);
  const std::vector<unsigned char> jpeg(body.begin() + 4 + length, body.end());
  parsed.picture = cv::imdecode(jpeg, cv::IMREAD_GRAYSCALE);
  return parsed;
}

// The boxes' x in a frame body's JSON, in order.
std::vector<int> boxesIn(const std::string& json) {
  std::vector<int> xs;
  for (std::size_t at = json.find("\"x\":"); at != std::string::npos;
       at = json.find("\"x\":", at + 1)) {
    xs.push_back(std::atoi(json.c_str() + at + 4));
  }
  return xs;
}

long long numberIn(const std::string& json, const std::string& key) {
  const std::size_t at = json.find("\"" + key + "\":");
  EXPECT_NE(at, std::string::npos) << key << " in " << json;
  return at == std::string::npos ? -1 : std::atoll(json.c_str() + at + key.size() + 3);
}

TEST(LiveView, AFrameIsShownOnceDoneWithItsOwnBoxesNeverTheLatest) {
  ekviewer::LiveView view;
  view.started("Detector", 15, nullptr);
  view.fetched(frameOf(1000, 40));
  view.detected(boxAt(1000, 5));
  // The module has moved on: the next frame and its box arrive before the page asks.
  view.fetched(frameOf(2000, 200));
  view.detected(boxAt(2000, 30));
  EXPECT_FALSE(view.frameAfter(0, 10ms)) << "no frame is done yet";
  view.processed(1);
  const Body first = parse(*view.frameAfter(0, 10ms));
  EXPECT_EQ(numberIn(first.json, "timeStamp"), 1000);
  EXPECT_EQ(boxesIn(first.json), std::vector<int>{5});
  EXPECT_EQ(numberIn(first.json, "camera"), 3);
  EXPECT_NE(first.json.find("\"angles\":[0.5,0.400000006,-0.5,-0.400000006]"), std::string::npos)
      << first.json;
  EXPECT_NE(first.json.find("\"module\":\"Detector\""), std::string::npos);
  ASSERT_EQ(first.picture.cols, kWidth);
  ASSERT_EQ(first.picture.rows, kHeight);
  EXPECT_NEAR(first.picture.at<unsigned char>(20, 20), 40, 3) << "the frame's own pixels";
  view.processed(2);
  const Body second = parse(*view.frameAfter(numberIn(first.json, "index"), 10ms));
  EXPECT_EQ(numberIn(second.json, "timeStamp"), 2000);
  EXPECT_EQ(boxesIn(second.json), std::vector<int>{30});
  EXPECT_NEAR(second.picture.at<unsigned char>(20, 20), 200, 3);
}

TEST(LiveView, ASlowPageGetsTheNewestFrameAndAPageUpToDateWaits) {
  ekviewer::LiveView view;
  view.started("", 30, nullptr);
  for (int i = 1; i <= 5; ++i) {
    view.show(frameOf(i * 1000, static_cast<std::uint8_t>(i * 40)));
  }
  const std::string newest = *view.frameAfter(1, 10ms);
  EXPECT_EQ(numberIn(parse(newest).json, "timeStamp"), 5000) << "frames 2 to 4 are skipped";
  const long long number = numberIn(parse(newest).json, "index");
  EXPECT_EQ(*view.frameAfter(number + 7, 10ms), newest) << "a page ahead (a restarted tool) too";
  const auto before = std::chrono::steady_clock::now();
  EXPECT_FALSE(view.frameAfter(number, 50ms));
  EXPECT_GE(std::chrono::steady_clock::now() - before, 50ms) << "it waited for a new frame";
  // A waiting page is woken by the next frame, and by close().
  std::thread shower([&] {
    std::this_thread::sleep_for(20ms);
    view.show(frameOf(6000, 10));
  });
  const std::optional<std::string> next = view.frameAfter(number, 5s);
  shower.join();
  ASSERT_TRUE(next);
  EXPECT_EQ(numberIn(parse(*next).json, "timeStamp"), 6000);
  std::thread closer([&] {
    std::this_thread::sleep_for(20ms);
    view.close();
  });
  EXPECT_FALSE(view.frameAfter(number + 1, 5s));
  closer.join();
}

TEST(LiveView, PagesCallOnlyPauseAndTheFrameRateAndOnlyWhileAModuleRuns) {
  ekviewer::LiveView view;
  std::vector<std::string> called;
  auto caller = [&](const std::string& method, const EK::EKValue&) {
    called.push_back(method);
    return EK::EKValue(true);
  };
  EXPECT_THROW(view.callModule("pause", EK::EKValue(true)), ekhost::HostError) << "no module";
  view.started("Detector", 15, caller);
  EXPECT_THROW(view.callModule("exit", EK::EKValue()), ekhost::HostError);
  EXPECT_THROW(view.callModule("getDetections", EK::EKValue()), ekhost::HostError);
  EK::EKValue rate;
  rate.arraySetSize(0);
  rate.arrayPush(EK::EKValue(25));
  EXPECT_TRUE(bool(view.callModule("setFrameRate", rate)));
  view.show(frameOf(1000, 1));
  EXPECT_NE(view.frameAfter(0, 10ms)->find("\"requestedRate\":25"), std::string::npos)
      << "the pace is measured against the rate asked last";
  view.finished();
  EXPECT_THROW(view.callModule("isPaused", EK::EKValue()), ekhost::HostError) << "run ended";
  EXPECT_EQ(called, std::vector<std::string>{"setFrameRate"});
}

// The first color space with @p layers bytes a pixel, other than YUV422.
int colorSpaceWithLayers(int layers) {
  for (int code = 0; code < EK::kColorSpaceCount; ++code) {
    if (code != EK::kColorSpaceYUV422 && EK::getNumLayersInColorSpace(code) == layers) {
      return code;
    }
  }
  ADD_FAILURE() << "no color space of " << layers << " layers";
  return 0;
}

TEST(LiveView, AFrameThatCannotBeShownIsToldNotShown) {
  ekviewer::LiveView view;
  view.started("", 15, nullptr);
  view.show(EK::makeImageArray(8, 4, colorSpaceWithLayers(3), 1000, 0, 0, 0, 0, 0,
                               std::vector<unsigned char>(8 * 4 * 3)));
  EXPECT_FALSE(view.frameAfter(0, 10ms));
  EXPECT_NE(view.problem().find("color space"), std::string::npos) << view.problem();
  std::vector<unsigned char> grey(kWidth * kHeight, 90);
  view.show(EK::makeImageArray(kWidth, kHeight, colorSpaceWithLayers(1), 2000, 0, 0, 0, 0, 0,
                               std::move(grey)));
  const Body shown = parse(*view.frameAfter(0, 10ms));
  EXPECT_NEAR(shown.picture.at<unsigned char>(10, 10), 90, 3) << "grey is shown as grey";
}

class RecordingViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    clip_ =
        ektest::recordClip(dir_.path("clip"), 10, {{160, 120, EK::kColorSpaceYUV422, 8}},
                           [](unsigned int f, unsigned int) { return 5000000LL + 40000LL * f; });
    std::ofstream log(dir_.path("d.jsonl"));
    log << ekhost::detectionJson(boxAt(5000000 + 3 * 40000, 11)) << "\n"
        << ekhost::detectionJson(boxAt(5000000 + 3 * 40000, 22)) << "\n"
        << ekhost::detectionJson(boxAt(5000000 + 4 * 40000 + 1, 33)) << "\n";
  }
  ektest::TempDir dir_;
  std::string clip_;
};

TEST_F(RecordingViewTest, FramesByIndexAndTimeCarryTheirOwnDetections) {
  ekviewer::RecordingView view({clip_, dir_.path("d.jsonl"), 0});
  EXPECT_EQ(view.frames(), 10u);
  const std::string info = view.infoJson();
  EXPECT_EQ(numberIn(info, "firstStamp"), 5000000);
  EXPECT_EQ(numberIn(info, "lastStamp"), 5360000);
  EXPECT_EQ(numberIn(info, "detections"), 3);
  EXPECT_NE(info.find("\"name\":\"clip.arv\""), std::string::npos) << "no folder: " << info;
  const Body third = parse(view.frameAt(3));
  EXPECT_EQ(numberIn(third.json, "index"), 3);
  EXPECT_EQ(numberIn(third.json, "timeStamp"), 5120000);
  EXPECT_EQ(boxesIn(third.json), (std::vector<int>{11, 22}));
  EXPECT_EQ(third.picture.cols, 160);
  // By time: the last frame at or before it, as findFrame says.
  EXPECT_EQ(numberIn(parse(view.frameAtTime(5159999)).json, "index"), 3);
  const Body fourth = parse(view.frameAtTime(5160000));
  EXPECT_EQ(numberIn(fourth.json, "index"), 4);
  EXPECT_TRUE(boxesIn(fourth.json).empty()) << "a box stamped 1 us later is another frame's";
  EXPECT_EQ(numberIn(parse(view.frameAtTime(99000000)).json, "index"), 9);
  for (const auto& refused : {std::function<void()>([&] { view.frameAt(10); }),
                              std::function<void()>([&] { view.frameAt(-1); }),
                              std::function<void()>([&] { view.frameAtTime(4999999); })}) {
    try {
      refused();
      ADD_FAILURE() << "a frame outside the recording was given";
    } catch (const ekhost::HostError& error) {
      EXPECT_EQ(error.status().cause(), EK::EKCause::kNotFound) << error.what();
    }
  }
}

TEST_F(RecordingViewTest, ARangeIsExportedAsAPlayableVideo) {
  ekviewer::RecordingView view({clip_, dir_.path("d.jsonl"), 0});
  const std::string out = dir_.path("range.mp4");
  view.exportMp4(2, 6, out);
  const std::string command =
      "ffprobe -v error -count_frames -select_streams v -show_entries "
      "stream=nb_read_frames -of csv=p=0 " +
      out + " > " + dir_.path("n.txt");
  ASSERT_EQ(std::system(command.c_str()), 0);
  EXPECT_EQ(ektest::fileText(dir_.path("n.txt")), "5\n");
  EXPECT_THROW(view.exportMp4(5, 10, out), ekhost::HostError) << "past the last frame";
}

TEST(RecordingViewFailures, AFileOrLogThatCannotBeReadIsNamed) {
  ektest::TempDir dir;
  try {
    ekviewer::RecordingView view({dir.path("none.arv"), "", 0});
    ADD_FAILURE() << "a missing recording opened";
  } catch (const ekhost::HostError& error) {
    EXPECT_NE(std::string(error.what()).find("none.arv"), std::string::npos) << error.what();
  }
  const std::string clip = ektest::recordClip(dir.path("c"), 2, {{160, 120, 9, 8}});
  EXPECT_THROW(ekviewer::RecordingView({clip, dir.path("none.jsonl"), 0}), ekhost::HostError);
  EXPECT_THROW(ekviewer::RecordingView({clip, "", 1}), ekhost::HostError) << "no stream 1";
}

}  // namespace
