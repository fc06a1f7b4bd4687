// Values of remote methods between Python and the framework.
#ifndef EKVISION_PYTHON_PYVALUES_H
#define EKVISION_PYTHON_PYVALUES_H

#include <pybind11/pybind11.h>

#include <ekvalue/ekvalue.h>

namespace ekpy {

/// @brief A Python value as an EKValue: None, bool, int (32 bits), float, str, bytes, or a
/// list or tuple of those, nested at most EK::kMaxValueDepth deep (@p depth is the current
/// depth). @throws pybind11 TypeError or ValueError for anything else
EK::EKValue toValue(const pybind11::handle& object, int depth);

/// An EKValue as the Python value it holds; None for an invalid one.
pybind11::object toPython(const EK::EKValue& value);

}  // namespace ekpy

#endif  // EKVISION_PYTHON_PYVALUES_H
