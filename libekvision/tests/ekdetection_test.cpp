// The detection array: what a module writes is what a client reads, and a client refuses
// what no module writes.
#include <ekvision/ekdetection.h>
#include <ekvision/ekimage.h>

#include <gtest/gtest.h>

namespace {

EK::EKDetection sample(long long timeStamp) {
  EK::EKDetection detection;
  detection.timeStamp = timeStamp;
  detection.found = true;
  detection.x = 12;
  detection.y = 34;
  detection.w = 56;
  detection.h = 78;
  detection.leftAngle = 0.25f;
  detection.topAngle = 0.125f;
  detection.rightAngle = -0.5f;
  detection.bottomAngle = -0.0625f;
  detection.pixelCount = 999;
  return detection;
}

TEST(EKDetectionValue, RoundTripsEveryFieldAndSplitsTheStampLikeTheImageArray) {
  for (long long stamp : {1714000123456789LL, -1LL, -2500001LL, 0LL}) {
    const EK::EKValue value = sample(stamp).toEKValue();
    ASSERT_EQ(value.getSize(), 12u);
    EXPECT_EQ(int(value[0]), static_cast<int>(stamp / 1000000));
    EXPECT_EQ(int(value[1]), static_cast<int>(stamp % 1000000));
    EK::EKDetection back;
    ASSERT_TRUE(EK::EKDetection::fromEKValue(value, back));
    EXPECT_EQ(back.timeStamp, stamp);
    EXPECT_TRUE(back.found);
    EXPECT_EQ(back.x, 12);
    EXPECT_EQ(back.y, 34);
    EXPECT_EQ(back.w, 56);
    EXPECT_EQ(back.h, 78);
    EXPECT_EQ(back.leftAngle, 0.25f);
    EXPECT_EQ(back.topAngle, 0.125f);
    EXPECT_EQ(back.rightAngle, -0.5f);
    EXPECT_EQ(back.bottomAngle, -0.0625f);
    EXPECT_EQ(back.pixelCount, 999);
  }
}

TEST(EKDetectionValue, RefusesValuesOfAnotherShapeAndLeavesTheTargetAlone) {
  const EK::EKDetection untouched = sample(7);
  const EK::EKValue good = sample(1).toEKValue();
  EK::EKValue shortArray = good;
  shortArray.arraySetSize(11);
  EK::EKValue floatSeconds = good;
  floatSeconds[0] = 1.0f;
  EK::EKValue intFound = good;
  intFound[2] = 1;
  EK::EKValue stringAngle = good;
  stringAngle[9] = "left";
  for (const EK::EKValue& bad :
       {EK::EKValue(), EK::EKValue(3), shortArray, floatSeconds, intFound, stringAngle}) {
    EK::EKDetection target = untouched;
    EXPECT_FALSE(EK::EKDetection::fromEKValue(bad, target)) << bad.toString();
    EXPECT_EQ(target.timeStamp, 7);
  }
  EK::EKValue intAngles = good;
  intAngles[7] = 1;
  EK::EKValue longer = good;
  longer.arrayPush(EK::EKValue("extra"));
  EK::EKDetection target;
  EXPECT_TRUE(EK::EKDetection::fromEKValue(intAngles, target));
  EXPECT_EQ(target.leftAngle, 1.0f);
  EXPECT_TRUE(EK::EKDetection::fromEKValue(longer, target));
}

TEST(EKDetectionBox, AnglesGoLinearlyFromOneEdgeOfTheFieldOfViewToTheOther) {
  EK::EKImage image(64, 48, EK::kColorSpaceYUV422, false, 0.4f, 0.3f, -0.4f, -0.3f);
  image.timeStamp = 1234;
  const EK::EKDetection whole = EK::EKDetection::boxIn(image, 0, 0, 64, 48, 5);
  EXPECT_EQ(whole.timeStamp, 1234);
  EXPECT_TRUE(whole.found);
  EXPECT_EQ(whole.pixelCount, 5);
  EXPECT_FLOAT_EQ(whole.leftAngle, 0.4f);
  EXPECT_FLOAT_EQ(whole.rightAngle, -0.4f);
  EXPECT_FLOAT_EQ(whole.topAngle, 0.3f);
  EXPECT_FLOAT_EQ(whole.bottomAngle, -0.3f);
  const EK::EKDetection quarter = EK::EKDetection::boxIn(image, 32, 24, 16, 12, 0);
  EXPECT_EQ(quarter.x, 32);
  EXPECT_EQ(quarter.h, 12);
  EXPECT_NEAR(quarter.leftAngle, 0.0f, 1e-6);
  EXPECT_NEAR(quarter.topAngle, 0.0f, 1e-6);
  EXPECT_FLOAT_EQ(quarter.rightAngle, -0.2f);
  EXPECT_FLOAT_EQ(quarter.bottomAngle, -0.15f);
  EK::EKImage empty(0, 0, 0);
  EXPECT_EQ(EK::EKDetection::boxIn(empty, 0, 0, 0, 0, 0).leftAngle, 0.0f) << "no division by 0";
}

}  // namespace
