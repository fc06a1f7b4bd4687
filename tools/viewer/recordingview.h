// The recording the viewer was given: its frames by index and by time, each with its own
// detections, and MP4 exports of a range of them.
#ifndef EKVISION_TOOLS_VIEWER_RECORDINGVIEW_H
#define EKVISION_TOOLS_VIEWER_RECORDINGVIEW_H

#include <ekvision/ekvideo.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "detectionlog.h"
#include "host.h"

namespace ekviewer {

/// What the viewer shows of a recording.
struct RecordingViewOptions {
  std::string recording;     ///< the .arv file
  std::string detections;    ///< a log of `ekvision run --detections`; empty: none
  std::uint32_t stream = 0;  ///< the stream shown
};

/// @brief One recording, opened once; pages reach it only through frame numbers and times,
/// never through paths. Thread-safe.
class RecordingView {
 public:
  /// @brief Opens the recording and reads the detections.
  /// @throws ekhost::HostError naming the cause when either cannot be read, or the stream
  ///   cannot be shown
  explicit RecordingView(const RecordingViewOptions& options);
  ~RecordingView();

  /// @brief {"mode":"recording","name","stream","frames","firstStamp","lastStamp","width",
  /// "height","detections"} as one JSON object.
  std::string infoJson() const;
  /// Complete frames of the stream.
  std::uint64_t frames() const { return frames_; }

  /// @brief The frameBody() of frame @p index with its detections.
  /// @throws ekhost::HostError (kNotFound) for an index outside the recording, (kBadFormat)
  ///   for a frame that cannot be read
  std::string frameAt(long long index);
  /// @brief The frame recorded last at or before @p timeStamp (EKVideo::findFrame), as
  /// frameAt(); (kNotFound) when every frame is later.
  std::string frameAtTime(long long timeStamp);

  /// @brief Writes frames @p from to @p to as MP4 to @p output (ekhost::exportMp4), boxes
  /// drawn. @throws ekhost::HostError as the export failed
  void exportMp4(long long from, long long to, const std::string& output) const;

 private:
  RecordingViewOptions options_;
  ekhost::DetectionsByStamp detections_;
  std::mutex mutex_;  // the video reads from one place at a time
  std::unique_ptr<EK::EKVideo> video_;
  std::unique_ptr<EK::EKImage> image_;
  std::uint64_t frames_ = 0;
  long long firstStamp_ = 0;
  long long lastStamp_ = 0;
  int width_ = 0;
  int height_ = 0;
};

}  // namespace ekviewer

#endif  // EKVISION_TOOLS_VIEWER_RECORDINGVIEW_H
