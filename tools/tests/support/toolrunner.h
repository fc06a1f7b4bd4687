// Test support: runs the built ekvision executable and collects what it printed.
#ifndef EKVISION_TOOLS_TESTS_TOOLRUNNER_H
#define EKVISION_TOOLS_TESTS_TOOLRUNNER_H

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "videotestsupport.h"

namespace ektest {

/// What one run of the tool gave.
struct ToolRun {
  int exitCode;
  std::string out;
  std::string err;
};

inline std::string shellQuoted(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) {
    quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  }
  return quoted + "'";
}

/// Runs the tool with @p args, standard output and error redirected to files in @p dir (so
/// neither is a terminal), after the shell commands @p prefix (such as "trap '' XFSZ;") and
/// through the program @p wrapper (such as setpriv) when given.
inline ToolRun runTool(const TempDir& dir, const std::vector<std::string>& args,
                       const std::string& prefix = "", const std::string& wrapper = "") {
  std::string command = prefix + " exec " + wrapper + " " + shellQuoted(EKVISION_TOOL_PATH);
  for (const std::string& arg : args) {
    command += " " + shellQuoted(arg);
  }
  const std::string out = dir.path("tool.out");
  const std::string err = dir.path("tool.err");
  command = "( " + command + " ) >" + shellQuoted(out) + " 2>" + shellQuoted(err) + " </dev/null";
  const int status = std::system(command.c_str());
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, fileText(out), fileText(err)};
}

/// One detection line of `ekvision run`, as far as the tests read it.
struct PrintedDetection {
  long long timeStamp;
  int x, y, w, h;
};

/// The detection lines ("detection t=<s>.<us> (+.. s) box x=.. y=.. w=.. h=..") of @p out.
inline std::vector<PrintedDetection> detectionsIn(const std::string& out) {
  std::vector<PrintedDetection> found;
  std::istringstream lines(out);
  std::string line;
  while (std::getline(lines, line)) {
    long long seconds = 0, micros = 0;
    PrintedDetection d{};
    if (std::sscanf(line.c_str(), "detection t=%lld.%lld (+%*f s) box x=%d y=%d w=%d h=%d",
                    &seconds, &micros, &d.x, &d.y, &d.w, &d.h) == 6) {
      d.timeStamp = seconds * 1000000 + micros;
      found.push_back(d);
    }
  }
  return found;
}

}  // namespace ektest

#endif  // EKVISION_TOOLS_TESTS_TOOLRUNNER_H
