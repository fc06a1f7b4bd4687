#include "progress.h"

#include <algorithm>
#include <utility>

namespace ektool {
namespace {

const int kBarWidth = 30;

}  // namespace

ProgressBar::ProgressBar(std::ostream& stream, bool enabled, std::uint64_t total, std::string label)
    : stream_(stream), enabled_(enabled), total_(total), label_(std::move(label)) {}

ProgressBar::~ProgressBar() {
  if (enabled_ && !shown_.empty()) {
    stream_ << '\n' << std::flush;
  }
}

std::string ProgressBar::render(std::uint64_t done) const {
  if (total_ == 0) {
    return label_ + " " + std::to_string(done);
  }
  const std::uint64_t clamped = std::min(done, total_);
  const int filled = static_cast<int>(clamped * kBarWidth / total_);
  const int percent = static_cast<int>(clamped * 100 / total_);
  std::string text = label_ + " [" + std::string(static_cast<std::size_t>(filled), '#') +
                     std::string(static_cast<std::size_t>(kBarWidth - filled), ' ') + "] ";
  const std::string percentText = std::to_string(percent);
  text += std::string(3 - std::min<std::size_t>(3, percentText.size()), ' ') + percentText + "% " +
          std::to_string(done) + "/" + std::to_string(total_);
  return text;
}

void ProgressBar::update(std::uint64_t done) {
  if (!enabled_) {
    return;
  }
  std::string text = render(done);
  if (text != shown_) {
    stream_ << '\r' << text << std::flush;
    shown_ = std::move(text);
  }
}

}  // namespace ektool
