// Internal: a GStreamer pipeline whose appsink delivers a camera's frames.
#ifndef EKVIDEODEVICE_CAPTURE_GSTPIPELINE_H
#define EKVIDEODEVICE_CAPTURE_GSTPIPELINE_H

#include <gst/app/gstappsink.h>
#include <gst/gst.h>

#include <functional>
#include <memory>
#include <string>

#include "captureframe.h"

namespace EK {
namespace capture {

// Runs the pipeline a "gst:" spec describes. The frames are taken from its appsink: the
// pipeline's own when one of its elements is one, else one linked after its last element.
// An appsink without caps of its own is given those of every format packVideoFrame() takes.
class GstPipeline {
 public:
  // Parses and starts @p description. @throws CaptureFailure naming GStreamer's reason
  explicit GstPipeline(const std::string& description);
  GstPipeline(const GstPipeline&) = delete;
  GstPipeline& operator=(const GstPipeline&) = delete;

  // Waits for the next frame and packs it into @p frame, with the buffer's time as its own
  // time. Asks @p keepWaiting every 100 ms while none comes: kStopped when it says no.
  // kEnd at the end of the stream. @throws CaptureFailure for the pipeline's error or a
  // frame that cannot be taken
  ReadResult read(RawFrame& frame, const std::function<bool()>& keepWaiting);

  // How the frames are taken, e.g. "UYVY reordered to YUY2"; empty before the first.
  const std::string& format() const { return format_; }

 private:
  // Throws the error the pipeline posted, if any, as @p prefix followed by its words.
  void throwPostedError(const std::string& prefix);

  // Stops a pipeline before dropping it: GStreamer wants elements in the NULL state.
  struct Stopper {
    void operator()(GstElement* pipeline) const;
  };
  struct Unref {
    void operator()(GstAppSink* sink) const { gst_object_unref(sink); }
  };

  std::string description_;
  std::unique_ptr<GstElement, Stopper> pipeline_;
  std::unique_ptr<GstAppSink, Unref> sink_;  // released before the pipeline
  std::string format_;
};

}  // namespace capture
}  // namespace EK

#endif  // EKVIDEODEVICE_CAPTURE_GSTPIPELINE_H
