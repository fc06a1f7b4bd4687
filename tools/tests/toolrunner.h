// Test support: runs the built ekvision executable and collects what it printed.
#ifndef EKVISION_TOOLS_TESTS_TOOLRUNNER_H
#define EKVISION_TOOLS_TESTS_TOOLRUNNER_H

#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

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

inline std::string fileText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

/// Runs the tool with @p args, standard output and error redirected to files in @p dir (so
/// neither is a terminal).
inline ToolRun runTool(const TempDir& dir, const std::vector<std::string>& args) {
  std::string command = shellQuoted(EKVISION_TOOL_PATH);
  for (const std::string& arg : args) {
    command += " " + shellQuoted(arg);
  }
  const std::string out = dir.path("tool.out");
  const std::string err = dir.path("tool.err");
  command += " >" + shellQuoted(out) + " 2>" + shellQuoted(err) + " </dev/null";
  const int status = std::system(command.c_str());
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, fileText(out), fileText(err)};
}

/// True when @p text is exactly one line.
inline bool isOneLine(const std::string& text) {
  return !text.empty() && text.back() == '\n' && text.find('\n') == text.size() - 1;
}

}  // namespace ektest

#endif  // EKVISION_TOOLS_TESTS_TOOLRUNNER_H
