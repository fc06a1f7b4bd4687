// ekvision cameras: the V4L2 cameras of this machine, their formats and sizes.
#include <ekvideodevice/ekv4l2devices.h>

#include <ostream>

#include "arguments.h"
#include "tool.h"

namespace ektool {
namespace {

const char kCamerasUsage[] =
    "usage: ekvision cameras\n"
    "\n"
    "Lists the V4L2 capture devices (/dev/videoN) with their name, pixel formats and frame\n"
    "sizes, as the driver reports them. `ekvision run --camera /dev/videoN` asks a camera\n"
    "for YUYV at the module's size and takes it as delivered; without YUYV at that size it\n"
    "takes MJPEG or BGR at that size (converted to YUV422), else the nearest larger size\n"
    "(scaled). Says so when there is no camera.\n";

}  // namespace

int runCameras(const std::vector<std::string>& args, Output& output) {
  const Arguments arguments = parseArguments(args, {});
  if (arguments.help) {
    output.out << kCamerasUsage;
    return 0;
  }
  expectPositional(arguments, {});
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

}  // namespace ektool
