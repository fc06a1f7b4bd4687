#include <ekvideodevice/ekvideodevice.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <tuple>

#include <ekerror/ekerror.h>
#include <ekproxies/ekvideodeviceproxy.h>
#include <ekvideodevice/ekscriptedsource.h>
#include <ekvideodevice/eksyntheticsource.h>
#include <ekvision/ekimage.h>
#include <ekvision/ekimagevalue.h>

namespace {

using EK::EKCameraCall;
using EK::EKError;
using EK::EKImage;
using EK::EKValue;

class CameraTest : public testing::Test {
 protected:
  void SetUp() override {
    device = EK::createModule<EK::EKVideoDevice>(broker, source);
    camera = EK::EKVideoDeviceProxy(broker);
  }

  boost::shared_ptr<EK::EKBroker> broker{new EK::EKBroker};
  std::shared_ptr<EK::EKScriptedSource> source = std::make_shared<EK::EKScriptedSource>();
  boost::shared_ptr<EK::EKVideoDevice> device;
  EK::EKVideoDeviceProxy camera;
};

TEST_F(CameraTest, SubscribersGetDistinctIdsAndBadSettingsAreRefused) {
  EXPECT_EQ(camera.subscribe("client", 1, 9, 15), "client");
  EXPECT_EQ(camera.subscribe("client", 1, 9, 15), "client_2");
  EXPECT_THROW(camera.subscribe("bad", 4, 9, 15), EKError);
  EXPECT_THROW(camera.subscribe("bad", 1, 9, 121), EKError);
  EXPECT_THROW(camera.subscribe("", 1, 9, 15), EKError);
  camera.unsubscribe("client");
  EXPECT_THROW(camera.unsubscribe("client"), EKError);
  EXPECT_EQ(device->getSubscribers(), std::vector<std::string>{"client_2"});
}

TEST_F(CameraTest, ImagesHonourEachSubscribersSettingsAndBadValuesAreRefused) {
  const std::string small = camera.subscribe("small", 0, 9, 30);
  const std::string grey = camera.subscribe("grey", 2, 0, 30);
  EKValue value = camera.getImageRemote(small);
  EXPECT_EQ(std::make_tuple(int(value[EK::kImageArrayWidth]), int(value[EK::kImageArrayHeight]),
                            int(value[EK::kImageArrayLayers]),
                            value[EK::kImageArrayPixels].getBinarySize()),
            std::make_tuple(160, 120, 2, 160 * 120 * 2));
  value = camera.getImageRemote(grey);
  EXPECT_EQ(std::make_tuple(int(value[EK::kImageArrayWidth]), int(value[EK::kImageArrayColorSpace]),
                            value[EK::kImageArrayPixels].getBinarySize()),
            std::make_tuple(640, 0, 640 * 480));
  EXPECT_FALSE(camera.setResolution(small, 4));
  EXPECT_FALSE(camera.setColorSpace(small, -1));
  EXPECT_FALSE(camera.setFrameRate(small, 0));
  EXPECT_FALSE(camera.setActiveCamera(small, 2));
  EXPECT_EQ(std::make_tuple(camera.getResolution(small), camera.getColorSpace(small),
                            camera.getFrameRate(small), camera.getActiveCamera(small)),
            std::make_tuple(0, 9, 30, 0));
  EXPECT_TRUE(camera.setResolution(small, 3));
  EXPECT_TRUE(camera.setColorSpace(small, 13));
  EXPECT_TRUE(camera.setActiveCamera(small, 1));
  value = camera.getImageRemote(small);
  EXPECT_EQ(std::make_tuple(int(value[EK::kImageArrayWidth]), int(value[EK::kImageArrayCamera]),
                            value[EK::kImageArrayPixels].getBinarySize()),
            std::make_tuple(1280, 1, 1280 * 960 * 3));
  EXPECT_THROW(camera.setResolution("nobody", 1), EKError);
  EXPECT_THROW(camera.getImageRemote("nobody"), EKError);
}

TEST_F(CameraTest, TimeStampsFollowTheFrameRateAndReleaseBalancesFetches) {
  const std::string id = camera.subscribe("client", 0, 9, 20);
  std::unique_ptr<EKImage> a(EKImage::fromEKValue(camera.getImageRemote(id)));
  std::unique_ptr<EKImage> b(EKImage::fromEKValue(camera.getImageRemote(id)));
  ASSERT_TRUE(a && b);
  const long long gap = b->timeStamp - a->timeStamp;
  EXPECT_TRUE(gap >= 0 && gap % 50000 == 0) << "frames are 50 ms apart at 20 fps: " << gap;
  EXPECT_EQ(device->getHeldImages(id), 2);
  EXPECT_TRUE(camera.releaseImage(id) && camera.releaseImage(id));
  EXPECT_FALSE(camera.releaseImage(id)) << "nothing left to release";
  EXPECT_FALSE(camera.releaseImage("nobody")) << "an unknown id is not an error here";
}

TEST_F(CameraTest, ScriptedSourceFailsCountsAndNumbersOnDemand) {
  const std::string id = camera.subscribe("client", 0, 9, 30);
  source->failNext(EKCameraCall::kGetImage, 2);
  EXPECT_THROW(camera.getImageRemote(id), EKError);
  EXPECT_THROW(camera.getImageRemote(id), EKError);
  EXPECT_EQ(device->getHeldImages(id), 0) << "a failed fetch holds nothing";
  source->deliverNonImages(1);
  EXPECT_FALSE(camera.getImageRemote(id).isArray());
  const EKValue image = camera.getImageRemote(id);
  EXPECT_EQ(EK::EKScriptedSource::readSequenceNumber(
                static_cast<const unsigned char*>(image[EK::kImageArrayPixels].GetBinary())),
            1u);
  EXPECT_EQ(std::make_tuple(source->getCallCount(EKCameraCall::kGetImage), source->getImageCount()),
            std::make_tuple(4, 1));
  source->setFailing(EKCameraCall::kReleaseImage, true);
  EXPECT_THROW(camera.releaseImage(id), EKError);
  source->failNext(EKCameraCall::kSubscribe);
  EXPECT_THROW(camera.subscribe("other", 0, 9, 30), EKError);
  EXPECT_EQ(camera.subscribe("other", 0, 9, 30), "other");
}

TEST_F(CameraTest, ScriptedPicturesAreThePatternAgainAfterAModuleDrewOnTheirBuffer) {
  const std::string id = camera.subscribe("client", 2, 9, 30);
  const std::size_t bytes = 640 * 480 * 2;
  const auto patternMismatches = [&](const unsigned char* pixels) {
    std::size_t wrong = 0;
    for (std::size_t i = 4; i < bytes; ++i) {
      wrong += pixels[i] != static_cast<unsigned char>(i % 251);
    }
    return wrong;
  };
  const unsigned char* drawnOn = nullptr;
  {
    EKValue value = camera.getImageRemote(id);
    std::unique_ptr<EKImage> first(EKImage::fromEKValue(value));
    ASSERT_TRUE(first);
    ASSERT_EQ(first->width * first->height * first->nbLayers, static_cast<int>(bytes));
    EXPECT_EQ(patternMismatches(first->frame), 0u);
    std::fill_n(first->frame, bytes, 0xAB);  // a module drawing over the whole frame
    drawnOn = first->frame;
    camera.releaseImage(id);
  }
  EKValue value = camera.getImageRemote(id);
  std::unique_ptr<EKImage> second(EKImage::fromEKValue(value));
  ASSERT_TRUE(second);
  EXPECT_EQ(second->frame, drawnOn) << "the camera reuses the buffer given back";
  EXPECT_EQ(EK::EKScriptedSource::readSequenceNumber(second->frame), 2u);
  EXPECT_EQ(patternMismatches(second->frame), 0u) << "no trace of the drawing";
  camera.releaseImage(id);
}

TEST(SyntheticScene, RectangleIsWhereTheGroundTruthSays) {
  EK::EKSyntheticSource scene(0);
  for (const long long time : {0LL, 700000LL, 2100000LL, 3500000LL}) {
    // Every color space at one size and time is the same picture: each layer of a pixel
    // holds the YUV422 picture's luma, or its chroma in YUV422's second layer.
    const EKValue yuv = scene.grab({"s", 320, 240, 9, 0, 0, time});
    const auto* luma = static_cast<const unsigned char*>(yuv[EK::kImageArrayPixels].GetBinary());
    for (const int colorSpace : {9, 0, 13}) {
      const int layers = EK::getNumLayersInColorSpace(colorSpace);
      const EKValue value = scene.grab({"s", 320, 240, colorSpace, 0, 0, time});
      ASSERT_EQ(value[EK::kImageArrayPixels].getBinarySize(), 320 * 240 * layers);
      const auto* pixels =
          static_cast<const unsigned char*>(value[EK::kImageArrayPixels].GetBinary());
      const EK::EKPixelRect rect = EK::EKSyntheticSource::toPixels(scene.objectAt(time), 320, 240);
      const unsigned char* centre =
          pixels + ((rect.y + rect.h / 2) * 320 + rect.x + rect.w / 2) * layers;
      EXPECT_EQ(centre[0], EK::EKSyntheticSource::kObjectLuma) << "time " << time;
      EXPECT_EQ(centre[layers - 1], colorSpace == 9 ? 128 : EK::EKSyntheticSource::kObjectLuma);
      // Just outside the rectangle's left edge, or the right one when it touches the left.
      const int outsideX = rect.x > 0 ? rect.x - 1 : rect.x + rect.w;
      const unsigned char* outside = pixels + ((rect.y + rect.h / 2) * 320 + outsideX) * layers;
      EXPECT_TRUE(outside[0] >= 16 && outside[0] <= EK::EKSyntheticSource::kMaxBackgroundLuma);
      for (int i = 0; i < 320 * 240; i += 97) {
        ASSERT_EQ(pixels[i * layers], luma[2 * i])
            << "pixel " << i << ", color space " << colorSpace;
      }
    }
  }
  EXPECT_NE(scene.objectAt(0).centerX, scene.objectAt(1000000).centerX) << "the object moves";
  // A picture of another width or height alone is drawn at its own size.
  for (const auto& [width, height] : {std::pair{320, 120}, std::pair{160, 120}}) {
    const EKValue value = scene.grab({"s", width, height, 9, 0, 0, 0});
    EXPECT_EQ(value[EK::kImageArrayPixels].getBinarySize(), width * height * 2);
  }
}

}  // namespace
