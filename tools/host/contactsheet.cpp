#include "contactsheet.h"

#include <ekvision/ekimage.h>

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cstdio>
#include <memory>

#include "host.h"
#include "observedsource.h"
#include "picture.h"

namespace ekhost {
namespace {

const int kTileWidth = 320;
const int kGutter = 4;

// The frame as a BGR tile kTileWidth wide, with its boxes and its time.
cv::Mat tileOf(const SampledFrame& frame, const DetectionsByStamp& detections,
               long long firstStamp) {
  std::unique_ptr<EK::EKImage> image(EK::EKImage::fromEKValue(frame.image));
  if (!image) {
    fail(EK::EKCause::kBadFormat, "a sampled frame is not an image");
  }
  cv::Mat picture = pictureOf(*image);
  if (picture.channels() == 1) {
    cv::cvtColor(picture, picture, cv::COLOR_GRAY2BGR);
  }
  const double scale = static_cast<double>(kTileWidth) / picture.cols;
  cv::Mat tile;
  const cv::Size size(kTileWidth, static_cast<int>(picture.rows * scale + 0.5));
  cv::resize(picture, tile, size, 0, 0, scale < 1 ? cv::INTER_AREA : cv::INTER_LINEAR);
  const long long stamp = image->timeStamp;
  drawDetections(tile, detections, stamp, scale);
  char label[48];
  std::snprintf(label, sizeof label, "+%.3f s", static_cast<double>(stamp - firstStamp) / 1e6);
  cv::putText(tile, label, cv::Point(6, 18), cv::FONT_HERSHEY_SIMPLEX, 0.5, cv::Scalar(0, 0, 0), 3);
  cv::putText(tile, label, cv::Point(6, 18), cv::FONT_HERSHEY_SIMPLEX, 0.5,
              cv::Scalar(255, 255, 255), 1);
  return tile;
}

}  // namespace

bool drawDetections(cv::Mat& picture, const DetectionsByStamp& detections, long long stamp,
                    double scale) {
  bool drawn = false;
  const auto [first, last] = detections.equal_range(stamp);
  for (auto found = first; found != last; ++found) {
    const EK::EKDetection& box = found->second;
    if (!box.found) {
      continue;
    }
    cv::rectangle(
        picture,
        cv::Rect(cv::Point(static_cast<int>(box.x * scale), static_cast<int>(box.y * scale)),
                 cv::Point(static_cast<int>((box.x + box.w) * scale),
                           static_cast<int>((box.y + box.h) * scale))),
        cv::Scalar(0, 255, 0), 2);
    drawn = true;
  }
  return drawn;
}

FrameSampler::FrameSampler(std::size_t wanted) : wanted_(std::max<std::size_t>(wanted, 1)) {}

void FrameSampler::offer(const EK::EKValue& image) {
  std::lock_guard<std::mutex> lock(mutex_);
  const long long index = next_++;
  if (index % stride_ != 0) {
    return;
  }
  kept_.push_back({index, image});
  if (kept_.size() > 2 * wanted_) {
    stride_ *= 2;
    kept_.erase(
        std::remove_if(kept_.begin(), kept_.end(),
                       [&](const SampledFrame& frame) { return frame.index % stride_ != 0; }),
        kept_.end());
  }
}

std::vector<SampledFrame> FrameSampler::frames() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return kept_;
}

std::vector<SampledFrame> pickForSheet(const std::vector<SampledFrame>& frames,
                                       const DetectionsByStamp& detections, std::size_t count) {
  std::vector<SampledFrame> withBox;
  for (const SampledFrame& frame : frames) {
    const auto found = detections.find(imageTimeStamp(frame.image));
    if (found != detections.end() && found->second.found) {
      withBox.push_back(frame);
    }
  }
  const std::vector<SampledFrame>& pool = withBox.size() >= count ? withBox : frames;
  if (pool.size() <= count) {
    return pool;
  }
  std::vector<SampledFrame> picked;
  for (std::size_t i = 0; i < count; ++i) {
    picked.push_back(pool[count == 1 ? 0 : i * (pool.size() - 1) / (count - 1)]);
  }
  return picked;
}

void writeContactSheet(const std::vector<SampledFrame>& frames, const DetectionsByStamp& detections,
                       long long firstStamp, int columns, const std::string& path) {
  if (frames.empty()) {
    fail(EK::EKCause::kUnavailable, "no frame for the contact sheet " + path);
  }
  std::vector<cv::Mat> tiles;
  int tileHeight = 0;
  for (const SampledFrame& frame : frames) {
    tiles.push_back(tileOf(frame, detections, firstStamp));
    tileHeight = std::max(tileHeight, tiles.back().rows);
  }
  const int rows = (static_cast<int>(tiles.size()) + columns - 1) / columns;
  cv::Mat sheet(rows * (tileHeight + kGutter) + kGutter, columns * (kTileWidth + kGutter) + kGutter,
                CV_8UC3, cv::Scalar(96, 96, 96));
  for (std::size_t i = 0; i < tiles.size(); ++i) {
    const int left = kGutter + (static_cast<int>(i) % columns) * (kTileWidth + kGutter);
    const int top = kGutter + (static_cast<int>(i) / columns) * (tileHeight + kGutter);
    tiles[i].copyTo(sheet(cv::Rect(left, top, tiles[i].cols, tiles[i].rows)));
  }
  savePicture(sheet, path, "png");
}

}  // namespace ekhost
