// Internal: a GStreamer video frame packed into the camera's YUV422 (YUYV byte order).
#ifndef EKVIDEODEVICE_CAPTURE_GSTFRAMEPACKING_H
#define EKVIDEODEVICE_CAPTURE_GSTFRAMEPACKING_H

#include <gst/video/video.h>

#include <string>

#include "captureframe.h"

namespace EK {
namespace capture {

// The caps an appsink is given when the pipeline does not set its own: every format
// packVideoFrame() takes, YUY2 first, so that a source that can deliver it does.
GstCaps* takenFormatsCaps();
// Their names, e.g. "YUY2, UYVY, ...".
std::string takenFormatsText();

// Packs @p frame into @p out (size and pixels; the stamp is left alone).
// YUY2 is copied; the other packed and planar YUV formats of 4:2:2 or 4:2:0 with 8-bit
// samples are reordered, every sample copied as it is (the rows of 4:2:0 chroma serve two
// rows each); GRAY8 gets neutral chroma; 8-bit RGB formats (alpha ignored) are converted by
// EKImage. @return how, e.g. "UYVY reordered to YUY2".
// @throws CaptureFailure naming the format for any other, or for an odd width.
std::string packVideoFrame(const GstVideoFrame& frame, RawFrame& out);

}  // namespace capture
}  // namespace EK

#endif  // EKVIDEODEVICE_CAPTURE_GSTFRAMEPACKING_H
