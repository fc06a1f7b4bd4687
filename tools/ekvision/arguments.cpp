#include "arguments.h"

#include <charconv>

#include "tool.h"

namespace ektool {

std::optional<std::string> Arguments::value(const std::string& name) const {
  const auto found = options.find(name);
  if (found == options.end()) {
    return std::nullopt;
  }
  return found->second;
}

Arguments parseArguments(const std::vector<std::string>& args,
                         const std::vector<OptionSpec>& specs) {
  Arguments result;
  bool optionsEnded = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
      result.positional.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    if (arg == "-h" || arg == "--help") {
      result.help = true;
      continue;
    }
    if (arg.compare(0, 2, "--") != 0) {
      throw UsageError("unknown option " + arg);
    }
    const std::size_t equals = arg.find('=');
    const std::string name =
        arg.substr(2, equals == std::string::npos ? std::string::npos : equals - 2);
    const OptionSpec* spec = nullptr;
    for (const OptionSpec& candidate : specs) {
      if (candidate.name == name) {
        spec = &candidate;
      }
    }
    if (spec == nullptr) {
      throw UsageError("unknown option --" + name);
    }
    if (result.has(name)) {
      throw UsageError("option --" + name + " given twice");
    }
    std::string value;
    if (equals != std::string::npos) {
      if (!spec->takesValue) {
        throw UsageError("option --" + name + " takes no value");
      }
      value = arg.substr(equals + 1);
    } else if (spec->takesValue) {
      if (i + 1 >= args.size()) {
        throw UsageError("option --" + name + " needs a value");
      }
      value = args[++i];
    }
    result.options[name] = value;
  }
  return result;
}

void expectPositional(const Arguments& arguments, const std::vector<std::string>& names) {
  if (arguments.positional.size() < names.size()) {
    throw UsageError("missing " + names[arguments.positional.size()]);
  }
  if (arguments.positional.size() > names.size()) {
    throw UsageError("unexpected argument " + arguments.positional[names.size()]);
  }
}

long long parseInteger(const std::string& text, const std::string& what, long long minimum,
                       long long maximum) {
  long long value = 0;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  if (text.empty() || error != std::errc() || stop != end) {
    throw UsageError(what + " must be a whole number, not '" + text + "'");
  }
  if (value < minimum || value > maximum) {
    throw UsageError(what + " must be between " + std::to_string(minimum) + " and " +
                     std::to_string(maximum) + ", not " + text);
  }
  return value;
}

}  // namespace ektool
