// ekvision cameras: the V4L2 cameras of this machine, their formats and sizes.
#include <ekvideodevice/ekv4l2devices.h>

#include <ostream>

#include <CLI/CLI.hpp>

#include <memory>

#include "commands.h"
#include "tool.h"

namespace ektool {
namespace {

class CamerasCommand : public Command {
 public:
  void define(CLI::App& app) override {
    app.description(
        "Lists the V4L2 capture devices (/dev/videoN) with their name, pixel formats and frame "
        "sizes, as the driver reports them. `ekvision run --camera /dev/videoN` asks a camera "
        "for YUYV at the module's size and takes it as delivered; without YUYV at that size it "
        "takes MJPEG or BGR at that size (converted to YUV422), else the nearest larger size "
        "(scaled). Says so when there is no camera.");
  }

  int run(Output& output) override {
    const std::vector<EK::EKV4L2Device> devices = EK::listV4L2Devices();
    if (devices.empty()) {
      output.out << "no V4L2 camera: there is no /dev/videoN capture device on this machine\n";
      return 0;
    }
    for (const EK::EKV4L2Device& device : devices) {
      if (!device.error.empty()) {
        output.out << device.path << ": cannot be queried: " << device.error << "\n";
        continue;
      }
      output.out << device.path << ": " << device.card << "\n";
      for (const EK::EKV4L2Format& format : device.formats) {
        output.out << "  " << EK::fourccText(format.fourcc) << " (" << format.description << "):";
        for (const std::string& size : format.sizes) {
          output.out << " " << size;
        }
        output.out << (format.sizes.empty() ? " sizes not listed by the driver\n" : "\n");
      }
    }
    return 0;
  }
};

}  // namespace

std::unique_ptr<Command> makeCamerasCommand() {
  return std::make_unique<CamerasCommand>();
}

}  // namespace ektool
