#include <ekvideodevice/ekmedialog.h>

#include <gst/gst.h>
extern "C" {
#include <libavutil/log.h>
}

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>

#include <ru/log.h>

#include "medialogerror.h"

namespace EK {
namespace {

const char kGstCategory[] = "media.gstreamer";
const char kGlibCategory[] = "media.glib";
const char kFfmpegCategory[] = "media.ffmpeg";

std::string withoutTrailingNewlines(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
    text.pop_back();
  }
  return text;
}

void record(const char* category, const std::string& text, const char* file, const char* function,
            int line) {
  const std::string message = withoutTrailingNewlines(text);
  if (!message.empty()) {
    ru::log::log(kMediaLogLevel, category, message, file == nullptr ? "" : file,
                 function == nullptr ? "" : function, line);
  }
}

void recordGst(GstDebugCategory* category, GstDebugLevel level, const gchar* file,
               const gchar* function, gint line, GObject*, GstDebugMessage* message, gpointer) {
  const gchar* text = gst_debug_message_get(message);
  record(kGstCategory,
         std::string(gst_debug_level_get_name(level)) + " " +
             gst_debug_category_get_name(category) + ": " + (text == nullptr ? "" : text),
         file, function, line);
}

void recordGlib(const gchar* domain, GLogLevelFlags, const gchar* text, gpointer) {
  record(kGlibCategory, std::string(domain == nullptr ? "" : domain) + ": " + text, nullptr,
         nullptr, 0);
}

// FFmpeg's last error on this thread, for the failure that follows it.
thread_local std::string lastFfmpegError;

void recordFfmpeg(void* context, int level, const char* format, va_list arguments) {
  if (level > AV_LOG_WARNING) {
    return;
  }
  if (level <= AV_LOG_ERROR) {
    va_list copy;
    va_copy(copy, arguments);
    char text[512];
    if (std::vsnprintf(text, sizeof text, format, copy) > 0) {
      lastFfmpegError = withoutTrailingNewlines(text);
    }
    va_end(copy);
  }
  // FFmpeg's own formatting, with the "[tcp @ 0x...]" prefix of the context.
  thread_local int printPrefix = 1;
  char line[1024];
  if (av_log_format_line2(context, level, format, arguments, line, sizeof line, &printPrefix) < 0) {
    return;
  }
  record(kFfmpegCategory, line, nullptr, nullptr, 0);
}

}  // namespace

std::string takeMediaError() {
  std::string error;
  error.swap(lastFfmpegError);
  return error;
}

void routeMediaLogs() {
  static std::once_flag routed;
  std::call_once(routed, [] {
    gst_init_check(nullptr, nullptr, nullptr);
    gst_debug_remove_log_function(gst_debug_log_default);
    gst_debug_add_log_function(recordGst, nullptr, nullptr);
    if (std::getenv("GST_DEBUG") == nullptr) {
      gst_debug_set_active(TRUE);
      gst_debug_set_default_threshold(GST_LEVEL_WARNING);
    }
    for (const char* domain : {"GStreamer", "GLib", "GLib-GObject"}) {
      g_log_set_handler(
          domain,
          static_cast<GLogLevelFlags>(G_LOG_LEVEL_MASK | G_LOG_FLAG_FATAL | G_LOG_FLAG_RECURSION),
          recordGlib, nullptr);
    }
    av_log_set_callback(recordFfmpeg);
  });
}

}  // namespace EK
