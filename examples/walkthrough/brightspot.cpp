// BrightSpot: a vision module that boxes the bright part of every picture.
#include <algorithm>
#include <mutex>
#include <vector>

#include <ekcommon/ekfunctor.h>
#include <ekvision/ekdetection.h>
#include <ekvision/ekimage.h>
#include <ekvision/ekvisionplugin.h>

class BrightSpot : public EK::EKVisionExtractor {
 public:
  BrightSpot(boost::shared_ptr<EK::EKBroker> broker, const std::string& name)
      : EKVisionExtractor(broker, name, EK::kResolution320x240, EK::kColorSpaceYUV422, 15) {
    functionName("getDetections", "BrightSpot", "Bright boxes found since the last call", 0);
    setReturn("detections", "Array of detection arrays");
    getCurrentMethodDescription().returnValue.typeName = EK::getTypeString(6);
    bindMethod(EK::createFunctor(this, &BrightSpot::getDetections));
  }

  // A remote method: runs on the framework's threads, at any time.
  EK::EKValue getDetections() {
    std::lock_guard<std::mutex> lock(mutex_);
    EK::EKValue list;
    list.arraySetSize(0);
    for (const EK::EKDetection& detection : found_) {
      list.arrayPush(detection.toEKValue());
    }
    found_.clear();
    return list;
  }

  // Runs on the loop thread, once a frame; the image is deleted when it returns.
  void processImage(EK::EKImage* image) override {
    const int w = image->width, h = image->height;
    int left = w, top = h, right = 0, bottom = 0, count = 0;
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        if (image->frame[2 * (y * w + x)] >= 200) {  // the luma of pixel (x, y) in YUV422
          left = std::min(left, x);
          right = std::max(right, x + 1);
          top = std::min(top, y);
          bottom = std::max(bottom, y + 1);
          ++count;
        }
      }
    }
    if (count > 0) {
      std::lock_guard<std::mutex> lock(mutex_);
      found_.push_back(
          EK::EKDetection::boxIn(*image, left, top, right - left, bottom - top, count));
    }
  }

  void onStartDetection() override {}
  void onStopDetection() override {}

 private:
  std::mutex mutex_;
  std::vector<EK::EKDetection> found_;
};

EKVISION_PLUGIN(BrightSpot)
