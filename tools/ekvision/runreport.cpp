#include "runreport.h"

#include <cstdarg>
#include <cstdio>

namespace ektool {
namespace {

std::string formatted(const char* format, ...) __attribute__((format(printf, 1, 2)));

std::string formatted(const char* format, ...) {
  char text[512];
  va_list arguments;
  va_start(arguments, format);
  std::vsnprintf(text, sizeof text, format, arguments);
  va_end(arguments);
  return text;
}

}  // namespace

std::string detectionLine(const EK::EKDetection& d, long long firstStamp) {
  const long long seconds = d.timeStamp / 1000000;
  const long long micros = d.timeStamp % 1000000;
  return formatted(
      "detection t=%lld.%06lld (+%.3f s) box x=%d y=%d w=%d h=%d angles left=%+.4f top=%+.4f "
      "right=%+.4f bottom=%+.4f rad pixels=%d",
      seconds, micros < 0 ? -micros : micros, static_cast<double>(d.timeStamp - firstStamp) / 1e6,
      d.x, d.y, d.w, d.h, d.leftAngle, d.topAngle, d.rightAngle, d.bottomAngle, d.pixelCount);
}

std::string methodList(const std::vector<EK::EKMethodInfo>& methods) {
  std::string text;
  for (const EK::EKMethodInfo& method : methods) {
    std::string parameters;
    for (const auto& parameter : method.parameters) {
      parameters += (parameters.empty() ? "" : ", ") + parameter.typeName + " " + parameter.name;
    }
    const std::string& result = method.returnValue.typeName;
    text += "  " + method.methodName + "(" + parameters + ") -> " +
            (result.empty() ? "void" : result) +
            (method.description.empty() ? "" : "  " + method.description) + "\n";
  }
  return text;
}

std::string summaryLines(const RunTotals& totals, const PacingReport& pacing) {
  std::string text =
      formatted("frames:      %lld processed; %.2f frames/s over %.2f s (asked %d)\n",
                totals.framesProcessed, pacing.rate, pacing.seconds, totals.requestedRate);
  if (pacing.frames >= 2) {
    text += formatted(
        "pacing:      |period - %.2f ms| mean %.2f ms, p99 %.2f ms, max %.2f ms over %zu periods\n",
        pacing.requestedPeriodMs, pacing.meanDeviationMs, pacing.p99DeviationMs,
        pacing.maxDeviationMs, pacing.frames - 1);
    if (totals.cameraOnModuleGrid) {
      text += formatted("time stamps: %zu repeated, %zu skipped camera frames\n", pacing.repeated,
                        pacing.skipped);
    }
  }
  text += formatted("detections:  %zu\n", totals.detections);
  return text;
}

std::string recordingLine(const std::string& path, const RecorderReport& report) {
  std::string text = formatted("recorded:    %zu frames to %s", report.recorded, path.c_str());
  if (report.dropped > 0) {
    text += formatted(", %zu dropped", report.dropped);
  }
  if (report.otherSize > 0) {
    text += formatted(", %zu of another size or color space left out", report.otherSize);
  }
  if (report.writeFailed) {
    text += " (a write failed: the disk may be full)";
  }
  return text + "\n";
}

}  // namespace ektool
