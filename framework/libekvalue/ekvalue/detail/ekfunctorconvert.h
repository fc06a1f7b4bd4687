/// @file
/// Argument converters of bound methods: an EKValue argument read as a parameter type.
#ifndef EKVALUE_DETAIL_EKFUNCTORCONVERT_H
#define EKVALUE_DETAIL_EKFUNCTORCONVERT_H

#include <string>

#include <ekerror/ekerror.h>
#include <ekvalue/ekvalue.h>

namespace EK {
namespace detail {

/// @brief Reads an argument as T; specialised for every parameter type a method may take.
///
/// Each specialisation tests the kind of the value first and throws EKError (module and
/// method "convertFromEKValue") naming the kind found when it does not fit.
template <typename T>
struct converter;

/// Throws the converters' error for a value of @p kind where @p wanted was expected.
[[noreturn]] inline void throwConversionError(EKValue::Type kind, const char* wanted,
                                              const char* file, int line) {
  throw EKError("convertFromEKValue", "convertFromEKValue",
                "Parameter type is " + EKValue::TypeToString(kind) + " instead of " + wanted, file,
                line);
}

/// Arguments of an `int` parameter: integers only.
template <>
struct converter<int> {
  /// The integer held; any other kind throws.
  static int convertFromEKValue(const EKValue& value) {
    if (value.getType() != EKValue::TypeInt) {
      throwConversionError(value.getType(), "int", __FILE__, __LINE__);
    }
    return static_cast<int>(value);
  }
};

/// Arguments of a `bool` parameter: booleans and integers.
template <>
struct converter<bool> {
  /// The boolean held, or whether an integer is non-zero; any other kind throws.
  static bool convertFromEKValue(const EKValue& value) {
    if (value.getType() == EKValue::TypeBool) {
      return static_cast<bool>(value);
    }
    if (value.getType() == EKValue::TypeInt) {
      return static_cast<int>(value) != 0;
    }
    throwConversionError(value.getType(), "bool", __FILE__, __LINE__);
  }
};

/// Arguments of a `float` parameter: floats and integers.
template <>
struct converter<float> {
  /// The float held, or an integer widened; any other kind throws.
  static float convertFromEKValue(const EKValue& value) {
    if (value.getType() != EKValue::TypeFloat && value.getType() != EKValue::TypeInt) {
      throwConversionError(value.getType(), "float", __FILE__, __LINE__);
    }
    return static_cast<float>(value);
  }
};

/// Arguments of a `std::string` parameter: strings only.
template <>
struct converter<std::string> {
  /// A copy of the string held; any other kind throws.
  static std::string convertFromEKValue(const EKValue& value) {
    if (value.getType() != EKValue::TypeString) {
      throwConversionError(value.getType(), "string", __FILE__, __LINE__);
    }
    return static_cast<const std::string&>(value);
  }
};

/// Arguments of an `EKValue` parameter: any kind.
template <>
struct converter<EKValue> {
  /// The argument itself, copied unconverted: a dynamic-value parameter takes any kind.
  static EKValue convertFromEKValue(const EKValue& value) { return value; }
};

}  // namespace detail
}  // namespace EK

#endif  // EKVALUE_DETAIL_EKFUNCTORCONVERT_H
