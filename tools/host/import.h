// ekvision import: what it was asked to record, and the recording.
#ifndef EKVISION_TOOLS_IMPORT_H
#define EKVISION_TOOLS_IMPORT_H

#include <string>
#include <vector>

#include "tool.h"

namespace ektool {

/// What `ekvision import` was asked to do.
struct ImportOptions {
  std::string input;    ///< the video file
  std::string output;   ///< the recording, ".arv" appended unless it ends with it
  int resolution = 2;   ///< resolution code of the recorded frames
  long long fps = 0;    ///< most frames kept a second of video; 0: every frame
  long long start = 0;  ///< time stamp of the first frame, microseconds
  bool help = false;
};

/// @brief Reads the command line of `ekvision import` (without "import").
/// @throws UsageError for unknown or malformed options
ImportOptions parseImportOptions(const std::vector<std::string>& args);

/// @brief Records every frame of the video into the recording and prints a summary.
/// @throws ToolError naming the cause when the video cannot be read or the recording not
///   written whole (what was recorded is kept and named)
/// @return the exit code, 0
int importVideo(const ImportOptions& options, Output& output);

}  // namespace ektool

#endif  // EKVISION_TOOLS_IMPORT_H
