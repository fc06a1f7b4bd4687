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

namespace {

std::string pacedLines(const ekhost::RunReport& report) {
  std::string text =
      formatted("frames:      %lld processed; %.2f frames/s over %.2f s (asked %d)\n",
                report.framesProcessed, report.rate, report.seconds, report.requestedRate);
  const ekhost::PacingReport& pacing = *report.pacing;
  if (pacing.frames >= 2) {
    text += formatted(
        "pacing:      |period - %.2f ms| mean %.2f ms, p99 %.2f ms, max %.2f ms over %zu periods\n",
        pacing.requestedPeriodMs, pacing.meanDeviationMs, pacing.p99DeviationMs,
        pacing.maxDeviationMs, pacing.frames - 1);
    if (report.cameraOnModuleGrid) {
      text += formatted("time stamps: %zu repeated, %zu skipped camera frames\n", pacing.repeated,
                        pacing.skipped);
    }
  }
  return text;
}

std::string recordingLine(const std::string& path, const ekhost::RecorderReport& report) {
  std::string text = formatted("recorded:    %zu frames to %s", report.recorded, path.c_str());
  if (report.dropped > 0) {
    text += formatted(", %zu dropped", report.dropped);
  }
  if (report.otherSize > 0) {
    text += formatted(", %zu of another size or color space left out", report.otherSize);
  }
  if (report.writeFailed) {
    text += " (a write failed)";
  }
  return text + "\n";
}

}  // namespace

std::string runSummary(const ekhost::RunReport& report, const ekhost::RunOptions& options) {
  std::string text =
      report.everyFrame
          ? formatted(
                "frames:      %lld processed, every frame once; %.2f frames/s over %.3f s "
                "(unpaced)\n",
                report.framesProcessed, report.rate, report.seconds)
          : pacedLines(report);
  text += formatted("detections:  %zu\n", report.detections);
  if (report.scene) {
    text +=
        report.scene->detections == 0
            ? std::string("scene IoU:   no detection to compare with the scene's rectangle\n")
            : formatted("scene IoU:   mean %.3f, min %.3f over %zu detections\n",
                        report.scene->meanIoU, report.scene->minimumIoU, report.scene->detections);
  }
  if (report.recording) {
    text += recordingLine(report.recordingPath, *report.recording);
  }
  if (report.contactSheet) {
    text += formatted("contact sheet: %zu frames to %s\n", *report.contactSheet,
                      options.contactSheet->c_str());
  }
  if (report.detectionLog) {
    text += formatted("detection log: %zu lines and the summary to %s\n", *report.detectionLog,
                      options.detections->c_str());
  }
  if (report.summaryWritten) {
    text += "summary: " + *options.summaryJson + "\n";
  }
  return text;
}

}  // namespace ektool
