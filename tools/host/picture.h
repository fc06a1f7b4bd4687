// Pictures of library images as OpenCV matrices, and saving them as PNG or PPM.
#ifndef EKVISION_TOOLS_PICTURE_H
#define EKVISION_TOOLS_PICTURE_H

#include <ekvision/ekimage.h>

#include <opencv2/core.hpp>

#include <cstddef>
#include <string>

namespace ekhost {

/// The color spaces that can be shown: YUV422, and every one-layer space as grey.
bool isViewable(int colorSpace, int nbLayers);

/// @brief Checks that @p image holds a picture that can be shown: a viewable color space
/// and a buffer of its size. @return its bytes
/// @throws HostError (kUnsupported) for another color space, (kBadFormat) for a buffer
///   smaller than the picture
std::size_t requireViewable(const EK::EKImage& image);

/// @brief The picture in @p image: BGR through the library's YUV422 conversion, or grey.
/// @throws HostError for any other color space, or a buffer smaller than the picture
cv::Mat pictureOf(EK::EKImage& image);

/// "png" or "ppm" for a path with that extension (any case), or "".
std::string pictureFormatOf(const std::string& path);

/// @brief Writes @p picture as PNG or PPM, chosen by @p format; grey becomes grey PPM pixels.
/// @throws HostError when the file cannot be written
void savePicture(const cv::Mat& picture, const std::string& path, const std::string& format);

}  // namespace ekhost

#endif  // EKVISION_TOOLS_PICTURE_H
