#include <ekvalue/ekvalue.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <ekerror/ekerror.h>

namespace {

using EK::EKError;
using EK::EKValue;

TEST(EKValue, ConversionsReturnWhatWasStoredAndWrongKindsThrow) {
  EXPECT_FALSE(EKValue().isValid());
  EXPECT_EQ(static_cast<int>(EKValue(-42)), -42);
  EXPECT_TRUE(static_cast<bool>(EKValue(true)));
  EXPECT_FLOAT_EQ(static_cast<float>(EKValue(3)), 3.0f);
  EXPECT_EQ(static_cast<const std::string&>(EKValue("text")), "text");
  try {
    (void)static_cast<int>(EKValue("text"));
    FAIL() << "no exception";
  } catch (const EKError& error) {
    EXPECT_EQ(error.getModuleName(), "EKValue");
    EXPECT_NE(std::string(error.what()).find("string"), std::string::npos);
  }
  EXPECT_THROW((void)static_cast<bool>(EKValue(1)), EKError);
  EXPECT_THROW((void)static_cast<float>(EKValue(true)), EKError);
  EXPECT_THROW((void)EKValue(1).GetBinary(), EKError);
  EXPECT_THROW((void)EKValue()[0], EKError);
}

TEST(EKValue, ArraysGrowKeepingElementsAndBoundEveryAccess) {
  EKValue array(5);  // a scalar becomes an array
  array.arraySetSize(2);
  EXPECT_FALSE(array[0].isValid());
  array[0] = 10;
  array.arraySetSize(3);
  EXPECT_EQ(array.getSize(), 3u);
  EXPECT_EQ(static_cast<int>(array[0]), 10);
  EXPECT_THROW(array[3], EKError);
  EXPECT_THROW(array[-1], EKError);
  EXPECT_THROW(static_cast<const EKValue&>(array)[3], EKError);
  EXPECT_THROW(array.arraySetSize(-1), EKError);
  array.arrayPush("four");
  EXPECT_EQ(array.getSize(), 4u);
  EXPECT_THROW(EKValue(1).arrayPush(2), EKError);
}

TEST(EKValue, BinaryBlocksAreCopiedBoundedAndMovedWithoutCopy) {
  unsigned char bytes[4] = {1, 2, 3, 4};
  EKValue block;
  block.SetBinary(bytes, 4);
  bytes[0] = 99;
  ASSERT_EQ(block.getBinarySize(), 4);
  EXPECT_EQ(static_cast<const unsigned char*>(block.GetBinary())[0], 1);
  EXPECT_THROW(block.SetBinary("abc", -1), EKError);
  EXPECT_THROW(block.SetBinary(nullptr, 3), EKError);
  EXPECT_EQ(block.getBinarySize(), 4) << "a refused SetBinary keeps the old content";
  block.SetBinary(std::vector<unsigned char>(1000, 7));
  const void* address = block.GetBinary();
  EKValue moved(std::move(block));
  EXPECT_EQ(moved.GetBinary(), address);
  EKValue empty;
  empty.SetBinary(nullptr, 0);
  EXPECT_TRUE(empty.isBinary());
  EXPECT_EQ(empty.GetBinary(), nullptr);
}

// A block may share a buffer with its owner: moves pass the share on, copies get bytes of
// their own, and the owner gets the buffer back when the last value sharing it is gone.
TEST(EKValue, SharedBlocksLendWithoutCopyAndCopiesNeverWriteIntoTheLoan) {
  int returned = 0;
  {
    std::shared_ptr<unsigned char> buffer(new unsigned char[8]{1, 2, 3, 4, 5, 6, 7, 8},
                                          [&](unsigned char* bytes) {
                                            ++returned;
                                            delete[] bytes;
                                          });
    unsigned char* const address = buffer.get();
    EKValue shared;
    shared.SetBinary(std::move(buffer), 6);
    EXPECT_EQ(shared.GetBinary(), address) << "no copy";
    EXPECT_EQ(shared.getBinarySize(), 6) << "only the bytes asked for";
    EXPECT_EQ(shared.getSize(), 6u);
    EXPECT_EQ(shared.toString(), "<binary 6 bytes>");

    EKValue copy = shared;
    EXPECT_NE(copy.GetBinary(), address);
    EXPECT_EQ(copy, shared) << "same bytes, whatever the storage";
    address[0] = 42;
    EXPECT_EQ(static_cast<const unsigned char*>(copy.GetBinary())[0], 1) << "the copy is its own";
    EXPECT_NE(copy, shared);

    EKValue image;
    image.arraySetSize(2);
    image[0] = 640;
    image[1] = std::move(shared);
    EKValue moved(std::move(image));
    EXPECT_EQ(moved[1].GetBinary(), address) << "moves keep the loan";
    EXPECT_EQ(returned, 0) << "held while a value shares it";
    moved = EKValue(1);
    EXPECT_EQ(returned, 1) << "back once the last sharing value is gone";
  }
  EXPECT_EQ(returned, 1);
  EKValue refused;
  EXPECT_THROW(refused.SetBinary(std::shared_ptr<unsigned char>(), 3), EKError);
  EXPECT_THROW(refused.SetBinary(std::make_shared<unsigned char>(0), -1), EKError);
  EXPECT_FALSE(refused.isValid()) << "a refused block leaves the value as it was";
  refused.SetBinary(std::shared_ptr<unsigned char>(), 0);
  EXPECT_EQ(refused.GetBinary(), nullptr);
}

TEST(EKValue, CopiesAreDeepAndCompareByKindAndContent) {
  EKValue original;
  original.arraySetSize(2);
  original[0] = 1;
  original[1].SetBinary("xy", 2);
  EKValue copy = original;
  EXPECT_EQ(copy, original);
  EXPECT_NE(copy[1].GetBinary(), original[1].GetBinary());
  copy[0] = 2;
  EXPECT_NE(copy, original);
  EXPECT_NE(EKValue(1), EKValue(1.0f));
  original[0] = true;
  EXPECT_EQ(original.toString(), "[true, <binary 2 bytes>]");
  EXPECT_EQ(EKValue("cam").toString(), "\"cam\"");
}

TEST(EKError, WhatJoinsModuleMethodMessageAndPlace) {
  EK::EKError error("EKVideo", "readVideo", "Unsupported resolution", "src/ekvideo", 42);
  EXPECT_STREQ(error.what(), "EKVideo::readVideo Unsupported resolution (src/ekvideo:42)");
  EXPECT_EQ(error.getDescription(), "Unsupported resolution");
  EXPECT_STREQ(EK::EKError("M", "m", "text").what(), "M::m text");
}

}  // namespace
