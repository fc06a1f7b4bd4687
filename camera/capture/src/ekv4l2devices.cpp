#include <ekvideodevice/ekv4l2devices.h>

#include <fcntl.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <functional>

namespace EK {
namespace {

// An open device file, closed on every way out.
class DeviceFile {
 public:
  explicit DeviceFile(const std::string& path) : fd_(::open(path.c_str(), O_RDWR | O_NONBLOCK)) {}
  ~DeviceFile() {
    if (fd_ >= 0) {
      ::close(fd_);
    }
  }
  DeviceFile(const DeviceFile&) = delete;
  DeviceFile& operator=(const DeviceFile&) = delete;
  bool isOpen() const { return fd_ >= 0; }
  bool query(unsigned long request, void* argument) const {
    int result;
    do {
      result = ::ioctl(fd_, request, argument);
    } while (result < 0 && errno == EINTR);
    return result == 0;
  }

 private:
  int fd_;
};

// Calls @p visit for every format and every frame-size entry of the device.
void forEachSize(const DeviceFile& device, const std::function<void(const v4l2_fmtdesc&)>& format,
                 const std::function<void(const v4l2_fmtdesc&, const v4l2_frmsizeenum&)>& size) {
  v4l2_fmtdesc description{};
  description.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  for (description.index = 0; device.query(VIDIOC_ENUM_FMT, &description); ++description.index) {
    format(description);
    v4l2_frmsizeenum entry{};
    entry.pixel_format = description.pixelformat;
    for (entry.index = 0; device.query(VIDIOC_ENUM_FRAMESIZES, &entry); ++entry.index) {
      size(description, entry);
      if (entry.type != V4L2_FRMSIZE_TYPE_DISCRETE) {
        break;  // a range is the only entry
      }
    }
  }
}

std::string sizeText(unsigned width, unsigned height) {
  return std::to_string(width) + "x" + std::to_string(height);
}

}  // namespace

std::vector<EKV4L2Device> listV4L2Devices() {
  std::vector<std::pair<int, std::string>> paths;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator("/dev", error)) {
    const std::string name = entry.path().filename().string();
    // videoN with N a number that fits an int: other names, such as a number too long, are
    // not capture devices and are skipped.
    if (name.size() <= 5 || name.compare(0, 5, "video") != 0 || name[5] == '-') {
      continue;
    }
    int number = 0;
    const char* end = name.data() + name.size();
    const auto [stop, failure] = std::from_chars(name.data() + 5, end, number);
    if (stop == end && failure == std::errc()) {
      paths.emplace_back(number, entry.path().string());
    }
  }
  std::sort(paths.begin(), paths.end());
  std::vector<EKV4L2Device> devices;
  for (const auto& [number, path] : paths) {
    EKV4L2Device device;
    device.path = path;
    const DeviceFile file(path);
    v4l2_capability capability{};
    if (!file.isOpen() || !file.query(VIDIOC_QUERYCAP, &capability)) {
      device.error = std::strerror(errno);
      devices.push_back(device);
      continue;
    }
    const unsigned caps = (capability.capabilities & V4L2_CAP_DEVICE_CAPS) != 0
                              ? capability.device_caps
                              : capability.capabilities;
    if ((caps & V4L2_CAP_VIDEO_CAPTURE) == 0) {
      continue;  // a metadata or output node of a camera
    }
    device.card = reinterpret_cast<const char*>(capability.card);
    forEachSize(
        file,
        [&](const v4l2_fmtdesc& format) {
          device.formats.push_back(
              {format.pixelformat, reinterpret_cast<const char*>(format.description), {}});
        },
        [&](const v4l2_fmtdesc&, const v4l2_frmsizeenum& entry) {
          if (entry.type == V4L2_FRMSIZE_TYPE_DISCRETE) {
            device.formats.back().sizes.push_back(
                sizeText(entry.discrete.width, entry.discrete.height));
          } else {
            const v4l2_frmsize_stepwise& range = entry.stepwise;
            device.formats.back().sizes.push_back(
                sizeText(range.min_width, range.min_height) + " to " +
                sizeText(range.max_width, range.max_height) + " step " +
                sizeText(range.step_width, range.step_height));
          }
        });
    devices.push_back(device);
  }
  return devices;
}

std::vector<EKDeviceMode> queryDeviceModes(const std::string& path, int width, int height) {
  std::vector<EKDeviceMode> modes;
  const DeviceFile file(path);
  if (!file.isOpen()) {
    return modes;
  }
  forEachSize(
      file, [](const v4l2_fmtdesc&) {},
      [&](const v4l2_fmtdesc& format, const v4l2_frmsizeenum& entry) {
        if (entry.type == V4L2_FRMSIZE_TYPE_DISCRETE) {
          modes.push_back({format.pixelformat, static_cast<int>(entry.discrete.width),
                           static_cast<int>(entry.discrete.height)});
          return;
        }
        const v4l2_frmsize_stepwise& range = entry.stepwise;
        const auto candidates = stepwiseCandidates(
            format.pixelformat, static_cast<int>(range.min_width),
            static_cast<int>(range.max_width), static_cast<int>(range.step_width),
            static_cast<int>(range.min_height), static_cast<int>(range.max_height),
            static_cast<int>(range.step_height), width, height);
        modes.insert(modes.end(), candidates.begin(), candidates.end());
      });
  return modes;
}

}  // namespace EK
