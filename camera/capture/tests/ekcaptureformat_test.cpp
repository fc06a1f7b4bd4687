// The capture source's decisions as plain functions: what a spec names, which V4L2 format
// and size to ask for, how stamps are made.
#include <ekvideodevice/ekcaptureformat.h>

#include <gtest/gtest.h>

#include <cmath>

namespace {

using EK::EKCaptureKind;
using EK::EKDeviceMode;
using EK::fourcc;

TEST(CaptureSpec, NamesDevicesPipelinesStreamsAndFiles) {
  struct Case {
    const char* spec;
    EKCaptureKind kind;
    const char* location;
  };
  const Case cases[] = {
      {"/dev/video0", EKCaptureKind::kV4L2Device, "/dev/video0"},
      {"gst:videotestsrc ! appsink", EKCaptureKind::kGStreamer, "videotestsrc ! appsink"},
      {"gst:  videotestsrc", EKCaptureKind::kGStreamer, "videotestsrc"},
      {"rtsp://robot:554/cam", EKCaptureKind::kNetworkStream, "rtsp://robot:554/cam"},
      {"http://host/stream.mjpg", EKCaptureKind::kNetworkStream, "http://host/stream.mjpg"},
      {"clip.mp4", EKCaptureKind::kVideoFile, "clip.mp4"},
      {"dir/a://b.avi", EKCaptureKind::kVideoFile, "dir/a://b.avi"},
  };
  for (const Case& c : cases) {
    const auto target = EK::parseCaptureSpec(c.spec);
    ASSERT_TRUE(target) << c.spec;
    EXPECT_EQ(target->kind, c.kind) << c.spec;
    EXPECT_EQ(target->location, c.location) << c.spec;
  }
  EXPECT_FALSE(EK::parseCaptureSpec(""));
  EXPECT_FALSE(EK::parseCaptureSpec("gst: "));
  EXPECT_EQ(EK::fourccText(fourcc("YUYV")), "YUYV");
  EXPECT_EQ(EK::fourccText(0x00475201u), ".RG.");
}

TEST(DeviceMode, SizeBeforeFormatYuyvBeforeTheOthers) {
  const std::uint32_t yuyv = fourcc("YUYV");
  const std::uint32_t mjpg = fourcc("MJPG");
  const std::uint32_t bgr = fourcc("BGR3");
  const std::uint32_t h264 = fourcc("H264");
  struct Case {
    const char* what;
    std::vector<EKDeviceMode> offered;
    EK::EKCaptureMode expected;
  };
  const Case cases[] = {
      {"YUYV at the size",
       {{mjpg, 640, 480}, {yuyv, 1280, 960}, {yuyv, 640, 480}},
       {yuyv, 640, 480, true, false}},
      {"MJPEG at the size beats YUYV to scale",
       {{yuyv, 1280, 720}, {mjpg, 640, 480}, {h264, 640, 480}},
       {mjpg, 640, 480, false, false}},
      {"BGR only", {{bgr, 640, 480}}, {bgr, 640, 480, false, false}},
      {"the smallest larger size, YUYV first",
       {{mjpg, 800, 600}, {yuyv, 1920, 1080}, {yuyv, 800, 600}, {yuyv, 320, 240}},
       {yuyv, 800, 600, true, true}},
      {"a larger size beats a smaller YUYV",
       {{yuyv, 320, 240}, {mjpg, 1280, 960}},
       {mjpg, 1280, 960, false, true}},
      {"all smaller: the largest",
       {{yuyv, 160, 120}, {yuyv, 320, 240}, {mjpg, 320, 180}},
       {yuyv, 320, 240, true, true}},
  };
  for (const Case& c : cases) {
    const auto mode = EK::chooseDeviceMode(c.offered, 640, 480);
    ASSERT_TRUE(mode) << c.what;
    EXPECT_EQ(EK::fourccText(mode->fourcc), EK::fourccText(c.expected.fourcc)) << c.what;
    EXPECT_EQ(mode->width, c.expected.width) << c.what;
    EXPECT_EQ(mode->height, c.expected.height) << c.what;
    EXPECT_EQ(mode->native, c.expected.native) << c.what;
    EXPECT_EQ(mode->scaled, c.expected.scaled) << c.what;
  }
  EXPECT_FALSE(EK::chooseDeviceMode({{h264, 640, 480}, {fourcc("NV12"), 640, 480}}, 640, 480));
  EXPECT_FALSE(EK::chooseDeviceMode({}, 640, 480));
  EXPECT_FALSE(EK::chooseDeviceMode({{yuyv, 0, 480}}, 640, 480)) << "a broken size is skipped";
}

TEST(DeviceMode, StepwiseRangesOfferTheWantedSizeWhenOnTheirSteps) {
  const std::uint32_t yuyv = fourcc("YUYV");
  auto modes = EK::stepwiseCandidates(yuyv, 16, 1920, 16, 16, 1080, 16, 640, 480);
  ASSERT_EQ(modes.size(), 3u);
  auto mode = EK::chooseDeviceMode(modes, 640, 480);
  ASSERT_TRUE(mode);
  EXPECT_FALSE(mode->scaled);
  modes = EK::stepwiseCandidates(yuyv, 16, 1920, 100, 16, 1080, 16, 640, 480);
  ASSERT_EQ(modes.size(), 2u) << "640 is not 16 plus a multiple of 100";
  mode = EK::chooseDeviceMode(modes, 640, 480);
  ASSERT_TRUE(mode);
  EXPECT_EQ(mode->width, 1920);
  EXPECT_TRUE(mode->scaled);
  EXPECT_EQ(EK::stepwiseCandidates(yuyv, 16, 320, 1, 16, 240, 1, 640, 480).size(), 2u);
}

TEST(StampClock, FastestFrameSetsTheOffsetAndStampsStrictlyIncrease) {
  EK::EKStampClock clock;
  // Own times 0, 33.3, 66.6 ms; arrivals late by 5, 2 and 9 ms after a base of 1e9 us.
  EXPECT_EQ(clock.stamp(1000005000LL, 0.0), 1000005000LL);
  EXPECT_EQ(clock.stamp(1000035333LL, 33333.0), 1000035333LL) << "faster: the new offset";
  EXPECT_EQ(clock.stamp(1000075666LL, 66666.0), 1000068666LL) << "slower: the kept offset";
  EXPECT_EQ(clock.stamp(1000080000LL, -1.0), 1000080000LL) << "no own time: the arrival";
  EXPECT_EQ(clock.stamp(1000081000LL, 50000.0), 1000081000LL) << "own time went back";
  EXPECT_EQ(clock.stamp(1000081000LL, -1.0), 1000081001LL) << "never twice the same stamp";
  clock.reset();
  EXPECT_EQ(clock.stamp(1000200000LL, 10.0), 1000200000LL) << "a restarted clock re-anchors";
  EXPECT_EQ(clock.stamp(1000200100LL, std::nan("")), 1000200100LL);
}

}  // namespace
