#include "pyvalues.h"

#include <cstdint>
#include <string>
#include <utility>

#include <ekvideodevice/ekmethodwire.h>

namespace py = pybind11;

namespace ekpy {

EK::EKValue toValue(const py::handle& object, int depth) {
  if (depth > EK::kMaxValueDepth) {
    throw py::value_error("arguments nest lists deeper than " + std::to_string(EK::kMaxValueDepth));
  }
  if (object.is_none()) {
    return EK::EKValue();
  }
  if (py::isinstance<py::bool_>(object)) {
    return EK::EKValue(object.cast<bool>());
  }
  if (py::isinstance<py::int_>(object)) {
    const long long value = object.cast<long long>();
    if (value < INT32_MIN || value > INT32_MAX) {
      throw py::value_error("a whole number beyond 32 bits: " + std::to_string(value));
    }
    return EK::EKValue(static_cast<int>(value));
  }
  if (py::isinstance<py::float_>(object)) {
    return EK::EKValue(object.cast<float>());
  }
  if (py::isinstance<py::str>(object)) {
    return EK::EKValue(object.cast<std::string>());
  }
  if (py::isinstance<py::bytes>(object)) {
    const std::string bytes = object.cast<std::string>();
    return EK::EKValue(bytes.data(), static_cast<int>(bytes.size()));
  }
  if (py::isinstance<py::list>(object) || py::isinstance<py::tuple>(object)) {
    EK::EKValue list;
    list.arraySetSize(0);
    for (const py::handle item : object) {
      list.arrayPush(toValue(item, depth + 1));
    }
    return list;
  }
  throw py::type_error(std::string("cannot pass a ") + Py_TYPE(object.ptr())->tp_name +
                       " to a remote method: give bool, int, float, str, bytes or a list");
}

py::object toPython(const EK::EKValue& value) {
  switch (value.getType()) {
    case EK::EKValue::TypeBool:
      return py::bool_(static_cast<bool>(value));
    case EK::EKValue::TypeInt:
      return py::int_(static_cast<int>(value));
    case EK::EKValue::TypeFloat:
      return py::float_(static_cast<float>(value));
    case EK::EKValue::TypeString:
      return py::str(static_cast<std::string>(value));
    case EK::EKValue::TypeBinary:
      return py::bytes(static_cast<const char*>(value.GetBinary()),
                       static_cast<std::size_t>(value.getBinarySize()));
    case EK::EKValue::TypeArray: {
      py::list list;
      for (unsigned i = 0; i < value.getSize(); ++i) {
        list.append(toPython(value[static_cast<int>(i)]));
      }
      return std::move(list);
    }
    case EK::EKValue::TypeInvalid:
      break;
  }
  return py::none();
}

}  // namespace ekpy
