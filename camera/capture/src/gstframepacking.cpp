#include "gstframepacking.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <vector>

#include <ekvision/ekimage.h>
#include <ekvision/ekvisiondefinitions.h>

namespace EK {
namespace capture {
namespace {

const unsigned char kNeutralChroma = 128;

// Preference order for negotiation: the camera's own layout first, then what needs only
// reordering, then conversions.
const GstVideoFormat kTakenFormats[] = {
    GST_VIDEO_FORMAT_YUY2, GST_VIDEO_FORMAT_UYVY, GST_VIDEO_FORMAT_YVYU,  GST_VIDEO_FORMAT_Y42B,
    GST_VIDEO_FORMAT_NV16, GST_VIDEO_FORMAT_NV61, GST_VIDEO_FORMAT_I420,  GST_VIDEO_FORMAT_YV12,
    GST_VIDEO_FORMAT_NV12, GST_VIDEO_FORMAT_NV21, GST_VIDEO_FORMAT_GRAY8, GST_VIDEO_FORMAT_BGR,
    GST_VIDEO_FORMAT_RGB,  GST_VIDEO_FORMAT_BGRx, GST_VIDEO_FORMAT_RGBx,  GST_VIDEO_FORMAT_xBGR,
    GST_VIDEO_FORMAT_xRGB, GST_VIDEO_FORMAT_BGRA, GST_VIDEO_FORMAT_RGBA,  GST_VIDEO_FORMAT_ABGR,
    GST_VIDEO_FORMAT_ARGB,
};

bool isTaken(GstVideoFormat format) {
  return std::find(std::begin(kTakenFormats), std::end(kTakenFormats), format) !=
         std::end(kTakenFormats);
}

// One component of a frame: where its samples are and how they step.
struct Component {
  const unsigned char* data;
  int stride;       // bytes from one row to the next
  int pixelStride;  // bytes from one sample to the next
  int rowShift;     // a row of this component serves 1 << rowShift rows of the picture
  int columnShift;  // a sample serves 1 << columnShift pixels

