/// @file
/// The media libraries' own words (GStreamer, GLib, FFmpeg) as records of the framework's
/// log, instead of lines on standard error.
///
/// A failed pipeline or an unreadable file makes these libraries print several lines of
/// their own before the caller can say what went wrong in one. Once routed, their lines
/// become ru::log records of level kMediaLogLevel, which the default sink's threshold leaves
/// out: a program shows them when it is asked for details (`ekvision --verbose`, or
/// `EKVISION_LOG=debug`), by raising the threshold with ru::log::setVerbosity() or with a
/// handler of its own.
#ifndef EKVIDEODEVICE_EKMEDIALOG_H
#define EKVIDEODEVICE_EKMEDIALOG_H

#include <ekvideodevice/ekcapture_api.h>

namespace EK {

/// The level of the media libraries' records: above every level the framework's own
/// records use (1 severe to 4 information), so that only a program that wants the details
/// sees them.
constexpr int kMediaLogLevel = 5;

/// @brief Routes GStreamer's debug log, the GLib warnings of GStreamer and GObject, and
/// FFmpeg's log into ru::log, in the categories "media.gstreamer", "media.glib" and
/// "media.ffmpeg".
///
/// Initialises GStreamer when it was not. Without GST_DEBUG in the environment, GStreamer's
/// warnings and errors are recorded; with it, what it asks for. FFmpeg's messages up to its
/// warnings are recorded. Called by the capture source before it opens anything; a program
/// that uses these libraries itself calls it once. Safe from any thread; the second and
/// later calls do nothing.
EKCAPTURE_API void routeMediaLogs();

}  // namespace EK

#endif  // EKVIDEODEVICE_EKMEDIALOG_H
