#include "runoptions.h"

#include <charconv>
#include <cmath>
#include <limits>

#include "arguments.h"
#include "picture.h"
#include "tool.h"

namespace ektool {
namespace {

const double kMaxSeconds = 7 * 24 * 3600.0;

// The whole of @p text as a number of that type.
template <typename Number>
bool parseNumber(const std::string& text, Number& value) {
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  return !text.empty() && error == std::errc() && stop == end;
}

bool isOption(const std::string& arg) {
  return arg.size() > 2 && arg.compare(0, 2, "--") == 0;
}

// Takes every "--call METHOD ARG..." out of @p args; the arguments run up to the next
// word that begins with "--".
std::vector<CallSpec> extractCalls(std::vector<std::string>& args) {
  std::vector<CallSpec> calls;
  std::vector<std::string> rest;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i].compare(0, 7, "--call=") == 0) {
      throw UsageError("--call takes the method and its arguments as separate words");
    }
    if (args[i] != "--call") {
      rest.push_back(args[i]);
      continue;
    }
    if (i + 1 >= args.size() || isOption(args[i + 1])) {
      throw UsageError("--call needs a method name");
    }
    CallSpec call;
    call.method = args[++i];
    while (i + 1 < args.size() && !isOption(args[i + 1])) {
      call.arguments.push_back(args[++i]);
    }
    calls.push_back(call);
  }
  args = rest;
  return calls;
}

double parseSeconds(const std::string& text) {
  double value = 0;
  if (!parseNumber(text, value) || !std::isfinite(value) || value <= 0 || value > kMaxSeconds) {
    throw UsageError("--seconds must be a number of seconds above 0 and at most " +
                     std::to_string(static_cast<long long>(kMaxSeconds)) + ", not '" + text + "'");
  }
  return value;
}

std::string kindName(const EK::EKValue& value) {
  if (value.isBool()) {
    return "true or false";
  }
  if (value.isInt()) {
    return "a whole number";
  }
  if (value.isFloat()) {
    return "a decimal number";
  }
  return "text";
}

}  // namespace

RunOptions parseRunOptions(const std::vector<std::string>& args) {
  std::vector<std::string> rest = args;
  RunOptions options;
  options.calls = extractCalls(rest);
  const Arguments arguments = parseArguments(rest, {{"module", true},
                                                    {"camera", true},
                                                    {"record", true},
                                                    {"contact-sheet", true},
                                                    {"detections", true},
                                                    {"name", true},
                                                    {"seconds", true},
                                                    {"frames", true},
                                                    {"fps", true},
                                                    {"resolution", true},
                                                    {"list-methods", false},
                                                    {"every-frame", false}});
  options.help = arguments.help;
  expectPositional(arguments, {});
  options.module = arguments.value("module");
  options.camera = arguments.value("camera");
  options.record = arguments.value("record");
  options.contactSheet = arguments.value("contact-sheet");
  options.detections = arguments.value("detections");
  options.name = arguments.value("name");
  options.listMethods = arguments.has("list-methods");
  options.everyFrame = arguments.has("every-frame");
  if (options.everyFrame && (!options.camera || options.record || options.contactSheet)) {
    throw UsageError(
        "--every-frame needs --camera FILE.arv and takes no --record or "
        "--contact-sheet");
  }
  if (const auto seconds = arguments.value("seconds")) {
    options.seconds = parseSeconds(*seconds);
  }
  if (const auto frames = arguments.value("frames")) {
    options.frames = parseInteger(*frames, "--frames", 1, std::numeric_limits<int>::max());
  }
  if (!options.seconds && !options.frames && !options.everyFrame) {
    options.seconds = kDefaultSeconds;
  }
  options.fps =
      static_cast<int>(parseInteger(arguments.value("fps").value_or("15"), "--fps", 1, 120));
  options.resolution = static_cast<int>(
      parseInteger(arguments.value("resolution").value_or("2"), "--resolution", 0, 3));
  if (options.name && options.name->empty()) {
    throw UsageError("--name needs a non-empty name");
  }
  if (options.contactSheet && pictureFormatOf(*options.contactSheet) != "png") {
    throw UsageError("--contact-sheet must name a .png file: " + *options.contactSheet);
  }
  return options;
}

EK::EKValue parseCallValue(const std::string& text) {
  if (text == "true" || text == "false") {
    return EK::EKValue(text == "true");
  }
  int whole = 0;
  if (parseNumber(text, whole)) {
    return EK::EKValue(whole);
  }
  double decimal = 0;
  if (parseNumber(text, decimal) && std::isfinite(decimal) &&
      std::fabs(decimal) <= std::numeric_limits<float>::max()) {
    return EK::EKValue(static_cast<float>(decimal));
  }
  return EK::EKValue(text);
}

EK::EKValue callArguments(const CallSpec& call, const EK::EKMethodInfo& method) {
  if (call.arguments.size() != method.parameters.size()) {
    std::string expected;
    for (const auto& parameter : method.parameters) {
      expected += " " + parameter.name;
    }
    throw UsageError(call.method + " takes " + std::to_string(method.parameters.size()) +
                     " argument(s)" + (expected.empty() ? "" : ":" + expected) + "; " +
                     std::to_string(call.arguments.size()) + " given");
  }
  EK::EKValue list;
  list.arraySetSize(0);
  for (std::size_t i = 0; i < call.arguments.size(); ++i) {
    const std::string& text = call.arguments[i];
    const std::string& type = method.parameters[i].typeName;
    EK::EKValue value = type == "std::string" ? EK::EKValue(text) : parseCallValue(text);
    bool fits = true;
    if (type == "bool") {
      fits = value.isBool() || value.isInt();
    } else if (type == "int") {
      fits = value.isInt();
    } else if (type == "float") {
      fits = value.isFloat() || value.isInt();
      if (value.isInt()) {
        value = EK::EKValue(static_cast<float>(static_cast<int>(value)));
      }
    }
    if (!fits) {
      throw UsageError("argument " + method.parameters[i].name + " of " + call.method + " is a " +
                       type + ", not " + kindName(value) + " ('" + text + "')");
    }
    list.arrayPush(value);
  }
  return list;
}

std::string describeCall(const CallSpec& call) {
  std::string text = call.method + "(";
  for (std::size_t i = 0; i < call.arguments.size(); ++i) {
    text += (i == 0 ? "" : ", ") + call.arguments[i];
  }
  return text + ")";
}

}  // namespace ektool
