// Importing a video file as a .arv recording stamped with its presentation times.
#ifndef EKVISION_TOOLS_IMPORT_H
#define EKVISION_TOOLS_IMPORT_H

#include <ekvision/ekstatus.h>

#include <cstdint>
#include <string>

#include "host.h"

namespace ekhost {

/// What an import of a video file is asked to do.
struct ImportOptions {
  std::string input;    ///< the video file
  std::string output;   ///< the recording, ".arv" appended unless it ends with it
  int resolution = 2;   ///< resolution code of the recorded frames
  int fps = 0;          ///< most frames kept a second of video; 0: every frame
  long long start = 0;  ///< time stamp of the first frame, microseconds
};

/// What an import did.
struct ImportReport {
  std::string path;           ///< the recording, extension included
  unsigned int imported = 0;  ///< frames recorded
  std::uint64_t read = 0;     ///< frames read from the video
  bool constantRate = true;   ///< stamped at a constant rate (else the video's own times)
  long long rateNum = 0;      ///< that rate, frames a second as a fraction
  long long rateDen = 1;
  std::uint64_t adjusted = 0;  ///< frames stamped one period after the previous one
  /// Ok, or why the import is a failure although it recorded: the video was cut short or
  /// held frames that could not be decoded (the recording holds the others).
  EK::EKStatus status;
};

/// @brief Records every frame of the video (display order, presentation times) into the
/// recording; the progress of the frames read reaches @p listener.
/// @throws HostError naming the cause when the video cannot be read, or the recording not
///   written whole (what was recorded is kept and named)
ImportReport importVideo(const ImportOptions& options, Listener& listener);

}  // namespace ekhost

#endif  // EKVISION_TOOLS_IMPORT_H
