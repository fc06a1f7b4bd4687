// `ekvision run --detections OUT.jsonl`: every detection as one line of JSON.
#ifndef EKVISION_TOOLS_DETECTIONLOG_H
#define EKVISION_TOOLS_DETECTIONLOG_H

#include <ekvision/ekdetection.h>

#include <cstddef>
#include <map>
#include <string>

namespace ekhost {

/// The detections of a run by time stamp: a frame may have several.
using DetectionsByStamp = std::multimap<long long, EK::EKDetection>;

/// @brief One detection as a JSON object on one line (without the newline):
/// {"timeStamp":<us>,"x":..,"y":..,"w":..,"h":..,"leftAngle":..,"topAngle":..,
/// "rightAngle":..,"bottomAngle":..,"pixelCount":..}; an angle that is not a finite
/// number is written as null.
std::string detectionJson(const EK::EKDetection& detection);

/// @brief A file of detections, one JSON line each (detectionJson()), written as they come.
///
/// Lines are buffered and written out at every flush(); the first write that fails is
/// remembered, nothing more is written, and finish() reports it.
class DetectionLog {
 public:
  /// @brief Creates or truncates @p path.
  /// @throws HostError "cannot write <path>: <reason>"
  explicit DetectionLog(const std::string& path);
  ~DetectionLog();
  DetectionLog(const DetectionLog&) = delete;
  DetectionLog& operator=(const DetectionLog&) = delete;

  /// Adds the line of @p detection.
  void add(const EK::EKDetection& detection);
  /// @brief Adds the run's summary as the last line, `{"summary": SUMMARY}`, where
  /// @p summaryJson is a JSON object; it is not counted in lines().
  void addSummary(const std::string& summaryJson);
  /// Writes the lines added so far to the file.
  void flush();
  /// @brief Writes what is left and closes the file.
  /// @throws HostError "cannot write <path>: <reason>" when a write or the close failed
  void finish();

  /// Lines added so far.
  std::size_t lines() const { return lines_; }

 private:
  std::string path_;
  int fd_ = -1;
  std::string buffer_;
  std::size_t lines_ = 0;
  int error_ = 0;  // errno of the first failure
};

/// @brief Reads a file that DetectionLog wrote: every detection line, keyed by its time
/// stamp; the summary line is skipped, empty lines are allowed, unknown keys are ignored.
/// @throws HostError "cannot read <path>: <reason>" when the file cannot be read;
///   "<path> line <N>: <what is wrong>" (EKCause::kBadFormat) for a line that is not a detection
DetectionsByStamp readDetectionLog(const std::string& path);

}  // namespace ekhost

#endif  // EKVISION_TOOLS_DETECTIONLOG_H
