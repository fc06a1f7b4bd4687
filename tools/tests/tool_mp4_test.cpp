// ekvision export FILE.arv OUT.mp4: times as recorded, a file cut short that still plays, and
// the refusals of bad input.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "toolrunner.h"
#include "videotestsupport.h"

namespace {

using ektest::runTool;

// ffprobe's "frame,<pts_time>,<best effort time>" of every frame of @p path, and its exit status.
std::vector<std::string> probedTimes(const ektest::TempDir& dir, const std::string& path,
                                     int& status) {
  const std::string listing = dir.path("probe.csv");
  const std::string command =
      "ffprobe -v error -select_streams v -show_entries frame=pts_time,best_effort_timestamp_time "
      "-of csv " +
      ektest::shellQuoted(path) + " >" + ektest::shellQuoted(listing) + " 2>" +
      ektest::shellQuoted(dir.path("probe.err"));
  status = std::system(command.c_str());
  std::vector<std::string> lines;
  std::istringstream text(ektest::fileText(listing));
  for (std::string line; std::getline(text, line);) {
    // The encoder's side data of the first frame follows its times, on that line and the next.
    if (line.rfind("frame,", 0) == 0) {
      const std::size_t second = line.find(',', line.find(',', 6) + 1);
      lines.push_back(line.substr(0, second));
    }
  }
  return lines;
}

// A 160x120 YUV422 recording in @p dir of one frame per stamp of @p stamps.
std::string clipStamped(const ektest::TempDir& dir, const std::string& name,
                        const std::vector<long long>& stamps) {
  return ektest::recordClip(dir.path(name), static_cast<unsigned int>(stamps.size()),
                            {{160, 120, 9, 8}},
                            [&](unsigned int f, unsigned int) { return stamps[f]; });
}

TEST(Mp4Export, EveryFrameIsShownAtItsStampLessTheFirstToTheMicrosecond) {
  ektest::TempDir dir;
  const std::vector<long long> stamps{5000000, 5033333, 5070001, 5100000,
                                      5100001, 5250999, 5251000};
  const std::string clip = clipStamped(dir, "clip", stamps);
  const std::string out = dir.path("out.mp4");
  const ektest::ToolRun run = runTool(dir, {"export", clip, out});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out,
            "exported 7 frames of stream 0 from frame 0 (0.251 s, 0 with boxes) to " + out + "\n");
  int status = -1;
  const std::vector<std::string> times = probedTimes(dir, out, status);
  EXPECT_EQ(status, 0);
  ASSERT_EQ(times.size(), 7u) << ::testing::PrintToString(times);
  for (std::size_t i = 0; i < times.size(); ++i) {
    char expected[64];
    const double seconds = static_cast<double>(stamps[i] - stamps[0]) / 1e6;
    std::snprintf(expected, sizeof expected, "frame,%.6f,%.6f", seconds, seconds);
    EXPECT_EQ(times[i], expected) << "frame " << i;
  }
  // A range starts at its own first frame.
  const ektest::ToolRun part = runTool(dir, {"export", clip, out, "--from", "2", "--to", "5"});
  ASSERT_EQ(part.exitCode, 0) << part.err;
  EXPECT_EQ(part.out, "exported 4 frames of stream 0 from frame 2 (0.180998 s, 0 with boxes) to " +
                          out + "\n");
  const std::vector<std::string> partTimes = probedTimes(dir, out, status);
  ASSERT_EQ(partTimes.size(), 4u) << ::testing::PrintToString(partTimes);
  EXPECT_EQ(partTimes.front(), "frame,0.000000,0.000000");
  EXPECT_EQ(partTimes.back(), "frame,0.180998,0.180998");
}

