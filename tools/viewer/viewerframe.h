// One picture as the viewer's page receives it: a JSON description (capture fields, the
// picture's own detections, the run's pace) and the picture as JPEG, in one response.
#ifndef EKVISION_TOOLS_VIEWER_VIEWERFRAME_H
#define EKVISION_TOOLS_VIEWER_VIEWERFRAME_H

#include <ekvalue/ekvalue.h>
#include <ekvision/ekdetection.h>
#include <ekvision/ekimage.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace ekviewer {

/// JPEG quality of the pictures sent to pages.
const int kViewerJpegQuality = 80;

/// @brief An owned copy of a picture and its capture fields, in the camera's packed YUV422
/// or one layer of grey (the color spaces a page can be shown).
struct Picture {
  int width = 0;
  int height = 0;
  bool grey = false;  ///< one layer a pixel, else packed YUV422
  long long timeStamp = -1;
  int camera = 0;
  float angles[4] = {0, 0, 0, 0};  ///< left, top, right, bottom
  std::vector<std::uint8_t> pixels;
};

/// @brief Copies the picture of an image array.
/// @throws ekhost::HostError (kUnsupported) for a color space a page cannot show, (kBadFormat)
///   for an array that holds no picture
Picture copyPicture(const EK::EKValue& image);
/// @brief Copies the picture of @p image, as copyPicture(const EK::EKValue&).
Picture copyPicture(const EK::EKImage& image);

/// @brief The response body of a picture: a 4-byte little-endian length, that many bytes of
/// JSON, then the JPEG. The JSON holds "index", "timeStamp", "camera", "angles" [l, t, r, b],
/// "width", "height", "detections" (the picture's, as `ekvision run --detections` writes
/// them) and, when not empty, the members of @p extraJson (a JSON object's inside, e.g.
/// `"stats":{...}`).
std::string frameBody(const Picture& picture, long long index,
                      const std::vector<EK::EKDetection>& detections,
                      const std::string& extraJson = "");

}  // namespace ekviewer

#endif  // EKVISION_TOOLS_VIEWER_VIEWERFRAME_H
