// The parts of ekvision run, in-process: reading calls, measuring the pace and sampling
// frames for the contact sheet.
#include <ekvideodevice/ekframesource.h>
#include <ekvision/ekimage.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "contactsheet.h"
#include "pacing.h"
#include "runoptions.h"
#include "tool.h"

namespace {

using ektool::CallSpec;

EK::EKMethodInfo methodTaking(const std::vector<std::string>& types) {
  EK::EKMethodInfo method;
  method.methodName = "m";
  for (std::size_t i = 0; i < types.size(); ++i) {
    EK::EKMethodInfo::EKParameterInfo parameter;
    parameter.name = "p" + std::to_string(i);
    parameter.typeName = types[i];
    method.parameters.push_back(parameter);
  }
  return method;
}

// A YUV422 image array of 160x120 whose pixels all hold @p fill.
EK::EKValue frameValue(long long timeStamp, unsigned char fill, int width = 160, int height = 120) {
  return EK::makeImageValue(
      width, height, EK::kColorSpaceYUV422, timeStamp, 0,
      std::vector<unsigned char>(static_cast<std::size_t>(width) * height * 2, fill));
}

TEST(RunCalls, ArgumentsAreReadAsTheKindTheyLookLikeOrAsTheirParameterTakes) {
  EXPECT_TRUE(ektool::parseCallValue("true").isBool());
  EXPECT_FALSE(bool(ektool::parseCallValue("false")));
  EXPECT_EQ(int(ektool::parseCallValue("-7")), -7);
  EXPECT_EQ(float(ektool::parseCallValue("1e3")), 1000.0f);
  for (const char* text : {"abc", "nan", "inf", "", "+5", "True", "1e99"}) {
    const EK::EKValue value = ektool::parseCallValue(text);
    ASSERT_TRUE(value.isString()) << text;
    EXPECT_EQ(static_cast<const std::string&>(value), text);
  }
  const EK::EKValue list =
      ektool::callArguments(CallSpec{"m", {"3", "30", "30", "1", "true"}},
                            methodTaking({"float", "std::string", "EKValue", "bool", "EKValue"}));
  ASSERT_EQ(list.getSize(), 5u);
  EXPECT_TRUE(list[0].isFloat()) << "a whole number widened for a float parameter";
  EXPECT_EQ(float(list[0]), 3.0f);
  EXPECT_EQ(static_cast<const std::string&>(list[1]), "30") << "text for a string parameter";
  EXPECT_EQ(int(list[2]), 30);
  EXPECT_EQ(int(list[3]), 1) << "a bool parameter takes an integer, as the converter does";
  EXPECT_TRUE(bool(list[4]));
  EXPECT_THROW(ektool::callArguments(CallSpec{"m", {"1"}}, methodTaking({})), ektool::UsageError);
  EXPECT_THROW(ektool::callArguments(CallSpec{"m", {"x"}}, methodTaking({"int"})),
               ektool::UsageError);
}

TEST(RunPacing, DeviationsAndCameraFramesAreMeasured) {
  using std::chrono::microseconds;
  const auto start = std::chrono::steady_clock::time_point() + std::chrono::hours(1);
  // Periods of 50 ms at 20 frames/s, but the fourth comes 10 ms late; stamps repeat once
  // and skip two camera frames once.
  const long long fetchUs[] = {0, 50000, 100000, 160000, 200000, 250000};
  const long long stamps[] = {0, 50000, 100000, 100000, 250000, 300000};
  std::vector<ektool::FrameTiming> timings;
  for (int i = 0; i < 6; ++i) {
    timings.push_back({start + microseconds(fetchUs[i]), stamps[i]});
  }
  const ektool::PacingReport report = ektool::measurePacing(timings, 20);
  EXPECT_EQ(report.frames, 6u);
  EXPECT_DOUBLE_EQ(report.requestedPeriodMs, 50.0);
  EXPECT_NEAR(report.seconds, 0.25, 1e-9);
  EXPECT_NEAR(report.rate, 20.0, 1e-9);
  EXPECT_NEAR(report.meanDeviationMs, 20.0 / 5, 1e-6) << "one 10 ms late, the next 10 ms early";
  EXPECT_NEAR(report.p99DeviationMs, 10.0, 1e-6);
  EXPECT_NEAR(report.maxDeviationMs, 10.0, 1e-6);
  EXPECT_EQ(report.repeated, 1u);
  EXPECT_EQ(report.skipped, 2u);
  EXPECT_EQ(ektool::measurePacing({timings[0]}, 20).rate, 0.0) << "one frame has no pace";
}

TEST(RunContactSheet, SamplesStaySpreadOverTheRunInBoundedMemory) {
  ektool::FrameSampler sampler(4);
  for (int i = 0; i < 100; ++i) {
    sampler.offer(frameValue(i, 0));
  }
  const std::vector<ektool::SampledFrame> kept = sampler.frames();
  ASSERT_LE(kept.size(), 8u);
  ASSERT_GE(kept.size(), 4u);
  const long long stride = kept[1].index - kept[0].index;
  EXPECT_EQ(kept.front().index, 0);
  for (std::size_t i = 1; i < kept.size(); ++i) {
    EXPECT_EQ(kept[i].index - kept[i - 1].index, stride);
  }
  EXPECT_GT(kept.back().index + stride, 99) << "the last stretch of the run is sampled";

  ektool::DetectionsByStamp detections;
  for (long long stamp : {kept[1].index, kept[3].index, kept[5].index}) {
    EK::EKDetection box;
    box.found = true;
    detections.emplace(stamp, box);
  }
  const std::vector<ektool::SampledFrame> two = ektool::pickForSheet(kept, detections, 2);
  ASSERT_EQ(two.size(), 2u);
  EXPECT_EQ(two[0].index, kept[1].index) << "frames with a box first";
  EXPECT_EQ(two[1].index, kept[5].index);
  EXPECT_EQ(ektool::pickForSheet(kept, detections, 4).size(), 4u) << "others fill the sheet";
}

}  // namespace
