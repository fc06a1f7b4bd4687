#include "runoptions.h"

#include <cmath>
#include <limits>

#include "host.h"
#include "textio.h"

namespace ekhost {
namespace {

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
    fail(EK::EKCause::kInvalidArgument,
         call.method + " takes " + std::to_string(method.parameters.size()) + " argument(s)" +
             (expected.empty() ? "" : ":" + expected) + "; " +
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
      fail(EK::EKCause::kInvalidArgument, "argument " + method.parameters[i].name + " of " +
                                              call.method + " is a " + type + ", not " +
                                              kindName(value) + " ('" + text + "')");
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

}  // namespace ekhost
