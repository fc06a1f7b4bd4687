#include "printer.h"

#include <algorithm>
#include <cstdio>

#include "runreport.h"

namespace ektool {

Printer::Printer(Output& output) : output_(output) {}

Printer::~Printer() = default;

void Printer::note(const std::string& line) {
  std::lock_guard<std::mutex> lock(mutex_);
  output_.out << line << "\n" << std::flush;
}

void Printer::warn(const std::string& line) {
  std::lock_guard<std::mutex> lock(mutex_);
  output_.err << "ekvision " << output_.command << ": " << line << "\n" << std::flush;
}

void Printer::progress(std::uint64_t done, std::uint64_t total) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!bar_) {
    bar_ =
        std::make_unique<ProgressBar>(output_.err, output_.errIsTerminal, total, output_.command);
  }
  bar_->update(done);
}

void Printer::detected(const EK::EKDetection& detection, long long firstStamp) {
  std::lock_guard<std::mutex> lock(mutex_);
  output_.out << detectionLine(detection, firstStamp) << "\n" << std::flush;
}

void Printer::endProgress() {
  std::lock_guard<std::mutex> lock(mutex_);
  bar_.reset();
}

void printCameraFailures(std::ostream& out, long long failures, const std::string& last) {
  if (failures > 0) {
    out << "camera failures: " << failures << " (last: " << last << ")\n";
  }
}

std::string timingText(long long frames, double seconds) {
  char text[64];
  std::snprintf(text, sizeof text, "%.2f s (%.2f frames/s)", seconds,
                static_cast<double>(frames) / std::max(seconds, 1e-6));
  return text;
}

}  // namespace ektool
