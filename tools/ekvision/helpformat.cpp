#include "helpformat.h"

#include <sstream>

namespace ektool {

std::string wrapText(const std::string& text, std::size_t width) {
  std::string wrapped;
  std::istringstream lines(text);
  std::string line;
  bool firstLine = true;
  while (std::getline(lines, line)) {
    if (!firstLine) {
      wrapped += '\n';
    }
    firstLine = false;
    // A line that is indented is laid out by hand: it stays as it is.
    if (!line.empty() && line[0] == ' ') {
      wrapped += line;
      continue;
    }
    std::istringstream words(line);
    std::size_t column = 0;
    for (std::string word; words >> word;) {
      if (column > 0 && column + 1 + word.size() > width) {
        wrapped += '\n';
        column = 0;
      } else if (column > 0) {
        wrapped += ' ';
        ++column;
      }
      wrapped += word;
      column += word.size();
    }
  }
  return wrapped;
}

std::string HelpFormatter::make_description(const CLI::App*) const {
  return "";  // after the usage line, in make_usage()
}

std::string HelpFormatter::make_usage(const CLI::App* app, std::string name) const {
  std::string usage = CLI::Formatter::make_usage(app, name);
  if (usage.compare(0, 6, "Usage:") == 0) {
    usage[0] = 'u';
  }
  const std::string description = app->get_description();
  return description.empty() ? usage : usage + "\n" + wrapText(description, kHelpWidth) + "\n";
}

std::string HelpFormatter::make_option_desc(const CLI::Option* option) const {
  return wrapText(CLI::Formatter::make_option_desc(option), kHelpWidth - get_column_width());
}

std::string HelpFormatter::make_footer(const CLI::App* app) const {
  const std::string footer = app->get_footer();
  return footer.empty() ? "" : wrapText(footer, kHelpWidth) + "\n";
}

}  // namespace ektool
