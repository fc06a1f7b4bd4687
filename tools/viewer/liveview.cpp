#include "liveview.h"

#include <algorithm>
#include <utility>

#include "host.h"
#include "pacing.h"
#include "textio.h"

namespace ekviewer {
namespace {

// Frames fetched but not yet done: a module holds one; more means it stopped giving them back.
const std::size_t kMaxPending = 8;
// The pace shown is that of the last few seconds.
const auto kStatsWindow = std::chrono::seconds(3);
// Detections waiting for their frame: a module that hands out boxes of frames it never
// fetched must not fill the memory.
const std::size_t kMaxWaitingDetections = 4096;

}  // namespace

bool isPageMethod(const std::string& method) {
  return method == "pause" || method == "isPaused" || method == "setFrameRate" ||
         method == "getFrameRate";
}

LiveView::LiveView() = default;

LiveView::~LiveView() {
  close();
}

void LiveView::started(const std::string& name, int frameRate, ekhost::ModuleCaller caller) {
  std::lock_guard<std::mutex> lock(mutex_);
  module_ = name;
  requestedRate_ = frameRate;
  caller_ = std::move(caller);
}

void LiveView::finished() {
  std::lock_guard<std::mutex> lock(mutex_);
  caller_ = nullptr;
}

void LiveView::fetched(const EK::EKValue& image) {
  const auto now = std::chrono::steady_clock::now();
  const long long wall = std::chrono::duration_cast<std::chrono::microseconds>(
                             std::chrono::system_clock::now().time_since_epoch())
                             .count();
  std::optional<Picture> picture;
  std::string problem;
  try {
    picture = copyPicture(image);
  } catch (const ekhost::HostError& error) {
    problem = error.what();
  }
  std::lock_guard<std::mutex> lock(mutex_);
  if (!problem.empty()) {
    problem_ = problem;
  }
  recent_.push_back({now, picture ? picture->timeStamp : -1});
  while (!recent_.empty() && now - recent_.front().fetched > kStatsWindow) {
    recent_.pop_front();
  }
  pending_.push_back({fetched_++, std::move(picture), wall});
  if (pending_.size() > kMaxPending) {
    pending_.pop_front();
  }
}

void LiveView::detected(const EK::EKDetection& detection) {
  std::lock_guard<std::mutex> lock(mutex_);
  detections_.emplace(detection.timeStamp, detection);
  if (detections_.size() > kMaxWaitingDetections) {
    detections_.erase(detections_.begin());
  }
}

void LiveView::processed(std::size_t count) {
  std::unique_lock<std::mutex> lock(mutex_);
  std::optional<Pending> newest;
  while (!pending_.empty() && pending_.front().number < count) {
    if (pending_.front().picture) {
      newest = std::move(pending_.front());
    }
    pending_.pop_front();
  }
  if (newest) {
    publish(std::move(*newest), lock);
  }
}

void LiveView::show(const EK::EKValue& image) {
  fetched(image);
  std::size_t count = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    count = fetched_;
  }
  processed(count);
}

void LiveView::publish(Pending pending, std::unique_lock<std::mutex>& lock) {
  const long long stamp = pending.picture->timeStamp;
  shownDetections_.clear();
  const auto [first, last] = detections_.equal_range(stamp);
  for (auto it = first; it != last; ++it) {
    shownDetections_.push_back(it->second);
  }
  // Boxes of older frames will never be shown; those of later frames wait for them.
  detections_.erase(detections_.begin(), detections_.upper_bound(stamp));
  shown_ = std::make_shared<const Picture>(std::move(*pending.picture));
  shownFetchedAt_ = pending.fetchedAt;
  shownBody_.reset();
  ++shownNumber_;
  lock.unlock();
  changed_.notify_all();
}

std::string LiveView::statsJson() const {
  const std::vector<ekhost::FrameTiming> timings(recent_.begin(), recent_.end());
  const ekhost::PacingReport pace = ekhost::measurePacing(timings, std::max(requestedRate_, 1));
  return "\"stats\":{\"frames\":" + std::to_string(fetched_) +
         ",\"rate\":" + ekhost::jsonNumber(pace.rate) +
         ",\"requestedRate\":" + std::to_string(requestedRate_) +
         ",\"p99DeviationMs\":" + ekhost::jsonNumber(pace.p99DeviationMs) +
         ",\"skipped\":" + std::to_string(pace.skipped) +
         "},\"module\":" + (module_.empty() ? std::string("null") : ekhost::jsonString(module_)) +
         ",\"problem\":" + (problem_.empty() ? "null" : ekhost::jsonString(problem_)) +
         ",\"fetchedAt\":" + std::to_string(shownFetchedAt_);
}

std::optional<std::string> LiveView::frameAfter(long long after,
                                                std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(mutex_);
  // A page numbered ahead of this view (the tool was restarted) takes the newest frame too.
  changed_.wait_for(lock, timeout, [&] { return closed_ || (shown_ && shownNumber_ != after); });
  if (closed_ || !shown_ || shownNumber_ == after) {
    return std::nullopt;
  }
  if (shownBody_) {
    return *shownBody_;
  }
  const long long number = shownNumber_;
  const std::shared_ptr<const Picture> picture = shown_;
  const std::vector<EK::EKDetection> detections = shownDetections_;
  const std::string stats = statsJson();
  lock.unlock();
  // One encoder: twenty pages asking at once wait for the first one's JPEG.
  std::lock_guard<std::mutex> encoding(encoding_);
  lock.lock();
  if (shownNumber_ == number && shownBody_) {
    return *shownBody_;
  }
  lock.unlock();
  auto body = std::make_shared<const std::string>(frameBody(*picture, number, detections, stats));
  lock.lock();
  if (shownNumber_ == number) {
    shownBody_ = body;
  }
  return *body;
}

EK::EKValue LiveView::callModule(const std::string& method, const EK::EKValue& arguments) {
  if (!isPageMethod(method)) {
    ekhost::fail(EK::EKCause::kInvalidArgument, "a page may not call " + method);
  }
  ekhost::ModuleCaller caller;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    caller = caller_;
  }
  if (!caller) {
    ekhost::fail(EK::EKCause::kUnavailable, "no module runs");
  }
  EK::EKValue result = caller(method, arguments);
  if (method == "setFrameRate" && arguments.isArray() && arguments.getSize() == 1 &&
      result.isBool() && bool(result)) {
    std::lock_guard<std::mutex> lock(mutex_);
    requestedRate_ = int(arguments[0]);
  }
  return result;
}

void LiveView::close() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
  }
  changed_.notify_all();
}

std::string LiveView::problem() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return problem_;
}

}  // namespace ekviewer
