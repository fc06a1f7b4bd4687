#include <ru/log.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "logcapture.h"

namespace {

TEST(LogStream, DestructorMakesExactlyOneRecordWithAllFields) {
  ektest::LogCapture capture;
  {
    ru::log::LogStream stream(2, "vision.ekimage", "file.cpp", "readFile", 17);
    stream << "part one, " << 42 << std::endl;
    EXPECT_EQ(capture.size(), 0u) << "nothing is logged before the stream ends";
  }
  const std::vector<ektest::LogRecord> records = capture.records();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].level, 2);
  EXPECT_EQ(records[0].category, "vision.ekimage");
  EXPECT_EQ(records[0].message, "part one, 42\n");
  EXPECT_EQ(records[0].file, "file.cpp");
  EXPECT_EQ(records[0].function, "readFile");
  EXPECT_EQ(records[0].line, 17);
}

TEST(LogHandler, SetHandlerReturnsThePreviousOneAndEmptyRestoresTheDefault) {
  int firstCalls = 0;
  ru::log::Handler first = [&firstCalls](int, const std::string&, const std::string&,
                                         const std::string&, const std::string&,
                                         int) { ++firstCalls; };
  ru::log::Handler before = ru::log::setHandler(first);
  ru::log::log(4, "c", "m", "", "f", 0);
  EXPECT_EQ(firstCalls, 1);
  ru::log::Handler returned = ru::log::setHandler(ru::log::Handler());
  ASSERT_TRUE(static_cast<bool>(returned));
  returned(4, "c", "m", "", "f", 0);
  EXPECT_EQ(firstCalls, 2) << "the returned handler is the one installed";
  const int verbosity = ru::log::getVerbosity();
  ru::log::setVerbosity(0);  // the default sink must now stay silent
  ru::log::log(4, "c", "m", "", "f", 0);
  EXPECT_EQ(firstCalls, 2);
  ru::log::setVerbosity(verbosity);
  ru::log::setHandler(before);
}

TEST(LogHandler, DefaultSinkWritesOneLineAtOrBelowTheThreshold) {
  const int verbosity = ru::log::getVerbosity();
  ru::log::setVerbosity(2);
  testing::internal::CaptureStderr();
  ru::log::log(2, "cat", "shown\n", "", "fn", 0);
  ru::log::log(3, "cat", "hidden\n", "", "fn", 0);
  const std::string written = testing::internal::GetCapturedStderr();
  ru::log::setVerbosity(verbosity);
  EXPECT_EQ(written, "[2] cat: shown (in fn)\n");
}

TEST(LogHandler, HandlerMayLogAndRecordsFromManyThreadsAllArrive) {
  ektest::LogCapture capture;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([] {
      for (int i = 0; i < 250; ++i) {
        ru::log::LogStream(4, "threads", "", "worker", 0) << "record";
      }
    });
  }
  for (std::thread& thread : threads) {
    thread.join();
  }
  EXPECT_EQ(capture.count("record"), 1000u);
}

}  // namespace
