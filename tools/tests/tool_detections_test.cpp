// What `ekvision run` makes of detections: their JSON lines, and their score against the
// synthetic scene.
#include <ekvideodevice/eksyntheticsource.h>
#include <ekvision/ekimage.h>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <vector>

#include "detectionlog.h"
#include "motiondetectormodule.h"
#include "scenescore.h"
#include "tool.h"
#include "videotestsupport.h"

namespace {

TEST(RunDetections, JsonLineCarriesEveryField) {
  EK::EKDetection d;
  d.timeStamp = 1733446800123456LL;
  d.found = true;
  d.x = 3;
  d.y = 4;
  d.w = 50;
  d.h = 60;
  d.leftAngle = 0.25f;
  d.topAngle = -0.5f;
  d.rightAngle = std::numeric_limits<float>::quiet_NaN();
  d.bottomAngle = 1e-3f;
  d.pixelCount = 777;
  EXPECT_EQ(ektool::detectionJson(d),
            "{\"timeStamp\":1733446800123456,\"x\":3,\"y\":4,\"w\":50,\"h\":60,"
            "\"leftAngle\":0.25,\"topAngle\":-0.5,\"rightAngle\":null,"
            "\"bottomAngle\":0.00100000005,\"pixelCount\":777}");

  ektest::TempDir dir;
  ektool::DetectionLog log(dir.path("d.jsonl"));
  log.add(d);
  log.add(d);
  log.flush();
  log.finish();
  EXPECT_EQ(ektest::readBytes(dir.path("d.jsonl")).size(),
            2 * (ektool::detectionJson(d).size() + 1));
  ektool::DetectionLog full("/dev/full");
  full.add(d);
  full.flush();
  EXPECT_THROW(full.finish(), ektool::ToolError);
  EXPECT_THROW(ektool::DetectionLog(dir.path("missing/d.jsonl")), ektool::ToolError);
}

TEST(RunDetections, IntersectionOverUnion) {
  struct Case {
    EK::EKPixelRect a, b;
    double iou;
  };
  const Case cases[] = {
      {{0, 0, 10, 10}, {0, 0, 10, 10}, 1.0},
      {{0, 0, 10, 10}, {5, 0, 10, 10}, 50.0 / 150},
      {{0, 0, 10, 10}, {10, 0, 10, 10}, 0.0},  // touching edges share no pixel
      {{0, 0, 10, 10}, {2, 2, 4, 4}, 16.0 / 100},
      {{0, 0, 0, 10}, {0, 0, 0, 10}, 0.0},                     // empty boxes
      {{2147483000, 0, 2147483000, 10}, {0, 0, 10, 10}, 0.0},  // no overflow
  };
  for (const Case& c : cases) {
    EXPECT_DOUBLE_EQ(ektool::intersectionOverUnion(c.a, c.b), c.iou);
    EXPECT_DOUBLE_EQ(ektool::intersectionOverUnion(c.b, c.a), c.iou);
  }
}

// The example detector on 45 frames of the scene, 1/15 s apart: its boxes score high; the
// same boxes moved by half their size, or those of a detector a frame late, score low.
TEST(RunDetections, SceneScoreRewardsTheExampleDetectorAndCatchesOffsetBoxes) {
  auto scene = std::make_shared<EK::EKSyntheticSource>(1000000);
  ektool::SceneScore exact(scene);
  ektool::SceneScore shifted(scene);
  ektool::SceneScore late(scene);
  ekexample::MotionDetector detector;
  EK::EKDetection previous;
  for (int i = 0; i < 45; ++i) {
    const long long stamp = 1000000 + i * 66667LL;
    const EK::EKValue value = scene->grab({"test", 320, 240, EK::kColorSpaceYUV422, 0, i, stamp});
    for (ektool::SceneScore* score : {&exact, &shifted, &late}) {
      score->noteFrame(value);
    }
    std::unique_ptr<EK::EKImage> image(EK::EKImage::fromEKValue(value));
    ASSERT_TRUE(image);
    for (const ekexample::MovingObject& object : detector.process(*image).objects) {
      EK::EKDetection d = ekexample::toEKDetection(object, stamp);
      exact.add(d);
      if (previous.found) {
        EK::EKDetection lagging = previous;
        lagging.timeStamp = stamp;
        late.add(lagging);
      }
      previous = d;
      d.x += d.w / 2;
      d.y += d.h / 2;
      shifted.add(d);
    }
  }
  EXPECT_GE(exact.count(), 40u);
  EXPECT_GT(exact.mean(), 0.75) << ektool::sceneScoreLine(exact);
  EXPECT_GT(exact.minimum(), 0.6) << ektool::sceneScoreLine(exact);
  EXPECT_LT(shifted.mean(), 0.35) << ektool::sceneScoreLine(shifted);
  EXPECT_LT(late.mean(), exact.mean() - 0.1) << ektool::sceneScoreLine(late);
  EK::EKDetection unseen;
  unseen.timeStamp = 5;
  unseen.w = unseen.h = 10;
  EXPECT_EQ(exact.add(unseen), 0.0) << "a frame never noted scores 0";
}

}  // namespace