TEST(Mp4Export, ARepeatedStampIsShownAMicrosecondLaterAndAStampGoingBackIsRefused) {
  ektest::TempDir dir;
  // A recorder that fetched one camera picture twice, or three times, repeats its stamp.
  const std::string clip =
      clipStamped(dir, "repeats", {5000000, 5033333, 5033333, 5033333, 5033335, 5066666});
  const std::string out = dir.path("out.mp4");
  const ektest::ToolRun run = runTool(dir, {"export", clip, out});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  int status = -1;
  const std::vector<std::string> times = probedTimes(dir, out, status);
  EXPECT_EQ(status, 0);
  const std::vector<std::string> expected{"frame,0.000000,0.000000", "frame,0.033333,0.033333",
                                          "frame,0.033334,0.033334", "frame,0.033335,0.033335",
                                          "frame,0.033336,0.033336", "frame,0.066666,0.066666"};
  EXPECT_EQ(times, expected);

  const std::string bad = clipStamped(dir, "backwards", {5000000, 5033333, 5000001});
  const std::string refusedOut = dir.path("refused.mp4");
  const ektest::ToolRun refused = runTool(dir, {"export", bad, refusedOut});
  EXPECT_EQ(refused.exitCode, 1);
  EXPECT_NE(refused.err.find("frame 2 of " + bad +
                             " is stamped 5000001 us, before the frame before it (5033333 us)"),
            std::string::npos)
      << refused.err;
  EXPECT_EQ(std::count(refused.err.begin(), refused.err.end(), '\n'), 1) << refused.err;
}

TEST(Mp4Export, AnExportCutShortByAFullDiskSaysSoAndPlaysUpToItsLastFragment) {
  ektest::TempDir dir;
  const unsigned int frames = 600;
  const std::string clip =
      ektest::recordClip(dir.path("clip"), frames, {{320, 240, 9, 8}},
                         [](unsigned int f, unsigned int) { return 40000LL * f; });
  const std::string out = dir.path("cut.mp4");
  const ektest::ToolRun cut =
      runTool(dir, {"export", clip, out, "--crf", "0"}, "ulimit -f 256; trap '' XFSZ;");
  EXPECT_EQ(cut.exitCode, 1);
  EXPECT_EQ(cut.err.rfind("ekvision export: cannot write " + out + ": file too large", 0), 0u)
      << cut.err;
  EXPECT_EQ(std::count(cut.err.begin(), cut.err.end(), '\n'), 1) << cut.err;
  int status = -1;
  const std::size_t played = probedTimes(dir, out, status).size();
  EXPECT_EQ(status, 0);
  EXPECT_GT(played, 0u);
  EXPECT_LT(played, frames);
}

TEST(Mp4Export, BadInputIsRefusedInOneLineNamingTheCause) {
  ektest::TempDir dir;
  const std::string clip = ektest::recordClip(dir.path("clip"), 2, {{160, 120, 9, 8}});
  const std::string malformed = dir.path("bad.jsonl");
  {
    std::ofstream log(malformed);
    log << "{\"timeStamp\":0,\"x\":1,\"y\":2,\"w\":3,\"h\":4}\n{\"timeStamp\":1000,\"x\":1}\n";
  }
  const std::string out = dir.path("out.mp4");
  struct Case {
    std::vector<std::string> args;
    int exitCode;
    std::string says;
  };
  const Case cases[] = {
      {{"--crf", "52"}, 2, "must be a whole number from 0 to 51"},
      {{"--crf", "-1"}, 2, "must be a whole number from 0 to 51"},
      {{"--detections", dir.path("none.jsonl")}, 1, "no such file"},
      {{"--detections", malformed}, 1, malformed + " line 2: no \"y\""},
      {{"--to", "2"}, 1, "--to 2 is past the last complete frame, 1"},
      {{"--from", "1", "--to", "0"}, 1, "--from 1 is after --to 0"},
      {{"--at", "0"}, 2, "--at and --format apply to pictures"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args{"export", clip, out};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const ektest::ToolRun run = runTool(dir, args);
    EXPECT_EQ(run.exitCode, c.exitCode) << c.says;
    EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
  }
  // The recording named as the output is left whole.
  const std::string named = dir.path("clip.mp4");
  std::filesystem::copy_file(clip, named);
  const ektest::ToolRun onto = runTool(dir, {"export", named, named});
  EXPECT_EQ(onto.exitCode, 2);
  EXPECT_NE(onto.err.find("OUT.mp4 would overwrite the recording"), std::string::npos) << onto.err;
  EXPECT_EQ(ektest::readBytes(named), ektest::readBytes(clip));
}

}  // namespace
