// What `ekvision run` prints: a line per detection, the list of methods, the summary.
#ifndef EKVISION_TOOLS_RUNREPORT_H
#define EKVISION_TOOLS_RUNREPORT_H

#include <ekcommon/ekmethodinfo.h>
#include <ekvision/ekdetection.h>

#include <string>
#include <vector>

#include <run.h>

namespace ektool {

/// @brief One detection as a line (without newline):
/// "detection t=<s>.<us> (+<since first frame> s) box x=.. y=.. w=.. h=.. angles left=..
/// top=.. right=.. bottom=.. rad pixels=..".
std::string detectionLine(const EK::EKDetection& detection, long long firstStamp);

/// "  name(type param, ...) -> type  description", one line per method.
std::string methodList(const std::vector<EK::EKMethodInfo>& methods);

/// @brief The summary of a run, each line ending with a newline: frames and frame rate, the
/// pacing, the detections, and what became of each file the run wrote.
std::string runSummary(const ekhost::RunReport& report, const ekhost::RunOptions& options);

}  // namespace ektool

#endif  // EKVISION_TOOLS_RUNREPORT_H
