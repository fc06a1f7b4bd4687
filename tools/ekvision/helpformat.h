// The help of the tool's commands: the usage line first, then the command's description and
// each option's, wrapped to a terminal's width.
#ifndef EKVISION_TOOLS_HELPFORMAT_H
#define EKVISION_TOOLS_HELPFORMAT_H

#include <CLI/CLI.hpp>

#include <string>

namespace ektool {

/// Lines of help are wrapped at this many characters.
const std::size_t kHelpWidth = 90;

/// @brief @p text wrapped at spaces into lines of at most @p width characters; lines it
/// already breaks stay broken.
std::string wrapText(const std::string& text, std::size_t width);

/// CLI11's help, with "usage:" first and every text wrapped at kHelpWidth.
class HelpFormatter : public CLI::Formatter {
 public:
  std::string make_description(const CLI::App* app) const override;
  std::string make_usage(const CLI::App* app, std::string name) const override;
  std::string make_option_desc(const CLI::Option* option) const override;
  std::string make_footer(const CLI::App* app) const override;
};

}  // namespace ektool

#endif  // EKVISION_TOOLS_HELPFORMAT_H
