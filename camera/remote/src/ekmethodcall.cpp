#include <ekvideodevice/ekmethodcall.h>

namespace EK {

bool fitArgument(EKValue& value, const std::string& typeName) {
  if (typeName == "bool") {
    return value.isBool() || value.isInt();
  }
  if (typeName == "int") {
    return value.isInt();
  }
  if (typeName == "float") {
    if (value.isInt()) {
      value = EKValue(static_cast<float>(static_cast<int>(value)));
    }
    return value.isFloat();
  }
  if (typeName == "std::string") {
    return value.isString();
  }
  return true;  // an EKValue takes any value
}

std::string valueKindName(const EKValue& value) {
  if (value.isBool()) {
    return "true or false";
  }
  if (value.isInt()) {
    return "a whole number";
  }
  if (value.isFloat()) {
    return "a decimal number";
  }
  if (value.isString()) {
    return "text";
  }
  if (value.isBinary()) {
    return "binary data";
  }
  if (value.isArray()) {
    return "a list";
  }
  return "nothing";
}

std::string argumentCountMismatch(const EKMethodInfo& method, std::size_t given) {
  std::string expected;
  for (const auto& parameter : method.parameters) {
    expected += " " + parameter.name;
  }
  return method.methodName + " takes " + std::to_string(method.parameters.size()) + " argument(s)" +
         (expected.empty() ? "" : ":" + expected) + "; " + std::to_string(given) + " given";
}

std::string argumentTypeMismatch(const EKMethodInfo& method, std::size_t index,
                                 const EKValue& value) {
  const EKMethodInfo::EKParameterInfo& parameter = method.parameters.at(index);
  return "argument " + parameter.name + " of " + method.methodName + " is a " + parameter.typeName +
         ", not " + valueKindName(value);
}

EKStatus checkCallArguments(const EKMethodInfo& method, EKValue& arguments) {
  if (!arguments.isArray()) {
    return EKStatus(EKCause::kInvalidArgument,
                    "the arguments of " + method.methodName + " are not a list");
  }
  const std::size_t given = static_cast<std::size_t>(arguments.getSize());
  if (given != method.parameters.size()) {
    return EKStatus(EKCause::kInvalidArgument, argumentCountMismatch(method, given));
  }
  for (std::size_t i = 0; i < given; ++i) {
    EKValue& value = arguments[static_cast<int>(i)];
    if (!fitArgument(value, method.parameters[i].typeName)) {
      return EKStatus(EKCause::kInvalidArgument, argumentTypeMismatch(method, i, value));
    }
  }
  return EKStatus();
}

}  // namespace EK
