#include <ekcommon/ekcompleteandcheck.h>
#include <ekcommon/ekfunctor.h>
#include <ekvalue/detail/ekfunctorconvert.h>

#include <gtest/gtest.h>

#include <string>

#include <ekerror/ekerror.h>

namespace {

using EK::EKError;
using EK::EKValue;

EKValue args(const EKValue& a) {
  EKValue list;
  list.arrayPush(a);
  return list;
}

EKValue args(const EKValue& a, const EKValue& b) {
  EKValue list = args(a);
  list.arrayPush(b);
  return list;
}

// The message a converter throws for @p value.
template <typename T>
std::string conversionError(const EKValue& value) {
  try {
    EK::detail::converter<T>::convertFromEKValue(value);
  } catch (const EKError& error) {
    EXPECT_EQ(error.getModuleName(), "convertFromEKValue");
    EXPECT_EQ(error.getMethodName(), "convertFromEKValue");
    EXPECT_FALSE(error.getFileName().empty());
    EXPECT_GT(error.getLineNumber(), 0);
    return error.getDescription();
  }
  return "(nothing thrown)";
}

TEST(Converter, ReadsMatchingKindsAndBoolFromIntAndNamesTheWrongKind) {
  EXPECT_EQ(EK::detail::converter<int>::convertFromEKValue(EKValue(-7)), -7);
  EXPECT_FALSE(EK::detail::converter<bool>::convertFromEKValue(EKValue(0)));
  EXPECT_TRUE(EK::detail::converter<bool>::convertFromEKValue(EKValue(-1)));
  EXPECT_EQ(EK::detail::converter<std::string>::convertFromEKValue(EKValue("abc")), "abc");
  EXPECT_EQ(conversionError<int>(EKValue(true)), "Parameter type is bool instead of int");
  EXPECT_EQ(conversionError<int>(EKValue()), "Parameter type is invalid instead of int");
  EXPECT_EQ(conversionError<bool>(EKValue("yes")), "Parameter type is string instead of bool");
  EKValue list;
  list.arraySetSize(1);
  EXPECT_EQ(conversionError<std::string>(list), "Parameter type is array instead of string");
}

struct Target {
  int twice(const int& value) { return 2 * value; }
  bool isPositive(const int& value) { return value > 0; }
  void setFlag(const bool& value) {
    flag = value;
    ++calls;
  }
  void remember(const std::string& key, const EKValue& value) {
    lastKey = key;
    lastValue = value;
  }
  int count() { return ++calls; }

  bool flag = false;
  int calls = 0;
  std::string lastKey;
  EKValue lastValue;
};

TEST(Functor, CallsConvertArgumentsAndWrapResultsAndVoidLeavesTheResult) {
  Target target;
  EKValue result;
  EK::createFunctor(&target, &Target::twice)->call(args(21), result);
  EXPECT_EQ(result, EKValue(42));
  EK::createFunctor(&target, &Target::isPositive)->call(args(-3), result);
  EXPECT_EQ(result, EKValue(false));
  EK::createFunctor(&target, &Target::count)->call(EKValue(), result);
  EXPECT_EQ(result, EKValue(1));
  result = EKValue("untouched");
  EK::createFunctor(&target, &Target::setFlag)->call(args(7), result);
  EXPECT_TRUE(target.flag);
  EXPECT_EQ(result, EKValue("untouched"));
  EKValue value;
  value.arrayPush(EKValue(1));
  EK::createFunctor(&target, &Target::remember)->call(args("pause", value), result);
  EXPECT_EQ(target.lastKey, "pause");
  EXPECT_EQ(target.lastValue, value);
}

TEST(Functor, WrongArgumentsThrowBeforeTheCall) {
  Target target;
  EKValue result;
  EXPECT_THROW(EK::createFunctor(&target, &Target::isPositive)->call(args(true), result), EKError);
  EXPECT_THROW(EK::createFunctor(&target, &Target::setFlag)->call(args("on"), result), EKError);
  // A missing argument is an out-of-range element, not a read past the list.
  EXPECT_THROW(EK::createFunctor(&target, &Target::setFlag)->call(EKValue(), result), EKError);
  EXPECT_THROW(EK::createFunctor(&target, &Target::remember)->call(args("k"), result), EKError);
  EXPECT_EQ(target.calls, 0);
  EXPECT_TRUE(target.lastKey.empty());
}

TEST(CompleteAndCheck, DescribedParametersGetTypesAndTheRestBecomeArgN) {
  EK::EKMethodInfo info;
  info.parameters.resize(1);
  info.parameters[0].name = "paramName";
  EK::completeAndCheck(&Target::remember, info);
  ASSERT_EQ(info.parameters.size(), 2u);
  EXPECT_EQ(info.parameters[0].name, "paramName");
  EXPECT_EQ(info.parameters[1].name, "arg2");
  EXPECT_EQ(info.parameters[1].description, "arg");
  EXPECT_EQ(info.parameters[0].typeName, EK::getTypeString(5));
  EXPECT_EQ(info.parameters[1].typeName, EK::getTypeString(6));
  EXPECT_EQ(info.returnValue.typeName, EK::getTypeString(1));

  EK::EKMethodInfo extra;
  extra.parameters.resize(3);
  extra.parameters[2].name = "extra";
  EK::completeAndCheck(&Target::twice, extra);
  ASSERT_EQ(extra.parameters.size(), 3u) << "descriptions beyond the arity are kept";
  EXPECT_EQ(extra.parameters[0].typeName, EK::getTypeString(3));
  EXPECT_TRUE(extra.parameters[2].typeName.empty());
  EXPECT_EQ(extra.returnValue.typeName, EK::getTypeString(3));
}

}  // namespace
