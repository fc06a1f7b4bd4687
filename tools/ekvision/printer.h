// How the tool shows what the host tells while it works: result lines on standard output,
// failures it survives on standard error, the progress bar on a terminal.
#ifndef EKVISION_TOOLS_PRINTER_H
#define EKVISION_TOOLS_PRINTER_H

#include <host.h>

#include <memory>
#include <mutex>

#include "progress.h"
#include "tool.h"

namespace ektool {

/// @brief A host listener that prints: note() and detected() to standard output as they
/// come, warn() as "ekvision COMMAND: LINE" on standard error (from any thread), progress()
/// as a bar labelled with the command when standard error is a terminal.
class Printer : public ekhost::Listener {
 public:
  explicit Printer(Output& output);
  ~Printer() override;

  void note(const std::string& line) override;
  void warn(const std::string& line) override;
  void progress(std::uint64_t done, std::uint64_t total) override;
  void detected(const EK::EKDetection& detection, long long firstStamp) override;

  /// Ends the progress bar's line, before a summary is printed.
  void endProgress();

 private:
  Output& output_;
  std::mutex mutex_;
  std::unique_ptr<ProgressBar> bar_;
};

/// @brief The summary line of a live camera's failures, "camera failures: N (last: CAUSE)",
/// on @p out when there were any.
void printCameraFailures(std::ostream& out, long long failures, const std::string& last);

/// @brief "S.SS s (R.RR frames/s)": how long a command took over @p frames frames.
std::string timingText(long long frames, double seconds);

}  // namespace ektool

#endif  // EKVISION_TOOLS_PRINTER_H
