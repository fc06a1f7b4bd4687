/// @file
/// The V4L2 capture devices of this machine and what they offer.
#ifndef EKVIDEODEVICE_EKV4L2DEVICES_H
#define EKVIDEODEVICE_EKV4L2DEVICES_H

#include <string>
#include <vector>

#include <ekvideodevice/ekcapture_api.h>
#include <ekvideodevice/ekcaptureformat.h>

namespace EK {

/// @brief One pixel format of a device and its frame sizes.
struct EKV4L2Format {
  std::uint32_t fourcc;            ///< the format's code, e.g. fourcc("YUYV")
  std::string description;         ///< the driver's name for it
  std::vector<std::string> sizes;  ///< "640x480", or a range "160x120 to 1920x1080 step 8x8"
};

/// @brief A V4L2 video capture device.
struct EKV4L2Device {
  std::string path;                   ///< "/dev/video0"
  std::string card;                   ///< the driver's name of the device
  std::string error;                  ///< why it could not be queried; empty when it could
  std::vector<EKV4L2Format> formats;  ///< its formats, in the driver's order
};

/// @brief The /dev/videoN devices that capture video, in the order of N; devices that
/// cannot be opened are listed with the reason.
EKCAPTURE_API std::vector<EKV4L2Device> listV4L2Devices();

/// @brief The modes of device @p path for chooseDeviceMode(): every discrete size of every
/// format, and stepwiseCandidates() of a size range for @p width x @p height.
/// @return nothing when the device cannot be opened or queried
EKCAPTURE_API std::vector<EKDeviceMode> queryDeviceModes(const std::string& path, int width,
                                                         int height);

}  // namespace EK

#endif  // EKVIDEODEVICE_EKV4L2DEVICES_H
