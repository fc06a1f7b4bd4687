#include "picture.h"

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "host.h"

namespace ekhost {

bool isViewable(int colorSpace, int nbLayers) {
  return colorSpace == EK::kColorSpaceYUV422 || nbLayers == 1;
}

std::size_t requireViewable(const EK::EKImage& image) {
  if (!isViewable(image.colorSpace, image.nbLayers)) {
    fail(EK::EKCause::kUnsupported,
         "color space " + std::to_string(image.colorSpace) +
             " has no known pixel layout: only YUV422 (9) and one-layer color spaces "
             "can be shown");
  }
  const long long bytes = static_cast<long long>(image.width) * image.height * image.nbLayers;
  if (image.width <= 0 || image.height <= 0 || image.frame == nullptr ||
      image.allocatedSize < bytes) {
    fail(EK::EKCause::kBadFormat, "the image holds no picture of its size");
  }
  return static_cast<std::size_t>(bytes);
}

cv::Mat pictureOf(EK::EKImage& image) {
  const std::size_t bytes = requireViewable(image);
  if (image.colorSpace == EK::kColorSpaceYUV422) {
    cv::Mat bgr(image.height, image.width, CV_8UC3);
    if (!image.computeBGRimageFromYUV422(bgr.data)) {
      fail(EK::EKCause::kBadFormat, "the YUV422 picture cannot be converted");
    }
    return bgr;
  }
  cv::Mat grey(image.height, image.width, CV_8UC1);
  std::memcpy(grey.data, image.frame, bytes);
  return grey;
}

std::string pictureFormatOf(const std::string& path) {
  const std::size_t dot = path.find_last_of('.');
  if (dot == std::string::npos || path.find('/', dot) != std::string::npos) {
    return "";
  }
  std::string extension = path.substr(dot + 1);
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return extension == "png" || extension == "ppm" ? extension : "";
}

void savePicture(const cv::Mat& picture, const std::string& path, const std::string& format) {
  // The encoder is chosen by the extension; a PPM holds colour pixels only.
  cv::Mat pixels = picture;
  if (format == "ppm" && picture.channels() == 1) {
    cv::cvtColor(picture, pixels, cv::COLOR_GRAY2BGR);
  }
  bool written = false;
  std::vector<unsigned char> encoded;
  try {
    written = cv::imencode("." + format, pixels, encoded);
  } catch (const cv::Exception& error) {
    fail(EK::EKCause::kUnsupported, "cannot encode " + path + ": " + error.what());
  }
  if (!written) {
    fail(EK::EKCause::kUnsupported, "cannot encode " + path);
  }
  FILE* file = std::fopen(path.c_str(), "wb");
  int error = file == nullptr ? errno : 0;
  if (file != nullptr) {
    // A short write sets errno; EIO stands in should it not.
    if (std::fwrite(encoded.data(), 1, encoded.size(), file) != encoded.size()) {
      error = errno != 0 ? errno : EIO;
    }
    if (std::fclose(file) != 0 && error == 0) {
      error = errno != 0 ? errno : EIO;
    }
  }
  if (error != 0) {
    throw HostError(EK::EKStatus::fromSystemError(error, "cannot write " + path));
  }
}

}  // namespace ekhost
