#include "recordingview.h"

#include <ekvideodevice/ekarvsource.h>
#include <ekvision/ekimage.h>

#include "export.h"
#include "mp4export.h"
#include "recording.h"
#include "textio.h"
#include "viewerframe.h"

namespace ekviewer {

RecordingView::RecordingView(const RecordingViewOptions& options)
    : options_(options), video_(std::make_unique<EK::EKVideo>()) {
  const EK::EKVideoInspection file = ekhost::openRecording(*video_, options.recording);
  const EK::streamProperties& properties =
      ekhost::exportableStream(*video_, file, options.recording, options.stream);
  if (!options.detections.empty()) {
    detections_ = ekhost::readDetectionLog(options.detections);
  }
  frames_ = file.playableFrames;
  width_ = static_cast<int>(properties.width);
  height_ = static_cast<int>(properties.height);
  image_ = std::make_unique<EK::EKImage>(static_cast<int>(properties.resolution),
                                         static_cast<int>(properties.colorSpace));
  firstStamp_ = ekhost::timeStampOf(*video_, 0, options.stream).value_or(0);
  lastStamp_ = ekhost::timeStampOf(*video_, static_cast<std::uint32_t>(frames_ - 1), options.stream)
                   .value_or(firstStamp_);
}

RecordingView::~RecordingView() = default;

std::string RecordingView::infoJson() const {
  const std::string path = options_.recording;
  const std::size_t slash = path.find_last_of('/');
  return "{\"mode\":\"recording\",\"name\":" +
         ekhost::jsonString(slash == std::string::npos ? path : path.substr(slash + 1)) +
         ",\"stream\":" + std::to_string(options_.stream) +
         ",\"frames\":" + std::to_string(frames_) +
         ",\"firstStamp\":" + std::to_string(firstStamp_) +
         ",\"lastStamp\":" + std::to_string(lastStamp_) + ",\"width\":" + std::to_string(width_) +
         ",\"height\":" + std::to_string(height_) +
         ",\"detections\":" + std::to_string(detections_.size()) + "}";
}

std::string RecordingView::frameAt(long long index) {
  if (index < 0 || static_cast<std::uint64_t>(index) >= frames_) {
    ekhost::fail(EK::EKCause::kNotFound, "frame " + std::to_string(index) +
                                             " is not in the recording (0 to " +
                                             std::to_string(frames_ - 1) + ")");
  }
  Picture picture;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!video_->getFrame(*image_, static_cast<unsigned int>(index), options_.stream, true)) {
      ekhost::fail(EK::EKCause::kBadFormat,
                   "cannot read frame " + std::to_string(index) + " of " + options_.recording);
    }
    EK::EKArvSource::concealRecordHeader(*image_);
    picture = copyPicture(*image_);
  }
  std::vector<EK::EKDetection> detections;
  const auto [first, last] = detections_.equal_range(picture.timeStamp);
  for (auto it = first; it != last; ++it) {
    detections.push_back(it->second);
  }
  return frameBody(picture, index, detections);
}

std::string RecordingView::frameAtTime(long long timeStamp) {
  long long index = -1;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    index = video_->findFrame(timeStamp, options_.stream);
  }
  if (index < 0) {
    ekhost::fail(EK::EKCause::kNotFound,
                 "no frame was recorded at or before " + std::to_string(timeStamp) + " us");
  }
  return frameAt(index);
}

void RecordingView::exportMp4(long long from, long long to, const std::string& output) const {
  ekhost::Mp4ExportOptions options;
  options.recording = options_.recording;
  options.detections = options_.detections;
  options.stream = options_.stream;
  options.output = output;
  options.from = from;
  options.to = to;
  ekhost::Listener quiet;
  ekhost::exportMp4(options, quiet);
}

}  // namespace ekviewer