  unsigned char at(int x, int y) const {
    return data[static_cast<std::ptrdiff_t>(y >> rowShift) * stride +
                static_cast<std::ptrdiff_t>(x >> columnShift) * pixelStride];
  }
};

Component component(const GstVideoFrame& frame, int index) {
  const GstVideoFormatInfo* info = frame.info.finfo;
  return {static_cast<const unsigned char*>(GST_VIDEO_FRAME_COMP_DATA(&frame, index)),
          GST_VIDEO_FRAME_COMP_STRIDE(&frame, index), GST_VIDEO_FRAME_COMP_PSTRIDE(&frame, index),
          static_cast<int>(GST_VIDEO_FORMAT_INFO_H_SUB(info, index)),
          static_cast<int>(GST_VIDEO_FORMAT_INFO_W_SUB(info, index))};
}

void packYuv(const GstVideoFrame& frame, unsigned char* out, int width, int height) {
  const Component y = component(frame, GST_VIDEO_COMP_Y);
  const Component u = component(frame, GST_VIDEO_COMP_U);
  const Component v = component(frame, GST_VIDEO_COMP_V);
  for (int row = 0; row < height; ++row) {
    unsigned char* line = out + static_cast<std::size_t>(row) * width * 2;
    for (int x = 0; x < width; x += 2) {
      line[2 * x] = y.at(x, row);
      line[2 * x + 1] = u.at(x, row);
      line[2 * x + 2] = y.at(x + 1, row);
      line[2 * x + 3] = v.at(x, row);
    }
  }
}

void packGray(const GstVideoFrame& frame, unsigned char* out, int width, int height) {
  const Component y = component(frame, GST_VIDEO_COMP_Y);
  for (int row = 0; row < height; ++row) {
    unsigned char* line = out + static_cast<std::size_t>(row) * width * 2;
    for (int x = 0; x < width; ++x) {
      line[2 * x] = y.at(x, row);
      line[2 * x + 1] = kNeutralChroma;
    }
  }
}

void packRgb(const GstVideoFrame& frame, unsigned char* out, int width, int height) {
  const Component red = component(frame, GST_VIDEO_COMP_R);
  const Component green = component(frame, GST_VIDEO_COMP_G);
  const Component blue = component(frame, GST_VIDEO_COMP_B);
  std::vector<unsigned char> bgr(static_cast<std::size_t>(width) * height * 3);
  unsigned char* pixel = bgr.data();
  for (int row = 0; row < height; ++row) {
    for (int x = 0; x < width; ++x) {
      *pixel++ = blue.at(x, row);
      *pixel++ = green.at(x, row);
      *pixel++ = red.at(x, row);
    }
  }
  EKImage image(width, height, kColorSpaceYUV422, true);
  image.frame = out;
  image.computeYUV422imageFromBGR(height, width, reinterpret_cast<char*>(bgr.data()));
}

}  // namespace

std::string takenFormatsText() {
  std::string text;
  for (const GstVideoFormat format : kTakenFormats) {
    text += (text.empty() ? "" : ", ") + std::string(gst_video_format_to_string(format));
  }
  return text;
}

GstCaps* takenFormatsCaps() {
  GValue formats = G_VALUE_INIT;
  gst_value_list_init(&formats, std::size(kTakenFormats));
  for (const GstVideoFormat format : kTakenFormats) {
    GValue name = G_VALUE_INIT;
    g_value_init(&name, G_TYPE_STRING);
    g_value_set_static_string(&name, gst_video_format_to_string(format));
    gst_value_list_append_and_take_value(&formats, &name);
  }
  GstCaps* caps = gst_caps_new_empty_simple("video/x-raw");
  gst_caps_set_value(caps, "format", &formats);
  g_value_unset(&formats);
  return caps;
}

std::string packVideoFrame(const GstVideoFrame& frame, RawFrame& out) {
  const GstVideoFormat format = GST_VIDEO_FRAME_FORMAT(&frame);
  const std::string name = gst_video_format_to_string(format);
  const int width = GST_VIDEO_FRAME_WIDTH(&frame);
  const int height = GST_VIDEO_FRAME_HEIGHT(&frame);
  if (!isTaken(format)) {
    throw CaptureFailure(EKCause::kUnsupported,
                         "frames in " + name + " cannot be taken (only " + takenFormatsText() +
                             "); end the pipeline with 'videoconvert ! video/x-raw,format=YUY2'");
  }
  if (width <= 0 || height <= 0 || width % 2 != 0) {
    throw CaptureFailure(EKCause::kUnsupported, "cannot take frames of " + std::to_string(width) +
                                                    "x" + std::to_string(height) +
                                                    " pixels: the width must be even");
  }
  unsigned char* pixels = out.resize(width, height);
  const std::size_t rowBytes = static_cast<std::size_t>(width) * 2;
  if (format == GST_VIDEO_FORMAT_YUY2) {
    const auto* plane = static_cast<const unsigned char*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0));
    const int stride = GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0);
    for (int row = 0; row < height; ++row) {
      std::memcpy(pixels + rowBytes * static_cast<std::size_t>(row),
                  plane + static_cast<std::ptrdiff_t>(row) * stride, rowBytes);
    }
    return "YUY2 as delivered";
  }
  if (format == GST_VIDEO_FORMAT_GRAY8) {
    packGray(frame, pixels, width, height);
    return "GRAY8 with neutral chroma";
  }
  if (GST_VIDEO_FORMAT_INFO_IS_RGB(frame.info.finfo)) {
    packRgb(frame, pixels, width, height);
    return name + " converted to YUV422";
  }
  packYuv(frame, pixels, width, height);
  const bool repeatsRows = GST_VIDEO_FORMAT_INFO_H_SUB(frame.info.finfo, GST_VIDEO_COMP_U) > 0;
  return name + (repeatsRows ? " with chroma rows repeated, as YUY2" : " reordered to YUY2");
}

}  // namespace capture
}  // namespace EK
