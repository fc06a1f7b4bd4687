#include <ru/os.h>

#include <gtest/gtest.h>

#include <chrono>

namespace {

TEST(Clock, GettimeofdayFillsSecondsAndMicroseconds) {
  ru::os::timeval now{};
  ASSERT_EQ(ru::os::gettimeofday(&now), 0);
  EXPECT_GT(now.tv_sec, 1600000000);  // after 2020
  EXPECT_GE(now.tv_usec, 0);
  EXPECT_LT(now.tv_usec, 1000000);
  EXPECT_EQ(ru::os::gettimeofday(nullptr), -1);
}

TEST(Clock, MsleepSleepsAtLeastTheRequestedTime) {
  const auto start = std::chrono::steady_clock::now();
  ru::os::msleep(20);
  const auto slept = std::chrono::steady_clock::now() - start;
  EXPECT_GE(std::chrono::duration_cast<std::chrono::milliseconds>(slept).count(), 20);
}

}  // namespace
