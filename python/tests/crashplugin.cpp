// A vision module plugin that crashes (SIGSEGV) on any frame recorded by camera 66 and
// does nothing with the others: a module fault for the batch runs to survive.
#include <csignal>

#include <ekvision/ekimage.h>
#include <ekvision/ekvisionplugin.h>

class Crasher : public EK::EKVisionExtractor {
 public:
  Crasher(boost::shared_ptr<EK::EKBroker> broker, const std::string& name)
      : EKVisionExtractor(broker, name, EK::kResolution320x240, EK::kColorSpaceYUV422, 15) {}

  void processImage(EK::EKImage* image) override {
    if (image->cameraId == 66) {
      std::raise(SIGSEGV);
    }
  }
  void onStartDetection() override {}
  void onStopDetection() override {}
};

EKVISION_PLUGIN(Crasher)
