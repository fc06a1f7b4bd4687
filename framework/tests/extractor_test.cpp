#include <ekcommon/ekextractor.h>

#include <gtest/gtest.h>

#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include <ekerror/ekerror.h>

namespace {

using EK::EKError;

/// Records the hooks it receives, as "start 100 0.5"; an optional action runs inside the start.
class RecordingExtractor : public EK::EKExtractor {
 public:
  using EKExtractor::EKExtractor;
  void xStartDetection(int period, float precision) override {
    record("start", period, precision);
    if (onStart) {
      onStart();
    }
  }
  void xUpdateParameters(int period, float precision) override {
    record("update", period, precision);
  }
  void xStopDetection() override { hooks.push_back("stop"); }
  void record(const char* hook, int period, float precision) {
    std::ostringstream text;
    text << hook << " " << period << " " << precision;
    hooks.push_back(text.str());
  }

  std::function<void()> onStart;
  std::vector<std::string> hooks;
};

class ExtractorTest : public testing::Test {
 protected:
  boost::shared_ptr<EK::EKBroker> broker{new EK::EKBroker};
  boost::shared_ptr<RecordingExtractor> extractor =
      EK::createModule<RecordingExtractor>(broker, "Recorder");
};

TEST_F(ExtractorTest, SubscribersDriveTheHooksAndTheCurrentValues) {
  EXPECT_EQ(extractor->getCurrentPeriod(), 30) << "the default period without subscribers";
  EXPECT_EQ(extractor->getCurrentPrecision(), 0.0f);
  extractor->subscribe("a", 100, 0.5f);
  extractor->subscribe("b", 200, 0.25f);  // only the precision becomes smaller
  extractor->subscribe("c", 300, 0.75f);  // neither becomes smaller: no hook
  EXPECT_EQ(extractor->getSubscribers(), (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_FLOAT_EQ(extractor->getMyPrecision("c"), 0.75f);
  extractor->updatePeriod("c", 50);
  EXPECT_EQ(extractor->getMyPeriod("c"), 50);
  EXPECT_NE(extractor->httpGet().find("subscriber c: period 50 ms"), std::string::npos);
  extractor->updatePrecision("a", 0.9f);  // the smallest precision is still b's
  EXPECT_EQ(extractor->getCurrentPeriod(), 50);
  EXPECT_FLOAT_EQ(extractor->getCurrentPrecision(), 0.25f);
  extractor->unsubscribe("c");          // back to period 100
  extractor->subscribe("a", 30, 0.9f);  // subscribing again changes the values
  extractor->unsubscribe("a");          // b alone: period 200
  EXPECT_TRUE(extractor->isDetecting());
  extractor->unsubscribe("b");
  EXPECT_EQ(extractor->hooks, (std::vector<std::string>{
                                  "start 100 0.5", "update 100 0.25", "update 50 0.25",
                                  "update 100 0.25", "update 30 0.25", "update 200 0.25", "stop"}));
  EXPECT_FALSE(extractor->isDetecting());
}

TEST_F(ExtractorTest, BadRequestsThrowAndChangeNothing) {
  extractor->subscribe("a", 100, 0.5f);
  EXPECT_THROW(extractor->subscribe("", 100, 0.5f), EKError);
  EXPECT_THROW(extractor->subscribe("b", 0, 0.5f), EKError);
  EXPECT_THROW(extractor->subscribe("b", 100, 1.5f), EKError);
  EXPECT_THROW(extractor->updatePeriod("a", -1), EKError);
  EXPECT_THROW(extractor->updatePrecision("a", -0.1f), EKError);
  EXPECT_THROW(extractor->updatePeriod("nobody", 10), EKError);
  EXPECT_THROW(extractor->unsubscribe("nobody"), EKError);
  EXPECT_THROW(extractor->getMyPeriod("nobody"), EKError);
  EXPECT_THROW(extractor->getMyPrecision("nobody"), EKError);
  EXPECT_EQ(extractor->getSubscribers(), std::vector<std::string>{"a"});
  EXPECT_EQ(extractor->hooks, std::vector<std::string>{"start 100 0.5"});
}

TEST_F(ExtractorTest, FailedStartIsWithdrawnAndAHookCannotChangeTheSubscriptions) {
  extractor->onStart = [] { throw EKERROR("Recorder", "xStartDetection", "no camera"); };
  EXPECT_THROW(extractor->subscribe("a", 100, 0.5f), EKError);
  EXPECT_TRUE(extractor->getSubscribers().empty());
  EXPECT_FALSE(extractor->isDetecting());
  // A later subscription starts again; a hook that subscribes gets an error, not a deadlock.
  bool refused = false;
  extractor->onStart = [this, &refused] {
    try {
      extractor->subscribe("inner", 10, 0.0f);
    } catch (const EKError&) {
      refused = true;
    }
    EXPECT_EQ(extractor->getCurrentPeriod(), 100) << "getters answer from inside a hook";
  };
  extractor->subscribe("a", 100, 0.5f);
  EXPECT_TRUE(refused);
  EXPECT_TRUE(extractor->isDetecting());
  EXPECT_EQ(extractor->getSubscribers(), std::vector<std::string>{"a"});
  EXPECT_EQ(extractor->hooks, (std::vector<std::string>{"start 100 0.5", "start 100 0.5"}));
}

}  // namespace
