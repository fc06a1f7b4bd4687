// The detection array: what a module writes is what a client reads, and a client refuses
// what no module writes.
#include <ekvision/ekdetection.h>
#include <ekvision/ekimage.h>

#include <gtest/gtest.h>

#include <tuple>

namespace {

auto fields(const EK::EKDetection& d) {
  return std::make_tuple(d.timeStamp, d.found, d.x, d.y, d.w, d.h, d.pixelCount, d.leftAngle,
                         d.topAngle, d.rightAngle, d.bottomAngle);
}

// A box in a 64 x 48 image seeing from 0.4 to -0.4 rad across and 0.3 to -0.3 down.
EK::EKDetection box(long long timeStamp, int x, int y, int w, int h, int pixels) {
  EK::EKImage image(64, 48, EK::kColorSpaceYUV422, false, 0.4f, 0.3f, -0.4f, -0.3f);
  image.timeStamp = timeStamp;
  return EK::EKDetection::boxIn(image, x, y, w, h, pixels);
}

TEST(EKDetection, BoxAnglesGoLinearlyFromOneEdgeOfTheFieldOfViewToTheOther) {
  EXPECT_EQ(fields(box(1234, 0, 0, 64, 48, 5)),
            std::make_tuple(1234LL, true, 0, 0, 64, 48, 5, 0.4f, 0.3f, -0.4f, -0.3f));
  const EK::EKDetection quarter = box(0, 32, 24, 16, 12, 0);
  EXPECT_EQ(std::make_tuple(quarter.leftAngle, quarter.topAngle), std::make_tuple(0.0f, 0.0f));
  EXPECT_NEAR(quarter.rightAngle, -0.2f, 1e-6);
  EXPECT_NEAR(quarter.bottomAngle, -0.15f, 1e-6);
  EK::EKImage empty(0, 0, 0);
  EXPECT_EQ(EK::EKDetection::boxIn(empty, 0, 0, 0, 0, 0).leftAngle, 0.0f) << "no division by 0";
}

TEST(EKDetection, ValuesRoundTripAndSplitTheStampLikeTheImageArrayOrAreRefused) {
  for (long long stamp : {1714000123456789LL, -2500001LL}) {
    const EK::EKDetection sent = box(stamp, 12, 20, 30, 8, 999);
    const EK::EKValue value = sent.toEKValue();
    ASSERT_EQ(value.getSize(), 12u);
    EXPECT_EQ(std::make_pair(int(value[0]), int(value[1])),
              std::make_pair(int(stamp / 1000000), int(stamp % 1000000)));
    EK::EKDetection back;
    ASSERT_TRUE(EK::EKDetection::fromEKValue(value, back));
    EXPECT_EQ(fields(back), fields(sent));
  }
  // Values of another shape are refused and leave the target alone.
  const EK::EKValue good = box(1, 1, 2, 3, 4, 5).toEKValue();
  EK::EKValue shortArray = good, floatSeconds = good, intFound = good, stringAngle = good;
  shortArray.arraySetSize(11);
  floatSeconds[0] = 1.0f;
  intFound[2] = 1;
  stringAngle[9] = "left";
  for (const EK::EKValue& bad : {EK::EKValue(3), shortArray, floatSeconds, intFound, stringAngle}) {
    EK::EKDetection target;
    target.timeStamp = 7;
    EXPECT_FALSE(EK::EKDetection::fromEKValue(bad, target)) << bad.toString();
    EXPECT_EQ(target.timeStamp, 7);
  }
  EK::EKValue intAngles = good;
  intAngles[7] = 1;
  intAngles.arrayPush(EK::EKValue("extra"));  // a longer array is accepted too
  EK::EKDetection target;
  EXPECT_TRUE(EK::EKDetection::fromEKValue(intAngles, target));
  EXPECT_EQ(target.leftAngle, 1.0f);
}

}  // namespace
