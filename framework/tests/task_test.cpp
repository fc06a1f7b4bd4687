// Asynchronous calls: task threads, their ids, waiting for and interrupting them.
#include <ekcommon/ekbroker.h>
#include <ekcommon/ekproxy.h>

#include <gtest/gtest.h>

#include <ekerror/ekerror.h>

#include "logcapture.h"
#include "testmodules.h"

namespace {

using EK::EKBroker;
using EK::EKError;
using ektest::Calculator;

const int kDeadlineMs = 5000;

class TaskTest : public testing::Test {
 protected:
  boost::shared_ptr<EKBroker> broker{new EKBroker};
  boost::shared_ptr<Calculator> calculator = EK::createModule<Calculator>(broker, "Calculator");
  boost::shared_ptr<EK::EKProxy> proxy = broker->getProxy("Calculator", 0);
};

TEST_F(TaskTest, PCallReturnsAtOnceAndRunsTheMethodOnATaskThread) {
  const int id = proxy->pCall("block");
  ASSERT_TRUE(calculator->waitBlocked(1, kDeadlineMs)) << "the task never started";
  EXPECT_TRUE(broker->isTaskRunning(id));
  EXPECT_FALSE(broker->waitForTask(id, 10)) << "the task is blocked and must not be done";
  calculator->release();
  EXPECT_TRUE(broker->waitForTask(id, kDeadlineMs)) << "the task did not end";
  EXPECT_FALSE(broker->isTaskRunning(id));
  const int next = proxy->pCall("count");
  EXPECT_GT(next, id);
  ASSERT_TRUE(broker->waitForTask(next, kDeadlineMs));
  EXPECT_EQ(broker->getStartedTaskCount(), 2u);
}

TEST_F(TaskTest, PCallOfAnUnknownNameThrowsBeforeAnyTaskIsCreated) {
  const int before = proxy->xCreateTaskInfo("probe")->getID();
  try {
    proxy->pCall("missing");
    FAIL() << "an unknown method must throw";
  } catch (const EKError& error) {
    EXPECT_EQ(error.getModuleName(), "EKProxy");
    EXPECT_EQ(error.getMethodName(), "getMethodInfo");
    EXPECT_EQ(error.getDescription(), "Function missing does not exist in module Calculator");
  }
  EXPECT_EQ(proxy->xCreateTaskInfo("probe")->getID(), before + 1) << "no task id was taken";
  EXPECT_EQ(broker->getStartedTaskCount(), 0u);
}

TEST_F(TaskTest, StopInterruptsAWaitingTask) {
  ektest::LogCapture capture;
  const int id = proxy->pCall("block");
  ASSERT_TRUE(calculator->waitBlocked(1, kDeadlineMs));
  calculator->stop(id);
  EXPECT_TRUE(broker->waitForTask(id, kDeadlineMs)) << "the interrupted task did not end";
  EXPECT_EQ(capture.count("Task Calculator.block#" + std::to_string(id) + " was interrupted\n"),
            1u);
}

TEST_F(TaskTest, FailingTaskIsLoggedAndTheProcessGoesOn) {
  ektest::LogCapture capture;
  const int id = proxy->pCall("fail");
  ASSERT_TRUE(broker->waitForTask(id, kDeadlineMs));
  const std::vector<ektest::LogRecord> records = capture.records();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].level, 2);
  EXPECT_NE(records[0].message.find("ended with an error: Calculator::fail failing on purpose"),
            std::string::npos);
}

TEST_F(TaskTest, TaskKeepsItsModuleAliveAndTheBrokerJoinsIt) {
  const int id = proxy->pCall("block");
  ASSERT_TRUE(calculator->waitBlocked(1, kDeadlineMs));
  boost::weak_ptr<Calculator> weak = calculator;
  Calculator* raw = calculator.get();
  calculator.reset();
  ASSERT_FALSE(weak.expired()) << "the running task holds its module";
  raw->release();
  ASSERT_TRUE(broker->waitForTask(id, kDeadlineMs));
  EXPECT_TRUE(weak.expired()) << "an ended task has let its module go";
}

TEST(TaskBroker, DestructionJoinsRunningTasks) {
  boost::shared_ptr<EKBroker> broker(new EKBroker);
  auto calculator = EK::createModule<Calculator>(broker, "Calculator");
  broker->getProxy("Calculator", 0)->pCall("block");
  ASSERT_TRUE(calculator->waitBlocked(1, kDeadlineMs));
  calculator->release();
  calculator.reset();  // the task may now hold the last reference to module and broker
  broker.reset();      // joins, or leaves the task to release the broker itself
  SUCCEED();
}

}  // namespace
