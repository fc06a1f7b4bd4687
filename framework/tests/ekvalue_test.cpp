#include <ekvalue/ekvalue.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>

#include <ekerror/ekerror.h>

namespace {

using EK::EKError;
using EK::EKValue;

TEST(EKValueKinds, EachConstructorGivesItsKindCode) {
  EXPECT_EQ(EKValue().getType(), EKValue::TypeInvalid);
  EXPECT_FALSE(EKValue().isValid());
  EXPECT_EQ(EKValue(true).getType(), 2);
  EXPECT_EQ(EKValue(7).getType(), 3);
  EXPECT_EQ(EKValue(std::string("s")).getType(), 5);
  EXPECT_EQ(EKValue("literal").getType(), 5);
  EXPECT_EQ(EKValue(1.5f).getType(), EKValue::TypeFloat);
  EXPECT_TRUE(EKValue("abc", 3).isBinary());
  EKValue array;
  array.arraySetSize(0);
  EXPECT_TRUE(array.isArray());
  EXPECT_TRUE(array.isValid());
}

TEST(EKValueKinds, ConversionsReturnWhatWasStored) {
  EXPECT_EQ(static_cast<int>(EKValue(-42)), -42);
  EXPECT_TRUE(static_cast<bool>(EKValue(true)));
  EXPECT_FLOAT_EQ(static_cast<float>(EKValue(0.25f)), 0.25f);
  EXPECT_FLOAT_EQ(static_cast<float>(EKValue(3)), 3.0f);
  EXPECT_EQ(static_cast<const std::string&>(EKValue("text")), "text");
  EKValue task(5);
  static_cast<int&>(task) = 9;
  EXPECT_EQ(static_cast<int>(task), 9);
}

TEST(EKValueKinds, WrongKindThrowsNamingBothKinds) {
  try {
    (void)static_cast<int>(EKValue("text"));
    FAIL() << "no exception";
  } catch (const EKError& error) {
    EXPECT_EQ(error.getModuleName(), "EKValue");
    EXPECT_NE(std::string(error.what()).find("string"), std::string::npos);
    EXPECT_NE(std::string(error.what()).find("int"), std::string::npos);
  }
  EXPECT_THROW((void)static_cast<bool>(EKValue(1)), EKError);
  EXPECT_THROW((void)static_cast<float>(EKValue(true)), EKError);
  EXPECT_THROW((void)static_cast<const std::string&>(EKValue(1)), EKError);
  EXPECT_THROW((void)EKValue(1).GetBinary(), EKError);
  EXPECT_THROW((void)EKValue()[0], EKError);
}

TEST(EKValueKinds, TypeNamesAreReadable) {
  EXPECT_EQ(EKValue::TypeToString(EKValue::TypeInt), "int");
  EXPECT_EQ(EKValue::TypeToString(EKValue::TypeBool), "bool");
  EXPECT_EQ(EKValue::TypeToString(EKValue::TypeString), "string");
  EXPECT_EQ(EK::getTypeString(1), "void");
  EXPECT_EQ(EK::getTypeString(2), "bool");
  EXPECT_EQ(EK::getTypeString(3), "int");
  EXPECT_EQ(EK::getTypeString(5), "std::string");
  EXPECT_EQ(EK::getTypeString(6), "EKValue");
  EXPECT_EQ(EK::getTypeString(99), "unknown");
}

TEST(EKValueArrays, SetSizeKeepsElementsAndBoundsAccess) {
  EKValue array;
  array.arraySetSize(2);
  array[0] = 10;
  array[1] = 2.5f;
  array.arraySetSize(3);
  EXPECT_EQ(array.getSize(), 3u);
  EXPECT_EQ(static_cast<int>(array[0]), 10);
  EXPECT_FALSE(array[2].isValid());
  EXPECT_THROW(array[3], EKError);
  EXPECT_THROW(array[-1], EKError);
  const EKValue& constant = array;
  EXPECT_THROW(constant[3], EKError);
  EXPECT_THROW(array.arraySetSize(-1), EKError);
  array.arraySetSize(1);
  EXPECT_EQ(array.getSize(), 1u);
}

TEST(EKValueArrays, ScalarBecomesArrayAndPushAppends) {
  EKValue value(5);
  value.arraySetSize(2);
  EXPECT_TRUE(value.isArray());
  EXPECT_FALSE(value[0].isValid());
  EKValue list;
  list.arrayPush(1);
  list.arrayPush("two");
  EXPECT_EQ(list.getSize(), 2u);
  EXPECT_THROW(EKValue(1).arrayPush(2), EKError);
}

TEST(EKValueBinary, SetBinaryCopiesTheBytes) {
  unsigned char bytes[4] = {1, 2, 3, 4};
  EKValue block;
  block.SetBinary(bytes, 4);
  bytes[0] = 99;
  const auto* stored = static_cast<const unsigned char*>(block.GetBinary());
  ASSERT_NE(stored, nullptr);
  EXPECT_NE(static_cast<const void*>(stored), static_cast<const void*>(bytes));
  EXPECT_EQ(stored[0], 1);
  EXPECT_EQ(block.getBinarySize(), 4);
  EXPECT_EQ(block.getSize(), 4u);
}

TEST(EKValueBinary, EmptyAndInvalidBlocks) {
  EKValue block;
  block.SetBinary(nullptr, 0);
  EXPECT_TRUE(block.isBinary());
  EXPECT_EQ(block.GetBinary(), nullptr);
  EXPECT_EQ(block.getBinarySize(), 0);
  EXPECT_THROW(block.SetBinary("abc", -1), EKError);
  EXPECT_THROW(block.SetBinary(nullptr, 3), EKError);
  EXPECT_TRUE(block.isBinary()) << "a refused SetBinary keeps the old content";
}

TEST(EKValueBinary, MovingKeepsTheBlockAddress) {
  EKValue block;
  block.SetBinary(std::vector<unsigned char>(1000, 7));
  const void* address = block.GetBinary();
  EKValue moved(std::move(block));
  EXPECT_EQ(moved.GetBinary(), address);
}

TEST(EKValueSemantics, CopiesAreDeepAndCompareEqual) {
  EKValue original;
  original.arraySetSize(2);
  original[0] = 1;
  original[1].SetBinary("xy", 2);
  EKValue copy = original;
  EXPECT_EQ(copy, original);
  EXPECT_NE(copy[1].GetBinary(), original[1].GetBinary());
  copy[0] = 2;
  EXPECT_NE(copy, original);
  EXPECT_NE(EKValue(1), EKValue(1.0f)) << "different kinds differ";
  EXPECT_EQ(EKValue(), EKValue());
}

TEST(EKValueSemantics, ToStringShowsStructure) {
  EKValue value;
  value.arraySetSize(4);
  value[0] = 640;
  value[1] = "cam";
  value[2].SetBinary("abc", 3);
  value[3] = true;
  EXPECT_EQ(value.toString(), "[640, \"cam\", <binary 3 bytes>, true]");
  EXPECT_EQ(EKValue().toString(), "<invalid>");
}

TEST(EKErrorText, WhatJoinsModuleMethodMessageAndPlace) {
  EK::EKError error("EKVideo", "readVideo", "Unsupported resolution", "libekvision/src/ekvideo",
                    42);
  EXPECT_STREQ(error.what(),
               "EKVideo::readVideo Unsupported resolution (libekvision/src/ekvideo:42)");
  EXPECT_EQ(error.getDescription(), "Unsupported resolution");
  EXPECT_EQ(error.getLineNumber(), 42);
  EXPECT_STREQ(EK::EKError("M", "m", "text").what(), "M::m text");
}

}  // namespace
