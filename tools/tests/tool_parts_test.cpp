// The tool's parts, in-process: argument parsing, the progress bar, and how import reads
// start times and stamps frames.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "arguments.h"
#include "progress.h"
#include "tool.h"
#include "videotimestamps.h"

namespace {

using ektool::parseArguments;
using ektool::UsageError;
using ektool::VideoStamper;

TEST(ToolArguments, SplitsOptionsFromPositionalArgumentsAndRefusesTheRest) {
  const ektool::Arguments parsed =
      parseArguments({"a.arv", "--from", "3", "out", "--dry-run", "--", "--from"},
                     {{"from", true}, {"dry-run", false}});
  EXPECT_EQ(parsed.positional, (std::vector<std::string>{"a.arv", "out", "--from"}));
  EXPECT_EQ(parsed.value("from"), "3");
  EXPECT_TRUE(parsed.has("dry-run"));
  const ektool::Arguments joined = parseArguments({"--from=-7", "-", "-h"}, {{"from", true}});
  EXPECT_EQ(joined.value("from"), "-7");
  EXPECT_EQ(joined.positional, std::vector<std::string>{"-"});
  EXPECT_TRUE(joined.help);
  const std::pair<std::vector<std::string>, const char*> refused[] = {
      {{"-x"}, "unknown option -x"},
      {{"--from"}, "option --from needs a value"},
      {{"--dry-run=yes"}, "option --dry-run takes no value"},
      {{"--from", "1", "--from=2"}, "option --from given twice"},
  };
  for (const auto& [args, message] : refused) {
    try {
      parseArguments(args, {{"from", true}, {"dry-run", false}});
      ADD_FAILURE() << message;
    } catch (const UsageError& error) {
      EXPECT_STREQ(error.what(), message);
    }
  }
  for (const char* bad : {"", "4x", " 4", "1e3", "101", "-1"}) {
    EXPECT_THROW(ektool::parseInteger(bad, "--from", 0, 100), UsageError) << bad;
  }
}

TEST(ToolProgressBar, DrawsOnATerminalOnly) {
  std::ostringstream terminal;
  {
    ektool::ProgressBar bar(terminal, true, 4, "export");
    bar.update(1);
    bar.update(1);
    bar.update(4);
  }
  EXPECT_EQ(terminal.str(),
            "\rexport [#######                       ]  25% 1/4"
            "\rexport [##############################] 100% 4/4\n");
  std::ostringstream pipe;
  {
    ektool::ProgressBar bar(pipe, false, 4, "export");
    bar.update(2);
    EXPECT_EQ(ektool::ProgressBar(pipe, false, 0, "import").render(17), "import 17");
  }
  EXPECT_EQ(pipe.str(), "");
}

TEST(ToolImportStamps, StartTimeFormats) {
  const std::pair<const char*, long long> accepted[] = {
      {"90", 90000000},    {"1733446800.25", 1733446800250000}, {"2:03", 123000000},
      {"00:00.5", 500000}, {"1:02:03.000004", 3723000004},
  };
  for (const auto& [text, micros] : accepted) {
    EXPECT_EQ(ektool::parseStartTime(text), micros) << text;
  }
  for (const char* text : {"", "-1", "1.2345678", "1:60", "1:2:3:4", "1e3", "12a", "1.", ":5",
                           "100000000001", "1:99:00"}) {
    EXPECT_THROW(ektool::parseStartTime(text), UsageError) << text;
  }
}

TEST(ToolImportStamps, StamperTellsConstantFromVariableRate) {
  using Times = std::vector<std::optional<std::int64_t>>;
  // A millisecond clock rounds 23.976 frames/s: 0, 42, 83, 125... still constant.
  Times rounded;
  for (int i = 0; i < 100; ++i) {
    rounded.push_back(std::llround(i * 1001.0 / 24));
  }
  VideoStamper millis(rounded, {1, 1000}, {{24000, 1001}}, 0);
  EXPECT_TRUE(millis.constantRate());
  for (int i = 0; i < 100; ++i) {
    EXPECT_EQ(millis.next(rounded[static_cast<std::size_t>(i)]), std::llround(i * 1001000.0 / 24));
  }
  // A frame missing from a 25 frames/s stream makes it variable; its neighbours keep their
  // own times, and a time repeated by a broken file moves one period on.
  VideoStamper gap({0, 1, 3, 4}, {1, 25}, {{25, 1}}, 1000);
  EXPECT_FALSE(gap.constantRate());
  for (const auto& [time, stamp] : std::vector<std::pair<std::optional<std::int64_t>, long long>>{
           {0, 1000}, {1, 41000}, {3, 121000}, {3, 161000}, {std::nullopt, 201000}}) {
    EXPECT_EQ(gap.next(time), stamp);
  }
  EXPECT_EQ(gap.adjusted(), 2u);
  // No times at all: the stated rate is trusted.
  VideoStamper untimed({std::nullopt, std::nullopt}, {1, 90000}, {{0, 1}, {30, 1}}, 0);
  EXPECT_TRUE(untimed.constantRate());
  EXPECT_EQ(untimed.next(std::nullopt), 0);
  EXPECT_EQ(untimed.next(std::nullopt), 33333);
}

}  // namespace
