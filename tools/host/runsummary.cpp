// The run's summary as JSON, which programs read instead of the printed lines.
#include <cstdio>

#include "run.h"
#include "textio.h"

namespace ekhost {

std::string runSummaryJson(const RunReport& report) {
  char numbers[256];
  std::snprintf(numbers, sizeof numbers,
                "\"frames\":%lld,\"detections\":%zu,\"seconds\":%.6f,\"rate\":%.3f,"
                "\"everyFrame\":%s",
                report.framesProcessed, report.detections, report.seconds, report.rate,
                report.everyFrame ? "true" : "false");
  std::string json = std::string("{") + numbers + ",\"error\":";
  if (report.status.ok()) {
    json += "null";
  } else {
    json += std::string("{\"cause\":") + jsonString(EK::causeName(report.status.cause())) +
            ",\"message\":" + jsonString(report.status.message()) + "}";
  }
  return json + "}";
}

}  // namespace ekhost
