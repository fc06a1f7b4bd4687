// The tool's parts: argument parsing, the progress bar, picture helpers.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "arguments.h"
#include "picture.h"
#include "progress.h"
#include "tool.h"

namespace {

using ektool::parseArguments;
using ektool::UsageError;

std::string usageMessage(const std::vector<std::string>& args) {
  try {
    parseArguments(args, {{"from", true}, {"dry-run", false}});
  } catch (const UsageError& error) {
    return error.what();
  }
  return "(accepted)";
}

TEST(ToolArguments, SplitsOptionsFromPositionalArguments) {
  const ektool::Arguments parsed =
      parseArguments({"a.arv", "--from", "3", "out", "--dry-run", "--", "--from"},
                     {{"from", true}, {"dry-run", false}});
  EXPECT_EQ(parsed.positional, (std::vector<std::string>{"a.arv", "out", "--from"}));
  EXPECT_EQ(parsed.value("from"), "3");
  EXPECT_TRUE(parsed.has("dry-run"));
  EXPECT_FALSE(parsed.help);
  EXPECT_EQ(parseArguments({"--from=-7", "-"}, {{"from", true}}).value("from"), "-7");
  EXPECT_EQ(parseArguments({"--from=-7", "-"}, {{"from", true}}).positional,
            std::vector<std::string>{"-"});
  EXPECT_TRUE(parseArguments({"x", "-h"}, {}).help);
  EXPECT_TRUE(parseArguments({"--help"}, {}).help);
}

TEST(ToolArguments, RefusesWhatItDoesNotUnderstand) {
  EXPECT_EQ(usageMessage({"--to", "3"}), "unknown option --to");
  EXPECT_EQ(usageMessage({"-x"}), "unknown option -x");
  EXPECT_EQ(usageMessage({"--from"}), "option --from needs a value");
  EXPECT_EQ(usageMessage({"--dry-run=yes"}), "option --dry-run takes no value");
  EXPECT_EQ(usageMessage({"--from", "1", "--from=2"}), "option --from given twice");
}

TEST(ToolArguments, CountsPositionalArgumentsAndParsesWholeNumbers) {
  const ektool::Arguments one = parseArguments({"a"}, {});
  EXPECT_NO_THROW(ektool::expectPositional(one, {"FILE"}));
  EXPECT_THROW(ektool::expectPositional(one, {"FILE", "OUTDIR"}), UsageError);
  EXPECT_THROW(ektool::expectPositional(parseArguments({"a", "b"}, {}), {"FILE"}), UsageError);
  EXPECT_EQ(ektool::parseInteger("42", "--from", 0, 100), 42);
  EXPECT_EQ(ektool::parseInteger("-5", "--at", -10, 10), -5);
  for (const char* bad : {"", "4x", "x4", " 4", "1e3", "101", "-1"}) {
    SCOPED_TRACE(bad);
    EXPECT_THROW(ektool::parseInteger(bad, "--from", 0, 100), UsageError);
  }
}

TEST(ToolProgressBar, DrawsOnATerminalOnly) {
  std::ostringstream terminal;
  {
    ektool::ProgressBar bar(terminal, true, 4, "export");
    EXPECT_EQ(bar.render(1), "export [#######                       ]  25% 1/4");
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
  }
  EXPECT_EQ(pipe.str(), "");
  ektool::ProgressBar unknown(pipe, false, 0, "import");
  EXPECT_EQ(unknown.render(17), "import 17");
}

TEST(ToolPictures, FormatsAndTheRecordHeaderArea) {
  EXPECT_EQ(ektool::pictureFormatOf("a/b.PNG"), "png");
  EXPECT_EQ(ektool::pictureFormatOf("b.ppm"), "ppm");
  EXPECT_EQ(ektool::pictureFormatOf("b.jpg"), "");
  EXPECT_EQ(ektool::pictureFormatOf("dir.png/b"), "");

  EK::EKImage yuv(EK::kResolution160x120, EK::kColorSpaceYUV422);
  for (int i = 0; i < yuv.allocatedSize; ++i) {
    yuv.frame[i] = static_cast<unsigned char>(i);
  }
  ektool::hideRecordHeader(yuv);
  for (int i = 0; i < 28; ++i) {
    EXPECT_EQ(yuv.frame[i], 28 + i % 4) << i;
  }
  EXPECT_EQ(yuv.frame[28], 28);
  EXPECT_EQ(yuv.frame[32], 32);

  EK::EKImage grey(EK::kResolution160x120, 0);
  grey.frame[25] = 9;
  grey.frame[26] = 10;
  ektool::hideRecordHeader(grey);
  EXPECT_EQ(grey.frame[0], 9);
  EXPECT_EQ(grey.frame[24], 9);
  EXPECT_EQ(grey.frame[26], 10);

  EK::EKImage other(EK::kResolution160x120, 10);
  EXPECT_THROW(ektool::pictureOf(other), ektool::ToolError);
}

}  // namespace
