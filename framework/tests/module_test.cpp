#include <ekcommon/ekbroker.h>
#include <ekcommon/ekmodule.h>
#include <ekcommon/ekproxy.h>

#include <gtest/gtest.h>

#include <ekerror/ekerror.h>
#include <ekproxies/ekvideodeviceproxy.h>

#include "testmodules.h"

namespace {

using EK::EKBroker;
using EK::EKError;
using EK::EKValue;
using ektest::Calculator;

class ModuleTest : public testing::Test {
 protected:
  boost::shared_ptr<EKBroker> broker{new EKBroker("test broker")};
};

TEST_F(ModuleTest, MethodTableListsMethodsInOrderWithTheirDescriptions) {
  auto calculator = EK::createModule<Calculator>(broker, "Calculator");
  const std::vector<EK::EKMethodInfo> methods = calculator->getMethodInfos();
  ASSERT_EQ(methods.size(), 6u);
  EXPECT_EQ(methods[0].methodName, "twice");
  EXPECT_EQ(methods[0].description, "Doubles a number");
  ASSERT_EQ(methods[0].parameters.size(), 1u);
  EXPECT_EQ(methods[0].parameters[0].name, "value");
  EXPECT_EQ(methods[0].parameters[0].typeName, "int");
  EXPECT_EQ(methods[0].returnValue.name, "result");
  EXPECT_EQ(methods[0].returnValue.typeName, "int");
  EXPECT_EQ(methods[2].parameters[0].name, "arg1");
  EXPECT_EQ(methods[3].returnValue.typeName, "int");
  EXPECT_EQ(methods[5].methodName, "fail");
}

TEST_F(ModuleTest, RegistrationOutOfOrderOrTwiceIsRefused) {
  auto calculator = EK::createModule<Calculator>(broker, "Calculator");
  EXPECT_THROW(calculator->addParam("x", "y"), EKError) << "no description is open";
  EXPECT_THROW(calculator->setReturn("x", "y"), EKError);
  EXPECT_THROW(calculator->getCurrentMethodDescription(), EKError);
  EXPECT_THROW(calculator->bindMethod(EK::createFunctor(calculator.get(), &Calculator::count)),
               EKError);
  calculator->functionName("twice", "Calculator", "again", 0);
  EXPECT_THROW(calculator->bindMethod(EK::createFunctor(calculator.get(), &Calculator::count)),
               EKError)
      << "a name is bound once";
  EXPECT_THROW(calculator->bindMethod(boost::shared_ptr<EK::EKFunctorBase>()), EKError);
  EXPECT_EQ(calculator->getMethodInfos().size(), 6u);
  EXPECT_EQ(calculator->getMethod("twice")->description, "Doubles a number");
}

TEST_F(ModuleTest, ExecuteRunsByNameAndRefusesUnknownNames) {
  auto calculator = EK::createModule<Calculator>(broker, "Calculator");
  EKValue arguments;
  arguments.arrayPush(EKValue(5));
  EKValue result;
  calculator->execute("twice", arguments, result);
  EXPECT_EQ(result, EKValue(10));
  try {
    calculator->execute("triple", arguments, result);
    FAIL() << "an unknown method must throw";
  } catch (const EKError& error) {
    EXPECT_EQ(error.getDescription(), "Function triple does not exist in module Calculator");
  }
  EXPECT_THROW(calculator->execute("fail", EKValue(), result), EKError);
}

TEST_F(ModuleTest, BrokerFindsModulesByNameAndRefusesDuplicates) {
  auto first = EK::createModule<Calculator>(broker, "First");
  auto second = EK::createModule<Calculator>(broker, "Second");
  EXPECT_EQ(broker->getModuleNames(), (std::vector<std::string>{"First", "Second"}));
  EXPECT_EQ(broker->getModule("First"), first);
  EXPECT_FALSE(broker->getModule("Third"));
  EXPECT_THROW(EK::createModule<Calculator>(broker, "First"), EKError);
  EXPECT_EQ(broker->getModule("First"), first) << "a refused module replaces nothing";
  EXPECT_THROW(broker->registerModule(boost::shared_ptr<EK::EKModuleCore>()), EKError);
  EXPECT_TRUE(broker->unregisterModule("Second"));
  EXPECT_FALSE(broker->unregisterModule("Second")) << "a name unregistered twice";
  EXPECT_THROW(Calculator(boost::shared_ptr<EKBroker>(), "NoBroker"), EKError);
  EXPECT_THROW(Calculator(broker, ""), EKError);
}

TEST_F(ModuleTest, ExitAndDestructionLeaveTheBroker) {
  auto calculator = EK::createModule<Calculator>(broker, "Calculator");
  EXPECT_FALSE(calculator->hasExited());
  calculator->exit();
  calculator->exit();  // a second exit is harmless
  EXPECT_TRUE(calculator->hasExited());
  EXPECT_FALSE(broker->getModule("Calculator"));
  auto again = EK::createModule<Calculator>(broker, "Calculator");
  EXPECT_EQ(broker->getModule("Calculator"), again) << "the name is free after exit";
  calculator.reset();
  EXPECT_EQ(broker->getModule("Calculator"), again)
      << "destroying the exited module must not remove its successor";
  again.reset();
  EXPECT_TRUE(broker->getModuleNames().empty());
}

TEST_F(ModuleTest, ProxyCallsByNameUntilTheModuleIsGone) {
  auto calculator = EK::createModule<Calculator>(broker, "Calculator");
  boost::shared_ptr<EK::EKProxy> proxy = broker->getProxy("Calculator", 0);
  EXPECT_EQ(proxy->call("twice", 8), EKValue(16));
  proxy->call("remember", "key", EKValue(3));
  EXPECT_EQ(calculator->lastKey, "key");
  EXPECT_EQ(proxy->getModuleCore(), calculator);
  EXPECT_TRUE(proxy->xLookupMethod("count"));
  EXPECT_FALSE(proxy->xLookupMethod("missing"));
  calculator.reset();
  EXPECT_THROW(proxy->call("count"), EKError);
  EXPECT_THROW(broker->getProxy("Calculator", 0), EKError);
}

TEST_F(ModuleTest, RemoteAndScriptCallsAreRefusedClearly) {
  auto calculator = EK::createModule<Calculator>(broker, "Calculator");
  boost::shared_ptr<EK::EKProxy> proxy = broker->getProxy("Calculator", 0);
  EKValue result;
  EXPECT_THROW(proxy->PCALL_METHODS("count", EKValue(), result), EKError);
  EXPECT_THROW(proxy->xPCallScript("count", EKValue()), EKError);
  EXPECT_EQ(broker->getStartedTaskCount(), 0u);
}

TEST_F(ModuleTest, CameraProxyNeedsTheCameraModuleAndAnswersOfTheRightKind) {
  EXPECT_THROW(EK::EKVideoDeviceProxy{broker}, EKError);
  EXPECT_THROW(EK::EKVideoDeviceProxy{boost::shared_ptr<EKBroker>()}, EKError);
  EXPECT_THROW(EK::EKVideoDeviceProxy().getImageRemote("x"), EKError);
  // A module that answers every camera call with an integer.
  auto impostor = EK::createModule<Calculator>(broker, "EKVideoDevice");
  impostor->functionName("subscribe", "Impostor", "", 0);
  impostor->bindMethod(EK::createFunctor(impostor.get(), &Calculator::count));
  impostor->functionName("setFrameRate", "Impostor", "", 0);
  impostor->bindMethod(EK::createFunctor(impostor.get(), &Calculator::count));
  EK::EKVideoDeviceProxy camera(broker);
  try {
    camera.subscribe("x", 1, 9, 15);
    FAIL() << "an int is not a subscriber id";
  } catch (const EKError& error) {
    EXPECT_EQ(error.getDescription(),
              "EKVideoDevice answered a value of kind int instead of string");
  }
  EXPECT_THROW(camera.setFrameRate("x", 15), EKError);
  EXPECT_THROW(camera.getFrameRate("x"), EKError) << "an unknown method";
}

}  // namespace
