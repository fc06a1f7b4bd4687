// How a program that embeds Python builds a vision module from a Python object: the
// extension ekvision._ekvision hands out its factory in a capsule, so that the module's
// code lives in the extension alone whichever program hosts it.
#ifndef EKVISION_PYTHON_PYMODULEFACTORY_H
#define EKVISION_PYTHON_PYMODULEFACTORY_H

#include <Python.h>

#include <string>

#include <boost/shared_ptr.hpp>

#include <ekcommon/ekbroker.h>
#include <ekvision/ekvisionextractor.h>

namespace ekpy {

/// @brief Builds and registers the vision module of @p instance (an ekvision.Module) with
/// @p broker as @p name. Called with the GIL held. Throws nothing: on failure it returns
/// false with one line in @p error, and no module.
using PythonModuleFactory = bool (*)(const boost::shared_ptr<EK::EKBroker>& broker,
                                     const std::string& name, PyObject* instance,
                                     boost::shared_ptr<EK::EKVisionExtractor>* module,
                                     std::string* error);

/// Attribute of ekvision._ekvision holding the factory, and the name of its capsule.
constexpr const char* kPythonModuleFactoryAttribute = "_module_factory";
/// Name of the capsule, checked when it is opened.
constexpr const char* kPythonModuleFactoryCapsule = "ekvision._ekvision._module_factory";

}  // namespace ekpy

#endif  // EKVISION_PYTHON_PYMODULEFACTORY_H
