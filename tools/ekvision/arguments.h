// Command-line parsing shared by the subcommands.
#ifndef EKVISION_TOOLS_ARGUMENTS_H
#define EKVISION_TOOLS_ARGUMENTS_H

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace ektool {

/// An option a subcommand accepts: "--name" alone, or "--name VALUE" / "--name=VALUE".
struct OptionSpec {
  std::string name;
  bool takesValue;
};

/// A command line split into positional arguments and options.
struct Arguments {
  std::vector<std::string> positional;
  std::map<std::string, std::string> options;  ///< by name without "--"; "" for flags
  bool help = false;                           ///< "-h" or "--help" was given

  bool has(const std::string& name) const { return options.count(name) != 0; }
  /// The option's value, if given.
  std::optional<std::string> value(const std::string& name) const;
};

/// @brief Splits @p args. "--" ends the options; "-" alone is a positional argument.
/// @throws UsageError for an unknown option, a missing value, a value given to a flag, or
///   an option given twice
Arguments parseArguments(const std::vector<std::string>& args,
                         const std::vector<OptionSpec>& specs);

/// @brief Checks the number of positional arguments.
/// @throws UsageError naming what is missing or extra
void expectPositional(const Arguments& arguments, const std::vector<std::string>& names);

/// @brief A whole decimal integer between @p minimum and @p maximum.
/// @throws UsageError naming @p what when @p text is not one
long long parseInteger(const std::string& text, const std::string& what, long long minimum,
                       long long maximum);

}  // namespace ektool

#endif  // EKVISION_TOOLS_ARGUMENTS_H
