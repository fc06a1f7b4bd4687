#include "gstpipeline.h"

#include <gst/video/video.h>

#include <cstring>

#include <ekvideodevice/ekcaptureformat.h>
#include <ekvideodevice/ekmedialog.h>
#include <ru/log.h>

#include "gstframepacking.h"

namespace EK {
namespace capture {
namespace {

// How often a read that waits for a frame looks at the pipeline's errors and at whether
// the source is stopping.
const GstClockTime kPollInterval = 100 * GST_MSECOND;

// The element that @p text describes, or null with GStreamer's reason in @p why.
GstElement* parse(const std::string& text, std::string& why) {
  GError* error = nullptr;
  GstElement* element =
      gst_parse_launch_full(text.c_str(), nullptr, GST_PARSE_FLAG_FATAL_ERRORS, &error);
  if (error != nullptr) {
    why = error->message;
    g_error_free(error);
    if (element != nullptr) {
      gst_object_unref(element);
    }
    return nullptr;
  }
  return element;
}

// The first appsink among @p element and the elements it holds, as a new reference; null
// when there is none.
GstAppSink* findAppSink(GstElement* element) {
  if (GST_IS_APP_SINK(element)) {
    return GST_APP_SINK(gst_object_ref(element));
  }
  if (!GST_IS_BIN(element)) {
    return nullptr;
  }
  GstAppSink* found = nullptr;
  GstIterator* elements = gst_bin_iterate_recurse(GST_BIN(element));
  GValue item = G_VALUE_INIT;
  while (found == nullptr && gst_iterator_next(elements, &item) == GST_ITERATOR_OK) {
    GstElement* candidate = GST_ELEMENT(g_value_get_object(&item));
    if (GST_IS_APP_SINK(candidate)) {
      found = GST_APP_SINK(gst_object_ref(candidate));
    }
    g_value_reset(&item);
  }
  g_value_unset(&item);
  gst_iterator_free(elements);
  return found;
}

// The last line of an error's details: GStreamer's message is general ("Resource not
// found."), its details end with the particular ("No such file \"x\"").
std::string particular(const gchar* details) {
  std::string text = details;
  const auto newline = text.find_last_of('\n');
  return newline == std::string::npos ? std::string() : text.substr(newline + 1);
}

// The words of an error message, with the details kept for the media log.
std::string errorText(GstMessage* message) {
  GError* error = nullptr;
  gchar* details = nullptr;
  gst_message_parse_error(message, &error, &details);
  std::string text = error != nullptr ? error->message : "an unknown error";
  if (details != nullptr) {
    ru::log::log(kMediaLogLevel, "media.gstreamer",
                 std::string(GST_OBJECT_NAME(GST_MESSAGE_SRC(message))) + ": " + details, "", "",
                 0);
    const std::string more = particular(details);
    if (std::strstr(details, "not-negotiated") != nullptr) {
      text = "its elements agree on no format that can be taken (" + takenFormatsText() +
             "); end it with 'videoconvert'";
    } else if (!more.empty()) {
      if (!text.empty() && text.back() == '.') {
        text.pop_back();
      }
      text += " (" + more + ")";
    }
  }
  if (error != nullptr) {
    g_error_free(error);
  }
  g_free(details);
  return text;
}

}  // namespace

void GstPipeline::Stopper::operator()(GstElement* pipeline) const {
  gst_element_set_state(pipeline, GST_STATE_NULL);
  gst_object_unref(pipeline);
}

GstPipeline::GstPipeline(const std::string& description) : description_(description) {
  routeMediaLogs();  // initialises GStreamer too
  const std::string opening = std::string("cannot open the ") +
                              toString(EKCaptureKind::kGStreamer) + " " + description + ": ";
  // A pipeline with an appsink of its own is taken as it is. Otherwise one is linked after
  // it, which is also what makes a text ending in caps (a link's filter) a pipeline.
  std::string why;
  pipeline_.reset(parse(description, why));
  sink_.reset(pipeline_ ? findAppSink(pipeline_.get()) : nullptr);
  if (!sink_) {
    pipeline_.reset(parse(description + " ! appsink", why));
    sink_.reset(pipeline_ ? findAppSink(pipeline_.get()) : nullptr);
  }
  if (!pipeline_) {
    throw CaptureFailure(EKCause::kUnavailable, opening + why);
  }
  if (!GST_IS_PIPELINE(pipeline_.get()) || !sink_) {
    throw CaptureFailure(EKCause::kUnavailable, opening + "nothing delivers frames to its appsink");
  }
  GstCaps* caps = gst_app_sink_get_caps(sink_.get());
  if (caps == nullptr) {
    caps = takenFormatsCaps();
    gst_app_sink_set_caps(sink_.get(), caps);
  }
  gst_caps_unref(caps);
  // A sink that would queue without bound holds one frame: the capture thread takes the
  // newest anyway, and a stalled reader must not grow memory.
  if (gst_app_sink_get_max_buffers(sink_.get()) == 0) {
    gst_app_sink_set_max_buffers(sink_.get(), 1);
  }
  if (gst_element_set_state(pipeline_.get(), GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
    throwPostedError(opening);
    throw CaptureFailure(EKCause::kUnavailable, opening + "it does not start");
  }
}

void GstPipeline::throwPostedError(const std::string& prefix) {
  GstBus* bus = gst_element_get_bus(pipeline_.get());
  GstMessage* message = gst_bus_pop_filtered(bus, GST_MESSAGE_ERROR);
  gst_object_unref(bus);
  if (message == nullptr) {
    return;
  }
  const std::string text = errorText(message);
  gst_message_unref(message);
  throw CaptureFailure(EKCause::kUnavailable, prefix + text);
}

ReadResult GstPipeline::read(RawFrame& frame, const std::function<bool()>& keepWaiting) {
  for (;;) {
    GstSample* sample = gst_app_sink_try_pull_sample(sink_.get(), kPollInterval);
    if (sample == nullptr) {
      throwPostedError("the " + std::string(toString(EKCaptureKind::kGStreamer)) + " " +
                       description_ + " failed: ");
      if (gst_app_sink_is_eos(sink_.get())) {
        return ReadResult::kEnd;
      }
      if (!keepWaiting()) {
        return ReadResult::kStopped;
      }
      continue;
    }
    GstVideoInfo info;
    GstVideoFrame mapped;
    GstBuffer* buffer = gst_sample_get_buffer(sample);
    GstCaps* caps = gst_sample_get_caps(sample);
    if (caps == nullptr || buffer == nullptr || !gst_video_info_from_caps(&info, caps)) {
      gchar* text = caps != nullptr ? gst_caps_to_string(caps) : g_strdup("no caps");
      const std::string described = text;
      g_free(text);
      gst_sample_unref(sample);
      throw CaptureFailure(EKCause::kUnsupported,
                           "frames of " + described + " cannot be taken: raw video is needed");
    }
    if (!gst_video_frame_map(&mapped, &info, buffer, GST_MAP_READ)) {
      const std::size_t bytes = gst_buffer_get_size(buffer);
      gst_sample_unref(sample);
      throw CaptureFailure(EKCause::kBadFormat,
                           "a frame of " + std::to_string(bytes) + " bytes is no " +
                               std::to_string(info.width) + "x" + std::to_string(info.height) +
                               " " + gst_video_format_to_string(GST_VIDEO_INFO_FORMAT(&info)) +
                               " picture");
    }
    try {
      format_ = packVideoFrame(mapped, frame);
    } catch (...) {
      gst_video_frame_unmap(&mapped);
      gst_sample_unref(sample);
      throw;
    }
    const GstClockTime time = GST_BUFFER_PTS(buffer);
    frame.ownMicroseconds = GST_CLOCK_TIME_IS_VALID(time) ? static_cast<double>(time) / 1000.0 : -1;
    gst_video_frame_unmap(&mapped);
    gst_sample_unref(sample);
    return ReadResult::kFrame;
  }
}

}  // namespace capture
}  // namespace EK
