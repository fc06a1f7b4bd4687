// The capture source on live GStreamer pipelines (videotestsrc is-live=true) and on a clip
// made with ffmpeg: rate, bytes, latest frame, stamps, failures and recovery.
#include <ekvideodevice/ekcapturesource.h>
#include <ekvision/ekstatus.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

#include <ekcommon/ekbroker.h>
#include <ekerror/ekerror.h>
#include <ekproxies/ekvideodeviceproxy.h>
#include <ekvideodevice/ekvideodevice.h>
#include <ekvision/ekimage.h>
#include <ekvision/ekimagevalue.h>

namespace {

using EK::EKCaptureSettings;
using EK::EKCaptureSource;
using EK::EKError;
using EK::EKValue;
using std::chrono::milliseconds;

// A live pipeline of solid red YUY2 frames; red is Y 81, U 90, V 240 in BT.601.
std::string redPipeline(int width, int height, int rate, const std::string& extra = "") {
  return "gst:videotestsrc is-live=true pattern=red " + extra +
         " ! video/x-raw,format=YUY2,width=" + std::to_string(width) +
         ",height=" + std::to_string(height) + ",framerate=" + std::to_string(rate) + "/1";
}

long long wallNow() {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

// The camera module over a capture source, and one subscriber.
struct Camera {
  Camera(const std::string& spec, const EKCaptureSettings& settings, int resolution)
      : source(std::make_shared<EKCaptureSource>(spec, settings)),
        device(EK::createModule<EK::EKVideoDevice>(broker, source)),
        proxy(broker),
        id(proxy.subscribe("test", resolution, EK::kColorSpaceYUV422, 30)) {}

  // The next picture once a frame newer than frame @p seen was captured.
  EKValue nextImage(long long& seen) {
    const long long latest = source->waitForFrame(seen, milliseconds(3000));
    EXPECT_GT(latest, seen) << "no new frame within 3 s";
    seen = latest;
    return proxy.getImageRemote(id);
  }

  boost::shared_ptr<EK::EKBroker> broker{new EK::EKBroker};
  std::shared_ptr<EKCaptureSource> source;
  boost::shared_ptr<EK::EKVideoDevice> device;
  EK::EKVideoDeviceProxy proxy;
  std::string id;
};

// One camera for the whole path of a live frame: YUY2 bytes taken as delivered, the rate, the
// stamps, the latest frame for a slow module, and other sizes scaled.
TEST(CaptureLive, Yuy2ArrivesUnconvertedAtRateAndASlowModuleGetsTheLatestFrame) {
  EKCaptureSettings settings;
  settings.cameraId = 1;
  Camera camera(redPipeline(320, 240, 30), settings, EK::kResolution320x240);
  long long seen = 0;
  camera.nextImage(seen);
  const auto start = std::chrono::steady_clock::now();
  const long long first = camera.source->status().framesCaptured;
  long long previous = -1;
  while (std::chrono::steady_clock::now() - start < milliseconds(1000)) {
    const EKValue image = camera.nextImage(seen);
    const long long fetched = wallNow();
    ASSERT_EQ(image[EK::kImageArrayPixels].getBinarySize(), 320 * 240 * 2);
    const auto* bytes = static_cast<const unsigned char*>(image[EK::kImageArrayPixels].GetBinary());
    const unsigned char red[4] = {81, 90, 81, 240};
    for (int i = 0; i < 320 * 240 * 2; ++i) {
      ASSERT_EQ(bytes[i], red[i % 4]) << "byte " << i;
    }
    const long long stamp = EK::imageArrayTimeStamp(image);
    EXPECT_GT(stamp, previous) << "stamps strictly increase";
    EXPECT_LE(stamp, fetched) << "a frame is stamped before it is fetched";
    EXPECT_GT(stamp, fetched - 500000) << "stamped when captured, not long before";
    previous = stamp;
    EXPECT_EQ(int(image[EK::kImageArrayCamera]), 1) << "camera index from the settings";
    EXPECT_FLOAT_EQ(float(image[EK::kImageArrayBottomAngle]), -EK::kWebcamTopAngle);
    camera.proxy.releaseImage(camera.id);
  }
  const long long captured = camera.source->status().framesCaptured - first;
  EXPECT_GE(captured, 24) << "30 frames/s for 1 s";
  EXPECT_LE(captured, 36) << "30 frames/s for 1 s";
  EXPECT_EQ(camera.source->status().deviceFormat, "YUY2 as delivered");

  for (int round = 0; round < 3; ++round) {
    // A module busy for six camera frames: the next fetch must skip them.
    const long long target = seen + 6;
    while (seen < target) {
      seen = camera.source->waitForFrame(seen, milliseconds(3000));
    }
    const long long stamp = EK::imageArrayTimeStamp(camera.proxy.getImageRemote(camera.id));
    EXPECT_GE(stamp, camera.source->status().lastStamp - 40000) << "at most a frame behind";
    EXPECT_GE(stamp - previous, 5 * 33333 - 10000) << "no backlog of old frames";
    previous = stamp;
  }
  EXPECT_TRUE(camera.proxy.setResolution(camera.id, EK::kResolution160x120));
  const EKValue small = camera.proxy.getImageRemote(camera.id);
  ASSERT_EQ(small[6].getBinarySize(), 160 * 120 * 2);
  const auto* bytes = static_cast<const unsigned char*>(small[6].GetBinary());
  const int expected[4] = {81, 90, 81, 240};
  for (int i = 0; i < 160 * 120 * 2; ++i) {
    ASSERT_NEAR(bytes[i], expected[i % 4], 2) << "scaled red, byte " << i;
  }
}

// Fetches pictures for @p duration or until @p done, keeping their stamps and the errors.
void fetchFor(Camera& camera, milliseconds duration, std::vector<long long>& stamps,
              std::vector<std::string>& errors, const std::function<bool()>& done = {}) {
  long long seen = 0;
  const auto deadline = std::chrono::steady_clock::now() + duration;
  while (std::chrono::steady_clock::now() < deadline && !(done && done())) {
    seen = camera.source->waitForFrame(seen, milliseconds(200));
    try {
      stamps.push_back(EK::imageArrayTimeStamp(camera.proxy.getImageRemote(camera.id)));
    } catch (const EKError& error) {
      errors.push_back(error.getDescription());
    }
  }
  for (std::size_t i = 1; i < stamps.size(); ++i) {
    EXPECT_GE(stamps[i], stamps[i - 1]) << "repeated, never older";
  }
}

TEST(CaptureLive, PipelineThatEndsGivesOneErrorAndFramesResumeWithoutRestart) {
  EKCaptureSettings settings;
  settings.reopenInterval = milliseconds(300);
  // 12 frames, then the end of the stream; reopened, 12 more, and so on.
  Camera camera(redPipeline(160, 120, 30, "num-buffers=12"), settings, EK::kResolution160x120);
  std::vector<long long> stamps;
  std::vector<std::string> errors;
  fetchFor(camera, milliseconds(8000), stamps, errors,
           [&] { return camera.source->status().framesCaptured > 16; });
  const EK::EKCaptureStatus status = camera.source->status();
  EXPECT_GT(status.framesCaptured, 16) << "frames flow again after the reopen";
  ASSERT_GE(errors.size(), 1u);
  EXPECT_LE(errors.size(), static_cast<std::size_t>(status.failures))
      << "one error per failure, not one per fetch while the pipeline is reopened";
  EXPECT_NE(errors[0].find("ended or failed"), std::string::npos) << errors[0];
  EXPECT_NE(errors[0].find("videotestsrc"), std::string::npos) << errors[0];
}

// The write end of a pipe that feeds a pipeline; closing it ends the pipeline's stream.
class FramePipe {
 public:
  FramePipe() { EXPECT_EQ(::pipe(fds_), 0); }
  ~FramePipe() {
    closeWriteEnd();
    ::close(fds_[0]);
  }
  void closeWriteEnd() {
    if (fds_[1] >= 0) {
      ::close(fds_[1]);
      fds_[1] = -1;
    }
  }
  FramePipe(const FramePipe&) = delete;
  FramePipe& operator=(const FramePipe&) = delete;
  int readEnd() const { return fds_[0]; }
  // Writes @p count 64x48 YUY2 frames whose bytes all hold @p value.
  void write(int count, unsigned char value) {
    const std::vector<unsigned char> frame(64 * 48 * 2, value);
    for (int i = 0; i < count; ++i) {
      ASSERT_EQ(::write(fds_[1], frame.data(), frame.size()), static_cast<ssize_t>(frame.size()));
    }
  }

 private:
  int fds_[2] = {-1, -1};
};

TEST(CaptureLive, StalledStreamIsReportedOnceAndFramesResumeWhenItMovesAgain) {
  FramePipe pipe;
  pipe.write(3, 110);
  EKCaptureSettings settings;
  settings.stallTimeout = milliseconds(300);
  auto source =
      std::make_shared<EKCaptureSource>("gst:fdsrc fd=" + std::to_string(pipe.readEnd()) +
                                            " ! rawvideoparse width=64 height=48 format=yuy2 "
                                            "framerate=30/1 ! video/x-raw,format=YUY2",
                                        settings);
  boost::shared_ptr<EK::EKBroker> broker(new EK::EKBroker);
  auto device = EK::createModule<EK::EKVideoDevice>(broker, source);
  EK::EKVideoDeviceProxy proxy(broker);
  const std::string id = proxy.subscribe("test", EK::kResolution160x120, EK::kColorSpaceYUV422, 30);
  long long seen = 0;
  while (seen < 3) {
    const long long latest = source->waitForFrame(seen, milliseconds(3000));
    ASSERT_GT(latest, seen) << "the three frames written";
    seen = latest;
  }
  const long long before = EK::imageArrayTimeStamp(proxy.getImageRemote(id));
  // Nothing more comes: after 300 ms the source has stalled.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  while (!source->status().failing && std::chrono::steady_clock::now() < deadline) {
    source->waitForFrame(seen, milliseconds(50));
  }
  try {
    proxy.getImageRemote(id);
    FAIL() << "a stalled stream must be reported";
  } catch (const EKError& error) {
    EXPECT_NE(error.getDescription().find("(stalled)"), std::string::npos)
        << error.getDescription();
    EXPECT_EQ(error.getMethodName(), "getImageRemote");
  }
  EXPECT_EQ(EK::imageArrayTimeStamp(proxy.getImageRemote(id)), before)
      << "then the last frame again";
  EXPECT_EQ(EK::imageArrayTimeStamp(proxy.getImageRemote(id)), before) << "and no second error";
  pipe.write(2, 140);
  const long long latest = source->waitForFrame(seen, milliseconds(3000));
  ASSERT_GT(latest, seen) << "frames resume once the stream moves";
  const EKValue image = proxy.getImageRemote(id);
  EXPECT_GT(EK::imageArrayTimeStamp(image), before);
  EXPECT_NEAR(static_cast<const unsigned char*>(image[EK::kImageArrayPixels].GetBinary())[100], 140,
              3);
  EXPECT_EQ(source->status().failures, 1);
  EXPECT_FALSE(source->status().failing);
  pipe.closeWriteEnd();  // the stream ends: the capture thread need not be left behind
}

TEST(CaptureLive, CamerasThatCannotOpenAreRefusedWithTheCause) {
  const struct {
    const char* spec;
    const char* words;
    EK::EKCause cause;
  } cases[] = {
      {"gst:nosuchelement ! appsink", "cannot open the GStreamer pipeline nosuchelement",
       EK::EKCause::kUnavailable},
      {"/no/such/clip.mp4", "cannot open the video file /no/such/clip.mp4: no such file",
       EK::EKCause::kNotFound},
      {"/dev/video97", "cannot open the V4L2 device /dev/video97: no such file",
       EK::EKCause::kNotFound},
      {"", "no camera named", EK::EKCause::kNotFound},
  };
  for (const auto& c : cases) {
    try {
      EKCaptureSource source(c.spec);
      ADD_FAILURE() << c.spec << " opened";
    } catch (const EK::EKFailure& error) {
      EXPECT_NE(error.getDescription().find(c.words), std::string::npos)
          << c.spec << ": " << error.getDescription();
      EXPECT_EQ(error.cause(), c.cause) << c.spec << ": " << EK::causeName(error.cause());
    }
  }
}

// A 1 s clip of 10 frames a second, made with ffmpeg in the build directory.
std::string makeClip() {
  const std::string path = (std::filesystem::temp_directory_path() /
                            ("ekcapture_clip_" + std::to_string(::getpid()) + ".avi"))
                               .string();
  const std::string command =
      "ffmpeg -loglevel error -y -f lavfi -i testsrc=size=160x120:rate=10:duration=1 "
      "-c:v mjpeg " +
      path;
  return std::system(command.c_str()) == 0 ? path : std::string();
}

TEST(CaptureFile, ClipPlaysAtItsRateAndEndsOrLoops) {
  const std::string clip = makeClip();
  ASSERT_FALSE(clip.empty()) << "ffmpeg could not make the clip";
  for (const bool loop : {false, true}) {
    EKCaptureSettings settings;
    settings.loop = loop;
    Camera camera(clip, settings, EK::kResolution160x120);
    std::vector<long long> stamps;
    std::vector<std::string> errors;
    fetchFor(camera, milliseconds(1800), stamps, errors);
    const EK::EKCaptureStatus status = camera.source->status();
    EXPECT_EQ(status.deviceFormat, "BGR converted to YUV422");
    if (loop) {
      EXPECT_GE(status.framesCaptured, 15) << "1.8 s of a 1 s clip played in a loop";
      EXPECT_LE(status.framesCaptured, 20) << "played at 10 frames/s";
      EXPECT_TRUE(errors.empty());
    } else {
      EXPECT_EQ(status.framesCaptured, 10);
      ASSERT_EQ(errors.size(), 1u) << "the end is reported once";
      EXPECT_EQ(errors[0], "end of the video file " + clip);
      ASSERT_GE(stamps.size(), 2u);
      EXPECT_EQ(stamps.back(), stamps[stamps.size() - 2]) << "after the end: the last frame";
    }
    ASSERT_GE(stamps.size(), 3u);
    EXPECT_NEAR(static_cast<double>(stamps[2] - stamps[1]), 100000.0, 30000.0)
        << "a file's frames are stamped at its own rate";
  }
  std::filesystem::remove(clip);
}

}  // namespace
