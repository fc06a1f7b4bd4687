#include "options.h"

#include <ekvision/ekvideoplayback.h>
#include <ekvision/ekvisiondefinitions.h>

#include <cmath>

#include "textio.h"
#include "viewerserver.h"

namespace ektool {
namespace {

// "0: 160x120, 1: 320x240, ..." from the library's own table of sizes.
std::string resolutionList() {
  std::string list;
  for (int code = EK::kResolution160x120; code <= EK::kResolution1280x960; ++code) {
    int width = 0;
    int height = 0;
    EK::setSizeFromResolution(code, width, height);
    list += (list.empty() ? "" : ", ") + std::to_string(code) + ": " + std::to_string(width) + "x" +
            std::to_string(height);
  }
  return list;
}

}  // namespace

const char kCameraSpecHelp[] =
    "SPEC is /dev/videoN (a V4L2 camera, see ekvision cameras), gst:PIPELINE (a GStreamer "
    "pipeline, YUY2 or BGR at its appsink), a URL (rtsp://, http://: a network stream), "
    "tcp://HOST:PORT or ipc://PATH (a frame server, see ekvision serve; add ?curve=KEYFILE "
    "for one that takes CURVE clients only) or a video file (played at its own rate). Live "
    "frames are "
    "scaled to --resolution when the camera cannot give that size.";

CLI::Validator wholeNumber(long long minimum, long long maximum) {
  return CLI::Validator(
      [minimum, maximum](std::string& text) {
        long long value = 0;
        if (ekhost::parseNumber(text, value) && value >= minimum && value <= maximum) {
          return std::string();
        }
        return "must be a whole number from " + std::to_string(minimum) + " to " +
               std::to_string(maximum) + ", not '" + text + "'";
      },
      "", "");
}

CLI::Option* addSecondsOption(CLI::App& app, std::optional<double>& seconds,
                              const std::string& description, const std::string& optionName) {
  const CLI::Validator positiveSeconds(
      [](std::string& text) {
        double value = 0;
        if (ekhost::parseNumber(text, value) && std::isfinite(value) && value > 0 &&
            value <= kMaxSeconds) {
          return std::string();
        }
        return "must be a number of seconds above 0 and at most " +
               std::to_string(static_cast<long long>(kMaxSeconds)) + ", not '" + text + "'";
      },
      "", "");
  return app.add_option(optionName, seconds, description)->type_name("S")->check(positiveSeconds);
}

CLI::Option* addFramesOption(CLI::App& app, std::optional<long long>& frames,
                             const std::string& description) {
  return app.add_option("--frames", frames, description)
      ->type_name("N")
      ->check(wholeNumber(1, kMaxFrames));
}

CLI::Option* addFpsOption(CLI::App& app, std::optional<int>& fps, const std::string& description) {
  return app.add_option("--fps", fps, description)
      ->type_name("N")
      ->check(wholeNumber(kMinFps, kMaxFps));
}

CLI::Option* addResolutionOption(CLI::App& app, int& resolution, const std::string& description,
                                 bool records) {
  const std::string playable =
      records ? "; recordings play back up to " + std::to_string(EK::kLargestPlayableResolution)
              : "";
  return app
      .add_option("--resolution", resolution,
                  description + " (" + resolutionList() + playable + ")")
      ->type_name("R")
      ->check(wholeNumber(EK::kResolution160x120, EK::kResolution1280x960));
}

CLI::Option* addCameraOption(CLI::App& app, std::optional<std::string>& spec,
                             const std::string& optionName, const std::string& description) {
  CLI::Option* option = app.add_option(optionName.empty() ? "SPEC" : optionName, spec, description);
  return optionName.empty() ? option->required() : option->type_name("SPEC");
}

CLI::Option* addViewerAddressOption(CLI::App& app, std::string& address,
                                    const std::string& optionName, const std::string& description) {
  address = ekviewer::kDefaultViewerAddress;
  return app.add_option(optionName, address, description)
      ->type_name("ADDR:PORT")
      ->check([](const std::string& text) {
        try {
          ekviewer::parseListenAddress(text);
          return std::string();
        } catch (const ekhost::HostError& error) {
          return std::string(error.what());
        }
      });
}

}  // namespace ektool
