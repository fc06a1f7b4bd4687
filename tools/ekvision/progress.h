// A one-line progress bar, drawn only on a terminal.
#ifndef EKVISION_TOOLS_PROGRESS_H
#define EKVISION_TOOLS_PROGRESS_H

#include <cstdint>
#include <ostream>
#include <string>

namespace ektool {

/// @brief Redraws "\r<label> [#####     ]  45% 45/100" on @p stream as work advances.
///
/// Disabled, it writes nothing at all, so that piped or redirected output stays clean.
/// A total of 0 means unknown: only the count is shown.
class ProgressBar {
 public:
  ProgressBar(std::ostream& stream, bool enabled, std::uint64_t total, std::string label);
  /// Ends the line if anything was drawn.
  ~ProgressBar();
  ProgressBar(const ProgressBar&) = delete;
  ProgressBar& operator=(const ProgressBar&) = delete;

  /// Shows @p done units of work; redraws only when the text changes.
  void update(std::uint64_t done);

  /// The text drawn for @p done units, without the leading carriage return.
  std::string render(std::uint64_t done) const;

 private:
  std::ostream& stream_;
  bool enabled_;
  std::uint64_t total_;
  std::string label_;
  std::string shown_;
};

}  // namespace ektool

#endif  // EKVISION_TOOLS_PROGRESS_H
