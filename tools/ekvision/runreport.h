// What `ekvision run` prints: a line per detection, the list of methods, the summary.
#ifndef EKVISION_TOOLS_RUNREPORT_H
#define EKVISION_TOOLS_RUNREPORT_H

#include <ekcommon/ekmethodinfo.h>
#include <ekvision/ekdetection.h>

#include <string>
#include <vector>

#include "framerecorder.h"
#include "pacing.h"

namespace ektool {

/// @brief One detection as a line (without newline):
/// "detection t=<s>.<us> (+<since first frame> s) box x=.. y=.. w=.. h=.. angles left=..
/// top=.. right=.. bottom=.. rad pixels=..".
std::string detectionLine(const EK::EKDetection& detection, long long firstStamp);

/// "  name(type param, ...) -> type  description", one line per method.
std::string methodList(const std::vector<EK::EKMethodInfo>& methods);

/// What the summary says besides the pace.
struct RunTotals {
  long long framesProcessed = 0;
  std::size_t detections = 0;
  int requestedRate = 0;
  /// The camera makes a frame for every request, on the module's own frame grid (the
  /// synthetic scene, a recording): only then do repeated and skipped stamps mean
  /// anything. A live camera keeps its own rate.
  bool cameraOnModuleGrid = true;
};

/// The summary lines, each ending with a newline.
std::string summaryLines(const RunTotals& totals, const PacingReport& pacing);

/// The line that tells what became of the recording.
std::string recordingLine(const std::string& path, const RecorderReport& report);

}  // namespace ektool

#endif  // EKVISION_TOOLS_RUNREPORT_H
