// The formats a GStreamer pipeline may deliver: each one's bytes against GStreamer's own
// conversion of the same videotestsrc picture, and the pipelines that are refused.
#include <ekvideodevice/ekcapturesource.h>
#include <ekvision/ekstatus.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <unistd.h>

#include <ekvision/ekimage.h>
#include <ekvision/ekimagevalue.h>
#include <ekvision/ekvisiondefinitions.h>

namespace {

using Bytes = std::vector<unsigned char>;

const int kWidth = 64;
const int kHeight = 48;
// A still picture whose chroma changes along rows and columns, the same on every run.
const std::string kPicture =
    "videotestsrc pattern=pinwheel foreground-color=0xff20e040 background-color=0xffc02080";

std::string rawCaps(const std::string& format, int height = kHeight) {
  return "video/x-raw,format=" + format + ",width=" + std::to_string(kWidth) +
         ",height=" + std::to_string(height);
}

std::string scratchPath(const std::string& name) {
  return (std::filesystem::temp_directory_path() /
          ("ekcapturegst_" + std::to_string(::getpid()) + "_" + name))
      .string();
}

Bytes readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// One frame that gst-launch writes for @p pipeline (a filesink is appended).
Bytes launchedFrame(const std::string& pipeline) {
  const std::string path = scratchPath("frame.raw");
  const std::string command =
      "gst-launch-1.0 -q " + pipeline + " ! filesink location=" + path + " >/dev/null 2>&1";
  EXPECT_EQ(std::system(command.c_str()), 0) << command;
  Bytes bytes = readFile(path);
  std::filesystem::remove(path);
  return bytes;
}

// The first frame the capture source takes from the pipeline @p spec, and how it took it.
Bytes capturedFrame(const std::string& spec, std::string& format) {
  EK::EKCaptureSettings settings;
  settings.width = kWidth;
  settings.height = kHeight;
  EK::EKCaptureSource source(spec, settings);
  format = source.status().deviceFormat;
  const EK::EKValue image = source.grab({"test", kWidth, kHeight, EK::kColorSpaceYUV422, 0, 0, 0});
  const auto* pixels = static_cast<const unsigned char*>(image[EK::kImageArrayPixels].GetBinary());
  return Bytes(pixels, pixels + kWidth * kHeight * 2);
}

TEST(GstFormats, EveryFormatIsTakenExactly) {
  // YUV formats: GStreamer's own conversion to YUY2, with chroma neither filtered nor
  // rescaled, copies every sample as it is, as the capture source must.
  const struct {
    const char* format;
    const char* how;
  } yuv[] = {
      {"YUY2", "YUY2 as delivered"},
      {"UYVY", "UYVY reordered to YUY2"},
      {"YVYU", "YVYU reordered to YUY2"},
      {"Y42B", "Y42B reordered to YUY2"},
      {"NV16", "NV16 reordered to YUY2"},
      {"NV61", "NV61 reordered to YUY2"},
      {"I420", "I420 with chroma rows repeated, as YUY2"},
      {"YV12", "YV12 with chroma rows repeated, as YUY2"},
      {"NV12", "NV12 with chroma rows repeated, as YUY2"},
      {"NV21", "NV21 with chroma rows repeated, as YUY2"},
      {"GRAY8", "GRAY8 with neutral chroma"},
  };
  for (const auto& c : yuv) {
    const Bytes expected = launchedFrame(
        kPicture + " num-buffers=1 ! " + rawCaps(c.format) +
        " ! videoconvert chroma-mode=none matrix-mode=none dither=none ! " + rawCaps("YUY2"));
    std::string how;
    const Bytes taken = capturedFrame("gst:" + kPicture + " ! " + rawCaps(c.format), how);
    EXPECT_EQ(how, c.how);
    EXPECT_TRUE(taken == expected) << c.format << ": the bytes differ";
  }
  // RGB formats: each one's components in the library's BGR conversion.
  const Bytes bgr = launchedFrame(kPicture + " num-buffers=1 ! " + rawCaps("BGR"));
  ASSERT_EQ(bgr.size(), static_cast<std::size_t>(kWidth * kHeight * 3));
  Bytes expected(kWidth * kHeight * 2);
  EK::EKImage image(kWidth, kHeight, EK::kColorSpaceYUV422, true);
  image.frame = expected.data();
  image.computeYUV422imageFromBGR(kHeight, kWidth,
                                  reinterpret_cast<char*>(const_cast<unsigned char*>(bgr.data())));
  for (const char* format : {"BGR", "RGB", "BGRx", "xRGB", "RGBA", "ABGR"}) {
    std::string how;
    const Bytes taken = capturedFrame("gst:" + kPicture + " ! " + rawCaps(format), how);
    EXPECT_EQ(how, std::string(format) + " converted to YUV422");
    EXPECT_TRUE(taken == expected) << format << ": the bytes differ";
  }
}

TEST(GstFormats, PipelinesAreTakenByTheirElementsNotTheirWords) {
  // A file whose name holds the word appsink, read by a pipeline without one.
  const std::string path = scratchPath("appsink-take1.yuv");
  Bytes written(kWidth * kHeight * 2);
  for (std::size_t i = 0; i < written.size(); ++i) {
    written[i] = static_cast<unsigned char>(i * 7 + i / 128);
  }
  // Twenty frames at 10 a second: the pipeline is still playing when the frame is taken.
  std::ofstream file(path, std::ios::binary);
  for (int frame = 0; frame < 20; ++frame) {
    file.write(reinterpret_cast<const char*>(written.data()),
               static_cast<std::streamsize>(written.size()));
  }
  file.close();
  std::string how;
  EXPECT_TRUE(capturedFrame("gst:filesrc location=" + path + " ! rawvideoparse width=" +
                                std::to_string(kWidth) + " height=" + std::to_string(kHeight) +
                                " format=yuy2 framerate=10/1",
                            how) == written);
  std::filesystem::remove(path);
  // A pipeline's own appsink, its caps kept, and a picture one row high.
  EK::EKCaptureSettings settings;
  settings.width = kWidth;
  settings.height = 1;
  EK::EKCaptureSource row("gst:videotestsrc ! appsink caps=" + rawCaps("GRAY8", 1), settings);
  EXPECT_EQ(row.status().deviceFormat, "GRAY8 with neutral chroma");
  EXPECT_EQ(row.status().deviceHeight, 1);
}

TEST(GstFormats, PipelinesThatCannotDeliverAreRefusedNamingWhy) {
  const struct {
    std::string pipeline;
    std::string words;
    EK::EKCause cause;
  } cases[] = {
      {"videotestsrc ! appsink caps=" + rawCaps("AYUV"),
       "frames in AYUV cannot be taken (only YUY2, UYVY", EK::EKCause::kUnsupported},
      {"videotestsrc ! " + rawCaps("v308"), "its elements agree on no format that can be taken",
       EK::EKCause::kUnavailable},
      {"videotestsrc ! video/x-raw,width=63", "63x240 pixels: the width must be even",
       EK::EKCause::kUnsupported},
      {"audiotestsrc ! appsink caps=audio/x-raw", "frames of audio/x-raw",
       EK::EKCause::kUnsupported},
      {"filesrc location=/no/such.yuv ! rawvideoparse",
       "Resource not found (No such file \"/no/such.yuv\")", EK::EKCause::kUnavailable},
      {"videotestsrc ! (", "syntax error", EK::EKCause::kUnavailable},
      {"nosuchelement", "no element \"nosuchelement\"", EK::EKCause::kUnavailable},
  };
  for (const auto& c : cases) {
    try {
      EK::EKCaptureSource source("gst:" + c.pipeline);
      ADD_FAILURE() << c.pipeline << " opened";
    } catch (const EK::EKFailure& error) {
      EXPECT_NE(error.getDescription().find(c.words), std::string::npos)
          << c.pipeline << ": " << error.getDescription();
      EXPECT_EQ(error.cause(), c.cause) << c.pipeline << ": " << EK::causeName(error.cause());
    }
  }
}

}  // namespace
