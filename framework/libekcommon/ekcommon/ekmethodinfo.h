/// @file
/// The description of a module's method: names, texts and type names of its parameters.
#ifndef EKCOMMON_EKMETHODINFO_H
#define EKCOMMON_EKMETHODINFO_H

#include <string>
#include <vector>

#include <boost/shared_ptr.hpp>

#include <ekcommon/ekfunctorbase.h>

namespace EK {

/// @brief A method as listed by its module: what it is called, what it takes and returns.
struct EKMethodInfo {
  /// @brief One parameter or the return value.
  struct EKParameterInfo {
    /// A textual default value shown to clients; empty when the parameter has none.
    std::string defaultValue;
    /// Parameter name, e.g. "framerate".
    std::string name;
    /// What the parameter means, for a reader.
    std::string description;
    /// Name of its type as given by EK::getTypeString, e.g. "int".
    std::string typeName;
    /// Set when a client may leave the parameter out.
    bool optional = false;
  };

  /// Method name, the key under which the module's method table finds it.
  std::string methodName;
  /// Class that registered the method, e.g. "EKVisionExtractor".
  std::string className;
  /// What the method does, for a reader.
  std::string description;
  /// Registration flags given to functionName (0 for ordinary methods).
  int flags = 0;
  /// The parameters in call order.
  std::vector<EKParameterInfo> parameters;
  /// The return value; its name is empty for methods that return nothing.
  EKParameterInfo returnValue;
  /// Executes the method; null until the method is bound.
  boost::shared_ptr<EKFunctorBase> functor;
};

}  // namespace EK

#endif  // EKCOMMON_EKMETHODINFO_H
