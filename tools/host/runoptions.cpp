#include "runoptions.h"

#include <ekvideodevice/ekmethodcall.h>

#include <cmath>
#include <limits>

#include "host.h"
#include "textio.h"

namespace ekhost {
namespace {}  // namespace

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
    fail(EK::EKCause::kInvalidArgument, EK::argumentCountMismatch(method, call.arguments.size()));
  }
  EK::EKValue list;
  list.arraySetSize(0);
  for (std::size_t i = 0; i < call.arguments.size(); ++i) {
    const std::string& text = call.arguments[i];
    EK::EKValue value =
        method.parameters[i].typeName == "std::string" ? EK::EKValue(text) : parseCallValue(text);
    if (!EK::fitArgument(value, method.parameters[i].typeName)) {
      fail(EK::EKCause::kInvalidArgument,
           EK::argumentTypeMismatch(method, i, value) + " ('" + text + "')");
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

std::string callResultText(const EK::EKValue& result) {
  return result.isValid() ? result.toString() : "done";
}

}  // namespace ekhost
