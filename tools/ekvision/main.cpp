// ekvision: command-line tool for .ari pictures and .arv recordings.
#include <unistd.h>

#include <iostream>
#include <string>
#include <vector>

#include "tool.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  return ektool::runTool(args, std::cout, std::cerr, isatty(STDERR_FILENO) == 1);
}
